
#include <cstddef>
#include <limits>
#include <locale>
#include <sstream>
#include <string>

#include "engine/status.h"

namespace engine {

namespace {

// Walks a text with blanks, tabs and line feeds invisible: they may stand anywhere, between
// digits, after a sign or inside the &H and &O prefixes, and are never part of a number.
class Reader {
  public:
    explicit Reader(std::string_view text) : text_(text) {}

    // The next significant character, upper-cased for ASCII letters; '\0' at the end.
    char peek() {
        while (pos_ < text_.size() && isSkipped(text_[pos_])) ++pos_;
        if (pos_ == text_.size()) return '\0';
        const char c = text_[pos_];
        return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }

    void advance() { ++pos_; }

  private:
    static bool isSkipped(char c) { return c == ' ' || c == '\t' || c == '\n'; }

    std::string_view text_;
    std::size_t pos_ = 0;
};

bool isDecimalDigit(char c) {
    return c >= '0' && c <= '9';
}

int digitValue(char c) {
    if (isDecimalDigit(c)) return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 99;
}

// &H and &O numbers: the value of the digits as a non-negative number. There is no 16- or
// 32-bit wrap-around (&HFFFF is 65535, not -1); beyond 2^53 the value is rounded and beyond
// the double range it is +infinity, which the pressure decoder reports as out of range.
double readRadixDigits(Reader& in, int radix) {
    double value = 0.0;
    for (int digit = digitValue(in.peek()); digit < radix; digit = digitValue(in.peek())) {
        value = value * radix + digit;
        in.advance();
    }
    return value;
}

// The decimal point is '.' whatever locale the application has set, hence the classic locale.
// A value beyond the range of double becomes an infinity, one too small for it 0.
double parseCleanDecimal(const std::string& clean) {
    std::istringstream in(clean);
    in.imbue(std::locale::classic());
    double value = 0.0;
    in >> value;
    if (in.fail()) {
        constexpr double kMax = std::numeric_limits<double>::max();
        if (value == kMax) return std::numeric_limits<double>::infinity();
        if (value == -kMax) return -std::numeric_limits<double>::infinity();
        return 0.0;
    }
    return value;
}

}  // namespace

double readNumber(std::string_view text) {
    Reader in(text);

    if (in.peek() == '&') {
        in.advance();
        const char base = in.peek();
        if (base == 'H' || base == 'O') {
            in.advance();
            return readRadixDigits(in, base == 'H' ? 16 : 8);
        }
        return 0.0;
    }

    // The accepted characters, in the syntax strtod expects: [sign] digits [. digits] [e [sign]
    // digits]. D as exponent mark becomes e; a mark without digits after it is dropped.
    std::string clean;
    if (const char c = in.peek(); c == '+' || c == '-') {
        clean.push_back(c);
        in.advance();
    }
    bool haveDigits = false;
    bool havePoint = false;
    for (char c = in.peek();; c = in.peek()) {
        if (isDecimalDigit(c)) {
            haveDigits = true;
        } else if (c == '.' && !havePoint) {
            havePoint = true;
        } else {
            break;
        }
        clean.push_back(c);
        in.advance();
    }
    if (!haveDigits) return 0.0;

    if (const char mark = in.peek(); mark == 'E' || mark == 'D') {
        in.advance();
        std::string exponent = "e";
        if (const char c = in.peek(); c == '+' || c == '-') {
            exponent.push_back(c);
            in.advance();
        }
        bool haveExponentDigits = false;
        for (char c = in.peek(); isDecimalDigit(c); c = in.peek()) {
            exponent.push_back(c);
            haveExponentDigits = true;
            in.advance();
        }
        if (haveExponentDigits) clean += exponent;
    }
    return parseCleanDecimal(clean);
}

}  // namespace engine
