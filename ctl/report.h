#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "link/adapters.h"
#include "models/model.h"
#include "session/outcome.h"
#include "session/session.h"

namespace ctl {

// One line per outcome, without its newline. Plain: the port (when `port` is given), the
// command's display form, the reply's, the status, separated by tabs. JSON: an object with
// the keys port, command, sent, reply, display, status, ok, refused and ms.
std::string plainLine(const session::Outcome& outcome, const models::Model& model,
                      const std::string* port);
std::string jsonLine(const session::Outcome& outcome, const models::Model& model,
                     const std::string& port);

// Bytes of no command. JSON: a line of its own on the output, an object with the keys port,
// unclaimed, display, after and ms. Plain: a note for standard error, so that the output's
// lines stay one per command.
std::string jsonLine(const session::Unclaimed& unclaimed, const std::string& port);
std::string unclaimedNote(const session::Unclaimed& unclaimed, const std::string& port);

// The model's buttons, one a line: name, code, timing class ("plain", "timed-2000",
// "timed-5000", "menu", "hold-250" for a hold key repeating every 250 ms).
std::string listText(const models::Model& model, bool json);

// The serial adapters, one a line: path, stable name, description, serial number.
std::string portsText(const std::vector<serial::Adapter>& adapters, bool json);

// Flushes `out`; false, with the reason on `err`, when not all that was written to it could
// be written (a full disk, a closed pipe).
bool flushed(std::ostream& out, std::ostream& err);

// Passes lines on port by port, in the order the ports were given, each port's in the order
// they came: a port's as they come while every port before it has finished, the others once
// it has.
class OrderedLines {
  public:
    using Print = std::function<void(const std::string& line)>;
    OrderedLines(std::size_t ports, Print print);

    void add(std::size_t port, std::string line);
    void finished(std::size_t port);

  private:
    void flush();

    Print print_;
    std::vector<std::vector<std::string>> waiting_;
    std::vector<bool> finished_;
    std::size_t current_ = 0;  // the first port not finished
};

}  // namespace ctl
