#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The simulated projector: which commands it knows, what it answers and how its operating state
// moves on. No I/O and no clock of its own: every call is given the current time in milliseconds,
// so a test drives it on a fake clock.
namespace projector_sim {

enum class Model { TR27K, TR52 };

// "TR27K" / "TR52"; nullopt for anything else.
std::optional<Model> modelFromName(std::string_view name);
std::string_view modelName(Model model);

inline constexpr char kCR = '\r';
inline constexpr char kACK = '\x06';
inline constexpr std::string_view kAckReply = "\x06\r";
inline constexpr std::string_view kUnknownReply = "?\r";

// Operating states as answered to "CR0" (two hex digits).
inline constexpr std::uint8_t kStatePowerOn = 0x00;
inline constexpr std::uint8_t kStateStandBy = 0x80;
inline constexpr std::uint8_t kStateCountDown = 0x40;
inline constexpr std::uint8_t kStateCoolingDown = 0x20;

// Every command the model accepts, queries included, without the carriage return.
const std::vector<std::string_view>& knownCommands(Model model);

class Projector {
  public:
    struct Options {
        Model model = Model::TR27K;
        std::int64_t warmupMs = 3000;
        std::int64_t cooldownMs = 3000;
        int lampHours = 1234;
        int pressureReading = 512;
    };

    explicit Projector(const Options& options);

    // The complete reply to one command (the text received before a carriage return, without it),
    // carriage return included, and the command's effect on the state.
    //
    // Every known command is acknowledged in every operating state and takes effect in every
    // state (a projector in stand-by still takes an input or mute choice); the state only
    // decides the power transitions and the stand-by answer "FF" to "CRA".
    // - "C00" in stand-by (80) starts the count-down (40), which ends in power on (00) after the
    //   warm-up time; in any other state it changes nothing.
    // - "C01" when on (00) or counting down (40) starts the cooling (20), which ends in stand-by
    //   (80) after the cool-down time; in any other state it changes nothing.
    std::string answer(std::string_view command, std::int64_t nowMs);

    bool knows(std::string_view command) const;

    // The operating state at nowMs, with a count-down or cooling that has run out completed.
    std::uint8_t operatingState(std::int64_t nowMs);

    // Puts the projector into any state, ending a count-down or cooling in progress. A forced
    // state stays until a power command moves it.
    void forceState(std::uint8_t state);

    // Selects an input as the projector's own keys do, "4" included, which no command selects.
    void forceInput(int input) { input_ = input; }
    // Without a signal (and not in stand-by) "CRA" answers "80".
    void setSignal(bool present) { signal_ = present; }
    // While refusing, every command is answered with the error mark and takes no effect, as
    // by a projector whose commands are locked.
    void setRefusing(bool refusing) { refusing_ = refusing; }

    int selectedInput() const { return input_; }
    // Bit 1: sound mute; bit 0: no show (picture mute).
    int muteBits() const { return mute_; }

  private:
    void settle(std::int64_t nowMs);
    std::string query(std::string_view command, std::int64_t nowMs);
    void apply(std::string_view command, std::int64_t nowMs);

    Options options_;
    std::uint8_t state_ = kStateStandBy;
    std::int64_t transitionEndsMs_ = 0;  // meaningful in count-down and cooling
    int input_ = 1;
    int mute_ = 0;
    bool signal_ = true;
    bool refusing_ = false;
};

// Cuts the received byte stream into commands at each carriage return. A command longer than
// kMaxCommandLength without a carriage return is thrown away up to the next carriage return.
class CommandFramer {
  public:
    static constexpr std::size_t kMaxCommandLength = 256;

    // The commands completed by these bytes, in order, without their carriage returns.
    std::vector<std::string> feed(std::string_view bytes);
    void reset();
    // Bytes received since the last carriage return.
    const std::string& pending() const { return pending_; }
    // How many overlong commands were thrown away since construction.
    int overflows() const { return overflows_; }

  private:
    std::string pending_;
    bool discarding_ = false;
    int overflows_ = 0;
};

}  // namespace projector_sim
