#include "engine/shown_text.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace engine {

namespace {

constexpr std::string_view kEllipsis = "...";

void appendByte(std::string& out, unsigned char u) {
    if (u >= 0x20 && u < 0x7f) {
        out.push_back(static_cast<char>(u));
    } else {
        char code[5];
        std::snprintf(code, sizeof code, "\\x%02X", u);
        out += code;
    }
}

// The length of the well-formed UTF-8 sequence of a character beyond ASCII at `s[i]`, and its
// code point; 0 when the bytes there are no such sequence (overlong forms and surrogates
// included).
std::size_t utf8Sequence(std::string_view s, std::size_t i, std::uint32_t& point) {
    const auto lead = static_cast<unsigned char>(s[i]);
    std::size_t length = 0;
    std::uint32_t min = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, point = lead & 0x1F, min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, point = lead & 0x0F, min = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, point = lead & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + length > s.size()) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const auto u = static_cast<unsigned char>(s[i + k]);
        if ((u & 0xC0) != 0x80) return 0;
        point = (point << 6) | (u & 0x3F);
    }
    if (point < min || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return 0;
    return length;
}

// Characters beyond ASCII that control or reorder what is shown rather than show something.
bool controlsTheScreen(std::uint32_t point) {
    struct Range {
        std::uint32_t first, last;
    };
    static constexpr Range kRanges[] = {
        {0x80, 0x9F},      // C1 controls
        {0x061C, 0x061C},  // Arabic letter mark
        {0x200B, 0x200F},  // zero-width characters, left-to-right and right-to-left marks
        {0x2028, 0x202E},  // line and paragraph separators, bidirectional embeddings
        {0x2060, 0x206F},  // word joiner, invisible operators, bidirectional isolates
        {0xFEFF, 0xFEFF},  // zero-width no-break space
        {0xFFF9, 0xFFFB},  // interlinear annotation
    };
    return std::any_of(std::begin(kRanges), std::end(kRanges),
                       [point](const Range& r) { return point >= r.first && point <= r.last; });
}

}  // namespace

std::string shownBytes(std::string_view bytes, std::size_t limit) {
    std::string out;
    const std::size_t n = std::min(bytes.size(), limit);
    for (std::size_t i = 0; i < n; ++i) appendByte(out, static_cast<unsigned char>(bytes[i]));
    if (bytes.size() > limit) out += kEllipsis;
    return out;
}

std::string shownText(std::string_view utf8, std::size_t limit) {
    std::string out;
    std::size_t i = 0;
    for (std::size_t shown = 0; i < utf8.size() && shown < limit; ++shown) {
        std::uint32_t point = 0;
        const std::size_t length =
            static_cast<unsigned char>(utf8[i]) < 0x80 ? 0 : utf8Sequence(utf8, i, point);
        if (length == 0) {
            appendByte(out, static_cast<unsigned char>(utf8[i]));
            ++i;
        } else if (controlsTheScreen(point)) {
            char code[12];
            std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(point));
            out += code;
            i += length;
        } else {
            out.append(utf8, i, length);
            i += length;
        }
    }
    if (i < utf8.size()) out += kEllipsis;
    return out;
}

std::string shownLines(std::string_view utf8, std::size_t lineLimit) {
    std::string out;
    for (;;) {
        const std::size_t end = utf8.find('\n');
        out += shownText(utf8.substr(0, end), lineLimit);
        if (end == std::string_view::npos) return out;
        out += '\n';
        utf8.remove_prefix(end + 1);
    }
}

}  // namespace engine
