#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace engine {

// The panel's number reader over a text that arrives piece by piece: after every piece,
// value() is readNumber() of everything fed so far. Blanks, tabs and line feeds are skipped
// anywhere; an optional sign, digits, one decimal point and an exponent introduced by E or D
// are read, or &H and &O and hexadecimal or octal digits; reading stops at the first other
// character, and nothing fed after that changes the number.
//
// The state is bounded whatever the length of the number, and the value is converted again
// only when it is asked for and what it depends on has changed, so every piece costs time in
// proportion to its own length and every value() a bounded time. A decimal number keeps its
// first kKeptDigits significant digits, and whether any digit dropped after them was not
// zero. The conversion to double is correctly rounded, and every double and every halfway
// point between two has at most 768 significant digits: the kept digits and one more that is
// not zero for all those dropped fall on the same side of every halfway point as all the
// digits do, and so give the same double.
class NumberReader {
public:
    static constexpr std::size_t kKeptDigits = 800;

    void feed(std::string_view text);

    // No character fed from now on can change the number.
    bool stopped() const { return state_ == State::Stopped; }

    double value() const;

private:
    enum class State {
        Start,         // nothing significant yet
        Ampersand,     // "&": H or O must follow
        RadixDigits,   // &H or &O and its digits
        Mantissa,      // sign, digits, decimal point
        ExponentMark,  // E or D after a mantissa with digits
        ExponentSign,  // its sign
        ExponentDigits,
        Stopped,
    };

    // What a decimal value is converted from; converted again only when this changes.
    struct Conversion {
        bool haveDigits = false;
        bool negative = false;
        std::int64_t exponent = 0;
        std::size_t digits = 0;
        bool sticky = false;
        bool operator==(const Conversion&) const = default;
    };

    void take(char c);
    void takeMantissa(char c);
    void addMantissaDigit(int digit);
    void addExponentDigit(int digit);

    State state_ = State::Start;

    int radix_ = 0;  // 16 or 8 after &H or &O
    double radixValue_ = 0.0;

    // The decimal number is 0.<significant_><1 if sticky_> x 10^(shift_ + exponent), where
    // exponent is the exponent read so far with its sign.
    bool negative_ = false;
    bool haveDigits_ = false;
    bool point_ = false;
    std::string significant_;
    bool sticky_ = false;
    std::int64_t shift_ = 0;
    bool exponentNegative_ = false;
    std::int64_t exponentMagnitude_ = 0;
    mutable Conversion converted_;
    mutable double decimalValue_ = 0.0;
};

}  // namespace engine
