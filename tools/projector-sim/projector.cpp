#include "tools/projector-sim/projector.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace projector_sim {

namespace {

// Commands both models accept: the fixed commands of the panel's buttons, the hold keys and
// the status queries.
constexpr std::string_view kCommonCommands[] = {
    // power, input, mute, no show, freeze, menu, AV size
    "C00", "C01", "C05", "C06", "C07", "C0B", "C0C", "C0D", "C0E", "C43", "C44", "C1C", "C1D",
    "C0F", "C10",
    // right-hand key column
    "C89", "C27", "C8A", "C1E",
    // remote-control lock
    "CF KEYDIS NONE", "CF KEYDIS RC", "CF KEYDIS KEY",
    // picture modes
    "C11", "C12", "C13", "C14", "C15", "C16", "C17", "C18", "C19",
    // input sources
    "C50", "C25", "C24", "C26", "C32", "C33", "C34",
    // fan speed
    "CF FANSPEED MAX", "CF FANSPEED NOR",
    // hold keys: volume, brightness, digital zoom, keystone, cursor pad
    "C09", "C0A", "C20", "C21", "C30", "C31", "C8E", "C8F", "C3F", "C3C", "C3D", "C3B", "C3A",
    // queries
    "CR0", "CR1", "CR3", "CR4", "CR6", "CR7", "CR9", "CRA", "CR PRESSURE"};

constexpr std::string_view kTR27KOnlyCommands[] = {"C81", "C82", "C52", "C53"};

constexpr std::string_view kTR52OnlyCommands[] = {"CF LOGOCAPTURE START", "CF LOGO OFF",
                                                  "CF LOGO DEFAULT", "CF LOGO USER"};

std::vector<std::string_view> buildCommandList(Model model) {
    std::vector<std::string_view> list(std::begin(kCommonCommands), std::end(kCommonCommands));
    if (model == Model::TR27K) {
        list.insert(list.end(), std::begin(kTR27KOnlyCommands), std::end(kTR27KOnlyCommands));
    } else {
        list.insert(list.end(), std::begin(kTR52OnlyCommands), std::end(kTR52OnlyCommands));
    }
    return list;
}

std::string hexByte(std::uint8_t value) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", value);
    return text;
}

// Which input a source key selects: the rows of the input-source keys belong to the three
// inputs, as "PC1", "PC2" and "Video" do.
int inputOfSourceKey(std::string_view command) {
    if (command == "C05" || command == "C50" || command == "C52" || command == "C53") return 1;
    if (command == "C06" || command == "C25" || command == "C24" || command == "C26") return 2;
    if (command == "C07" || command == "C32" || command == "C33" || command == "C34") return 3;
    return 0;
}

constexpr int kSoundMuteBit = 2;
constexpr int kNoShowBit = 1;

}  // namespace

std::optional<Model> modelFromName(std::string_view name) {
    if (name == "TR27K") return Model::TR27K;
    if (name == "TR52") return Model::TR52;
    return std::nullopt;
}

std::string_view modelName(Model model) {
    return model == Model::TR27K ? "TR27K" : "TR52";
}

const std::vector<std::string_view>& knownCommands(Model model) {
    static const std::vector<std::string_view> tr27k = buildCommandList(Model::TR27K);
    static const std::vector<std::string_view> tr52 = buildCommandList(Model::TR52);
    return model == Model::TR27K ? tr27k : tr52;
}

Projector::Projector(const Options& options) : options_(options) {}

bool Projector::knows(std::string_view command) const {
    const auto& list = knownCommands(options_.model);
    return std::find(list.begin(), list.end(), command) != list.end();
}

void Projector::settle(std::int64_t nowMs) {
    if (nowMs < transitionEndsMs_) return;
    if (state_ == kStateCountDown) {
        state_ = kStatePowerOn;
    } else if (state_ == kStateCoolingDown) {
        state_ = kStateStandBy;
    }
}

std::uint8_t Projector::operatingState(std::int64_t nowMs) {
    settle(nowMs);
    return state_;
}

void Projector::forceState(std::uint8_t state) {
    state_ = state;
    // A forced count-down or cooling never ends by itself.
    transitionEndsMs_ = (state == kStateCountDown || state == kStateCoolingDown)
                            ? std::numeric_limits<std::int64_t>::max()
                            : 0;
}

std::string Projector::answer(std::string_view command, std::int64_t nowMs) {
    settle(nowMs);
    if (!knows(command) || refusing_) return std::string(kUnknownReply);
    if (command.starts_with("CR")) return query(command, nowMs) + kCR;
    apply(command, nowMs);
    return std::string(kAckReply);
}

void Projector::apply(std::string_view command, std::int64_t nowMs) {
    if (command == "C00") {
        if (state_ == kStateStandBy) {
            state_ = kStateCountDown;
            transitionEndsMs_ = nowMs + options_.warmupMs;
        }
    } else if (command == "C01") {
        if (state_ == kStatePowerOn || state_ == kStateCountDown) {
            state_ = kStateCoolingDown;
            transitionEndsMs_ = nowMs + options_.cooldownMs;
        }
    } else if (int input = inputOfSourceKey(command); input != 0) {
        input_ = input;
    } else if (command == "C0B") {
        mute_ |= kSoundMuteBit;
    } else if (command == "C0C") {
        mute_ &= ~kSoundMuteBit;
    } else if (command == "C0D") {
        mute_ |= kNoShowBit;
    } else if (command == "C0E") {
        mute_ &= ~kNoShowBit;
    }
    settle(nowMs);  // a zero warm-up or cool-down completes at once
}

std::string Projector::query(std::string_view command, std::int64_t nowMs) {
    if (command == "CR0") return hexByte(operatingState(nowMs));
    if (command == "CR1") return std::to_string(input_);
    if (command == "CR3") {
        char text[16];
        std::snprintf(text, sizeof text, "%05d", std::clamp(options_.lampHours, 0, 99999));
        return text;
    }
    if (command == "CR4") return "11";  // picture not reversed
    // Three temperatures in the columns the panel reads: characters 1-5, 8-11 and 13-17.
    if (command == "CR6") return "035.0  38.5 041.2";
    if (command == "CR7") return "01";
    if (command == "CR9") return std::string(modelName(options_.model)) + " SIM 1.00";
    // The stand-by bit hides the mute state, as the projector's own display is off then.
    if (command == "CRA") {
        if ((state_ & kStateStandBy) != 0) return "FF";
        return signal_ ? hexByte(mute_) : "80";
    }
    if (command == "CR PRESSURE") return std::to_string(options_.pressureReading);
    return "?";
}

std::vector<std::string> CommandFramer::feed(std::string_view bytes) {
    std::vector<std::string> commands;
    for (char c : bytes) {
        if (c == kCR) {
            if (!discarding_) commands.push_back(pending_);
            pending_.clear();
            discarding_ = false;
        } else if (!discarding_) {
            pending_.push_back(c);
            if (pending_.size() > kMaxCommandLength) {
                pending_.clear();
                discarding_ = true;
                ++overflows_;
            }
        }
    }
    return commands;
}

void CommandFramer::reset() {
    pending_.clear();
    discarding_ = false;
}

}  // namespace projector_sim
