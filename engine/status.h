#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "engine/number_reader.h"

namespace engine {

// The two lamp-mode texts that differ between the models (replies "00" and "01" to "CR7").
struct LampModeTexts {
    std::string_view reply00;
    std::string_view reply01;
};

inline constexpr std::string_view kPressureOutOfRange = "Pressure out of range";

// Characters of a reply, counted from 1, first and last included.
struct CharacterSpan {
    std::size_t first;
    std::size_t last;
};

// Where a "CR6" reply holds the readings of temperature sensors 1, 2 and 3: the characters the
// panel's STATUS shows for each.
inline constexpr CharacterSpan kTemperatureCharacters[3] = {{1, 5}, {8, 11}, {13, 17}};

// The status queries the decoder knows, in the fixed order decodeStatus tries them: "CR0",
// "CR1", "CR4", "CR3", "CR6", "CRA", "CR9", "CR PRESSURE", "CR7".
std::span<const std::string_view> statusQueries();

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
// first other character; no number gives 0. NumberReader fed the whole text at once.
double readNumber(std::string_view text);

// The pressure in hPa for a rendered reply to "CR PRESSURE", or nothing when the reading or
// its product with 5 leaves the 16-bit range.
std::optional<int> pressureHpa(std::string_view rendered);

// What the decoder does to the STATUS box.
struct StatusUpdate {
    enum class Kind {
        Keep,       // STATUS keeps its caption
        Set,        // STATUS shows `caption`
        ShowReply,  // STATUS shows R itself ("CR9")
    };
    Kind kind = Kind::Keep;
    std::string caption;
};

// The decoding of a rendered reply R that grows piece by piece, as RXD does while a reply
// arrives. Each update() gives what decodeStatus() gives for the whole of R, at a cost
// bounded whatever R's length: the decoders with a table, "CR3" and "CR6" read no further
// than R's first 38 characters, and the number of "CR PRESSURE" is read by a NumberReader
// that goes on from where it stopped last. "CR9" shows all of R; the caller, who holds R,
// shows it (and can extend what it showed along with R).
class ReplyDecoder {
public:
    // R starts again.
    void restart();

    // `rendered` is R, which since the last restart() has only been extended.
    StatusUpdate update(std::string_view outCommand, std::string_view prefix,
                        std::string_view rendered, const LampModeTexts& lamp);

private:
    NumberReader number_;
    std::size_t numberFed_ = 0;  // how much of R the number reader has been given
};

}  // namespace engine
