#include "gateway/status_cache.h"

#include <algorithm>
#include <charconv>

#include "engine/command.h"
#include "engine/display_form.h"
#include "engine/status.h"
#include "session/outcome.h"

namespace gateway {

namespace {

struct OperatingRow {
    std::string_view code;
    Power power;
    bool temperatureWarning;
    bool lampFailure;
};

// One row per row of the panel's operating-state table (see the header).
constexpr OperatingRow kOperating[] = {
    {"00", Power::On, false, false},      {"08", Power::On, true, false},
    {"02", Power::On, false, false},      {"80", Power::Standby, false, false},
    {"04", Power::Standby, false, false}, {"88", Power::Standby, true, false},
    {"40", Power::WarmUp, false, false},  {"20", Power::Cooling, false, false},
    {"28", Power::Cooling, true, false},  {"24", Power::Cooling, false, false},
    {"21", Power::Cooling, false, true},  {"81", Power::Cooling, false, true},
    {"10", Power::Fail, false, false},
};

bool blank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

// A decimal reading such as "035.0", "-2.5" or "41": digits with at most one point.
std::optional<double> decimal(std::string_view s) {
    s = trimmed(s);
    const bool negative = !s.empty() && s.front() == '-';
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) s.remove_prefix(1);
    const auto digits = std::ranges::count_if(s, [](char c) { return c >= '0' && c <= '9'; });
    const auto points = std::ranges::count(s, '.');
    if (digits == 0 || points > 1 || std::size_t(digits + points) != s.size()) return std::nullopt;
    double value = 0;
    const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (error != std::errc() || end != s.data() + s.size()) return std::nullopt;
    return negative ? -value : value;
}

}  // namespace

std::string_view powerName(Power power) {
    switch (power) {
        case Power::On: return "on";
        case Power::Standby: return "standby";
        case Power::WarmUp: return "warm-up";
        case Power::Cooling: return "cooling";
        case Power::Fail: return "fail";
        case Power::Unknown: break;
    }
    return "unknown";
}

std::string_view inputName(Input input) {
    switch (input) {
        case Input::PC1: return "PC1";
        case Input::PC2: return "PC2";
        case Input::Video: return "Video";
        case Input::Mode4: break;
    }
    return "Input mode 4";
}

StatusCache::StatusCache(const models::Model& model, int freshForMs)
    : model_(model), freshForMs_(freshForMs) {}

bool StatusCache::record(const session::Outcome& outcome, double atMs, std::int64_t wallMs) {
    const auto queries = engine::statusQueries();
    if (std::ranges::find(queries, outcome.code) == queries.end()) return false;
    const auto [at, fresh] = entries_.try_emplace(outcome.code);
    StatusEntry& entry = at->second;
    const bool changed =
        fresh || entry.outcome.reply != outcome.reply || entry.outcome.ok != outcome.ok;
    entry = StatusEntry{outcome, atMs, wallMs, true};
    return changed;
}

void StatusCache::lineLost() {
    for (auto& [query, entry] : entries_) entry.sinceLineUp = false;
}

const StatusEntry* StatusCache::entry(std::string_view query) const {
    const auto found = entries_.find(query);
    return found == entries_.end() ? nullptr : &found->second;
}

bool StatusCache::fresh(std::string_view query, double nowMs) const {
    const StatusEntry* e = entry(query);
    return e && e->outcome.ok && e->sinceLineUp && nowMs - e->atMs < freshForMs_;
}

std::optional<std::string> StatusCache::statusText(std::string_view query) const {
    const StatusEntry* e = entry(query);
    if (!e) return std::nullopt;
    return session::statusOf(e->outcome, model_);
}

std::optional<std::string_view> StatusCache::answer(std::string_view query) const {
    const StatusEntry* e = entry(query);
    if (!e || !e->outcome.ok) return std::nullopt;
    std::string_view reply = e->outcome.reply;
    if (!reply.empty() && reply.back() == engine::kCR) reply.remove_suffix(1);
    return reply;
}

// The code of the reply when the panel's table for the query has a row for it: the panel's
// decoder says whether one matches, the code is the reply's first characters.
std::optional<std::string> StatusCache::tableCode(std::string_view query, std::size_t length) const {
    const std::optional<std::string_view> reply = answer(query);
    if (!reply || reply->size() < length || !statusText(query)) return std::nullopt;
    return std::string(reply->substr(0, length));
}

std::optional<std::string> StatusCache::operatingCode() const { return tableCode("CR0", 2); }
std::optional<std::string> StatusCache::inputCode() const { return tableCode("CR1", 1); }
std::optional<std::string> StatusCache::muteCode() const { return tableCode("CRA", 2); }

Power StatusCache::power() const {
    const std::optional<std::string> code = operatingCode();
    if (!code) return Power::Unknown;
    const auto row = std::ranges::find(kOperating, *code, &OperatingRow::code);
    return row == std::end(kOperating) ? Power::Unknown : row->power;
}

std::optional<bool> StatusCache::temperatureWarning() const {
    const std::optional<std::string> code = operatingCode();
    if (!code) return std::nullopt;
    const auto row = std::ranges::find(kOperating, *code, &OperatingRow::code);
    if (row == std::end(kOperating)) return std::nullopt;
    return row->temperatureWarning;
}

std::optional<bool> StatusCache::lampFailure() const {
    const std::optional<std::string> code = operatingCode();
    if (!code) return std::nullopt;
    const auto row = std::ranges::find(kOperating, *code, &OperatingRow::code);
    if (row == std::end(kOperating)) return std::nullopt;
    return row->lampFailure;
}

std::optional<Input> StatusCache::input() const {
    const std::optional<std::string> code = inputCode();
    if (!code) return std::nullopt;
    switch ((*code)[0]) {
        case '1': return Input::PC1;
        case '2': return Input::PC2;
        case '3': return Input::Video;
        case '4': return Input::Mode4;
        default: return std::nullopt;
    }
}

std::optional<Mute> StatusCache::mute() const {
    const std::optional<std::string> code = muteCode();
    if (!code || *code == "FF") return std::nullopt;
    if (*code == "80") return Mute{};
    // "00" to "03": bit 1 the sound, bit 0 the picture ("NO SHOW").
    const int bits = (*code)[1] - '0';
    return Mute{(bits & 2) != 0, (bits & 1) != 0};
}

std::optional<long> StatusCache::lampHours() const {
    const std::optional<std::string_view> reply = answer("CR3");
    if (!reply) return std::nullopt;
    const std::string_view digits = trimmed(*reply);
    long hours = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), hours);
    if (digits.empty() || digits.size() > 9 || error != std::errc() ||
        end != digits.data() + digits.size() || digits.front() == '-') {
        return std::nullopt;
    }
    return hours;
}

std::array<std::optional<double>, 3> StatusCache::temperatures() const {
    std::array<std::optional<double>, 3> sensors;
    const std::optional<std::string_view> reply = answer("CR6");
    if (!reply) return sensors;
    for (std::size_t i = 0; i < sensors.size(); ++i) {
        const engine::CharacterSpan& span = engine::kTemperatureCharacters[i];
        // A reading cut short is none.
        if (reply->size() < span.last) continue;
        sensors[i] = decimal(reply->substr(span.first - 1, span.last - span.first + 1));
    }
    return sensors;
}

std::optional<int> StatusCache::pressureHpa() const {
    const std::optional<std::string_view> reply = answer("CR PRESSURE");
    if (!reply) return std::nullopt;
    // The panel reads a reply that holds no number as 0; here it gives no pressure.
    const std::string_view text = trimmed(*reply);
    if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text.front())) ||
                          text.front() == '+' || text.front() == '-' || text.front() == '.' ||
                          text.front() == '&')) {
        return std::nullopt;
    }
    return engine::pressureHpa(engine::displayForm(*reply));
}

}  // namespace gateway
