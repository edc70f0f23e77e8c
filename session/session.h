#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/reconnecting_port.h"
#include "link/timers.h"

namespace session {

// One command to send: its code, how long its reply may take, and for the repeats of a held
// key how long after the send before it the command goes out.
struct Send {
    std::string code;
    int replyWindowMs = 0;
    // 0: the send follows the one before it as soon as that one's reply is complete or its
    // window has ended. Otherwise it follows the send before it by this much, on a steady
    // cadence, and ends that one's reply window if it is still open.
    int paceMs = 0;
};

// What became of one send.
struct Outcome {
    std::string code;
    std::string sent;   // the command text on the line, carriage return included
    std::string reply;  // up to and including the first carriage return, or what came in the window
    bool ok = false;    // the reply came, complete
    double ms = 0;      // from the write to the end of the reply, or of the reply window
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
// time, each reply taken as complete at its first carriage return.
class PortSession {
  public:
    PortSession(std::string device, const std::string& settings, const Surroundings& surroundings);
    ~PortSession();

    const std::string& device() const { return device_; }

    // Opens the port; throws serial::SerialError with the panel's words when it cannot. A
    // network port is ready only once its server has answered: onReady says when.
    void open();
    // Closes the port: released at once, not reopened.
    void close();
    bool ready() const { return port_->ready(); }
    bool running() const { return running_; }

    // Sends these, one outcome each, then raises onDone. A port lost on the way ends the round:
    // onLost, then onDone without outcomes for the sends not made.
    void run(std::vector<Send> sends);

    // A command has gone out: the outcome so far holds its code and the text sent.
    std::function<void(const Outcome&)> onSent;
    std::function<void(const Outcome&)> onOutcome;
    std::function<void()> onDone;
    // The port is lost (unplugged, connection dropped, a network port not connected), in the
    // words of the panel's warning box. It is reopened quietly, as the panel's is.
    std::function<void(const std::string& description)> onLost;
    std::function<void()> onReady;

  private:
    void sendNext();
    void received();
    void finish(bool ok);
    void end();
    // A failed send or a lost port: the reply awaited is missing, and the round ends.
    void lose(const std::string& description);

    std::string device_;
    Surroundings surroundings_;
    std::unique_ptr<serial::ReconnectingPort> port_;
    std::unique_ptr<PanelTimer> window_, pace_;

    std::vector<Send> sends_;
    std::size_t next_ = 0;  // the send that goes out next
    bool running_ = false;
    bool awaiting_ = false;  // a reply window is open
    Outcome current_;
    double sentAt_ = 0;
};

}  // namespace session
