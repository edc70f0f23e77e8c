#include "engine/status.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/command.h"
#include "engine/display_form.h"

namespace {

using namespace std::string_literals;

const std::string kAck = "\x06";
const std::string kDc4 = "\x14";

constexpr engine::LampModeTexts kTR27KLamp{" OFF", " ON"};
constexpr engine::LampModeTexts kTR52Lamp{" All OFF : 2 Lamp mode", " No1 ON  : 2 Lamp mode"};

// A query sent with an empty prefix, and everything received since, as the panel renders it.
std::optional<std::string> decode(std::string_view query, const std::string& received,
                                  const engine::LampModeTexts& lamp = kTR27KLamp) {
    const std::string outCommand = std::string(query) + "\r";
    return engine::decodeStatus(outCommand, "", engine::displayForm(received), lamp);
}

struct StatusCase {
    std::string_view query;
    std::string received;
    std::optional<std::string> caption;
};

const StatusCase kTableRows[] = {
    {"CR0", "00\r", " Power ON"},
    {"CR0", "80\r", " Stand by"},
    {"CR0", "40\r", " Count down"},
    {"CR0", "20\r", " Cooling down"},
    {"CR0", "10\r", " Power Fail"},
    {"CR0", "08\r", " Temperature Warning"},
    {"CR0", "02\r", " NO Key input "},
    {"CR0", "04\r", " Lamp OFF by PWR Management"},
    {"CR0", "28\r", " Temperature Warning & cooling down"},
    {"CR0", "24\r", "Cooling down  PWR Management"},
    {"CR0", "88\r", " Temperature Warning and recoverd"},
    {"CR0", "21\r", " Cooling down (All Lamp FAIL)"},
    {"CR0", "81\r", " Cooling down & sutandby (All Lamp FAIL)"},
    {"CR1", "1\r", " Computer 1"},
    {"CR1", "2\r", " Computer 2"},
    {"CR1", "3\r", " Video"},
    {"CR1", "4\r", " Input mode 4"},
    {"CR4", "11\r", " Normally"},
    {"CR4", "10\r", " Top/Bottom reversal"},
    {"CR4", "01\r", " Left/Right reversal"},
    {"CR4", "00\r", " Top/Bottom , Left/Right reversal"},
    {"CRA", "00\r", " Video & Audio mute OFF"},
    {"CRA", "01\r", " Video mute ON"},
    {"CRA", "02\r", " Audio mute ON"},
    {"CRA", "03\r", " Video & Audio mute ON"},
    {"CRA", "80\r", " No signal"},
    {"CRA", "FF\r", " Stand by"},
    {"CR7", "02\r", " No2 ON  : 2 Lamp mode"},
    {"CR7", "03\r", " No1,2 ON  : 2 Lamp mode"},
    {"CR7", "10\r", " All OFF : 1 Lamp mode(No1 USE)"},
    {"CR7", "11\r", " No1 ON  : 1 Lamp mode(No1 USE)"},
    {"CR7", "20\r", " All OFF : 1 Lamp mode(No2 USE)"},
    {"CR7", "22\r", " No2 ON  : 1 Lamp mode(No2 USE)"},
};

TEST(DecodeStatus, EveryTableRow) {
    for (const StatusCase& c : kTableRows) {
        EXPECT_EQ(decode(c.query, c.received), c.caption) << c.query << " reply " << c.received;
    }
}

TEST(DecodeStatus, LampModeTextsComeFromTheModel) {
    EXPECT_EQ(decode("CR7", "00\r", kTR27KLamp), " OFF");
    EXPECT_EQ(decode("CR7", "01\r", kTR27KLamp), " ON");
    EXPECT_EQ(decode("CR7", "00\r", kTR52Lamp), " All OFF : 2 Lamp mode");
    EXPECT_EQ(decode("CR7", "01\r", kTR52Lamp), " No1 ON  : 2 Lamp mode");
    EXPECT_EQ(decode("CR7", "22\r", kTR52Lamp), " No2 ON  : 1 Lamp mode(No2 USE)");
    EXPECT_EQ(decode("CR7", "12\r", kTR52Lamp), std::nullopt);
}

TEST(DecodeStatus, KeyIsTheStartOfTheRenderedReply) {
    const StatusCase cases[] = {
        // Only the key counts; what follows it does not.
        {"CR0", "00", " Power ON"},
        {"CR0", "0012345\r", " Power ON"},
        {"CR1", "31\r", " Video"},
        {"CR1", "3", " Video"},
        // A reply still in pieces: too short a key matches nothing.
        {"CR0", "", std::nullopt},
        {"CR0", "0", std::nullopt},
        {"CR4", "1", std::nullopt},
        {"CR1", "", std::nullopt},
        // No row.
        {"CR0", "99\r", std::nullopt},
        {"CR1", "5\r", std::nullopt},
        {"CR4", "22\r", std::nullopt},
        {"CRA", "ff\r", std::nullopt},
        {"CRA", "04\r", std::nullopt},
        // An acknowledgement, an error mark or a non-printable character first shifts the
        // tokens and matches no row.
        {"CR0", kAck + "00\r", std::nullopt},
        {"CR1", kAck + "3\r", std::nullopt},
        {"CR0", "?\r", std::nullopt},
        {"CR0", kDc4 + "00\r", std::nullopt},
        {"CR0", "\r00\r", std::nullopt},
        {"CR0", " 00\r", std::nullopt},
    };
    for (const StatusCase& c : cases) {
        EXPECT_EQ(decode(c.query, c.received), c.caption) << c.query << " reply " << c.received;
    }
}

TEST(DecodeStatus, TwoRepliesInOneWindowTakeTheKeyFromTheFirst) {
    // "CR0" answered 00, then "CR4" sent: the first reply is looked up in the CR4 table.
    EXPECT_EQ(decode("CR4", "00\r11\r"), " Top/Bottom , Left/Right reversal");
    EXPECT_EQ(decode("CR1", "00\r3\r"), std::nullopt);
}

TEST(DecodeStatus, QueryIsRecognisedByExactComparison) {
    const std::string rendered = engine::displayForm("00\r");
    struct Case {
        std::string outCommand;
        std::string_view prefix;
        std::optional<std::string> caption;
    };
    const Case cases[] = {
        {"CR0\r", "", " Power ON"},
        {"XCR0\r", "X", " Power ON"},
        {"CR0\r", "X", std::nullopt},
        {"XCR0\r", "", std::nullopt},
        {"cr0\r", "", std::nullopt},
        {"CR0", "", std::nullopt},
        {"CR0\r\r", "", std::nullopt},
        {"CR0\n", "", std::nullopt},
        {" CR0\r", "", std::nullopt},
        {"CR\r", "", std::nullopt},
        {"", "", std::nullopt},
        {"C00\r", "", std::nullopt},
        {"CR2\r", "", std::nullopt},
        {"CR pressure\r", "", std::nullopt},
        {"CF FANSPEED MAX\r", "", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(engine::decodeStatus(c.outCommand, c.prefix, rendered, kTR27KLamp), c.caption)
            << engine::displayForm(c.outCommand) << " prefix \"" << c.prefix << '"';
    }
}

// The command-line tool's "status" sends these, in this order; each is one the decoder reads.
TEST(DecodeStatus, StatusQueriesAreTheDecodersInTheirOrder) {
    const std::vector<std::string_view> expected = {"CR0", "CR1", "CR4",         "CR3", "CR6",
                                                    "CRA", "CR9", "CR PRESSURE", "CR7"};
    const auto queries = engine::statusQueries();
    EXPECT_EQ(std::vector<std::string_view>(queries.begin(), queries.end()), expected);
    for (const std::string_view q : queries) {
        const std::string reply = q == "CR1" ? "1\r" : "00\r";
        EXPECT_NE(engine::decodeStatus(engine::commandText("", q), "", engine::displayForm(reply),
                                       kTR27KLamp),
                  std::nullopt)
            << q;
    }
}

TEST(DecodeStatus, LampHoursShowTheFirst38CharactersOfTheRendering) {
    const StatusCase cases[] = {
        {"CR3", "12345\r", " 1 2 3 4 5 CR  Hour Use"},
        {"CR3", "", "  Hour Use"},
        {"CR3", "ABCDEFGHIJKLMNOPQRS", " A B C D E F G H I J K L M N O P Q R S Hour Use"},
        {"CR3", "ABCDEFGHIJKLMNOPQRST\r", " A B C D E F G H I J K L M N O P Q R S Hour Use"},
        {"CR3", kAck + "12\r", " ACK 1 2 CR  Hour Use"},
    };
    for (const StatusCase& c : cases) {
        EXPECT_EQ(decode(c.query, c.received), c.caption) << "reply " << c.received;
    }
}

TEST(DecodeStatus, TemperaturesTakeThreeRangesOfTheRendering) {
    const StatusCase cases[] = {
        {"CR6", "0123456789ABCDEFG\r", "  S1= 0 1 2 3 4 C  ,   S2=  7 8 9 A C , S3= C D E F G C"},
        {"CR6", "", "  S1=  C  ,   S2=  C , S3= C"},
        {"CR6", "1\r", "  S1= 1 CR  C  ,   S2=  C , S3= C"},
        // R of 14 characters ends just before S2; of 15 gives S2 its first character.
        {"CR6", "123456\x14", "  S1= 1 2 3 4 5 C  ,   S2=  C , S3= C"},
        {"CR6", "1234567", "  S1= 1 2 3 4 5 C  ,   S2=   C , S3= C"},
        // R of 24 characters ends just before S3; of 25 gives S3 its first character.
        {"CR6", "123456789AB\x14", "  S1= 1 2 3 4 5 C  ,   S2=  8 9 A B C , S3= C"},
        {"CR6", "123456789ABC", "  S1= 1 2 3 4 5 C  ,   S2=  8 9 A B C , S3=  C"},
        {"CR6", kDc4 + kDc4 + "345", "  S1= &&3 4 5  C  ,   S2=  C , S3= C"},
    };
    for (const StatusCase& c : cases) {
        EXPECT_EQ(decode(c.query, c.received), c.caption) << "reply " << c.received;
    }
}

TEST(DecodeStatus, AsReceivedShowsTheRenderingUnchanged) {
    const std::string replies[] = {"", "00\r", "\x06\x14\n{\xff"s, "0\0"s};
    for (const std::string& reply : replies) {
        EXPECT_EQ(decode("CR9", reply), engine::displayForm(reply));
    }
}

TEST(DecodeStatus, Pressure) {
    const StatusCase cases[] = {
        {"CR PRESSURE", "512\r", "650 hPa"},
        {"CR PRESSURE", "0\r", "106 hPa"},
        {"CR PRESSURE", "1023\r", "1194 hPa"},
        {"CR PRESSURE", "-1000\r", "-958 hPa"},
        {"CR PRESSURE", "?\r", "106 hPa"},
        {"CR PRESSURE", "\x06", "106 hPa"},
        {"CR PRESSURE", "", "106 hPa"},
        {"CR PRESSURE", "5", "111 hPa"},
        {"CR PRESSURE", "6554\r", std::string(engine::kPressureOutOfRange)},
        {"CR PRESSURE", "-6554\r", std::string(engine::kPressureOutOfRange)},
        {"CR PRESSURE", "99999\r", std::string(engine::kPressureOutOfRange)},
    };
    for (const StatusCase& c : cases) {
        EXPECT_EQ(decode(c.query, c.received), c.caption) << "reply " << c.received;
    }
}

}  // namespace
