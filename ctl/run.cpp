#include "ctl/run.h"

#include "link/serial_port.h"

namespace ctl {

namespace {

// Lines go out as the stream buffers them: at once to a terminal, in blocks to a pipe or a
// file; watch flushes after each round.
void printLine(std::ostream& out, const std::string& line) {
    out << line << '\n';
}

void printError(std::ostream& err, const std::string& text) {
    err << text << '\n' << std::flush;
}

std::string lineOf(const Request& request, std::size_t port, const session::Outcome& outcome) {
    const std::string& name = request.ports[port];
    if (request.json) return jsonLine(outcome, *request.model, name);
    return plainLine(outcome, *request.model, request.ports.size() > 1 ? &name : nullptr);
}

}  // namespace

// ---------------------------------------------------------------------------------------

Batch::Batch(const Request& request, const session::Surroundings& surroundings, std::ostream& out,
             std::ostream& err)
    : request_(request),
      out_(out),
      err_(err),
      states_(request.ports.size(), State::Opening),
      ordered_(request.ports.size(), [this](const std::string& line) { printLine(out_, line); }),
      remaining_(request.ports.size()) {
    for (std::size_t i = 0; i < request.ports.size(); ++i) {
        auto line = std::make_unique<session::PortSession>(request.ports[i], request.settings,
                                                           surroundings);
        line->onOutcome = [this, i](const session::Outcome& outcome) {
            if (!outcome.ok) missing_ = true;
            ordered_.add(i, lineOf(request_, i, outcome));
        };
        line->onUnclaimed = [this, i](const session::Unclaimed& unclaimed) {
            if (request_.json)
                ordered_.add(i, jsonLine(unclaimed, request_.ports[i]));
            else
                printError(err_, unclaimedNote(unclaimed, request_.ports[i]));
        };
        line->onDone = [this, i] { portDone(i); };
        line->onReady = [this, i] {
            if (states_[i] == State::Opening) run(i);
        };
        line->onLost = [this, i](const std::string& description) {
            printError(err_, description);
            failed_ = true;
            // A running session ends its round itself; one still connecting is through here.
            if (states_[i] == State::Opening) portDone(i);
        };
        sessions_.push_back(std::move(line));
    }
}

Batch::~Batch() = default;

void Batch::start(std::function<void()> finished) {
    finished_ = std::move(finished);
    openNext();
}

void Batch::openNext() {
    const std::size_t i = opened_++;
    if (opened_ < sessions_.size()) {
        QMetaObject::invokeMethod(
            &events_, [this] { openNext(); }, Qt::QueuedConnection);
    }
    try {
        sessions_[i]->open();
    } catch (const serial::SerialError& e) {
        printError(err_, e.what());
        failed_ = true;
        portDone(i);
        return;
    }
    if (sessions_[i]->ready()) run(i);
}

void Batch::run(std::size_t port) {
    states_[port] = State::Running;
    sessions_[port]->run(request_.sends);
}

void Batch::portDone(std::size_t port) {
    if (states_[port] == State::Done) return;
    states_[port] = State::Done;
    // Not from inside the port's own notification, which may be what brought the end.
    QMetaObject::invokeMethod(
        &events_, [this, port] { sessions_[port]->close(); }, Qt::QueuedConnection);
    ordered_.finished(port);
    if (--remaining_ == 0 && finished_) finished_();
}

int Batch::exitStatus() const {
    if (failed_) return kExitPortFailed;
    return missing_ ? kExitReplyMissing : kExitAnswered;
}

// ---------------------------------------------------------------------------------------

Watch::Watch(const Request& request, const session::Surroundings& surroundings, std::ostream& out,
             std::ostream& err)
    : request_(request),
      surroundings_(surroundings),
      out_(out),
      err_(err),
      round_(request.ports.size()),
      shown_(request.ports.size()) {
    for (std::size_t i = 0; i < request.ports.size(); ++i) {
        auto line = std::make_unique<session::PortSession>(request.ports[i], request.settings,
                                                           surroundings);
        line->onOutcome = [this, i](const session::Outcome& outcome) {
            round_[i].push_back(outcome);
        };
        line->onUnclaimed = [this, i](const session::Unclaimed& unclaimed) {
            if (!request_.json) {
                printError(err_, unclaimedNote(unclaimed, request_.ports[i]));
            } else if (inRound_) {
                round_[i].push_back(unclaimed);
            } else {
                printLine(out_, jsonLine(unclaimed, request_.ports[i]));
                out_.flush();
            }
        };
        line->onDone = [this] {
            if (--active_ == 0) endRound();
        };
        line->onLost = [this, i](const std::string& description) {
            printError(err_, description);
            // What the port showed before is printed again once it is back.
            shown_[i].clear();
            round_[i].clear();
        };
        line->onReady = [this] {
            if (inRound_)
                roundDue_ = true;
            else
                startRound();
        };
        sessions_.push_back(std::move(line));
    }
    period_ = surroundings.timers->createTimer();
    period_->setInterval(request.watchPeriodMs);
    period_->onTick = [this] {
        if (inRound_)
            roundDue_ = true;
        else
            startRound();
    };
}

Watch::~Watch() {
    period_->onTick = nullptr;
    period_->setEnabled(false);
}

bool Watch::start() {
    for (const auto& line : sessions_) {
        try {
            line->open();
        } catch (const serial::SerialError& e) {
            printError(err_, e.what());
            return false;
        }
    }
    period_->setEnabled(true);
    startRound();
    return true;
}

void Watch::startRound() {
    inRound_ = true;
    roundDue_ = false;
    std::vector<session::PortSession*> ready;
    for (std::size_t i = 0; i < sessions_.size(); ++i) {
        round_[i].clear();
        // A port away, or still connecting, sits the round out.
        if (sessions_[i]->ready()) ready.push_back(sessions_[i].get());
    }
    // Counted before any starts: a round that fails at its first send ends at once.
    active_ = ready.size();
    if (ready.empty()) {
        endRound();
        return;
    }
    for (session::PortSession* line : ready) line->run(request_.sends);
}

void Watch::endRound() {
    for (std::size_t i = 0; i < sessions_.size(); ++i) {
        for (const auto& entry : round_[i]) {
            if (const auto* unclaimed = std::get_if<session::Unclaimed>(&entry)) {
                printLine(out_, jsonLine(*unclaimed, request_.ports[i]));
                continue;
            }
            const auto& outcome = std::get<session::Outcome>(entry);
            std::string seen = session::receivedDisplay(outcome) + '\t' +
                               session::statusOf(outcome, *request_.model).value_or("");
            std::string& shown = shown_[i][outcome.code];
            if (seen == shown) continue;
            shown = std::move(seen);
            printLine(out_, lineOf(request_, i, outcome));
        }
        round_[i].clear();
    }
    out_.flush();
    inRound_ = false;
    if (roundDue_) startRound();
}

}  // namespace ctl
