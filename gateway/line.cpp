#include "gateway/line.h"

#include <QDateTime>
#include <stdexcept>

#include "engine/command.h"
#include "engine/status.h"
#include "link/reconnecting_port.h"
#include "link/serial_port.h"
#include "session/sends.h"

namespace gateway {

struct Client::Slot {
    std::uint64_t id = 0;
    std::string name;
    std::size_t bound = kDefaultClientBound;
    std::deque<Line::Pending> queue;  // not yet on the line
    Client* handle = nullptr;         // null once the client has left

    bool full() const { return queue.size() >= bound; }
};

std::string_view stateName(LineState state) {
    switch (state) {
        case LineState::Connecting: return "connecting";
        case LineState::Up: return "up";
        case LineState::Down: break;
    }
    return "down";
}

// ---------------------------------------------------------------------------------------
// Client

Client::Client(Line& line, std::shared_ptr<Slot> slot) : line_(&line), slot_(std::move(slot)) {
    slot_->handle = this;
}

Client::~Client() {
    if (line_) line_->leave(*slot_);
}

std::uint64_t Client::id() const { return slot_->id; }
const std::string& Client::name() const { return slot_->name; }
std::size_t Client::waiting() const { return slot_->queue.size(); }
bool Client::full() const { return slot_->full(); }

void Client::submit(std::vector<session::Send> sends, std::function<void(const Answer&)> answered) {
    if (sends.empty() || sends.size() > kMaxSendsPerRequest) {
        throw std::invalid_argument("a request holds 1 to " + std::to_string(kMaxSendsPerRequest) +
                                    " sends, not " + std::to_string(sends.size()));
    }
    if (line_) line_->submit(slot_, Line::Pending{std::move(sends), std::move(answered)});
}

// ---------------------------------------------------------------------------------------
// Line: clients and their turns

Line::Line(ProjectorConfig projector, Context context)
    : projector_(std::move(projector)),
      context_(std::move(context)),
      status_(*projector_.model, projector_.pollSeconds * 1000) {
    if (!context_.wallMs) context_.wallMs = [] { return QDateTime::currentMSecsSinceEpoch(); };
    session_ = std::make_unique<session::PortSession>(projector_.port, projector_.settings(),
                                                      context_.surroundings);
    session_->onSent = [this](const session::Outcome& o) { sent(o); };
    session_->onOutcome = [this](const session::Outcome& o) { outcome(o); };
    session_->onLost = [this](const std::string& description) { lost(description); };
    session_->onDone = [this] { done(); };
    session_->onReady = [this] { goUp(); };
    session_->onUnclaimed = [this](const session::Unclaimed& u) { emit unclaimed(u); };

    retry_ = context_.surroundings.timers->createTimer();
    retry_->setInterval(serial::ReconnectingPort::kRetryMs);
    retry_->onTick = [this] {
        retry_->setEnabled(false);
        tryOpen();
    };
    poll_ = context_.surroundings.timers->createTimer();
    poll_->setInterval(projector_.pollSeconds * 1000);
    poll_->onTick = [this] { poll(); };
    poller_ = join("poll", engine::statusQueries().size());
}

Line::~Line() {
    for (PanelTimer* t : {retry_.get(), poll_.get()}) {
        t->onTick = nullptr;
        t->setEnabled(false);
    }
    poller_.reset();
    for (const auto& slot : slots_) slot->handle = nullptr;
    session_->onSent = nullptr;
    session_->onOutcome = nullptr;
    session_->onLost = nullptr;
    session_->onDone = nullptr;
    session_->onReady = nullptr;
    session_->onUnclaimed = nullptr;
}

std::unique_ptr<Client> Line::join(std::string name, std::size_t bound) {
    auto slot = std::make_shared<Client::Slot>();
    slot->id = nextId_++;
    slot->name = std::move(name);
    slot->bound = std::max<std::size_t>(bound, 1);
    slots_.push_back(slot);
    return std::unique_ptr<Client>(new Client(*this, std::move(slot)));
}

void Line::leave(Client::Slot& slot) {
    slot.handle = nullptr;
    // What it handed over still goes out; its answers go to no one.
    for (Pending& p : slot.queue) p.answered = nullptr;
    if (running_ && running_->slot.get() == &slot) running_->request.answered = nullptr;
    if (!slot.queue.empty()) return;
    const auto at = std::ranges::find_if(slots_, [&](const auto& s) { return s.get() == &slot; });
    if (at == slots_.end()) return;
    const auto index = static_cast<std::size_t>(at - slots_.begin());
    slots_.erase(at);
    if (turn_ > index) --turn_;
    if (turn_ >= slots_.size()) turn_ = 0;
}

void Line::submit(const std::shared_ptr<Client::Slot>& slot, Pending request) {
    if (state_ == LineState::Down) {
        // Answered at once, but never from inside submit().
        auto held = std::make_shared<Pending>(std::move(request));
        QMetaObject::invokeMethod(
            &posted_,
            [this, slot, held] { answerNotMade(slot, *held, 0, reason_); },
            Qt::QueuedConnection);
        return;
    }
    slot->queue.push_back(std::move(request));
    serveSoon();
}

void Line::serveSoon() {
    // The next request goes out from the event loop, never from inside a client's call or
    // the port session's notification.
    if (servePosted_) return;
    servePosted_ = true;
    QMetaObject::invokeMethod(
        &posted_,
        [this] {
            servePosted_ = false;
            serve();
        },
        Qt::QueuedConnection);
}

void Line::serve() {
    if (state_ != LineState::Up || running_ || session_->running()) return;
    for (std::size_t n = 0; n < slots_.size(); ++n) {
        const std::size_t index = (turn_ + n) % slots_.size();
        const std::shared_ptr<Client::Slot> slot = slots_[index];
        if (slot->queue.empty()) continue;
        turn_ = (index + 1) % slots_.size();
        const bool wasFull = slot->full();
        running_ = std::make_unique<Running>(Running{slot, std::move(slot->queue.front()), 0});
        slot->queue.pop_front();
        std::vector<session::Send> sends = running_->request.sends;
        roomMade(*slot, wasFull);
        session_->run(std::move(sends));
        return;
    }
}

void Line::roomMade(Client::Slot& slot, bool wasFull) {
    if (!slot.handle) {
        if (slot.queue.empty() && !(running_ && running_->slot.get() == &slot)) leave(slot);
        return;
    }
    if (wasFull && !slot.full() && slot.handle->onRoom) {
        const std::function<void()> room = slot.handle->onRoom;
        room();
    }
}

// ---------------------------------------------------------------------------------------
// Answers

void Line::answer(Running& running, const session::Outcome& outcome, const std::string& failure) {
    const std::shared_ptr<Client::Slot> slot = running.slot;
    Answer a{outcome, failure, ++running.answered == running.request.sends.size()};
    // A reply the loss cut short is no answer of the projector's.
    if (failure.empty() && status_.record(outcome, nowMs(), context_.wallMs())) {
        emit statusChanged(outcome.code);
    }
    emit commandAnswered(Command{slot->id, slot->name, outcome, failure});
    if (running.request.answered) {
        // A copy: the client may leave from inside its own answer.
        const std::function<void(const Answer&)> answered = running.request.answered;
        answered(a);
    }
}

void Line::answerNotMade(const std::shared_ptr<Client::Slot>& slot, Pending& request,
                         std::size_t from, const std::string& failure) {
    for (std::size_t i = from; i < request.sends.size(); ++i) {
        session::Outcome outcome;
        outcome.code = request.sends[i].code;
        outcome.sent = engine::commandText("", outcome.code);
        if (!request.answered || !slot->handle) continue;
        const std::function<void(const Answer&)> answered = request.answered;
        answered(Answer{outcome, failure, i + 1 == request.sends.size()});
    }
}

void Line::failWaiting() {
    // Copies: answers may make clients leave, or come back with more.
    const std::vector<std::shared_ptr<Client::Slot>> everyone = slots_;
    for (const auto& slot : everyone) {
        const bool wasFull = slot->full();
        std::deque<Pending> queue = std::exchange(slot->queue, {});
        for (Pending& request : queue) answerNotMade(slot, request, 0, reason_);
        roomMade(*slot, wasFull);
    }
}

// ---------------------------------------------------------------------------------------
// The port session's notifications

void Line::sent(const session::Outcome& outcome) {
    if (!running_) return;
    emit commandSent(Command{running_->slot->id, running_->slot->name, outcome, {}});
}

void Line::outcome(const session::Outcome& o) {
    if (!running_) return;
    if (!o.ok && !session_->ready()) {
        // The loss ended this reply window; its reason comes with onLost right after.
        cutShort_ = std::make_unique<session::Outcome>(o);
        return;
    }
    answer(*running_, o, {});
}

void Line::lost(const std::string& description) {
    if (cutShort_ && running_) answer(*running_, *std::exchange(cutShort_, nullptr), description);
    cutShort_.reset();
    goDown(description);
}

void Line::done() {
    if (!running_) return;
    std::unique_ptr<Running> finished = std::move(running_);
    if (cutShort_) answer(*finished, *std::exchange(cutShort_, nullptr), reason_);
    // Sends a loss kept from going out.
    answerNotMade(finished->slot, finished->request, finished->answered,
                  reason_.empty() ? std::string("the line was lost") : reason_);
    roomMade(*finished->slot, false);
    serveSoon();
}

// ---------------------------------------------------------------------------------------
// Up and down

void Line::start() {
    poll_->setEnabled(true);
    tryOpen();
}

void Line::stop() {
    retry_->setEnabled(false);
    poll_->setEnabled(false);
    session_->close();
    opened_ = false;
    cutShort_.reset();
    // Quietly: no observer is told of a loss the daemon made itself.
    state_ = LineState::Down;
    reason_ = "the daemon has closed the line";
    if (running_) {
        std::unique_ptr<Running> stopped = std::move(running_);
        answerNotMade(stopped->slot, stopped->request, stopped->answered, reason_);
    }
    failWaiting();
}

void Line::tryOpen() {
    try {
        session_->open();
    } catch (const serial::SerialError& e) {
        retry_->setEnabled(true);
        if (state_ != LineState::Down || reason_ != e.what()) goDown(e.what());
        return;
    }
    opened_ = true;
    if (session_->ready()) {
        goUp();
    } else {
        state_ = LineState::Connecting;
        reason_.clear();
        emit stateChanged(state_, reason_);
    }
}

void Line::goUp() {
    state_ = LineState::Up;
    reason_.clear();
    emit stateChanged(state_, reason_);
    poll();
    serveSoon();
}

void Line::goDown(const std::string& reason) {
    state_ = LineState::Down;
    reason_ = reason;
    status_.lineLost();
    emit stateChanged(state_, reason_);
    failWaiting();
}

void Line::poll() {
    // A poll still under way, or a line away, gets no second one: polls never pile up.
    if (state_ != LineState::Up || pollAnswers_ > 0) return;
    pollAnswers_ = engine::statusQueries().size();
    pollComplete_ = true;
    // One request per query, so that other clients take their turns between them.
    for (session::Send& query : session::statusSends()) {
        poller_->submit({std::move(query)}, [this](const Answer& a) {
            if (!a.failure.empty()) pollComplete_ = false;
            if (--pollAnswers_ == 0 && pollComplete_ && state_ == LineState::Up) emit statusRoundDone();
        });
    }
}

}  // namespace gateway
