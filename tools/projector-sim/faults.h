#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

// The faults the simulator can put on its replies, the control lines that switch them (read from
// stdin at run time; the command-line options are the same lines), and how a reply is cut into
// timed pieces.
namespace projector_sim {

struct Faults {
    bool noReply = false;         // commands are taken and counted, nothing is answered
    std::int64_t delayMs = 0;     // before the first byte of each reply
    int splitBytes = 0;           // 0: a reply goes out whole; N: in pieces of N bytes ...
    std::int64_t splitGapMs = 0;  // ... with this gap between pieces
    bool noise = false;           // each reply byte is replaced by a random byte
};

struct ControlCommand {
    enum class Kind {
        NoReply,      // noreply on|off
        Delay,        // delay MS
        Split,        // split N GAP_MS
        Noise,        // noise on|off
        Hangup,       // hangup
        HangupAfter,  // hangup-after N (0: off)
        Plug,         // plug
        State,        // state HEX
        Baud,         // baud RATE
        Count,        // count
        Client,       // client
        Garbled,      // garbled
        Quit,         // quit
    };
    Kind kind = Kind::Quit;
    bool on = false;          // NoReply, Noise
    std::int64_t first = 0;   // Delay, Split (bytes), HangupAfter, State, Baud
    std::int64_t second = 0;  // Split (gap)
};

struct ControlParse {
    std::optional<ControlCommand> command;
    std::string error;  // set when command is empty
};

// One control line, without its line end. Words are separated by blanks; surrounding blanks and a
// trailing carriage return are ignored.
ControlParse parseControlLine(std::string_view line);

// Applies a fault setting to faults; false for a command that is not a fault setting.
bool applyFault(const ControlCommand& command, Faults& faults);

struct ReplyPiece {
    std::int64_t offsetMs;  // from the moment the command was taken
    std::string bytes;
};

// The pieces a reply goes out in under the given faults, in order; empty under noReply.
// rng is used for noise only.
std::vector<ReplyPiece> planReply(std::string_view reply, const Faults& faults, std::mt19937& rng);

// Bytes as one readable log field: printable ASCII as itself, ACK as "<ACK>", CR as "<CR>",
// LF as "<LF>", anything else (and "<" itself, to stay unambiguous) as "<xx>" in hex.
std::string renderBytes(std::string_view bytes);

}  // namespace projector_sim
