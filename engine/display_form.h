#pragma once

#include <string>
#include <string_view>

namespace engine {

// The readable rendering of a sent or received text as shown in the TXD and RXD boxes:
// one blank, then one token per character ("ACK ", "&", "CR ", "LF ", "? " or the
// character and a blank). Characters are taken by their byte value, 0 to 255.
std::string displayForm(std::string_view text);

// Appends the tokens of `text` to `out` without the leading blank, so that a rendering can
// be extended piece by piece: displayForm(a + b) == displayForm(a) + tokens(b).
void appendDisplayTokens(std::string& out, std::string_view text);

}  // namespace engine
