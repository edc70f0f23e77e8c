#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace engine {

// The two lamp-mode texts that differ between the models (replies "00" and "01" to "CR7").
struct LampModeTexts {
    std::string_view reply00;
    std::string_view reply01;
};

inline constexpr std::string_view kPressureOutOfRange = "Pressure out of range";

// Decodes a rendered reply R (the display form of everything received in the reply window)
// as the answer to the status query that `outCommand` names. The query is recognised only by
// an exact comparison of `outCommand` with prefix + query + CR, tried in the fixed order
// CR0, CR1, CR4, CR3, CR6, CRA, CR9, CR PRESSURE, CR7.
// Returns the new STATUS caption, or nothing when the STATUS box keeps its caption (no query
// matched, or the reply matched no table row).
std::optional<std::string> decodeStatus(std::string_view outCommand, std::string_view prefix,
                                        std::string_view rendered, const LampModeTexts& lamp);

// Reads the number a text begins with, as the panel's number reader does: blanks, tabs and
// line feeds are skipped anywhere; optional sign, digits, one decimal point, an exponent
// introduced by E or D; &H and &O introduce hexadecimal and octal digits; reading stops at the
// first other character; no number gives 0.
double readNumber(std::string_view text);

// The pressure in hPa for a rendered reply to "CR PRESSURE", or nothing when the reading or
// its product with 5 leaves the 16-bit range.
std::optional<int> pressureHpa(std::string_view rendered);

}  // namespace engine
