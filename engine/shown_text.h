#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace engine {

// Text from outside (a server's bytes, a device text, a command-line argument) made fit to
// show to a person in a message box, on a terminal or in a log line: printable ASCII as it
// is, a backslash as "\\", every other byte as "\xNN", so that no control character, escape
// sequence or markup reaches the screen in effect. At most `limit` characters of the input
// are shown; a longer one ends in "...".
std::string shownBytes(std::string_view bytes, std::size_t limit = 160);

// The same for UTF-8 text typed by a person: a character beyond ASCII is "U+XXXX" (so that
// a character outside the 16-bit range is one code, not two halves); a byte that is no part
// of a well-formed character is "\xNN"; control characters as "\xNN".
std::string shownText(std::string_view utf8, std::size_t limit = 160);

}  // namespace engine
