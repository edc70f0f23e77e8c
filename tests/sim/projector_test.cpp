// The simulated projector's replies and state, on a fake clock (plain milliseconds).

#include "tools/projector-sim/projector.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace {

using projector_sim::CommandFramer;
using projector_sim::Model;
using projector_sim::Projector;

constexpr std::string_view kAck = "\x06\r";
constexpr std::string_view kUnknown = "?\r";

Projector makeProjector(Model model = Model::TR27K, std::int64_t warmupMs = 3000,
                        std::int64_t cooldownMs = 3000) {
    Projector::Options options;
    options.model = model;
    options.warmupMs = warmupMs;
    options.cooldownMs = cooldownMs;
    return Projector(options);
}

TEST(ProjectorPower, PowerOnCountsDownThenIsOnAtTheWarmupEdge) {
    auto p = makeProjector(Model::TR27K, 3000, 2000);
    EXPECT_EQ(p.answer("CR0", 0), "80\r");
    EXPECT_EQ(p.answer("C00", 1000), kAck);
    EXPECT_EQ(p.answer("CR0", 1000), "40\r");
    EXPECT_EQ(p.answer("CR0", 3999), "40\r");
    EXPECT_EQ(p.answer("CR0", 4000), "00\r");
    EXPECT_EQ(p.answer("CR0", 100000), "00\r");
}

TEST(ProjectorPower, PowerOffCoolsDownThenStandsByAtTheCooldownEdge) {
    auto p = makeProjector(Model::TR27K, 0, 2000);
    ASSERT_EQ(p.answer("C00", 0), kAck);
    ASSERT_EQ(p.answer("CR0", 0), "00\r");
    EXPECT_EQ(p.answer("C01", 500), kAck);
    EXPECT_EQ(p.answer("CR0", 500), "20\r");
    EXPECT_EQ(p.answer("CR0", 2499), "20\r");
    EXPECT_EQ(p.answer("CR0", 2500), "80\r");
}

TEST(ProjectorPower, PowerCommandsOutOfTurnAreAcknowledgedAndChangeNothing) {
    auto p = makeProjector(Model::TR27K, 1000, 1000);
    EXPECT_EQ(p.answer("C01", 0), kAck);  // off in stand-by
    EXPECT_EQ(p.answer("CR0", 0), "80\r");

    ASSERT_EQ(p.answer("C00", 0), kAck);
    EXPECT_EQ(p.answer("C00", 900), kAck);  // a second "on" does not restart the count-down
    EXPECT_EQ(p.answer("CR0", 1000), "00\r");

    ASSERT_EQ(p.answer("C01", 2000), kAck);
    EXPECT_EQ(p.answer("C00", 2500), kAck);  // "on" while cooling is not taken
    EXPECT_EQ(p.answer("CR0", 2500), "20\r");
    EXPECT_EQ(p.answer("C01", 2900), kAck);  // nor does a second "off" restart the cooling
    EXPECT_EQ(p.answer("CR0", 3000), "80\r");
}

TEST(ProjectorPower, PowerOffDuringTheCountDownCoolsDown) {
    auto p = makeProjector(Model::TR27K, 3000, 1000);
    ASSERT_EQ(p.answer("C00", 0), kAck);
    EXPECT_EQ(p.answer("C01", 1000), kAck);
    EXPECT_EQ(p.answer("CR0", 1999), "20\r");
    EXPECT_EQ(p.answer("CR0", 3000), "80\r");  // the count-down's end does not bring it on
}

TEST(ProjectorPower, ForcedStatesAreAnsweredAndStay) {
    auto p = makeProjector();
    for (std::string_view state : {"28", "04", "88", "81", "FF"}) {
        p.forceState(static_cast<std::uint8_t>(std::stoi(std::string(state), nullptr, 16)));
        EXPECT_EQ(p.answer("CR0", 0), std::string(state) + "\r");
    }
    // A forced count-down or cooling never runs out by itself.
    p.forceState(0x40);
    EXPECT_EQ(p.answer("CR0", 1'000'000'000), "40\r");
    p.forceState(0x20);
    EXPECT_EQ(p.answer("CR0", 1'000'000'000), "20\r");
    // A power command moves a forced state like a real one.
    p.forceState(0x00);
    ASSERT_EQ(p.answer("C01", 10), kAck);
    EXPECT_EQ(p.answer("CR0", 10), "20\r");
    EXPECT_EQ(p.answer("CR0", 3010), "80\r");
}

TEST(ProjectorState, InputFollowsTheInputKeysAndTheSourceRows) {
    auto p = makeProjector();
    EXPECT_EQ(p.answer("CR1", 0), "1\r");
    struct Case {
        std::string_view key;
        std::string_view input;
    };
    for (const Case& c :
         {Case{"C06", "2\r"}, Case{"C07", "3\r"}, Case{"C05", "1\r"}, Case{"C25", "2\r"},
          Case{"C24", "2\r"}, Case{"C26", "2\r"}, Case{"C32", "3\r"}, Case{"C33", "3\r"},
          Case{"C34", "3\r"}, Case{"C50", "1\r"}, Case{"C53", "1\r"}}) {
        p.answer(c.input == "3\r" ? "C05" : "C07", 0);  // start from another input
        ASSERT_EQ(p.answer(c.key, 0), kAck) << c.key;
        EXPECT_EQ(p.answer("CR1", 0), c.input) << c.key;
    }
    // Other keys leave the input alone.
    p.answer("C06", 0);
    p.answer("C43", 0);
    p.answer("C11", 0);
    EXPECT_EQ(p.answer("CR1", 0), "2\r");
}

TEST(ProjectorState, MuteBitsFollowSoundMuteAndNoShow) {
    auto p = makeProjector(Model::TR27K, 0, 0);
    ASSERT_EQ(p.answer("C00", 0), kAck);
    EXPECT_EQ(p.answer("CRA", 0), "00\r");
    p.answer("C0B", 0);  // sound mute on: bit 1
    EXPECT_EQ(p.answer("CRA", 0), "02\r");
    p.answer("C0D", 0);  // no show on: bit 0
    EXPECT_EQ(p.answer("CRA", 0), "03\r");
    p.answer("C0B", 0);  // on again keeps it on
    EXPECT_EQ(p.answer("CRA", 0), "03\r");
    p.answer("C0C", 0);
    EXPECT_EQ(p.answer("CRA", 0), "01\r");
    p.answer("C0E", 0);
    EXPECT_EQ(p.answer("CRA", 0), "00\r");
    p.answer("C0E", 0);  // off when off stays off
    EXPECT_EQ(p.answer("CRA", 0), "00\r");
}

TEST(ProjectorState, MuteStateReadsFFInStandByAndComesBackWhenOn) {
    auto p = makeProjector(Model::TR27K, 1000, 1000);
    EXPECT_EQ(p.answer("C0D", 0), kAck);  // taken in stand-by too
    EXPECT_EQ(p.answer("CRA", 0), "FF\r");
    p.answer("C00", 0);
    EXPECT_EQ(p.answer("CRA", 500), "01\r");  // counting down is not stand-by
    EXPECT_EQ(p.answer("CRA", 1000), "01\r");
    p.answer("C01", 1000);
    EXPECT_EQ(p.answer("CRA", 1500), "01\r");
    EXPECT_EQ(p.answer("CRA", 2000), "FF\r");
}

// What the projector's own keys and its surroundings do, which no command does: input mode 4,
// no signal, commands locked.
TEST(ProjectorState, InputFourNoSignalAndRefusal) {
    auto p = makeProjector(Model::TR27K, 0, 0);
    p.forceInput(4);
    EXPECT_EQ(p.answer("CR1", 0), "4\r");
    p.setSignal(false);
    EXPECT_EQ(p.answer("CRA", 0), "FF\r") << "stand-by says nothing of the signal";
    p.answer("C00", 0);
    EXPECT_EQ(p.answer("CRA", 0), "80\r");
    p.setRefusing(true);
    EXPECT_EQ(p.answer("C0D", 0), "?\r");
    EXPECT_EQ(p.answer("CR0", 0), "?\r");
    p.setSignal(true);
    p.setRefusing(false);
    EXPECT_EQ(p.answer("CRA", 0), "00\r") << "a refused command takes no effect";
}

TEST(ProjectorQueries, FixedAnswers) {
    Projector::Options options;
    options.lampHours = 1234;
    options.pressureReading = 512;
    Projector p(options);
    EXPECT_EQ(p.answer("CR3", 0), "01234\r");
    EXPECT_EQ(p.answer("CR4", 0), "11\r");
    EXPECT_EQ(p.answer("CR7", 0), "01\r");
    EXPECT_EQ(p.answer("CR PRESSURE", 0), "512\r");

    const std::string version = p.answer("CR9", 0);
    ASSERT_GE(version.size(), 2u);
    EXPECT_EQ(version.back(), '\r');
    for (char c : version.substr(0, version.size() - 1)) {
        EXPECT_TRUE(c >= ' ' && c <= 'z') << version;  // shown by the panel as it stands
    }
}

TEST(ProjectorQueries, LampHoursAreFiveDigits) {
    Projector::Options options;
    options.lampHours = 7;
    EXPECT_EQ(Projector(options).answer("CR3", 0), "00007\r");
    options.lampHours = 99999;
    EXPECT_EQ(Projector(options).answer("CR3", 0), "99999\r");
}

// The panel renders a reply as " c1 c2 c3 ..." (each character after a space) and takes the
// three temperatures from the rendered text's positions 1-10, 15-22 and 25-34.
std::string panelTemperatureLine(std::string_view reply) {
    std::string rendered = " ";
    for (char c : reply) {
        if (c == '\r') {
            rendered += "CR ";
        } else {
            rendered += c;
            rendered += ' ';
        }
    }
    auto slice = [&](std::size_t from, std::size_t to) {
        return from > rendered.size() ? std::string() : rendered.substr(from - 1, to - from + 1);
    };
    return "  S1=" + slice(1, 10) + " C  ,   S2= " + slice(15, 22) + " C , S3=" + slice(25, 34) +
           " C";
}

TEST(ProjectorQueries, TemperaturesStandWhereThePanelReadsThem) {
    auto p = makeProjector();
    const std::string reply = p.answer("CR6", 0);
    ASSERT_EQ(reply.back(), '\r');
    // Reply characters 1-5, 8-11 and 13-17 are the three readings; the rest are blanks.
    EXPECT_EQ(reply.substr(0, 5), "035.0");
    EXPECT_EQ(reply.substr(5, 2), "  ");
    EXPECT_EQ(reply.substr(7, 4), "38.5");
    EXPECT_EQ(reply.substr(11, 1), " ");
    EXPECT_EQ(reply.substr(12, 5), "041.2");
    EXPECT_EQ(reply.size(), 18u);
    EXPECT_EQ(panelTemperatureLine(reply),
              "  S1= 0 3 5 . 0 C  ,   S2=  3 8 . 5 C , S3= 0 4 1 . 2 C");
}

TEST(ProjectorCommands, EveryKnownCommandIsAnsweredAndNeverWithTheUnknownMark) {
    for (Model model : {Model::TR27K, Model::TR52}) {
        auto p = makeProjector(model);
        for (std::string_view command : projector_sim::knownCommands(model)) {
            const std::string reply = p.answer(command, 0);
            EXPECT_NE(reply, kUnknown) << projector_sim::modelName(model) << " " << command;
            ASSERT_FALSE(reply.empty());
            EXPECT_EQ(reply.back(), '\r') << command;
            if (!command.starts_with("CR")) {
                EXPECT_EQ(reply, kAck) << command;
            }
        }
    }
}

TEST(ProjectorCommands, ModelOnlyCommandsAreUnknownToTheOtherModel) {
    auto tr27k = makeProjector(Model::TR27K);
    auto tr52 = makeProjector(Model::TR52);
    for (std::string_view command : {"C81", "C82", "C52", "C53"}) {
        EXPECT_EQ(tr27k.answer(command, 0), kAck) << command;
        EXPECT_EQ(tr52.answer(command, 0), kUnknown) << command;
    }
    for (std::string_view command :
         {"CF LOGOCAPTURE START", "CF LOGO OFF", "CF LOGO DEFAULT", "CF LOGO USER"}) {
        EXPECT_EQ(tr52.answer(command, 0), kAck) << command;
        EXPECT_EQ(tr27k.answer(command, 0), kUnknown) << command;
    }
}

TEST(ProjectorCommands, ButtonAndHoldKeyCommandsOfBothModels) {
    for (Model model : {Model::TR27K, Model::TR52}) {
        auto p = makeProjector(model);
        for (std::string_view command : {"C1C",
                                         "C1D",
                                         "C89",
                                         "C8A",
                                         "C1E",
                                         "C19",
                                         "CF KEYDIS NONE",
                                         "CF KEYDIS RC",
                                         "CF KEYDIS KEY",
                                         "CF FANSPEED MAX",
                                         "CF FANSPEED NOR",
                                         "C09",
                                         "C0A",
                                         "C20",
                                         "C21",
                                         "C30",
                                         "C31",
                                         "C8E",
                                         "C8F",
                                         "C3F",
                                         "C3C",
                                         "C3D",
                                         "C3B",
                                         "C3A"}) {
            EXPECT_EQ(p.answer(command, 0), kAck)
                << projector_sim::modelName(model) << " " << command;
        }
    }
}

TEST(ProjectorCommands, AnythingElseGetsTheUnknownMark) {
    auto p = makeProjector();
    for (std::string_view command :
         {"", "C99", "C0", "C000", "cr0", "c00", "CR2", "CR5", "CR8", "CR", "CR0 ", " CR0", "\nCR0",
          "CR pressure", "CF LOGOCAPTURE", "CF FANSPEED", "CF  FANSPEED MAX", "C8G"}) {
        EXPECT_EQ(p.answer(command, 0), kUnknown) << "\"" << command << "\"";
    }
    // An unknown command changes nothing.
    EXPECT_EQ(p.answer("CR0", 0), "80\r");
}

TEST(CommandFramer, CutsAtEachCarriageReturnAcrossReads) {
    CommandFramer framer;
    EXPECT_TRUE(framer.feed("C").empty());
    EXPECT_TRUE(framer.feed("R").empty());
    EXPECT_EQ(framer.feed("0\rC00\rCR"), (std::vector<std::string>{"CR0", "C00"}));
    EXPECT_EQ(framer.pending(), "CR");
    EXPECT_EQ(framer.feed("1\r\r"), (std::vector<std::string>{"CR1", ""}));
    EXPECT_EQ(framer.feed("CF FANSPEED MAX\r"), (std::vector<std::string>{"CF FANSPEED MAX"}));
}

TEST(CommandFramer, ResetDropsAPartialCommand) {
    CommandFramer framer;
    framer.feed("CR");
    framer.reset();
    EXPECT_EQ(framer.feed("0\r"), (std::vector<std::string>{"0"}));
}

TEST(CommandFramer, AnOverlongCommandIsThrownAwayUpToItsCarriageReturn) {
    CommandFramer framer;
    const std::string longest(CommandFramer::kMaxCommandLength, 'A');
    EXPECT_EQ(framer.feed(longest + "\r"), (std::vector<std::string>{longest}));
    EXPECT_EQ(framer.overflows(), 0);

    EXPECT_TRUE(framer.feed(longest + "B").empty());
    EXPECT_TRUE(framer.feed("more text without an end").empty());
    EXPECT_EQ(framer.overflows(), 1);
    EXPECT_EQ(framer.feed("tail\rCR0\r"), (std::vector<std::string>{"CR0"}));
}

}  // namespace
