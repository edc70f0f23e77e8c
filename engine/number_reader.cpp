#include "engine/number_reader.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <system_error>

#include "engine/status.h"

namespace engine {

namespace {

// Never part of a number, and skipped wherever they stand: between digits, after a sign,
// inside the &H and &O prefixes.
bool isSkipped(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}

char upperCase(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool isDecimalDigit(char c) {
    return c >= '0' && c <= '9';
}

// Above every radix.
constexpr int kNotADigit = 99;

int digitValue(char c) {
    if (isDecimalDigit(c)) return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return kNotADigit;
}

// An exponent's magnitude stops growing here: no text that fits in memory moves the decimal
// point as far, so the number stays far out of the double range either way.
constexpr std::int64_t kExponentCeiling = 1'000'000'000'000'000;

// 0.d x 10^e overflows for every e above 309 and rounds to zero for every e below -323,
// whatever the digits d: all exponents from here on give the same value.
constexpr std::int64_t kReach = 400;

// Converts [-]0[.digits e exponent], correctly rounded and with '.' as the decimal point
// whatever locale the application has set. A value beyond the range of double becomes an
// infinity, one too small for it 0: from_chars leaves those to the caller, and with the
// digits after "0." a positive exponent is the only way out at the top.
double convert(const std::string& clean, std::int64_t exponent) {
    double value = 0.0;
    const std::from_chars_result result =
        std::from_chars(clean.data(), clean.data() + clean.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        value = exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
        return clean[0] == '-' ? -value : value;
    }
    return value;
}

}  // namespace

void NumberReader::feed(std::string_view text) {
    for (const char c : text) {
        if (state_ == State::Stopped) break;
        if (!isSkipped(c)) take(upperCase(c));
    }
}

void NumberReader::take(char c) {
    switch (state_) {
        case State::Start:
            if (c == '&') {
                state_ = State::Ampersand;
            } else if (c == '+' || c == '-') {
                negative_ = c == '-';
                state_ = State::Mantissa;
            } else {
                takeMantissa(c);
            }
            return;
        case State::Ampersand:
            if (c == 'H' || c == 'O') {
                radix_ = c == 'H' ? 16 : 8;
                state_ = State::RadixDigits;
            } else {
                state_ = State::Stopped;
            }
            return;
        case State::RadixDigits:
            // No 16- or 32-bit wrap-around (&HFFFF is 65535, not -1); beyond 2^53 the value is
            // rounded, and beyond the double range it is +infinity.
            if (const int digit = digitValue(c); digit < radix_) {
                radixValue_ = radixValue_ * radix_ + digit;
            } else {
                state_ = State::Stopped;
            }
            return;
        case State::Mantissa:
            takeMantissa(c);
            return;
        case State::ExponentMark:
            if (c == '+' || c == '-') {
                exponentNegative_ = c == '-';
                state_ = State::ExponentSign;
                return;
            }
            [[fallthrough]];
        case State::ExponentSign:
        case State::ExponentDigits:
            // A mark or sign without digits after it leaves the mantissa as it is.
            if (isDecimalDigit(c)) {
                exponentMagnitude_ =
                    std::min(exponentMagnitude_ * 10 + (c - '0'), kExponentCeiling);
                state_ = State::ExponentDigits;
            } else {
                state_ = State::Stopped;
            }
            return;
        case State::Stopped:
            return;
    }
}

void NumberReader::takeMantissa(char c) {
    if (isDecimalDigit(c)) {
        addMantissaDigit(c - '0');
        state_ = State::Mantissa;
    } else if (c == '.' && !point_) {
        point_ = true;
        state_ = State::Mantissa;
    } else if ((c == 'E' || c == 'D') && haveDigits_) {
        state_ = State::ExponentMark;
    } else {
        state_ = State::Stopped;
    }
}

void NumberReader::addMantissaDigit(int digit) {
    haveDigits_ = true;
    if (significant_.empty() && digit == 0) {
        // Leading zeros: before the point they are nothing, after it they move the point.
        if (point_) --shift_;
        return;
    }
    if (!point_) ++shift_;
    if (significant_.size() < kKeptDigits) {
        significant_.push_back(static_cast<char>('0' + digit));
    } else if (digit != 0) {
        sticky_ = true;
    }
}

double NumberReader::value() const {
    if (radix_ != 0) return radixValue_;
    const std::int64_t exponent =
        std::clamp(shift_ + (exponentNegative_ ? -exponentMagnitude_ : exponentMagnitude_),
                   -kReach, kReach);
    const bool inReach = exponent > -kReach && exponent < kReach;
    const bool zero = significant_.empty();
    const Conversion now{haveDigits_, negative_, zero ? 0 : exponent,
                         inReach ? significant_.size() : 0, inReach && sticky_};
    if (now == converted_) return decimalValue_;
    converted_ = now;

    if (!haveDigits_) {
        decimalValue_ = 0.0;
        return decimalValue_;
    }
    // The syntax the conversion expects: [-]0[.digits e exponent].
    std::string clean = negative_ ? "-0" : "0";
    if (!zero) {
        clean += '.';
        if (inReach) {
            clean += significant_;
            if (sticky_) clean += '1';
        } else {
            clean += '1';
        }
        clean += 'e';
        clean += std::to_string(exponent);
    }
    decimalValue_ = convert(clean, exponent);
    return decimalValue_;
}

double readNumber(std::string_view text) {
    NumberReader reader;
    reader.feed(text);
    return reader.value();
}

}  // namespace engine
