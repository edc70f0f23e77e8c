#pragma once

#include <string>
#include <string_view>

namespace engine {

inline constexpr char kCR = '\r';
inline constexpr char kLF = '\n';
inline constexpr char kACK = '\x06';

// The projector's whole answer to a command it refuses (unknown, or not for this model).
inline constexpr std::string_view kErrorMark = "?\r";

// The command text as it goes on the line: prefix, code, one carriage return.
std::string commandText(std::string_view prefix, std::string_view code);

// A reply window keeps at most this many received characters; later ones are dropped until
// the window ends (the panel's displays were built for a 16-bit length).
inline constexpr std::size_t kReplyWindowLimit = 32767;

}  // namespace engine
