#include "ctl/run.h"

#include <algorithm>

#include "engine/shown_text.h"
#include "link/port_assignment.h"
#include "link/serial_port.h"

namespace ctl {

namespace {

// Lines go out as the stream buffers them: at once to a terminal, in blocks to a pipe or a
// file; watch flushes after each round.
void printLine(std::ostream& out, const std::string& line) {
    out << line << '\n';
}

// A note of projectorctl's own, its outside parts made fit to show already.
void printNote(std::ostream& err, const std::string& note) {
    err << note << '\n' << std::flush;
}

// A port's message, line by line: it holds device texts and what servers and files said.
void printError(std::ostream& err, std::string_view description) {
    err << engine::shownLines(description) << '\n' << std::flush;
}

// The ports' messages in projectorctl's words: a batch gives a lost port up, watch waits for it.
session::Surroundings speakingFor(session::Surroundings surroundings, bool watching) {
    surroundings.port.words.program = "projectorctl";
    surroundings.port.words.afterLoss =
        watching ? "projectorctl watch goes on and tries the port again about once a second."
                 : "projectorctl does not try again.";
    return surroundings;
}

// What the settings file holds that is never read, where a port is COMn and so assigned by it.
void printUnreadSettings(const Request& request, const serial::PortAssignment& assignment,
                         std::ostream& err) {
    const auto assigned = [](const std::string& port) {
        return serial::panelPortNumber(port) != 0;
    };
    if (std::ranges::none_of(request.ports, assigned)) return;
    if (const std::string unread = serial::unreadSettings(assignment); !unread.empty())
        printNote(err, unread);
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
      remaining_(request.ports.size()),
      assignment_(surroundings.port.assignment) {
    const session::Surroundings ours = speakingFor(surroundings, false);
    for (std::size_t i = 0; i < request.ports.size(); ++i) {
        auto line =
            std::make_unique<session::PortSession>(request.ports[i], request.settings, ours);
        line->onOutcome = [this, i](const session::Outcome& outcome) {
            if (!outcome.ok) missing_ = true;
            ordered_.add(i, lineOf(request_, i, outcome));
        };
        line->onUnclaimed = [this, i](const session::Unclaimed& unclaimed) {
            if (request_.json)
                ordered_.add(i, jsonLine(unclaimed, request_.ports[i]));
            else
                printNote(err_, unclaimedNote(unclaimed, request_.ports[i]));
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
    printUnreadSettings(request_, assignment_, err_);
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
      surroundings_(speakingFor(surroundings, true)),
      out_(out),
      err_(err),
      round_(request.ports.size()),
      shown_(request.ports.size()),
      opened_(request.ports.size(), false) {
    for (std::size_t i = 0; i < request.ports.size(); ++i) {
        auto line = std::make_unique<session::PortSession>(request.ports[i], request.settings,
                                                           surroundings_);
        line->onOutcome = [this, i](const session::Outcome& outcome) {
            round_[i].push_back(outcome);
        };
        line->onUnclaimed = [this, i](const session::Unclaimed& unclaimed) {
            if (!request_.json) {
                printNote(err_, unclaimedNote(unclaimed, request_.ports[i]));
            } else if (inRound_) {
                round_[i].push_back(unclaimed);
            } else {
                printLine(out_, jsonLine(unclaimed, request_.ports[i]));
                flushOutput();
            }
        };
        line->onDone = [this] {
            if (--active_ == 0) endRound();
        };
        line->onLost = [this, i](const std::string& description) {
            printError(err_, description);
            // What the port showed before is printed again once it is back; what came from it
            // unclaimed is printed all the same.
            shown_[i].clear();
            std::erase_if(round_[i], [](const auto& entry) {
                return std::holds_alternative<session::Outcome>(entry);
            });
        };
        line->onReady = [this] { roundSoon(); };
        sessions_.push_back(std::move(line));
    }
    period_ = surroundings.timers->createTimer();
    period_->setInterval(request.watchPeriodMs);
    period_->onTick = [this] { roundSoon(); };
    retry_ = surroundings.timers->createTimer();
    retry_->setInterval(serial::ReconnectingPort::kRetryMs);
    retry_->onTick = [this] { openPorts(false); };
}

Watch::~Watch() {
    for (PanelTimer* t : {period_.get(), retry_.get()}) {
        t->onTick = nullptr;
        t->setEnabled(false);
    }
}

void Watch::start(std::function<void(int status)> ended) {
    ended_ = std::move(ended);
    printUnreadSettings(request_, surroundings_.port.assignment, err_);
    openPorts(true);
    period_->setEnabled(true);
    startRound();
}

void Watch::openPorts(bool first) {
    bool waiting = false;
    for (std::size_t i = 0; i < sessions_.size(); ++i) {
        if (opened_[i]) continue;
        try {
            sessions_[i]->open();
            opened_[i] = true;
        } catch (const serial::SerialError& e) {
            // Said once; then tried again quietly, as a lost port is.
            if (first)
                printError(err_, std::string(e.what()) + "\n" + surroundings_.port.words.afterLoss);
            waiting = true;
            continue;
        }
        if (!first && sessions_[i]->ready()) roundSoon();
    }
    retry_->setEnabled(waiting);
}

void Watch::roundSoon() {
    if (inRound_)
        roundDue_ = true;
    else
        startRound();
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
    inRound_ = false;
    if (!flushOutput()) return;
    if (roundDue_) startRound();
}

bool Watch::flushOutput() {
    if (flushed(out_, err_)) return true;
    period_->setEnabled(false);
    retry_->setEnabled(false);
    roundDue_ = false;
    if (ended_) ended_(kExitOutputFailed);
    return false;
}

}  // namespace ctl
