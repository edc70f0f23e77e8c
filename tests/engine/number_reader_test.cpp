#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "engine/display_form.h"
#include "engine/number_reader.h"
#include "engine/status.h"

namespace {

struct NumberCase {
    std::string text;
    double expected;
};

// The number a text begins with, fed to the reader one character at a time and asked for
// after every character, as the receive path does.
double readCharacterByCharacter(std::string_view text) {
    engine::NumberReader reader;
    double value = reader.value();
    for (char c : text) {
        reader.feed(std::string_view(&c, 1));
        value = reader.value();
    }
    return value;
}

TEST(ReadNumber, ReadsTheNumberATextBeginsWith) {
    const NumberCase cases[] = {
        // No number.
        {"", 0},
        {"X12", 0},
        {"-", 0},
        {".", 0},
        {".E5", 0},
        {"E5", 0},
        {" ACK  0 0 CR ", 0},
        {" ? CR ", 0},
        // Digits, sign and decimal point, with blanks, tabs and line feeds anywhere.
        {"512", 512},
        {" 5 1 2 CR ", 512},
        {"\t1\n2 3", 123},
        {"-12", -12},
        {"+7", 7},
        {" - 3", -3},
        {"--3", 0},
        {"1.5", 1.5},
        {".5", 0.5},
        {"5.", 5},
        {"-.25", -0.25},
        {"1.2.3", 1.2},
        {"1,5", 1},
        {"12abc", 12},
        {"1\r2", 1},
        // Exponents: E or D, either case, optional sign; a mark without digits is ignored.
        {"1E3", 1000},
        {"2D2", 200},
        {"2d-1", 0.2},
        {" 1 E + 2 ", 100},
        {"1.5E-1", 0.15},
        {"1E", 1},
        {"1E-", 1},
        {"1E2E3", 100},
        {" 5 E CR ", 5},
        // Hexadecimal and octal.
        {"&H1F", 31},
        {"&h1f", 31},
        {" & H 1 F ", 31},
        {"&HFFFF", 65535},
        {"&H", 0},
        {"&O17", 15},
        {"&o 7 7", 63},
        {"&O8", 0},
        {"&O178", 15},
        {"&X1", 0},
        {"&", 0},
        {"-&H10", 0},
        // The C of a rendered carriage return is a hexadecimal digit: " & H 1 CR " is &H1C.
        {" & H 1 CR ", 28},
    };
    for (const NumberCase& c : cases) {
        EXPECT_DOUBLE_EQ(engine::readNumber(c.text), c.expected) << '"' << c.text << '"';
        EXPECT_DOUBLE_EQ(readCharacterByCharacter(c.text), c.expected)
            << '"' << c.text << "\" in pieces";
    }
}

TEST(ReadNumber, ValuesBeyondTheDoubleRange) {
    EXPECT_EQ(engine::readNumber("1E400"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(engine::readNumber("-1D400"), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(engine::readNumber("1E-400"), 0.0);
    EXPECT_EQ(engine::readNumber("&H" + std::string(300, 'F')),
              std::numeric_limits<double>::infinity());
    EXPECT_EQ(engine::readNumber("&O" + std::string(400, '7')),
              std::numeric_limits<double>::infinity());
    EXPECT_DOUBLE_EQ(engine::readNumber("1" + std::string(400, '0') + "E-398"), 100);
}

// The decimal digits of 5^n.
std::string powerOfFive(int n) {
    std::string digits = "1";  // least significant first
    for (int i = 0; i < n; ++i) {
        int carry = 0;
        for (char& d : digits) {
            const int v = (d - '0') * 5 + carry;
            d = static_cast<char>('0' + v % 10);
            carry = v / 10;
        }
        if (carry != 0) digits.push_back(static_cast<char>('0' + carry));
    }
    return {digits.rbegin(), digits.rend()};
}

// Numbers longer than the digits the reader keeps, read at once and one character at a time
// (a reply arriving byte by byte): the same double as all their digits give.
TEST(NumberReader, LongNumbersGiveTheDoubleOfAllTheirDigits) {
    const std::string zeros(30000, '0');
    // 5 x 2^-1075, halfway between the two smallest even and odd multiples of 2^-1074, needs
    // 753 significant digits; anything not zero after them, however far, rounds it up.
    const std::string halfway = powerOfFive(1076);
    const std::string justAbove = halfway + std::string(60, '0') + "1";
    const NumberCase cases[] = {
        {"1" + zeros + "E-29998", 100},
        {"0." + zeros + "5E30001", 5},
        {"1E" + zeros + "5", 1e5},
        {"1E" + std::string(30, '9'), std::numeric_limits<double>::infinity()},
        {"-1D" + std::string(30, '9'), -std::numeric_limits<double>::infinity()},
        {"1E-" + std::string(30, '9'), 0},
        {"&H" + std::string(300, 'F') + "E-400", std::numeric_limits<double>::infinity()},
        // 2^53 + 1 lies halfway between two doubles: it rounds to the even one, unless a digit
        // that is not zero follows, beyond the digits kept.
        {"9007199254740993." + std::string(900, '0'), 9007199254740992.0},
        {"9007199254740993" + std::string(900, '0') + "1E-901", 9007199254740994.0},
        {"9007199254740993." + std::string(900, '0') + "1", 9007199254740994.0},
        {halfway + "E-1075", std::ldexp(1.0, -1073)},
        {justAbove + "E-" + std::to_string(1075 + 61), std::ldexp(3.0, -1074)},
        // The same with 400 leading zeros after the point.
        {"0." + std::string(400, '0') + justAbove + "E" +
             std::to_string(400 + static_cast<int>(justAbove.size()) - (1075 + 61)),
         std::ldexp(3.0, -1074)},
    };
    for (const NumberCase& c : cases) {
        const std::string shown = c.text.substr(0, 40);
        EXPECT_EQ(engine::readNumber(c.text), c.expected) << shown;
        EXPECT_EQ(readCharacterByCharacter(c.text), c.expected) << shown << " in pieces";
    }
}

TEST(ReadNumber, DecimalPointIsAPointInEveryLocale) {
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr) {
        GTEST_SKIP() << "no locale with a decimal comma installed";
    }
    const double value = engine::readNumber("1.5");
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_DOUBLE_EQ(value, 1.5);
}

struct PressureCase {
    std::string reading;
    std::optional<int> hPa;
};

TEST(PressureHpa, ConvertsTheReadingAndRejectsWhatLeaves16Bits) {
    const PressureCase cases[] = {
        {"512", 650},
        {"0", 106},
        {"1023", 1194},
        {"?", 106},
        {"-1000", -958},
        {"1", 107},
        {"-1", 104},
        // Halves go to the even neighbour.
        {"2.5", 108},   // as 2
        {"3.5", 110},   // as 4
        {"-2.5", 103},  // as -2
        {"-3.5", 101},  // as -4
        {"2.5001", 109},
        // The product with 5 must fit: +-6553 do, +-6554 do not.
        {"6553", 7077},
        {"6554", std::nullopt},
        {"-6553", -6865},
        {"-6554", std::nullopt},
        {"6552.5", 7076},
        {"6553.4", 7077},
        {"6553.5", std::nullopt},
        {"-6553.5", std::nullopt},
        // The reading itself must fit.
        {"32767", std::nullopt},
        {"32767.5", std::nullopt},
        {"32768", std::nullopt},
        {"-32768", std::nullopt},
        {"-32768.5", std::nullopt},
        {"-32769", std::nullopt},
        {"&HFFFF", std::nullopt},
        {"1E400", std::nullopt},
        {"-1E400", std::nullopt},
        {"1E300", std::nullopt},
    };
    for (const PressureCase& c : cases) {
        EXPECT_EQ(engine::pressureHpa(engine::displayForm(c.reading + "\r")), c.hPa)
            << "reading " << c.reading;
    }
}

}  // namespace
