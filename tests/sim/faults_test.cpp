// Control lines, fault settings and how a reply is cut into timed pieces.

#include "tools/projector-sim/faults.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>

namespace {

using projector_sim::ControlCommand;
using projector_sim::Faults;
using projector_sim::parseControlLine;
using projector_sim::planReply;
using Kind = projector_sim::ControlCommand::Kind;

TEST(ControlLine, AcceptedLinesAndTheirValues) {
    struct Case {
        std::string_view line;
        Kind kind;
        bool on;
        std::int64_t first;
        std::int64_t second;
    };
    const Case cases[] = {
        {"noreply on", Kind::NoReply, true, 0, 0},
        {"noreply off", Kind::NoReply, false, 0, 0},
        {"noise on", Kind::Noise, true, 0, 0},
        {"noise off", Kind::Noise, false, 0, 0},
        {"delay 250", Kind::Delay, false, 250, 0},
        {"delay 0", Kind::Delay, false, 0, 0},
        {"split 3 40", Kind::Split, false, 3, 40},
        {"split 0 0", Kind::Split, false, 0, 0},
        {"hangup", Kind::Hangup, false, 0, 0},
        {"hangup-after 5", Kind::HangupAfter, false, 5, 0},
        {"plug", Kind::Plug, false, 0, 0},
        {"state 28", Kind::State, false, 0x28, 0},
        {"state ff", Kind::State, false, 0xFF, 0},
        {"state 0", Kind::State, false, 0, 0},
        {"input 4", Kind::Input, false, 4, 0},
        {"signal off", Kind::Signal, false, 0, 0},
        {"refuse on", Kind::Refuse, true, 0, 0},
        {"baud 9600", Kind::Baud, false, 9600, 0},
        {"count", Kind::Count, false, 0, 0},
        {"garbled", Kind::Garbled, false, 0, 0},
        {"quit", Kind::Quit, false, 0, 0},
        {"  delay\t 7 \r", Kind::Delay, false, 7, 0},
        {"delay 3600000", Kind::Delay, false, 3'600'000, 0},
        {"split 1 3600000", Kind::Split, false, 1, 3'600'000},
        {"read-rate 4000", Kind::ReadRate, false, 4000, 0},
        {"read-rate 0", Kind::ReadRate, false, 0, 0},
        {"read-rate off", Kind::ReadRate, false, projector_sim::ReadPacer::kUnlimited, 0},
        {"received", Kind::Received, false, 0, 0},
    };
    for (const auto& c : cases) {
        const auto parsed = parseControlLine(c.line);
        ASSERT_TRUE(parsed.command.has_value()) << c.line << ": " << parsed.error;
        EXPECT_EQ(parsed.command->kind, c.kind) << c.line;
        EXPECT_EQ(parsed.command->on, c.on) << c.line;
        EXPECT_EQ(parsed.command->first, c.first) << c.line;
        EXPECT_EQ(parsed.command->second, c.second) << c.line;
    }
}

TEST(ControlLine, RejectedLinesSayWhy) {
    for (std::string_view line :
         {"",          "   ",          "frobnicate", "noreply",    "noreply yes", "noreply on off",
          "delay",     "delay -5",     "delay 5ms",  "split 3",    "split 3 x",   "state",
          "state 100", "state G1",     "state -1",   "hangup now", "count 2",     "baud",
          "baud 0",    "hangup-after", "NOREPLY on",
          // Beyond the bounds: one hour of delay or gap (added to the clock), 10 MB/s.
          "delay 3600001", "delay 9223372036854775807", "split 1 3600001",
          "split 1 9223372036854775807", "read-rate 10000001", "read-rate -1", "read-rate on",
          "received 1", "input 0", "input 5", "input", "signal", "refuse yes"}) {
        const auto parsed = parseControlLine(line);
        EXPECT_FALSE(parsed.command.has_value()) << "\"" << line << "\"";
        EXPECT_FALSE(parsed.error.empty()) << "\"" << line << "\"";
    }
}

TEST(ControlLine, FaultSettingsChangeOnlyTheirOwnField) {
    Faults faults;
    ASSERT_TRUE(applyFault(*parseControlLine("noreply on").command, faults));
    ASSERT_TRUE(applyFault(*parseControlLine("delay 100").command, faults));
    ASSERT_TRUE(applyFault(*parseControlLine("split 2 30").command, faults));
    ASSERT_TRUE(applyFault(*parseControlLine("noise on").command, faults));
    EXPECT_TRUE(faults.noReply);
    EXPECT_EQ(faults.delayMs, 100);
    EXPECT_EQ(faults.splitBytes, 2);
    EXPECT_EQ(faults.splitGapMs, 30);
    EXPECT_TRUE(faults.noise);

    ASSERT_TRUE(applyFault(*parseControlLine("noreply off").command, faults));
    EXPECT_FALSE(faults.noReply);
    EXPECT_EQ(faults.delayMs, 100);
    EXPECT_TRUE(faults.noise);

    for (std::string_view other : {"hangup", "plug", "count", "state 20", "quit"}) {
        Faults untouched;
        EXPECT_FALSE(applyFault(*parseControlLine(other).command, untouched)) << other;
    }
}

TEST(ReplyPlan, WholeReplyAfterTheDelay) {
    std::mt19937 rng(1);
    Faults faults;
    auto pieces = planReply("80\r", faults, rng);
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_EQ(pieces[0].offsetMs, 0);
    EXPECT_EQ(pieces[0].bytes, "80\r");

    faults.delayMs = 120;
    pieces = planReply("80\r", faults, rng);
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_EQ(pieces[0].offsetMs, 120);
}

TEST(ReplyPlan, SplitCutsIntoPiecesWithGapsAfterTheDelay) {
    std::mt19937 rng(1);
    Faults faults;
    faults.delayMs = 10;
    faults.splitBytes = 2;
    faults.splitGapMs = 30;
    const auto pieces = planReply("01234\r", faults, rng);
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_EQ(pieces[0].bytes, "01");
    EXPECT_EQ(pieces[1].bytes, "23");
    EXPECT_EQ(pieces[2].bytes, "4\r");
    EXPECT_EQ(pieces[0].offsetMs, 10);
    EXPECT_EQ(pieces[1].offsetMs, 40);
    EXPECT_EQ(pieces[2].offsetMs, 70);

    faults.splitBytes = 4;
    const auto uneven = planReply("80\r", faults, rng);
    ASSERT_EQ(uneven.size(), 1u);
    EXPECT_EQ(uneven[0].bytes, "80\r");
}

TEST(ReplyPlan, NoReplySendsNothing) {
    std::mt19937 rng(1);
    Faults faults;
    faults.noReply = true;
    faults.splitBytes = 1;
    EXPECT_TRUE(planReply("80\r", faults, rng).empty());
}

TEST(ReplyPlan, NoiseKeepsTheLengthAndIsReproducibleFromTheSeed) {
    Faults faults;
    faults.noise = true;
    const std::string reply = "035.0  38.5 041.2\r";
    std::mt19937 first(7);
    std::mt19937 second(7);
    const auto a = planReply(reply, faults, first);
    const auto b = planReply(reply, faults, second);
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].bytes.size(), reply.size());
    EXPECT_NE(a[0].bytes, reply);
    EXPECT_EQ(a[0].bytes, b[0].bytes);
    // The generator moves on: the next noisy reply differs.
    EXPECT_NE(planReply(reply, faults, first)[0].bytes, a[0].bytes);
}

// Reads as the simulator's loop makes them: whenever one is due, as much as is allowed.
// Returns the bytes read in [0, endMs] with bytes always waiting.
long readUntil(projector_sim::ReadPacer& pacer, std::int64_t endMs) {
    long total = 0;
    for (std::int64_t t = 0; t <= endMs; ++t) {
        if (pacer.msUntilDue(t) != 0) continue;
        const std::size_t n = pacer.allowance(t);
        pacer.consume(n);
        total += static_cast<long>(n);
    }
    return total;
}

TEST(ReadPacer, ReadsAtTheRateInChunksAndStopsAtZero) {
    using projector_sim::ReadPacer;
    struct Case {
        std::int64_t rate;
        std::int64_t firstDueMs;  // after setRate at 0
        long inOneSecond;         // bytes read in [0, 1000] ms
    };
    const Case cases[] = {
        {4000, 10, 4000},  // 40-byte chunks, every 10 ms
        {100, 10, 100},    // whole bytes: one every 10 ms
        {1, 1000, 1},
        {0, -1, 0},  // stopped: never due
    };
    for (const auto& c : cases) {
        ReadPacer pacer;
        pacer.setRate(c.rate, 0);
        EXPECT_EQ(pacer.msUntilDue(0), c.firstDueMs) << c.rate;
        EXPECT_EQ(readUntil(pacer, 1000), c.inOneSecond) << c.rate;
    }
    ReadPacer unlimited;
    EXPECT_EQ(unlimited.rate(), ReadPacer::kUnlimited);
    EXPECT_EQ(unlimited.msUntilDue(0), 0);
    EXPECT_GE(unlimited.allowance(0), 4096u);
}

TEST(ReadPacer, AnIdleSpellBuildsUpAtMostTheBurst) {
    projector_sim::ReadPacer pacer;
    pacer.setRate(4000, 0);
    // An hour without reading allows 100 ms worth, not an hour's.
    EXPECT_EQ(pacer.allowance(3'600'000), 400u);
    pacer.consume(400);
    EXPECT_EQ(pacer.msUntilDue(3'600'000), 10);
    // A new rate starts from nothing.
    pacer.setRate(1000, 3'600'005);
    EXPECT_EQ(pacer.allowance(3'600'005), 0u);
}

TEST(LogRendering, ControlCharactersAreNamedAndOthersInHex) {
    using projector_sim::renderBytes;
    EXPECT_EQ(renderBytes("C00"), "C00");
    EXPECT_EQ(renderBytes("CF FANSPEED MAX"), "CF FANSPEED MAX");
    EXPECT_EQ(renderBytes("\x06\r"), "<ACK><CR>");
    EXPECT_EQ(renderBytes("80\r\n"), "80<CR><LF>");
    EXPECT_EQ(renderBytes(std::string_view("\0\x7f\xff", 3)), "<00><7F><FF>");
    EXPECT_EQ(renderBytes("<CR>"), "<3C>CR>");
    EXPECT_EQ(renderBytes(""), "");
}

}  // namespace
