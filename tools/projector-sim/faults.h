#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

// The faults the simulator can put on its replies, the control lines that switch them (read from
// stdin at run time; the command-line options are the same lines), how a reply is cut into
// timed pieces, and how fast the projector reads the line.
namespace projector_sim {

// The longest delay, piece gap, warm-up or cool-down accepted, in milliseconds: one hour. Larger
// values are refused; added to the clock they would overflow it.
constexpr std::int64_t kMaxDelayMs = 3'600'000;

// The fastest read rate accepted, in bytes per second; "off" reads without a limit.
constexpr std::int64_t kMaxReadRate = 10'000'000;

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
        Input,        // input N (1 to 4)
        Signal,       // signal on|off
        Refuse,       // refuse on|off
        Baud,         // baud RATE
        Count,        // count
        Client,       // client
        Garbled,      // garbled
        ReadRate,     // read-rate N|off (off: -1)
        Received,     // received
        Quit,         // quit
    };
    Kind kind = Kind::Quit;
    bool on = false;          // NoReply, Noise, Signal, Refuse
    std::int64_t first = 0;   // Delay, Split (bytes), HangupAfter, State, Input, Baud, ReadRate
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

// How fast the projector takes bytes off the line: without a limit (the default), at a rate in
// bytes per second, or not at all (rate 0), as a device whose flow has stopped. Time is the
// caller's, in milliseconds.
class ReadPacer {
  public:
    static constexpr std::int64_t kUnlimited = -1;
    // What may build up while nothing is waiting to be read: this much time's worth.
    static constexpr std::int64_t kBurstMs = 100;
    // A paced read waits until at least this much time's worth may be read, so that a slow
    // rate does not wake the caller for every byte.
    static constexpr std::int64_t kChunkMs = 10;

    // Starts the rate afresh at nowMs: nothing may be read until it has built up.
    void setRate(std::int64_t bytesPerSecond, std::int64_t nowMs);
    std::int64_t rate() const { return rate_; }

    // How many bytes may be read at nowMs.
    std::size_t allowance(std::int64_t nowMs);
    // Counts bytes read against the allowance.
    void consume(std::size_t bytes);
    // Milliseconds from nowMs until a read is due: 0 now, -1 never (stopped).
    std::int64_t msUntilDue(std::int64_t nowMs) const;

  private:
    std::int64_t creditAt(std::int64_t nowMs) const;  // thousandths of a byte
    std::int64_t threshold() const;
    std::int64_t cap() const;

    std::int64_t rate_ = kUnlimited;
    std::int64_t credit_ = 0;  // thousandths of a byte, as of lastMs_
    std::int64_t lastMs_ = 0;
};

// Bytes as one readable log field: printable ASCII as itself, ACK as "<ACK>", CR as "<CR>",
// LF as "<LF>", anything else (and "<" itself, to stay unambiguous) as "<xx>" in hex.
std::string renderBytes(std::string_view bytes);

}  // namespace projector_sim
