#include "engine/display_form.h"

#include <array>
#include <cstddef>
#include <cstring>

namespace engine {

namespace {

// One token per byte value. Every token fits in four bytes; `size` is its real length.
struct Token {
    char text[4];
    unsigned char size;
};

constexpr Token makeToken(unsigned code) {
    if (code == 6) return {{'A', 'C', 'K', ' '}, 4};
    if (code == 20) return {{'&', 0, 0, 0}, 1};
    if (code == 13) return {{'C', 'R', ' ', 0}, 3};
    if (code == 10) return {{'L', 'F', ' ', 0}, 3};
    if (code >= 32 && code <= 122) return {{static_cast<char>(code), ' ', 0, 0}, 2};
    return {{'?', ' ', 0, 0}, 2};
}

constexpr std::array<Token, 256> makeTable() {
    std::array<Token, 256> table{};
    for (unsigned code = 0; code < 256; ++code) table[code] = makeToken(code);
    return table;
}

constexpr std::array<Token, 256> kTokens = makeTable();

}  // namespace

void appendDisplayTokens(std::string& out, std::string_view text) {
    std::size_t added = 0;
    for (char c : text) added += kTokens[static_cast<unsigned char>(c)].size;
    if (added == 0) return;

    const std::size_t start = out.size();
    // Every token is written as four bytes and the tail cut off afterwards: a fixed-size copy
    // is a single store. resize() grows the capacity geometrically, so rendering a text piece
    // by piece stays linear in its total length.
    out.resize(start + added + sizeof(Token::text) - 1);
    char* dst = out.data() + start;
    for (char c : text) {
        const Token& token = kTokens[static_cast<unsigned char>(c)];
        std::memcpy(dst, token.text, sizeof(token.text));
        dst += token.size;
    }
    out.resize(start + added);
}

std::string displayForm(std::string_view text) {
    std::string out;
    // Room for a text of two-character tokens and the four-byte writes of appendDisplayTokens.
    out.reserve(1 + 2 * text.size() + sizeof(Token::text) - 1);
    out.push_back(' ');
    appendDisplayTokens(out, text);
    return out;
}

}  // namespace engine
