// Properties of the command engine that hold for any input: the display form, the reply
// decoders and the number reader. A violation aborts with a message. Used by the fuzzer and by
// the replay of the inputs it once found (and of a few chosen ones) in the tests.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/engine_properties.h"

#include "engine/command.h"
#include "engine/display_form.h"
#include "engine/number_reader.h"
#include "engine/status.h"

namespace {

void check(bool holds, const char* property) {
    if (holds) return;
    std::fprintf(stderr, "engine_fuzz: property violated: %s\n", property);
    std::abort();
}

// Every token of the display form consists of characters from blank to "z".
bool isRendered(std::string_view text) {
    for (char c : text) {
        if (c < ' ' || c > 'z') return false;
    }
    return true;
}

bool isAscii(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) > 127) return false;
    }
    return true;
}

bool endsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

constexpr std::string_view kQueries[] = {
    "CR0", "CR1", "CR4", "CR3", "CR6", "CRA", "CR9", "CR PRESSURE", "CR7", "cr0", "CR2", "C00", "",
};

constexpr engine::LampModeTexts kLampTables[] = {
    {" OFF", " ON"},
    {" All OFF : 2 Lamp mode", " No1 ON  : 2 Lamp mode"},
};

void checkDecoded(std::string_view query, std::string_view rendered,
                  const std::optional<std::string>& caption) {
    if (!caption) {
        check(query != "CR3" && query != "CR6" && query != "CR9" && query != "CR PRESSURE",
              "a decoder without a table always gives a caption");
        return;
    }
    check(isAscii(*caption), "a caption is ASCII");
    if (query == "CR9") check(*caption == rendered, "CR9 shows R unchanged");
    if (query == "CR3") {
        check(endsWith(*caption, " Hour Use"), "CR3 ends with the hours text");
        check(caption->size() <= 38 + 9, "CR3 shows at most 38 characters of R");
        check(rendered.substr(0, 38) == std::string_view(*caption).substr(0, caption->size() - 9),
              "CR3 starts with R");
    }
    if (query == "CR6") {
        check(caption->size() <= 5 + 10 + 12 + 8 + 8 + 10 + 2, "CR6 shows at most 28 of R");
    }
    if (query == "CR PRESSURE") {
        const std::optional<int> hPa = engine::pressureHpa(rendered);
        if (hPa) {
            check(*caption == std::to_string(*hPa) + " hPa", "pressure caption is the number");
            check(*hPa >= -6865 && *hPa <= 7077, "pressure stays within the range of p");
        } else {
            check(*caption == engine::kPressureOutOfRange, "pressure out of range is reported");
        }
    }
}

std::string withoutBlanks(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c != ' ' && c != '\t' && c != '\n') out.push_back(c);
    }
    return out;
}

bool sameNumber(double a, double b) {
    return a == b || (std::isnan(a) && std::isnan(b));
}

// The same double, down to the sign of a zero.
bool identical(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The number a text begins with, from all its digits at once: the reader's syntax for
// decimal numbers, given whole to the C library's correctly rounded conversion. Nothing for a
// text that begins with "&".
std::optional<double> allDigitsNumber(std::string_view text) {
    std::string t;
    for (char c : withoutBlanks(text)) t.push_back(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    if (!t.empty() && t[0] == '&') return std::nullopt;
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    std::size_t i = 0;
    std::string clean;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) clean.push_back(t[i++]);
    bool digits = false;
    bool point = false;
    for (; i < t.size() && (isDigit(t[i]) || (t[i] == '.' && !point)); ++i) {
        digits = digits || isDigit(t[i]);
        point = point || t[i] == '.';
        clean.push_back(t[i]);
    }
    if (!digits) return 0.0;
    if (i < t.size() && (t[i] == 'E' || t[i] == 'D')) {
        std::string exponent = "e";
        if (++i < t.size() && (t[i] == '+' || t[i] == '-')) exponent.push_back(t[i++]);
        const std::size_t start = exponent.size();
        while (i < t.size() && isDigit(t[i])) exponent.push_back(t[i++]);
        if (exponent.size() > start) clean += exponent;
    }
    return std::strtod(clean.c_str(), nullptr);
}

// Cuts a text into pieces as receive events deliver it: single characters and longer pieces,
// their lengths drawn from `seed`; seed 0 gives single characters only.
std::vector<std::string_view> cut(std::string_view text, std::uint32_t seed) {
    std::vector<std::string_view> pieces;
    std::minstd_rand random(seed);
    while (!text.empty()) {
        std::size_t length = 1;
        if (seed != 0 && random() % 2 == 0) length += random() % 64;
        length = std::min(length, text.size());
        pieces.push_back(text.substr(0, length));
        text.remove_prefix(length);
    }
    return pieces;
}

// Comparing with the whole-text reference after a piece costs the length of the text so far.
// Pieces are compared while the text is short, where the table decoders read, and then only
// the pieces numbered by powers of two and the last, so that the fuzzer keeps its pace.
constexpr std::size_t kComparedEveryPiece = 64;

bool isShortOrLast(std::size_t piece, std::size_t count, std::size_t fed) {
    return fed <= kComparedEveryPiece || piece + 1 == count;
}

bool compareAfter(std::size_t piece, std::size_t count, std::size_t fed) {
    return isShortOrLast(piece, count, fed) || (piece & (piece - 1)) == 0;
}

// A number fed piece by piece is, after every piece, the number read from everything so far.
void checkNumberInPieces(std::string_view text, std::uint32_t seed) {
    const std::vector<std::string_view> pieces = cut(text, seed);
    engine::NumberReader reader;
    std::size_t fed = 0;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const bool wasStopped = reader.stopped();
        const double before = reader.value();
        reader.feed(pieces[i]);
        fed += pieces[i].size();
        if (wasStopped) check(identical(reader.value(), before), "a stopped number stays");
        if (compareAfter(i, pieces.size(), fed)) {
            check(identical(reader.value(), engine::readNumber(text.substr(0, fed))),
                  "a number read in pieces equals the number read at once");
        }
    }
}

// The nine queries and a command that is none.
constexpr std::string_view kDecoded[] = {
    "CR0", "CR1", "CR4", "CR3", "CR6", "CRA", "CR9", "CR PRESSURE", "CR7", "C00",
};

// The decoder given R as it grows says what decodeStatus says of all of R so far. The number
// of "CR PRESSURE" is read on after every piece, or (odd seeds) only where it is compared, so
// that it also catches up over many pieces at once, as after a query sent mid-reply.
void checkDecoderInPieces(std::string_view rendered, std::uint32_t seed) {
    using Kind = engine::StatusUpdate::Kind;
    static const std::vector<std::string> kCommands = [] {
        std::vector<std::string> commands;
        for (std::string_view query : kDecoded) commands.push_back(engine::commandText("", query));
        return commands;
    }();
    const std::string pressure = engine::commandText("", "CR PRESSURE");
    const std::vector<std::string_view> pieces = cut(rendered, seed);
    engine::ReplyDecoder decoder;
    std::size_t fed = 0;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        fed += pieces[i].size();
        const std::string_view r = rendered.substr(0, fed);
        const bool compare = compareAfter(i, pieces.size(), fed);
        if (!compare) {
            if (seed % 2 == 0) decoder.update(pressure, "", r, kLampTables[0]);
            continue;
        }
        // Past the short text only the pressure can still change.
        const bool everyQuery = isShortOrLast(i, pieces.size(), fed);
        for (std::size_t q = 0; q < std::size(kDecoded); ++q) {
            if (!everyQuery && kDecoded[q] != "CR PRESSURE") continue;
            // The lamp-mode texts matter to "CR7" alone.
            for (const engine::LampModeTexts& lamp : kLampTables) {
                const engine::StatusUpdate update = decoder.update(kCommands[q], "", r, lamp);
                if (kDecoded[q] == "CR9") {
                    check(update.kind == Kind::ShowReply,
                          "the decoder leaves CR9's R to the caller");
                } else {
                    const std::optional<std::string> whole =
                        engine::decodeStatus(kCommands[q], "", r, lamp);
                    check(whole ? update.kind == Kind::Set && update.caption == *whole
                                : update.kind == Kind::Keep,
                          "the decoder over a growing R equals decodeStatus on all of R");
                }
                if (kDecoded[q] != "CR7") break;
            }
        }
    }
}

}  // namespace

void checkEngineProperties(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::size_t split = size < 2 ? 0 : (data[0] | (data[1] << 8)) % (size + 1);

    const std::string rendered = engine::displayForm(text);
    check(!rendered.empty() && rendered[0] == ' ', "display form begins with a blank");
    check(isRendered(rendered), "display form is printable ASCII");
    check(rendered.size() >= 1 + size && rendered.size() <= 1 + 4 * size,
          "every character gives a token of 1 to 4 characters");

    std::string pieces = engine::displayForm(text.substr(0, split));
    engine::appendDisplayTokens(pieces, text.substr(split));
    check(pieces == rendered, "rendering in two pieces equals rendering the whole");

    const std::string_view prefix = text.substr(0, split);
    for (const engine::LampModeTexts& lamp : kLampTables) {
        for (std::string_view query : kQueries) {
            const std::string outCommand = engine::commandText("", query);
            const std::optional<std::string> caption =
                engine::decodeStatus(outCommand, "", rendered, lamp);
            checkDecoded(query, rendered, caption);
            check(engine::decodeStatus(engine::commandText(prefix, query), prefix, rendered,
                                       lamp) == caption,
                  "a prefix in front of the query changes nothing");
            // The decoders also take texts that no display form produces.
            const std::optional<std::string> raw = engine::decodeStatus(outCommand, "", text, lamp);
            if (query == "CR9") check(raw && *raw == text, "CR9 passes any R through");
        }
        // The query is recognised from outCommand alone, whatever it holds.
        const std::optional<std::string> any = engine::decodeStatus(text, "", rendered, lamp);
        if (any) check(isAscii(*any), "a caption is ASCII");
    }

    const double number = engine::readNumber(text);
    check(!std::isnan(number), "the number reader never gives NaN");
    if (const std::optional<double> allDigits = allDigitsNumber(text)) {
        check(identical(number, *allDigits), "the digits the reader keeps give the same double");
    }
    const std::uint32_t seed = size < 4 ? 1 : (data[2] | (data[3] << 8)) + 1u;
    for (const std::uint32_t cutting : {0u, seed}) {
        checkNumberInPieces(text, cutting);
        checkDecoderInPieces(rendered, cutting);
    }
    check(sameNumber(engine::readNumber(withoutBlanks(text)), number),
          "blanks, tabs and line feeds do not change the number");
    const std::optional<int> hPa = engine::pressureHpa(text);
    if (hPa) check(*hPa >= -6865 && *hPa <= 7077, "pressure stays within the range of p");
}
