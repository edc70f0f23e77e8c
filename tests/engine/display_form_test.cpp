#include "engine/display_form.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "engine/command.h"

namespace {

using namespace std::string_literals;

const std::string kAck = "\x06";
const std::string kDc4 = "\x14";

struct DisplayCase {
    std::string text;
    std::string expected;
};

TEST(DisplayForm, RendersEachCharacterAsItsToken) {
    const DisplayCase cases[] = {
        {"", " "},
        {"\r", " CR "},
        {"C00\r", " C 0 0 CR "},
        {"CR0\r", " C R 0 CR "},
        {"?\r", " ? CR "},
        {"CF FANSPEED MAX\r", " C F   F A N S P E E D   M A X CR "},
        {"abc z", " a b c   z "},
        {"{|}~", " ? ? ? ? "},
        {kAck + "00\r", " ACK 0 0 CR "},
        {"\x14", " &"},
        {kDc4 + "A\x14\x14", " &A &&"},
        {"&", " & "},
        {"\n\r", " LF CR "},
        // The edges of every row of the token table.
        {"\x05\x07", " ? ? "},
        {"\x09\x0b\x0c\x0e", " ? ? ? ? "},
        {"\x13\x15", " ? ? "},
        {"\x1f", " ? "},
        {" ", "   "},
        {"z{", " z ? "},
        {"\x7f\x80\x81\xfe\xff", " ? ? ? ? ? "},
        {"\0"s, " ? "},
        {"A\0B"s, " A ? B "},
    };
    for (const DisplayCase& c : cases) {
        EXPECT_EQ(engine::displayForm(c.text), c.expected) << "text of size " << c.text.size();
    }
}

TEST(DisplayForm, PrintableCharacterKStandsAtPosition2K) {
    std::string text;
    for (int code = 32; code <= 122; ++code) text.push_back(static_cast<char>(code));
    const std::string rendered = engine::displayForm(text);
    ASSERT_EQ(rendered.size(), 1 + 2 * text.size());
    for (std::size_t k = 1; k <= text.size(); ++k) {
        EXPECT_EQ(rendered[2 * k - 1], text[k - 1]) << "k = " << k;
        EXPECT_EQ(rendered[2 * k - 2], ' ') << "k = " << k;
    }
}

TEST(DisplayForm, AppendingPiecesEqualsRenderingTheWhole) {
    const std::string texts[] = {
        "", "00\r", "CF FANSPEED MAX\r", "\x06\x14\r\n\x01{\x80\xff"s + "A z", "\0\0\x14"s,
    };
    for (const std::string& text : texts) {
        for (std::size_t split = 0; split <= text.size(); ++split) {
            std::string out = engine::displayForm(text.substr(0, split));
            engine::appendDisplayTokens(out, text.substr(split));
            EXPECT_EQ(out, engine::displayForm(text)) << "split at " << split;
        }
        std::string byByte = " ";
        for (char c : text) engine::appendDisplayTokens(byByte, std::string_view(&c, 1));
        EXPECT_EQ(byByte, engine::displayForm(text));
    }
}

TEST(DisplayForm, AppendKeepsWhatIsAlreadyThere) {
    std::string out = "keep";
    engine::appendDisplayTokens(out, "");
    EXPECT_EQ(out, "keep");
    engine::appendDisplayTokens(out, "1\r");
    EXPECT_EQ(out, "keep1 CR ");
}

TEST(CommandText, IsPrefixCodeAndOneCarriageReturn) {
    struct Case {
        std::string_view prefix;
        std::string_view code;
        std::string expected;
    };
    const Case cases[] = {
        {"", "C00", "C00\r"},
        {"", "CR PRESSURE", "CR PRESSURE\r"},
        {"", "", "\r"},
        {"X", "CR0", "XCR0\r"},
    };
    for (const Case& c : cases) EXPECT_EQ(engine::commandText(c.prefix, c.code), c.expected);
}

}  // namespace
