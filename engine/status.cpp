#include "engine/status.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "engine/command.h"

namespace engine {

namespace {

// A table row: the key as it stands at the start of the rendered reply, and the caption.
struct StatusRow {
    std::string_view key;
    std::string_view caption;
};

// clang-format off
constexpr StatusRow kOperatingState[] = {
    {" 0 0", " Power ON"},
    {" 8 0", " Stand by"},
    {" 4 0", " Count down"},
    {" 2 0", " Cooling down"},
    {" 1 0", " Power Fail"},
    {" 0 8", " Temperature Warning"},
    {" 0 2", " NO Key input "},
    {" 0 4", " Lamp OFF by PWR Management"},
    {" 2 8", " Temperature Warning & cooling down"},
    {" 2 4", "Cooling down  PWR Management"},
    {" 8 8", " Temperature Warning and recoverd"},
    {" 2 1", " Cooling down (All Lamp FAIL)"},
    {" 8 1", " Cooling down & sutandby (All Lamp FAIL)"},
};

constexpr StatusRow kSelectedInput[] = {
    {" 1", " Computer 1"},
    {" 2", " Computer 2"},
    {" 3", " Video"},
    {" 4", " Input mode 4"},
};

constexpr StatusRow kPictureReversal[] = {
    {" 1 1", " Normally"},
    {" 1 0", " Top/Bottom reversal"},
    {" 0 1", " Left/Right reversal"},
    {" 0 0", " Top/Bottom , Left/Right reversal"},
};

constexpr StatusRow kMuteAndSignal[] = {
    {" 0 0", " Video & Audio mute OFF"},
    {" 0 1", " Video mute ON"},
    {" 0 2", " Audio mute ON"},
    {" 0 3", " Video & Audio mute ON"},
    {" 8 0", " No signal"},
    {" F F", " Stand by"},
};

// The lamp-mode rows after the first two, whose texts come from the model.
constexpr StatusRow kLampModeShared[] = {
    {" 0 2", " No2 ON  : 2 Lamp mode"},
    {" 0 3", " No1,2 ON  : 2 Lamp mode"},
    {" 1 0", " All OFF : 1 Lamp mode(No1 USE)"},
    {" 1 1", " No1 ON  : 1 Lamp mode(No1 USE)"},
    {" 2 0", " All OFF : 1 Lamp mode(No2 USE)"},
    {" 2 2", " No2 ON  : 1 Lamp mode(No2 USE)"},
};
// clang-format on

// R[first..last] with positions counted from 1; shorter or empty where R ends earlier.
std::string_view positions(std::string_view r, std::size_t first, std::size_t last) {
    if (first > r.size()) return {};
    return r.substr(first - 1, last - first + 1);
}

// A key is taken from the start of R; a shorter R gives a shorter key, which matches no row.
template <std::size_t N>
std::optional<std::string> lookUp(const StatusRow (&table)[N], std::string_view r,
                                  std::size_t keyLength) {
    const std::string_view key = r.substr(0, keyLength);
    for (const StatusRow& row : table) {
        if (row.key == key) return std::string(row.caption);
    }
    return std::nullopt;
}

// "CR3" shows this many characters of R, the furthest a decoder but "CR9" and "CR PRESSURE"
// reads ("CR6" reads to position 34, the tables 2 or 4 characters).
constexpr std::size_t kLampHoursShown = 38;

std::optional<std::string> decodeOperatingState(std::string_view r) {
    return lookUp(kOperatingState, r, 4);
}

std::optional<std::string> decodeSelectedInput(std::string_view r) {
    return lookUp(kSelectedInput, r, 2);
}

std::optional<std::string> decodePictureReversal(std::string_view r) {
    return lookUp(kPictureReversal, r, 4);
}

std::optional<std::string> decodeLampHours(std::string_view r) {
    std::string caption(r.substr(0, kLampHoursShown));
    caption += " Hour Use";
    return caption;
}

std::optional<std::string> decodeTemperatures(std::string_view r) {
    // Reply character k stands at positions 2k - 1 (its space) and 2k of R.
    const auto shown = [r](const CharacterSpan& s) {
        return positions(r, 2 * s.first - 1, 2 * s.last);
    };
    std::string caption = "  S1=";
    caption += shown(kTemperatureCharacters[0]);
    caption += " C  ,   S2= ";
    caption += shown(kTemperatureCharacters[1]);
    caption += " C , S3=";
    caption += shown(kTemperatureCharacters[2]);
    caption += " C";
    return caption;
}

std::optional<std::string> decodeMuteAndSignal(std::string_view r) {
    return lookUp(kMuteAndSignal, r, 4);
}

std::optional<std::string> decodeLampMode(std::string_view r, const LampModeTexts& lamp) {
    const std::string_view key = r.substr(0, 4);
    if (key == " 0 0") return std::string(lamp.reply00);
    if (key == " 0 1") return std::string(lamp.reply01);
    return lookUp(kLampModeShared, r, 4);
}

// Rounds to the nearest integer, halves to even, and keeps the result only if it fits a
// 16-bit signed value. NaN and infinities fit nothing.
std::optional<std::int16_t> toInt16(double value) {
    if (!std::isfinite(value)) return std::nullopt;
    // value - trunc(value) is exact, so a half is recognised without rounding error.
    const bool half = std::fabs(value - std::trunc(value)) == 0.5;
    const double rounded = half ? 2.0 * std::round(value / 2.0) : std::round(value);
    if (rounded < std::numeric_limits<std::int16_t>::min() ||
        rounded > std::numeric_limits<std::int16_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int16_t>(rounded);
}

enum class Query {
    None,
    OperatingState,
    SelectedInput,
    PictureReversal,
    LampHours,
    Temperatures,
    MuteAndSignal,
    AsReceived,
    Pressure,
    LampMode,
};

struct QueryCode {
    std::string_view code;
    Query query;
};

// In the fixed order the queries are tried; no two codes are alike, so at most one matches.
constexpr QueryCode kQueryCodes[] = {
    {"CR0", Query::OperatingState}, {"CR1", Query::SelectedInput},
    {"CR4", Query::PictureReversal}, {"CR3", Query::LampHours},
    {"CR6", Query::Temperatures},   {"CRA", Query::MuteAndSignal},
    {"CR9", Query::AsReceived},     {"CR PRESSURE", Query::Pressure},
    {"CR7", Query::LampMode},
};

constexpr auto kQueryTexts = [] {
    std::array<std::string_view, std::size(kQueryCodes)> texts{};
    for (std::size_t i = 0; i < texts.size(); ++i) texts[i] = kQueryCodes[i].code;
    return texts;
}();

// The query `outCommand` names: exactly prefix + code + CR, case-sensitive.
Query queryOf(std::string_view outCommand, std::string_view prefix) {
    if (outCommand.size() <= prefix.size() || outCommand.back() != kCR ||
        !outCommand.starts_with(prefix)) {
        return Query::None;
    }
    const std::string_view code =
        outCommand.substr(prefix.size(), outCommand.size() - prefix.size() - 1);
    for (const QueryCode& q : kQueryCodes) {
        if (q.code == code) return q.query;
    }
    return Query::None;
}

// The decoders that read no further than R's first kLampHoursShown characters.
std::optional<std::string> decodeHead(Query query, std::string_view r, const LampModeTexts& lamp) {
    switch (query) {
        case Query::OperatingState: return decodeOperatingState(r);
        case Query::SelectedInput: return decodeSelectedInput(r);
        case Query::PictureReversal: return decodePictureReversal(r);
        case Query::LampHours: return decodeLampHours(r);
        case Query::Temperatures: return decodeTemperatures(r);
        case Query::MuteAndSignal: return decodeMuteAndSignal(r);
        case Query::LampMode: return decodeLampMode(r, lamp);
        case Query::None:
        case Query::AsReceived:
        case Query::Pressure: break;
    }
    return std::nullopt;
}

std::optional<int> pressureFromReading(double raw) {
    const std::optional<std::int16_t> reading = toInt16(raw);
    if (!reading) return std::nullopt;
    const int product = *reading * 5;
    if (product < std::numeric_limits<std::int16_t>::min() ||
        product > std::numeric_limits<std::int16_t>::max()) {
        return std::nullopt;
    }
    const double hPa = (product / 1024.0 - 0.204) / 0.00459 + 150;
    // Products in range give -6865 to 7077 hPa, inside 16 bits; the conversion is checked
    // all the same so that no value is ever wrapped.
    const std::optional<std::int16_t> result = toInt16(hPa);
    if (!result) return std::nullopt;
    return *result;
}

std::string decodePressure(double raw) {
    const std::optional<int> hPa = pressureFromReading(raw);
    if (!hPa) return std::string(kPressureOutOfRange);
    return std::to_string(*hPa) + " hPa";
}

}  // namespace

std::span<const std::string_view> statusQueries() {
    return kQueryTexts;
}

std::optional<int> pressureHpa(std::string_view rendered) {
    return pressureFromReading(readNumber(rendered));
}

std::optional<std::string> decodeStatus(std::string_view outCommand, std::string_view prefix,
                                        std::string_view rendered, const LampModeTexts& lamp) {
    switch (const Query query = queryOf(outCommand, prefix)) {
        case Query::None: return std::nullopt;
        case Query::AsReceived: return std::string(rendered);
        case Query::Pressure: return decodePressure(readNumber(rendered));
        default: return decodeHead(query, rendered, lamp);
    }
}

void ReplyDecoder::restart() {
    number_ = NumberReader();
    numberFed_ = 0;
}

StatusUpdate ReplyDecoder::update(std::string_view outCommand, std::string_view prefix,
                                  std::string_view rendered, const LampModeTexts& lamp) {
    using Kind = StatusUpdate::Kind;
    switch (const Query query = queryOf(outCommand, prefix)) {
        case Query::None: return {};
        case Query::AsReceived: return {Kind::ShowReply, {}};
        case Query::Pressure:
            if (numberFed_ > rendered.size()) restart();
            number_.feed(rendered.substr(numberFed_));
            numberFed_ = rendered.size();
            return {Kind::Set, decodePressure(number_.value())};
        default:
            if (std::optional<std::string> caption = decodeHead(query, rendered, lamp)) {
                return {Kind::Set, std::move(*caption)};
            }
            return {};
    }
}

}  // namespace engine
