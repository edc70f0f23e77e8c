// Properties of the command engine that hold for any input: the display form, the reply
// decoders and the number reader. A violation aborts with a message. Used by the fuzzer and by
// the replay of the inputs it once found (and of a few chosen ones) in the tests.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz/engine_properties.h"

#include "engine/command.h"
#include "engine/display_form.h"
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
    check(sameNumber(engine::readNumber(withoutBlanks(text)), number),
          "blanks, tabs and line feeds do not change the number");
    const std::optional<int> hPa = engine::pressureHpa(text);
    if (hPa) check(*hPa >= -6865 && *hPa <= 7077, "pressure stays within the range of p");
}
