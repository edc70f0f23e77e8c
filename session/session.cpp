#include "session/session.h"

#include <algorithm>

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
    };

    window_ = surroundings.timers->createTimer();
    window_->onTick = [this] {
        window_->setEnabled(false);
        if (awaiting_) finish(false);
        if (!pace_->enabled()) sendNext();
    };
    // Held keys repeat on a steady cadence from the first send, as Timer1 keeps the panel's.
    pace_ = surroundings.timers->createTimer();
    pace_->onTick = [this] {
        if (awaiting_) finish(false);
        sendNext();
    };
}

PortSession::~PortSession() {
    for (PanelTimer* t : {window_.get(), pace_.get()}) {
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
    window_->setEnabled(false);
    pace_->setEnabled(false);
    port_->setPortOpen(false);
}

void PortSession::run(std::vector<Send> sends) {
    sends_ = std::move(sends);
    next_ = 0;
    running_ = true;
    sendNext();
}

void PortSession::sendNext() {
    if (!running_) return;
    if (next_ == sends_.size()) {
        end();
        return;
    }
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
    awaiting_ = true;
    window_->setInterval(send.replyWindowMs);
    window_->setEnabled(true);
    const int pace = next_ < sends_.size() ? sends_[next_].paceMs : 0;
    if (pace == 0) {
        pace_->setEnabled(false);
    } else if (!pace_->enabled() || pace_->interval() != pace) {
        pace_->setInterval(pace);
        pace_->setEnabled(true);
    }
    if (onSent) onSent(current_);
}

void PortSession::received() {
    const std::string bytes = port_->input();
    if (!awaiting_) return;  // nothing asked for it: late or stray, dropped
    // A line that never ends a reply is kept no further than the panel keeps a reply window.
    const std::size_t before = current_.reply.size();
    const std::size_t room =
        engine::kReplyWindowLimit - std::min(before, engine::kReplyWindowLimit);
    current_.reply.append(bytes, 0, std::min(room, bytes.size()));
    const std::size_t cr = current_.reply.find(engine::kCR, before);
    if (cr == std::string::npos) return;
    current_.reply.resize(cr + 1);
    finish(true);
    if (!pace_->enabled()) sendNext();
}

void PortSession::finish(bool ok) {
    awaiting_ = false;
    window_->setEnabled(false);
    current_.ok = ok;
    current_.ms = surroundings_.nowMs() - sentAt_;
    if (onOutcome) onOutcome(current_);
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
    if (onLost) onLost(description);
    if (running_) end();
}

}  // namespace session
