#include "gateway/metrics.h"

#include <charconv>
#include <functional>

#include "engine/status.h"
#include "gateway/line.h"

namespace gateway {

LineMetrics::LineMetrics(Line& line, QObject* parent) : QObject(parent), line_(line) {
    connect(&line, &Line::commandSent, this, [this](const Command&) { ++commands_; });
    connect(&line, &Line::commandAnswered, this, [this](const Command& c) {
        if (!c.outcome.ok && !c.outcome.refused) {
            ++repliesMissing_;
            return;
        }
        const double seconds = c.outcome.ms / 1000;
        std::size_t bucket = 0;
        while (bucket < kReplyBuckets.size() && seconds > kReplyBuckets[bucket]) ++bucket;
        ++replyCounts_[bucket];
        replySecondsSum_ += seconds;
    });
    connect(&line, &Line::stateChanged, this, [this](LineState state, const std::string&) {
        if (state == LineState::Down && wasUp_) ++linesLost_;
        wasUp_ = state == LineState::Up;
    });
    connect(&line, &Line::statusRoundDone, this, [this] {
        for (const std::string_view query : engine::statusQueries()) {
            if (const StatusEntry* e = line_.status().entry(query))
                lastPollWallMs_ = std::max(lastPollWallMs_.value_or(e->wallMs), e->wallMs);
        }
    });
}

std::string labelValue(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

namespace {

std::string number(double v) {
    char buffer[32];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, v);
    return std::string(buffer, error == std::errc() ? end : buffer);
}

std::string projectorLabel(const LineMetrics& m) {
    return "projector=\"" + labelValue(m.line().projector().id) + "\"";
}

using Series = std::function<void(const LineMetrics& m, std::string& out)>;

void family(std::string& out, std::span<const LineMetrics* const> lines, const char* name,
            const char* type, const char* help, const Series& series) {
    out += std::string("# HELP ") + name + " " + help + "\n";
    out += std::string("# TYPE ") + name + " " + type + "\n";
    for (const LineMetrics* m : lines) series(*m, out);
}

// One sample: name{projector="..."[,extra]} value
void sample(std::string& out, const std::string& name, const LineMetrics& m,
            const std::string& extra, double value) {
    out += name + "{" + projectorLabel(m) + (extra.empty() ? "" : "," + extra) + "} " +
           number(value) + "\n";
}

}  // namespace

std::string metricsText(std::span<const LineMetrics* const> lines) {
    std::string out;
    family(out, lines, "projector_info", "gauge", "The projector's name and model; always 1.",
           [](const LineMetrics& m, std::string& o) {
               const ProjectorConfig& p = m.line().projector();
               sample(o, "projector_info", m,
                      "name=\"" + labelValue(p.name) + "\",model=\"" + labelValue(p.model->name) +
                          "\"",
                      1);
           });
    family(out, lines, "projector_up", "gauge",
           "Whether the projector's line is open (1) or not (0).",
           [](const LineMetrics& m, std::string& o) {
               sample(o, "projector_up", m, "", m.line().state() == LineState::Up ? 1 : 0);
           });
    family(out, lines, "projector_power_state", "gauge",
           "The operating state the projector last gave, one-hot.",
           [](const LineMetrics& m, std::string& o) {
               const Power now = m.line().status().power();
               for (Power p : {Power::On, Power::Standby, Power::WarmUp, Power::Cooling,
                               Power::Fail, Power::Unknown}) {
                   sample(o, "projector_power_state", m,
                          "state=\"" + std::string(powerName(p)) + "\"", p == now ? 1 : 0);
               }
           });
    family(out, lines, "projector_temperature_warning", "gauge",
           "Whether the operating state the projector last gave is a temperature warning (1) or "
           "not (0).",
           [](const LineMetrics& m, std::string& o) {
               if (const auto warning = m.line().status().temperatureWarning())
                   sample(o, "projector_temperature_warning", m, "", *warning ? 1 : 0);
           });
    family(out, lines, "projector_lamp_seconds", "gauge",
           "The lamp's time in use as the projector counts it.",
           [](const LineMetrics& m, std::string& o) {
               if (const auto hours = m.line().status().lampHours())
                   sample(o, "projector_lamp_seconds", m, "", double(*hours) * 3600);
           });
    family(out, lines, "projector_temperature_celsius", "gauge",
           "The projector's temperature sensors.", [](const LineMetrics& m, std::string& o) {
               const auto t = m.line().status().temperatures();
               for (std::size_t i = 0; i < t.size(); ++i) {
                   if (t[i])
                       sample(o, "projector_temperature_celsius", m,
                              "sensor=\"" + std::to_string(i + 1) + "\"", *t[i]);
               }
           });
    family(out, lines, "projector_pressure_hectopascals", "gauge",
           "The air pressure the projector measures.", [](const LineMetrics& m, std::string& o) {
               if (const auto hpa = m.line().status().pressureHpa())
                   sample(o, "projector_pressure_hectopascals", m, "", *hpa);
           });
    family(out, lines, "projector_commands_total", "counter",
           "Commands sent on the projector's line.", [](const LineMetrics& m, std::string& o) {
               sample(o, "projector_commands_total", m, "", double(m.commands()));
           });
    family(out, lines, "projector_replies_missing_total", "counter",
           "Commands whose complete reply did not come within their reply window.",
           [](const LineMetrics& m, std::string& o) {
               sample(o, "projector_replies_missing_total", m, "", double(m.repliesMissing()));
           });
    family(out, lines, "projector_line_lost_total", "counter",
           "Times the projector's open line was lost.", [](const LineMetrics& m, std::string& o) {
               sample(o, "projector_line_lost_total", m, "", double(m.linesLost()));
           });
    family(out, lines, "projector_reply_seconds", "histogram",
           "From a command's write to the end of its complete reply.",
           [](const LineMetrics& m, std::string& o) {
               std::uint64_t cumulative = 0;
               for (std::size_t i = 0; i < LineMetrics::kReplyBuckets.size(); ++i) {
                   cumulative += m.replyCounts()[i];
                   sample(o, "projector_reply_seconds_bucket", m,
                          "le=\"" + number(LineMetrics::kReplyBuckets[i]) + "\"",
                          double(cumulative));
               }
               cumulative += m.replyCounts().back();
               sample(o, "projector_reply_seconds_bucket", m, "le=\"+Inf\"", double(cumulative));
               sample(o, "projector_reply_seconds_sum", m, "", m.replySecondsSum());
               sample(o, "projector_reply_seconds_count", m, "", double(cumulative));
           });
    family(out, lines, "projector_last_poll_timestamp_seconds", "gauge",
           "When the status queries of a poll were last all answered.",
           [](const LineMetrics& m, std::string& o) {
               if (const auto ms = m.lastPollWallMs())
                   sample(o, "projector_last_poll_timestamp_seconds", m, "", double(*ms) / 1000);
           });
    return out;
}

}  // namespace gateway
