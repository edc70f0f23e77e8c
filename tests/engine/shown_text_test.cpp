#include "engine/shown_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct ShownCase {
    std::string in;
    std::string bytes;  // shownBytes
    std::string text;   // shownText
};

TEST(ShownText, MakesEveryControlAndMarkupInertAndShowsTextAsItIs) {
    const ShownCase cases[] = {
        {"COM1", "COM1", "COM1"},
        {"<p>ok</p><!--", "<p>ok</p><!--", "<p>ok</p><!--"},
        {"\x1b[2J", "\\x1B[2J", "\\x1B[2J"},
        {"a\r\nb\t\x7f", "a\\x0D\\x0Ab\\x09\\x7F", "a\\x0D\\x0Ab\\x09\\x7F"},
        {std::string("\0", 1), "\\x00", "\\x00"},
        // Typed text beyond ASCII is shown as itself, one character a character; bytes of no
        // character stay bytes.
        {"\xF0\x9F\x98\x80", "\\xF0\\x9F\\x98\\x80", "\xF0\x9F\x98\x80"},
        {"caf\xC3\xA9", "caf\\xC3\\xA9", "caf\xC3\xA9"},
        {"\xC3", "\\xC3", "\\xC3"},
        {"\xC0\xAF", "\\xC0\\xAF", "\\xC0\\xAF"},                            // overlong "/"
        {"\xED\xA0\x80", "\\xED\\xA0\\x80", "\\xED\\xA0\\x80"},              // a surrogate half
        {"\xF4\x90\x80\x80", "\\xF4\\x90\\x80\\x80", "\\xF4\\x90\\x80\\x80"},  // past U+10FFFF
        // What controls or reorders the screen beyond ASCII: a C1 control (CSI), a
        // right-to-left override, a line separator.
        {"\xC2\x9B" "2J", "\\xC2\\x9B2J", "U+009B2J"},
        {"a\xE2\x80\xAE" "b", "a\\xE2\\x80\\xAEb", "aU+202Eb"},
        {"\xE2\x80\xA8", "\\xE2\\x80\\xA8", "U+2028"},
    };
    for (const ShownCase& c : cases) {
        EXPECT_EQ(engine::shownBytes(c.in), c.bytes) << c.in;
        EXPECT_EQ(engine::shownText(c.in), c.text) << c.in;
        // Quoted where a message is made and again where it is printed, it reads the same.
        EXPECT_EQ(engine::shownText(c.bytes), c.bytes) << c.in;
        EXPECT_EQ(engine::shownText(c.text), c.text) << c.in;
        EXPECT_EQ(engine::shownBytes(c.bytes), c.bytes) << c.in;
    }
}

TEST(ShownText, BoundsWhatIsShown) {
    EXPECT_EQ(engine::shownBytes(std::string(10, 'a'), 4), "aaaa...");
    EXPECT_EQ(engine::shownBytes(std::string(4, 'a'), 4), "aaaa");
    EXPECT_EQ(engine::shownText("\xF0\x9F\x98\x80\xF0\x9F\x98\x80", 1), "\xF0\x9F\x98\x80...");
    EXPECT_EQ(engine::shownText(std::string(100000, '\x1b')).size(), 160 * 4 + 3);
}

}  // namespace
