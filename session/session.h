#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/reconnecting_port.h"
#include "link/timers.h"

namespace session {

// One command to send: its code, how long its reply may take, and for the repeats of a held
// key how long after the send before it the command is due.
struct Send {
    std::string code;
    int replyWindowMs = 0;
    // 0: the send follows the one before it as soon as the line allows. Otherwise it is due
    // this long after the send before it, and goes out then or, when the reply before it is
    // not through by then, as soon as the line allows.
    int paceMs = 0;
};

// What became of one send.
struct Outcome {
    std::string code;
    std::string sent;   // the command text on the line, carriage return included
    std::string reply;  // up to and including the first carriage return, or what came in the window
    bool ok = false;    // the reply came, complete, and is no refusal
    bool refused = false;  // the reply is the projector's error mark: it did not take the command
    double ms = 0;         // from the write to the end of the reply, or of the reply window
};

// Bytes that belong to no command: they arrived after the reply they followed was complete or
// its window had ended, or while no command was out. A late reply comes this way.
struct Unclaimed {
    std::string
        bytes;  // up to and including a carriage return, or what came before the line went quiet
    std::string after;  // the code of the command sent last; empty when none was
    double ms = 0;      // from that command's write to the first of these bytes
};

// What the sessions take from their surroundings; tests put the virtual clock and fake
// transports here.
struct Surroundings {
    TimerSource* timers = nullptr;  // reply windows, the cadence of held keys, reconnection
    std::function<double()> nowMs;  // a clock in milliseconds
    serial::ReconnectingPort::Context port;  // how each port is built; its timers are `timers`
};

// One projector on one port, driven from the event loop: the port opened on a device text as
// the panel opens it (COMn assigned as the panel assigns it), then rounds of sends, one at a
// time, each reply complete at its first carriage return or ended by its window.
//
// A reply is never taken from bytes that may belong to an earlier command. After a window
// ends without a complete reply, or after bytes that belong to no command, the next command
// waits until the line has been quiet for kGuardMs (at most kQuietWaitLimitMs, so that a
// babbling line cannot stall a round). Such bytes are raised through onUnclaimed and are part
// of no outcome. A reply later than its window and the guard together can still not be told
// from the next command's: a slow projector needs a longer window.
class PortSession {
  public:
    static constexpr int kGuardMs = 200;
    static constexpr int kQuietWaitLimitMs = 1000;

    PortSession(std::string device, const std::string& settings, const Surroundings& surroundings);
    ~PortSession();

    const std::string& device() const { return device_; }

    // Opens the port; throws serial::SerialError in the program's words (the port's Context)
    // when it cannot. A network port is ready only once its server has answered: onReady
    // says when.
    void open();
    // Closes the port: released at once, not reopened. Bytes not yet raised are dropped.
    void close();
    bool ready() const { return port_->ready(); }
    bool running() const { return running_; }

    // Sends these, one outcome each, then raises onDone once the last reply is complete, or
    // once its window has ended and the line has been quiet for the guard. A network port
    // still connecting is waited for. A port lost on the way ends the round: onLost, then
    // onDone without outcomes for the sends not made. Not while running().
    void run(std::vector<Send> sends);

    // A command has gone out: the outcome so far holds its code and the text sent.
    std::function<void(const Outcome&)> onSent;
    std::function<void(const Outcome&)> onOutcome;
    std::function<void()> onDone;
    // Bytes that belong to no command, in the order they came, between rounds too.
    std::function<void(const Unclaimed&)> onUnclaimed;
    // The port is lost (unplugged, connection dropped, a network port not connected), in the
    // program's words. It is reopened quietly, as the panel's is.
    std::function<void(const std::string& description)> onLost;
    std::function<void()> onReady;

  private:
    void advance();
    void send();
    void received();
    void finish(bool complete);
    void unclaimed(std::string_view bytes);
    void raiseUnclaimed();
    void holdBack();
    void end();
    // A failed send or a lost port: the reply awaited is missing, and the round ends.
    void lose(const std::string& description);

    std::string device_;
    Surroundings surroundings_;
    std::unique_ptr<serial::ReconnectingPort> port_;
    std::unique_ptr<PanelTimer> window_, pace_, guard_;

    std::vector<Send> sends_;
    std::size_t next_ = 0;  // the send that goes out next
    bool running_ = false;
    bool awaiting_ = false;  // a reply window is open
    Outcome current_;
    double sentAt_ = 0;
    std::string lastCode_;   // the code sent last, for what follows it unclaimed
    double quietFrom_ = -1;  // when the line began to be waited on to go quiet; -1: not waited on
    double lastNoise_ = 0;   // the last unclaimed byte, or the end of a window without its reply
    Unclaimed unclaimed_;    // bytes of no command not raised yet
};

}  // namespace session
