#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The lines of PJLink Class 1 (JBMIA) as a projector reads and writes them: plain C++, no I/O,
// so that every line a client may send is tried by the fuzzer.
//
//   command   "%1POWR 1" CR: header "%", class "1", a body of four characters, one space, a
//             parameter of 1 to 128 bytes; 136 bytes at most, the carriage return included
//   answer    "%1POWR=OK" CR: the command's header, class and body, "=", the answer
//   greeting  "PJLINK 0" CR without a password, "PJLINK 1 " and 8 random characters with one;
//             then the first command carries the MD5 digest (32 hex digits) of the random
//             characters and the password in front of it
namespace gateway::pjlink {

inline constexpr std::size_t kMaxCommandBytes = 136;  // carriage return included
inline constexpr std::size_t kMaxParameterBytes = 128;
inline constexpr std::size_t kDigestChars = 32;
inline constexpr std::size_t kRandomChars = 8;
// The most a line may hold without its carriage return: a command and a digest in front.
inline constexpr std::size_t kMaxLineBytes = kDigestChars + kMaxCommandBytes - 1;

enum class Error {
    Undefined,    // ERR1: no such command, or a class this projector is not
    Parameter,    // ERR2: a parameter out of range, or a line that breaks the format
    Unavailable,  // ERR3: not now (the projector refused, or is warming up or cooling down)
    Failure,      // ERR4: the projector did not answer, or its line is down
};
std::string_view errorText(Error error);  // "ERR1" ... "ERR4"

// A line as a client sent it, without its carriage return.
struct Parsed {
    enum class Kind {
        Command,  // header, body and parameter set
        Invalid,  // answered at once with `error` under `header`
        Foreign,  // no PJLink command at all: not even a header to answer under
        Empty,    // nothing: a bare carriage return, or the LF of a CR LF line end
    };
    Kind kind = Kind::Empty;
    std::string header;  // "%1POWR": as received, what the answer begins with
    std::string body;    // "POWR"
    std::string parameter;
    Error error = Error::Undefined;
};

// Reads one line (the digest already taken off). Line feeds in front are skipped. A line in
// class 1 form is a Command whatever its body: which bodies exist and which parameters they
// take is the mapping's to say. The header is only ever made of printable ASCII.
Parsed parseLine(std::string_view line);

// Splits the digest (32 hex digits) off the front of a line that carries one in front of
// its command.
struct Digested {
    std::optional<std::string_view> digest;
    std::string_view command;
};
Digested splitDigest(std::string_view line);

// The answer line: header "=" answer CR.
std::string answerLine(std::string_view header, std::string_view answer);
std::string answerLine(std::string_view header, Error error);

inline constexpr std::string_view kAuthenticationError = "PJLINK ERRA\r";
std::string greeting(std::string_view random);  // "PJLINK 0" CR for an empty random

// Compares two digests as hex digits, upper or lower case, in time that does not depend on
// where they differ.
bool sameDigest(std::string_view a, std::string_view b);

}  // namespace gateway::pjlink
