#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "session/outcome.h"
#include "session/session.h"
#include "link/adapters.h"
#include "models/model.h"

namespace ctl {

// One line per outcome, without its newline. Plain: the port (when `port` is given), the
// command's display form, the reply's, the status, separated by tabs. JSON: an object with
// the keys port, command, sent, reply, display, status, ok and ms.
std::string plainLine(const session::Outcome& outcome, const models::Model& model, const std::string* port);
std::string jsonLine(const session::Outcome& outcome, const models::Model& model, const std::string& port);

// The model's buttons, one a line: name, code, timing class ("plain", "timed-2000",
// "timed-5000", "menu", "hold-250" for a hold key repeating every 250 ms).
std::string listText(const models::Model& model, bool json);

// The serial adapters, one a line: path, stable name, description, serial number.
std::string portsText(const std::vector<serial::Adapter>& adapters, bool json);

// Passes outcomes on port by port, in the order the ports were given, each port's in the order
// of its sends: a port's as they come while every port before it has finished, the others
// once it has.
class OrderedOutcomes {
  public:
    using Print = std::function<void(std::size_t port, const session::Outcome& outcome)>;
    OrderedOutcomes(std::size_t ports, Print print);

    void add(std::size_t port, const session::Outcome& outcome);
    void finished(std::size_t port);

  private:
    void flush();

    Print print_;
    std::vector<std::vector<session::Outcome>> waiting_;
    std::vector<bool> finished_;
    std::size_t current_ = 0;  // the first port not finished
};

}  // namespace ctl
