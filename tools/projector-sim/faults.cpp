#include "tools/projector-sim/faults.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <limits>

namespace projector_sim {

namespace {

std::vector<std::string_view> splitWords(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
        if (i > start) words.push_back(line.substr(start, i - start));
    }
    return words;
}

std::optional<std::int64_t> parseNumber(std::string_view word, int base = 10) {
    std::int64_t value = 0;
    auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value, base);
    if (ec != std::errc() || end != word.data() + word.size() || value < 0) return std::nullopt;
    return value;
}

std::optional<bool> parseSwitch(std::string_view word) {
    if (word == "on") return true;
    if (word == "off") return false;
    return std::nullopt;
}

}  // namespace

ControlParse parseControlLine(std::string_view line) {
    using Kind = ControlCommand::Kind;
    const auto words = splitWords(line);
    if (words.empty()) return {std::nullopt, "empty control line"};
    const std::string_view name = words[0];
    const std::size_t args = words.size() - 1;

    auto fail = [&](std::string_view usage) {
        return ControlParse{std::nullopt, "usage: " + std::string(usage)};
    };
    auto make = [](Kind kind) {
        ControlCommand command;
        command.kind = kind;
        return command;
    };

    struct Plain {
        std::string_view name;
        Kind kind;
    };
    static constexpr Plain kPlain[] = {{"hangup", Kind::Hangup}, {"plug", Kind::Plug},
                                       {"count", Kind::Count},   {"garbled", Kind::Garbled},
                                       {"client", Kind::Client}, {"received", Kind::Received},
                                       {"quit", Kind::Quit}};
    for (const auto& plain : kPlain) {
        if (name != plain.name) continue;
        if (args != 0) return fail(plain.name);
        return {make(plain.kind), {}};
    }

    struct Switch {
        std::string_view name;
        Kind kind;
    };
    static constexpr Switch kSwitches[] = {{"noreply", Kind::NoReply},
                                           {"noise", Kind::Noise},
                                           {"signal", Kind::Signal},
                                           {"refuse", Kind::Refuse}};
    for (const auto& switched : kSwitches) {
        if (name != switched.name) continue;
        const auto on = args == 1 ? parseSwitch(words[1]) : std::nullopt;
        if (!on) return fail(std::string(switched.name) + " on|off");
        auto command = make(switched.kind);
        command.on = *on;
        return {command, {}};
    }
    if (name == "input") {
        const auto value = args == 1 ? parseNumber(words[1]) : std::nullopt;
        if (!value || *value < 1 || *value > 4) return fail("input N (1 to 4)");
        auto command = make(Kind::Input);
        command.first = *value;
        return {command, {}};
    }
    if (name == "delay") {
        const auto value = args == 1 ? parseNumber(words[1]) : std::nullopt;
        if (!value || *value > kMaxDelayMs) return fail("delay MS (MS at most 3600000)");
        auto command = make(Kind::Delay);
        command.first = *value;
        return {command, {}};
    }
    if (name == "hangup-after") {
        const auto value = args == 1 ? parseNumber(words[1]) : std::nullopt;
        if (!value) return fail("hangup-after N");
        auto command = make(Kind::HangupAfter);
        command.first = *value;
        return {command, {}};
    }
    if (name == "split") {
        const auto bytes = args == 2 ? parseNumber(words[1]) : std::nullopt;
        const auto gap = args == 2 ? parseNumber(words[2]) : std::nullopt;
        if (!bytes || !gap || *bytes > 1 << 20 || *gap > kMaxDelayMs)
            return fail("split N GAP_MS (N at most 1048576, GAP_MS at most 3600000)");
        auto command = make(Kind::Split);
        command.first = *bytes;
        command.second = *gap;
        return {command, {}};
    }
    if (name == "state") {
        const auto value =
            args == 1 && words[1].size() <= 2 ? parseNumber(words[1], 16) : std::nullopt;
        if (!value) return fail("state HEX (00 to FF)");
        auto command = make(Kind::State);
        command.first = *value;
        return {command, {}};
    }
    if (name == "read-rate") {
        const auto value = args == 1 && words[1] == "off"
                               ? std::optional<std::int64_t>(ReadPacer::kUnlimited)
                           : args == 1 ? parseNumber(words[1])
                                       : std::nullopt;
        if (!value || *value > kMaxReadRate)
            return fail("read-rate BYTES_PER_S|off (0 stops reading; at most 10000000)");
        auto command = make(Kind::ReadRate);
        command.first = *value;
        return {command, {}};
    }
    if (name == "baud") {
        const auto value = args == 1 ? parseNumber(words[1]) : std::nullopt;
        if (!value || *value == 0) return fail("baud RATE");
        auto command = make(Kind::Baud);
        command.first = *value;
        return {command, {}};
    }
    return {std::nullopt, "unknown control line"};
}

bool applyFault(const ControlCommand& command, Faults& faults) {
    using Kind = ControlCommand::Kind;
    switch (command.kind) {
        case Kind::NoReply:
            faults.noReply = command.on;
            return true;
        case Kind::Noise:
            faults.noise = command.on;
            return true;
        case Kind::Delay:
            faults.delayMs = command.first;
            return true;
        case Kind::Split:
            faults.splitBytes = static_cast<int>(command.first);
            faults.splitGapMs = command.second;
            return true;
        default:
            return false;
    }
}

std::vector<ReplyPiece> planReply(std::string_view reply, const Faults& faults, std::mt19937& rng) {
    std::vector<ReplyPiece> pieces;
    if (faults.noReply || reply.empty()) return pieces;
    std::string bytes(reply);
    if (faults.noise) {
        std::uniform_int_distribution<int> byte(0, 255);
        for (char& c : bytes) c = static_cast<char>(byte(rng));
    }
    if (faults.splitBytes <= 0) {
        pieces.push_back({faults.delayMs, std::move(bytes)});
        return pieces;
    }
    const auto size = static_cast<std::size_t>(faults.splitBytes);
    std::int64_t offset = faults.delayMs;
    for (std::size_t at = 0; at < bytes.size(); at += size) {
        pieces.push_back({offset, bytes.substr(at, size)});
        offset += faults.splitGapMs;
    }
    return pieces;
}

void ReadPacer::setRate(std::int64_t bytesPerSecond, std::int64_t nowMs) {
    rate_ = bytesPerSecond;
    credit_ = 0;
    lastMs_ = nowMs;
}

// A rate of R bytes per second earns R thousandths of a byte per millisecond.
std::int64_t ReadPacer::threshold() const {
    return std::max<std::int64_t>(1000, rate_ * kChunkMs);
}
std::int64_t ReadPacer::cap() const {
    return std::max(threshold(), rate_ * kBurstMs);
}

std::int64_t ReadPacer::creditAt(std::int64_t nowMs) const {
    const std::int64_t elapsed = std::max<std::int64_t>(0, nowMs - lastMs_);
    return std::min(cap(), credit_ + rate_ * elapsed);
}

std::size_t ReadPacer::allowance(std::int64_t nowMs) {
    if (rate_ == kUnlimited) return std::numeric_limits<std::size_t>::max();
    credit_ = creditAt(nowMs);
    lastMs_ = std::max(lastMs_, nowMs);
    return static_cast<std::size_t>(credit_ / 1000);
}

void ReadPacer::consume(std::size_t bytes) {
    if (rate_ == kUnlimited) return;
    credit_ = std::max<std::int64_t>(0, credit_ - static_cast<std::int64_t>(bytes) * 1000);
}

std::int64_t ReadPacer::msUntilDue(std::int64_t nowMs) const {
    if (rate_ == kUnlimited) return 0;
    if (rate_ == 0) return -1;
    const std::int64_t missing = threshold() - creditAt(nowMs);
    return missing <= 0 ? 0 : (missing + rate_ - 1) / rate_;
}

std::string renderBytes(std::string_view bytes) {
    std::string text;
    for (char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u == 0x06) {
            text += "<ACK>";
        } else if (u == 0x0D) {
            text += "<CR>";
        } else if (u == 0x0A) {
            text += "<LF>";
        } else if (u >= 0x20 && u < 0x7F && c != '<') {
            text += c;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "<%02X>", u);
            text += hex;
        }
    }
    return text;
}

}  // namespace projector_sim
