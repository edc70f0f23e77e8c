#pragma once

#include <QObject>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

#include "ctl/options.h"
#include "ctl/report.h"
#include "session/session.h"

namespace ctl {

// send, press and status: the request's sends on every port at once, each port's one after
// another. Outcomes go to `out` in the order of the ports (see OrderedLines), and in JSON the
// bytes of no command with them; failures, and in plain output the bytes of no command, to
// `err`, where, when a port is COMn, what the settings file holds that is never read comes
// first. Ports are opened one an event-loop pass and
// closed as soon as they are through, so that a fleet's opening and closing overlap with the
// projectors' replies.
class Batch {
  public:
    Batch(const Request& request, const session::Surroundings& surroundings, std::ostream& out,
          std::ostream& err);
    ~Batch();

    // Opens the ports and starts. `finished` is called once every port is through, possibly
    // before start() returns.
    void start(std::function<void()> finished);
    bool done() const { return remaining_ == 0; }
    // 0 every command answered, 1 a reply missing or refused, 2 a port not opened or lost.
    int exitStatus() const;

  private:
    enum class State { Opening, Running, Done };
    void openNext();
    void run(std::size_t port);
    void portDone(std::size_t port);

    const Request& request_;
    std::ostream& out_;
    std::ostream& err_;
    std::vector<std::unique_ptr<session::PortSession>> sessions_;
    std::vector<State> states_;
    OrderedLines ordered_;
    std::size_t opened_ = 0;
    std::size_t remaining_ = 0;
    bool missing_ = false;
    bool failed_ = false;
    std::function<void()> finished_;
    serial::PortAssignment assignment_;
    QObject events_;  // what the queued calls run in; they go with it
};

// watch: every status query on every port once a period, all ports at once; after each round,
// the lines whose reply or status differ from what was printed last for that port and query,
// port by port in the order given. A lost port, or one not there at start, is reported on
// `err` and reopened about once a second; once it is there, a round runs at once and prints
// all of that port.
class Watch {
  public:
    Watch(const Request& request, const session::Surroundings& surroundings, std::ostream& out,
          std::ostream& err);
    ~Watch();

    // Opens every port and starts the rounds. A port that cannot be opened, or whose server
    // does not answer, is reported on `err` and waited for as a lost port is. `ended` is
    // called with the exit status when watch cannot go on: its output cannot be written.
    // Where a port is COMn, what the settings file holds that is never read goes to `err`
    // first.
    void start(std::function<void(int status)> ended);

  private:
    void openPorts(bool first);
    void roundSoon();
    void startRound();
    void endRound();
    bool flushOutput();

    const Request& request_;
    session::Surroundings surroundings_;
    std::ostream& out_;
    std::ostream& err_;
    std::vector<std::unique_ptr<session::PortSession>> sessions_;
    std::unique_ptr<PanelTimer> period_;
    std::unique_ptr<PanelTimer> retry_;  // opens the ports not opened at start
    std::function<void(int status)> ended_;
    // This round's outcomes and, in JSON, the bytes of no command among them, per port.
    std::vector<std::vector<std::variant<session::Outcome, session::Unclaimed>>> round_;
    std::vector<std::map<std::string, std::string>> shown_;  // per port: code -> what was printed
    std::size_t active_ = 0;                                 // ports still in this round
    bool inRound_ = false;
    bool roundDue_ = false;  // a round is due once this one ends
    std::vector<bool> opened_;  // per port: opened (it may be away since)
};

}  // namespace ctl
