// The line owner on the virtual clock, its port on a fake line to a scripted projector: turns
// between clients, bounds, the line down and back, the poll and its cache, late replies.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include "gateway/line.h"
#include "session/sends.h"
#include "tests/support/fake_line.h"

namespace {

using gateway::Answer;
using gateway::LineState;

session::Send code(const char* c) { return session::codeSend(c); }

// One request of each client in turn: a busy client cannot keep another waiting behind all of
// its requests, and each client's own requests keep their order.
TEST(Line, ClientsTakeTurnsOneRequestEach) {
    LineFixture f;
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
    LineFixture f;
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
    LineFixture f;
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
    LineFixture f;
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
    LineFixture f(2);
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
    LineFixture f(1);
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
    LineFixture f;
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
    LineFixture f;
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
    LineFixture f;
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
