#include "session/session.h"

#include <algorithm>
#include <cmath>

#include "engine/command.h"

namespace session {

PortSession::PortSession(std::string device, const std::string& settings,
                         const Surroundings& surroundings)
    : device_(std::move(device)), surroundings_(surroundings) {
    serial::ReconnectingPort::Context context = surroundings.port;
    context.timers = surroundings.timers;
    port_ = std::make_unique<serial::ReconnectingPort>(std::move(context));
    port_->setDevice(device_);
    port_->setSettings(settings);
    port_->onComm = [this] { received(); };
    port_->onLost = [this](const std::string& description) { lose(description); };
    port_->onReady = [this] {
        if (onReady) onReady();
        advance();
    };

    window_ = surroundings.timers->createTimer();
    window_->onTick = [this] {
        window_->setEnabled(false);
        if (awaiting_) finish(false);
        advance();
    };
    pace_ = surroundings.timers->createTimer();
    pace_->onTick = [this] {
        pace_->setEnabled(false);
        advance();
    };
    guard_ = surroundings.timers->createTimer();
    guard_->onTick = [this] {
        guard_->setEnabled(false);
        if (running_) {
            advance();
            return;
        }
        // Quiet between rounds: what came is through.
        raiseUnclaimed();
        quietFrom_ = -1;
    };
}

PortSession::~PortSession() {
    for (PanelTimer* t : {window_.get(), pace_.get(), guard_.get()}) {
        t->onTick = nullptr;
        t->setEnabled(false);
    }
    port_->onComm = nullptr;
    port_->onLost = nullptr;
    port_->onReady = nullptr;
}

void PortSession::open() {
    port_->setPortOpen(true);
}

void PortSession::close() {
    running_ = awaiting_ = false;
    for (PanelTimer* t : {window_.get(), pace_.get(), guard_.get()}) t->setEnabled(false);
    unclaimed_ = Unclaimed{};
    lastCode_.clear();
    quietFrom_ = -1;
    port_->setPortOpen(false);
}

void PortSession::run(std::vector<Send> sends) {
    sends_ = std::move(sends);
    next_ = 0;
    running_ = true;
    // The wait for quiet is bounded from the round's start, whatever came before it.
    if (quietFrom_ >= 0) quietFrom_ = surroundings_.nowMs();
    advance();
}

// Sends the next command, or ends the round, once the line allows: the reply before it is
// through, a held key's repeat is due, and the line has been quiet for the guard when there
// was reason to doubt it.
void PortSession::advance() {
    if (!running_ || awaiting_ || pace_->enabled()) return;
    // A network port not connected yet: what its server says first comes before any command.
    if (port_->portOpen() && !port_->ready()) return;
    if (quietFrom_ >= 0) {
        const double now = surroundings_.nowMs();
        const double toQuiet = kGuardMs - (now - lastNoise_);
        const double toLimit = kQuietWaitLimitMs - (now - quietFrom_);
        if (toQuiet > 0 && toLimit > 0) {
            guard_->setInterval(
                std::max(1, static_cast<int>(std::ceil(std::min(toQuiet, toLimit)))));
            guard_->setEnabled(true);
            return;
        }
    }
    guard_->setEnabled(false);
    // Whatever came unclaimed is raised before anything that follows it.
    raiseUnclaimed();
    quietFrom_ = -1;
    if (next_ == sends_.size())
        end();
    else
        send();
}

void PortSession::send() {
    const Send& send = sends_[next_++];
    current_ = Outcome{};
    current_.code = send.code;
    current_.sent = engine::commandText("", send.code);
    try {
        port_->output(current_.sent);
    } catch (const serial::SerialError& e) {
        lose(e.what());
        return;
    }
    sentAt_ = surroundings_.nowMs();
    lastCode_ = send.code;
    awaiting_ = true;
    window_->setInterval(send.replyWindowMs);
    window_->setEnabled(true);
    const int pace = next_ < sends_.size() ? sends_[next_].paceMs : 0;
    pace_->setInterval(pace);
    pace_->setEnabled(pace > 0);
    if (onSent) onSent(current_);
}

void PortSession::received() {
    const std::string bytes = port_->input();
    if (!awaiting_) {
        unclaimed(bytes);
        return;
    }
    // A line that never ends a reply is kept no further than the panel keeps a reply window.
    const std::size_t before = current_.reply.size();
    const std::size_t room =
        engine::kReplyWindowLimit - std::min(before, engine::kReplyWindowLimit);
    current_.reply.append(bytes, 0, std::min(room, bytes.size()));
    const std::size_t cr = current_.reply.find(engine::kCR, before);
    if (cr == std::string::npos) return;
    current_.reply.resize(cr + 1);
    finish(true);
    // What came after the carriage return answers nothing that was asked.
    const std::string_view rest = std::string_view(bytes).substr(cr + 1 - before);
    if (rest.empty())
        advance();
    else
        unclaimed(rest);
}

void PortSession::finish(bool complete) {
    awaiting_ = false;
    window_->setEnabled(false);
    current_.refused = complete && current_.reply == engine::kErrorMark;
    current_.ok = complete && !current_.refused;
    current_.ms = surroundings_.nowMs() - sentAt_;
    if (!complete) {
        // Its reply may still be on the way.
        lastNoise_ = surroundings_.nowMs();
        if (quietFrom_ < 0) quietFrom_ = lastNoise_;
    }
    if (onOutcome) onOutcome(current_);
}

void PortSession::unclaimed(std::string_view bytes) {
    // Nothing is raised for a session closed meanwhile (from inside onOutcome).
    if (bytes.empty() || !port_->portOpen()) return;
    const double now = surroundings_.nowMs();
    lastNoise_ = now;
    if (quietFrom_ < 0) quietFrom_ = now;
    for (const char c : bytes) {
        if (unclaimed_.bytes.empty()) {
            unclaimed_.after = lastCode_;
            unclaimed_.ms = lastCode_.empty() ? 0 : now - sentAt_;
        }
        unclaimed_.bytes.push_back(c);
        if (c == engine::kCR || unclaimed_.bytes.size() == engine::kReplyWindowLimit)
            raiseUnclaimed();
    }
    if (running_) {
        advance();
    } else {
        guard_->setInterval(kGuardMs);
        guard_->setEnabled(true);
    }
}

void PortSession::raiseUnclaimed() {
    if (unclaimed_.bytes.empty()) return;
    const Unclaimed raised = std::exchange(unclaimed_, Unclaimed{});
    if (onUnclaimed) onUnclaimed(raised);
}

void PortSession::end() {
    running_ = false;
    next_ = 0;
    sends_.clear();
    window_->setEnabled(false);
    pace_->setEnabled(false);
    if (onDone) onDone();
}

void PortSession::lose(const std::string& description) {
    if (awaiting_) finish(false);
    guard_->setEnabled(false);
    pace_->setEnabled(false);
    quietFrom_ = -1;
    raiseUnclaimed();
    // What comes once the port is back follows nothing sent on it.
    lastCode_.clear();
    if (onLost) onLost(description);
    if (running_) end();
}

}  // namespace session
