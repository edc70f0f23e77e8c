#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace engine {

// Text from outside (a server's bytes, a device text, a command-line argument, a line of a
// file) made fit to show to a person in a message box, on a terminal or in a log line, so that
// no control character, escape sequence or reordering mark reaches the screen in effect.
// Both are idempotent: what they give is shown as it is when it passes through either again,
// so a message quoted where it is made and again where it is printed reads the same.

// Bytes as they came off a line: printable ASCII as it is, every other byte as "\xNN". At
// most `limit` bytes are shown; a longer text ends in "...".
std::string shownBytes(std::string_view bytes, std::size_t limit = 160);

// UTF-8 text: printable characters as they are, non-ASCII ones included ("é", "😀"); an ASCII
// control character or a byte that is no part of a well-formed character as "\xNN"; a control
// or formatting character beyond ASCII (C1 controls, the marks that reorder or hide text, the
// line and paragraph separators) as "U+XXXX". At most `limit` characters are shown; a longer
// text ends in "...".
std::string shownText(std::string_view utf8, std::size_t limit = 160);

// A message of several lines, each line shown as shownText shows it (at most `lineLimit`
// characters a line); the line feeds between them stay.
std::string shownLines(std::string_view utf8, std::size_t lineLimit = 1000);

}  // namespace engine
