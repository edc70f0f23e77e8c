#include "tests/support/fake_line.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include "link/serial_port.h"

FakeProjector::FakeProjector(VirtualClock& clock) : clock(clock) {
    for (const auto& [query, reply] :
         std::map<std::string, std::string>{{"CR0", "80"},
                                            {"CR1", "1"},
                                            {"CR4", "11"},
                                            {"CR3", "01234"},
                                            {"CR6", "035.0  38.5 041.2"},
                                            {"CRA", "FF"},
                                            {"CR9", "TR27K SIM"},
                                            {"CR PRESSURE", "512"},
                                            {"CR7", "01"}}) {
        script[query] = {{5, reply + "\r"}};
    }
}

std::vector<std::string> FakeProjector::commands() const {
    std::vector<std::string> all;
    for (const auto& w : writes) all.push_back(w.second);
    return all;
}

void FakeWire::start(const serial::LineSettings&) {
    if (!p_.present) throw serial::SerialError("/dev/ttyUSB0: No such file or directory");
    p_.live = this;
}

void FakeWire::close() {
    if (p_.live == this) p_.live = nullptr;
}

void FakeWire::write(const std::string& bytes) {
    const std::string command = bytes.substr(0, bytes.size() - 1);
    p_.writes.emplace_back(p_.clock.now(), command);
    const auto found = p_.script.find(command);
    for (const Piece& piece :
         found != p_.script.end() ? found->second : std::vector<Piece>{{5, "\x06\r"}}) {
        auto timer = p_.clock.createTimer();
        PanelTimer* t = timer.get();
        t->setInterval(piece.atMs);
        t->onTick = [this, t, piece] {
            t->setEnabled(false);
            if (gone_) return;
            waiting_ += piece.bytes;
            onReadyRead();
        };
        t->setEnabled(true);
        replies_.push_back(std::move(timer));
    }
}

void FakeWire::unplug() {
    gone_ = true;
    p_.present = false;
    onFailed("/dev/ttyUSB0: Input/output error");
}

LineFixture::LineFixture(int pollSeconds,
                         const std::function<void(gateway::ProjectorConfig&)>& configure) {
    context.surroundings.timers = &clock;
    context.surroundings.nowMs = [this] { return double(clock.now()); };
    context.surroundings.port.assignment.environment = [](const std::string&) {
        return std::string();
    };
    context.surroundings.port.assignment.adapters = [] { return std::vector<serial::Adapter>{}; };
    context.surroundings.port.assignment.stableNameFolder = byId.path().toStdString();
    context.surroundings.port.transports = [this](const serial::DeviceAddress&) {
        return std::make_unique<FakeWire>(projector);
    };
    context.wallMs = [this] { return 1'700'000'000'000 + clock.now(); };
    gateway::ProjectorConfig config;
    config.id = config.name = "hall";
    config.port = "/dev/ttyUSB0";
    config.pollSeconds = pollSeconds;
    if (configure) configure(config);
    line = std::make_unique<gateway::Line>(config, context);
    QObject::connect(
        line.get(), &gateway::Line::stateChanged,
        [this](gateway::LineState s, const std::string& why) {
            events.push_back(std::string(gateway::stateName(s)) + (why.empty() ? "" : " " + why));
        });
    QObject::connect(line.get(), &gateway::Line::unclaimed, [this](const session::Unclaimed& u) {
        events.push_back("unclaimed " + u.bytes);
    });
    QObject::connect(line.get(), &gateway::Line::statusRoundDone, [this] { ++rounds; });
}

LineFixture::~LineFixture() {
    // A lost port's transport is deleted later; its reply timers are on this clock.
    line.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void LineFixture::advance(std::int64_t ms) {
    for (std::int64_t i = 0; i < ms; ++i) {
        clock.advance(1);
        QCoreApplication::processEvents();
    }
}

void LineFixture::startQuietly() {
    line->start();
    advance(200);
    ASSERT_EQ(rounds, 1);
    projector.writes.clear();
    events.clear();
}

void LineFixture::submit(gateway::Client& client, std::vector<session::Send> sends) {
    client.submit(std::move(sends), [this, &client](const gateway::Answer& a) {
        std::string what = a.outcome.ok ? "ok" : a.outcome.refused ? "refused" : "missing";
        if (!a.failure.empty()) what = "failed: " + a.failure;
        answers.push_back(client.name() + " " + a.outcome.code + " " + what +
                          (a.last ? "" : " ..."));
    });
}
