// The line owner on the virtual clock, its port on a fake line to a scripted projector: turns
// between clients, bounds, the line down and back, the poll and its cache, late replies.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <map>
#include <set>

#include "gateway/line.h"
#include "link/transport.h"
#include "session/sends.h"
#include "tests/support/virtual_clock.h"

namespace {

using gateway::Answer;
using gateway::LineState;

// A piece of a reply: its bytes this long after the command came.
struct Piece {
    int atMs;
    std::string bytes;
};

// The projector behind the fake line. Every command is answered ACK CR after 5 ms unless
// scripted otherwise; the status queries as a projector in stand-by answers them.
struct Projector {
    explicit Projector(VirtualClock& clock) : clock(clock) {
        for (const auto& [query, reply] : std::map<std::string, std::string>{
                 {"CR0", "80"}, {"CR1", "1"}, {"CR4", "11"}, {"CR3", "01234"},
                 {"CR6", "035.0  38.5 041.2"}, {"CRA", "FF"}, {"CR9", "TR27K SIM"},
                 {"CR PRESSURE", "512"}, {"CR7", "01"}}) {
            script[query] = {{5, reply + "\r"}};
        }
    }

    VirtualClock& clock;
    bool present = true;
    std::map<std::string, std::vector<Piece>> script;
    std::vector<std::pair<std::int64_t, std::string>> writes;  // (time, command)
    class Wire* live = nullptr;

    std::vector<std::string> commands() const {
        std::vector<std::string> all;
        for (const auto& w : writes) all.push_back(w.second);
        return all;
    }
};

class Wire final : public serial::Transport {
  public:
    explicit Wire(Projector& p) : p_(p) {}
    ~Wire() override { close(); }

    void start(const serial::LineSettings&) override {
        if (!p_.present) throw serial::SerialError("/dev/ttyUSB0: No such file or directory");
        p_.live = this;
    }
    void close() override {
        if (p_.live == this) p_.live = nullptr;
    }
    bool gone() const override { return gone_; }
    void applySettings(const serial::LineSettings&) override {}
    void write(const std::string& bytes) override {
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
    std::string readAll() override { return std::exchange(waiting_, {}); }

    void unplug() {
        gone_ = true;
        p_.present = false;
        onFailed("/dev/ttyUSB0: Input/output error");
    }

  private:
    Projector& p_;
    std::string waiting_;
    bool gone_ = false;
    std::vector<std::unique_ptr<PanelTimer>> replies_;
};

struct Fixture {
    explicit Fixture(int pollSeconds = 10) {
        gateway::Line::Context context;
        context.surroundings.timers = &clock;
        context.surroundings.nowMs = [this] { return double(clock.now()); };
        context.surroundings.port.assignment.environment = [](const std::string&) { return std::string(); };
        context.surroundings.port.assignment.adapters = [] { return std::vector<serial::Adapter>{}; };
        context.surroundings.port.assignment.stableNameFolder = byId.path().toStdString();
        context.surroundings.port.transports = [this](const serial::DeviceAddress&) {
            return std::make_unique<Wire>(projector);
        };
        context.wallMs = [this] { return 1'700'000'000'000 + clock.now(); };
        gateway::ProjectorConfig config;
        config.id = "hall";
        config.port = "/dev/ttyUSB0";
        config.pollSeconds = pollSeconds;
        line = std::make_unique<gateway::Line>(config, context);
        QObject::connect(line.get(), &gateway::Line::stateChanged, [this](LineState s, const std::string& why) {
            events.push_back(std::string(gateway::stateName(s)) + (why.empty() ? "" : " " + why));
        });
        QObject::connect(line.get(), &gateway::Line::unclaimed, [this](const session::Unclaimed& u) {
            events.push_back("unclaimed " + u.bytes);
        });
        QObject::connect(line.get(), &gateway::Line::statusRoundDone, [this] { ++rounds; });
    }

    ~Fixture() {
        // A lost port's transport is deleted later; its reply timers are on this clock.
        line.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // Time passes a millisecond at a time, and the event loop's posted calls run on the way.
    void advance(std::int64_t ms) {
        for (std::int64_t i = 0; i < ms; ++i) {
            clock.advance(1);
            QCoreApplication::processEvents();
        }
    }
    // Started, with the first poll through and forgotten.
    void startQuietly() {
        line->start();
        advance(200);
        ASSERT_EQ(rounds, 1);
        projector.writes.clear();
        events.clear();
    }

    // Submits and records each answer as "<client> <code> <ok|missing|refused|failed:...>".
    void submit(gateway::Client& client, std::vector<session::Send> sends) {
        client.submit(std::move(sends), [this, &client](const Answer& a) {
            std::string what = a.outcome.ok ? "ok" : a.outcome.refused ? "refused" : "missing";
            if (!a.failure.empty()) what = "failed: " + a.failure;
            answers.push_back(client.name() + " " + a.outcome.code + " " + what + (a.last ? "" : " ..."));
        });
    }

    QTemporaryDir byId;
    VirtualClock clock;
    Projector projector{clock};
    std::unique_ptr<gateway::Line> line;
    std::vector<std::string> events, answers;
    int rounds = 0;
};

session::Send code(const char* c) { return session::codeSend(c); }

// One request of each client in turn: a busy client cannot keep another waiting behind all of
// its requests, and each client's own requests keep their order.
TEST(Line, ClientsTakeTurnsOneRequestEach) {
    Fixture f;
    f.startQuietly();
    auto a = f.line->join("a", 10), b = f.line->join("b", 10);
    for (const char* c : {"C01", "C02", "C03"}) f.submit(*a, {code(c)});
    f.submit(*b, {code("C0B"), code("C0C")});
    f.submit(*b, {code("C0D")});
    f.advance(200);
    EXPECT_EQ(f.projector.commands(), (std::vector<std::string>{"C01", "C0B", "C0C", "C02", "C0D", "C03"}));
    EXPECT_EQ(f.answers, (std::vector<std::string>{"a C01 ok", "b C0B ok ...", "b C0C ok", "a C02 ok",
                                                   "b C0D ok", "a C03 ok"}));
}

// Over its bound a client is full until the line has taken enough; nothing it handed over is
// lost, and it hears when it has room again.
TEST(Line, AClientOverItsBoundWaitsAndLosesNothing) {
    Fixture f;
    f.startQuietly();
    auto a = f.line->join("a", 2);
    int rooms = 0;
    a->onRoom = [&] { ++rooms; };
    for (int i = 0; i < 5; ++i) f.submit(*a, {code("C00")});
    EXPECT_TRUE(a->full());
    EXPECT_EQ(a->waiting(), 5u);
    f.advance(100);
    EXPECT_FALSE(a->full());
    EXPECT_EQ(rooms, 1);
    EXPECT_EQ(f.answers.size(), 5u);
    EXPECT_EQ(f.projector.writes.size(), 5u);
    EXPECT_THROW(f.submit(*a, {}), std::invalid_argument);
}

// A port that cannot be opened is not fatal: requests are answered at once with the panel's
// words for why, the port is tried again each second, and once it opens the poll runs.
TEST(Line, RequestsWhileTheLineIsDownAreAnsweredAtOnce) {
    Fixture f;
    f.projector.present = false;
    f.line->start();
    ASSERT_EQ(f.line->state(), LineState::Down);
    EXPECT_NE(f.line->reason().find("/dev/ttyUSB0: No such file or directory"), std::string::npos);
    auto a = f.line->join("a");
    f.submit(*a, {code("C00"), code("C01")});
    EXPECT_TRUE(f.answers.empty()) << "answered from inside submit()";
    QCoreApplication::processEvents();
    ASSERT_EQ(f.answers.size(), 2u);
    EXPECT_TRUE(f.answers[0].starts_with("a C00 failed: /dev/ttyUSB0: No such file or directory"));
    EXPECT_TRUE(f.answers[1].starts_with("a C01 failed: "));
    EXPECT_TRUE(f.projector.writes.empty());

    f.advance(5000);
    EXPECT_TRUE(f.projector.writes.empty()) << "the poll piled up while down";
    f.projector.present = true;
    f.advance(1000);
    EXPECT_EQ(f.line->state(), LineState::Up);
    f.advance(200);
    EXPECT_EQ(f.rounds, 1);
    EXPECT_EQ(f.events.size(), 2u) << "down once, then up";
}

// Lost with a command on the line: its answer says why, the requests waiting are answered
// as failed, and once the port is back the line serves again and polls at once.
TEST(Line, LostAndBack) {
    Fixture f;
    f.startQuietly();
    auto a = f.line->join("a"), b = f.line->join("b");
    f.projector.script["C00"] = {};  // no answer: the loss comes first
    f.submit(*a, {code("C00"), code("C01")});
    f.submit(*b, {code("C0B")});
    f.advance(100);
    f.projector.live->unplug();
    f.advance(10);
    EXPECT_EQ(f.line->state(), LineState::Down);
    ASSERT_EQ(f.answers.size(), 3u);
    EXPECT_TRUE(f.answers[0].starts_with("a C00 failed: /dev/ttyUSB0: Input/output error")) << f.answers[0];
    EXPECT_TRUE(f.answers[1].starts_with("b C0B failed: ") || f.answers[1].starts_with("a C01 failed: "));
    EXPECT_EQ(f.projector.commands(), std::vector<std::string>{"C00"});
    EXPECT_FALSE(f.line->status().fresh("CR0", f.line->nowMs()));

    f.projector.present = true;
    f.advance(1100);
    EXPECT_EQ(f.line->state(), LineState::Up);
    f.submit(*b, {code("C0C")});
    f.advance(200);
    EXPECT_EQ(f.rounds, 2);
    EXPECT_EQ(f.answers.back(), "b C0C ok");
    EXPECT_TRUE(f.line->status().fresh("CR0", f.line->nowMs()));
}

// The poll keeps the cache: each answer with its time, fresh for one period; a change the
// projector makes is there after the next poll, and only changed entries are announced.
TEST(Line, ThePollRefreshesTheCache) {
    Fixture f(2);
    std::vector<std::string> changed;
    QObject::connect(f.line.get(), &gateway::Line::statusChanged,
                     [&](const std::string& query) { changed.push_back(query); });
    f.startQuietly();
    EXPECT_EQ(changed.size(), 9u);
    const gateway::StatusCache& cache = f.line->status();
    EXPECT_EQ(cache.power(), gateway::Power::Standby);
    ASSERT_NE(cache.entry("CR0"), nullptr);
    EXPECT_EQ(cache.entry("CR0")->wallMs, 1'700'000'000'000 + cache.entry("CR0")->atMs);
    EXPECT_TRUE(cache.fresh("CR0", f.line->nowMs()));

    changed.clear();
    f.projector.script["CR0"] = {{5, "00\r"}};
    f.advance(1700);
    EXPECT_FALSE(cache.fresh("CR0", f.line->nowMs() + 200)) << "fresh beyond the period";
    f.advance(200);
    EXPECT_EQ(f.rounds, 2);
    EXPECT_EQ(cache.power(), gateway::Power::On);
    EXPECT_EQ(changed, std::vector<std::string>{"CR0"});
}

// A projector that answers nothing makes a poll longer than its period: the next waits for
// it instead of piling up.
TEST(Line, PollsDoNotPileUp) {
    Fixture f(1);
    f.line->start();
    for (auto& [query, reply] : f.projector.script) reply.clear();
    f.advance(20'000);
    // Each query takes its window and the guard: no more than one round's worth is out.
    const auto count = std::ranges::count(f.projector.commands(), std::string("CR0"));
    EXPECT_GE(count, 2);
    EXPECT_LE(count, 5);
    EXPECT_LE(f.projector.writes.size(), std::size_t(count) * 9 + 9);
}

// A reply later than its window is no one's: the client that asked hears it went missing,
// the next client gets its own reply, and the late bytes are raised as unclaimed.
TEST(Line, ALateReplyIsNeverHandedToTheNextClient) {
    Fixture f;
    f.startQuietly();
    auto a = f.line->join("a"), b = f.line->join("b");
    f.projector.script["CR0"] = {{600, "00\r"}};
    f.projector.script["CR1"] = {{5, "3\r"}};
    f.submit(*a, {code("CR0")});
    f.submit(*b, {code("CR1")});
    f.advance(2000);
    EXPECT_EQ(f.answers, (std::vector<std::string>{"a CR0 missing", "b CR1 ok"}));
    EXPECT_EQ(f.events, std::vector<std::string>{"unclaimed 00\r"});
    EXPECT_EQ(f.line->status().input(), gateway::Input::Video);
    EXPECT_EQ(f.line->status().power(), gateway::Power::Unknown) << "a missing reply is no state";
}

// A hold key pressed three times goes out at its repeat period, as one request that no other
// client's command splits.
TEST(Line, AHoldKeyRepeatsAtItsPeriod) {
    Fixture f;
    f.startQuietly();
    auto a = f.line->join("a"), b = f.line->join("b");
    const std::vector<panel::NamedButton> buttons = panel::namedButtons(models::kTR27K);
    const auto volUp = std::ranges::find(buttons, std::string("vol-up"), &panel::NamedButton::name);
    ASSERT_NE(volUp, buttons.end());
    f.submit(*a, session::pressSends(*volUp, 3));
    f.advance(1);
    f.submit(*b, {code("C00")});
    f.advance(1000);
    ASSERT_EQ(f.projector.writes.size(), 4u);
    const std::int64_t start = f.projector.writes[0].first;
    EXPECT_EQ(f.projector.writes[1].first - start, 250);
    EXPECT_EQ(f.projector.writes[2].first - start, 500);
    EXPECT_EQ(f.projector.writes[3].second, "C00");
}

// A client that leaves has what it handed over carried out, answered to no one.
TEST(Line, AClientThatLeavesHasItsCommandsCarriedOut) {
    Fixture f;
    f.startQuietly();
    auto a = f.line->join("a");
    f.submit(*a, {code("C00")});
    f.submit(*a, {code("C01")});
    a.reset();
    f.advance(100);
    EXPECT_EQ(f.projector.commands(), (std::vector<std::string>{"C00", "C01"}));
    EXPECT_TRUE(f.answers.empty());
}

}  // namespace
