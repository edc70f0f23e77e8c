#pragma once

#include <QObject>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace gateway {

class Line;

// What a line has done since the daemon started, counted from its signals: commands sent,
// replies missing, losses of the line, the time of each complete reply, the last complete
// poll. The counters start at the daemon's start, as Prometheus expects of a counter.
class LineMetrics final : public QObject {
    Q_OBJECT
  public:
    // Upper bounds of the reply-time histogram (seconds): a reply takes a few milliseconds at
    // 19200 baud, and a reply window ends at 0.5, 2 or 5 s.
    static constexpr std::array<double, 10> kReplyBuckets{0.005, 0.01, 0.025, 0.05, 0.1,
                                                          0.25,  0.5,  1,     2.5,  5};

    explicit LineMetrics(Line& line, QObject* parent = nullptr);

    const Line& line() const { return line_; }
    std::uint64_t commands() const { return commands_; }
    std::uint64_t repliesMissing() const { return repliesMissing_; }
    std::uint64_t linesLost() const { return linesLost_; }
    // Complete replies per bucket (not cumulative), the ones beyond the last bound at the end.
    const std::array<std::uint64_t, kReplyBuckets.size() + 1>& replyCounts() const {
        return replyCounts_;
    }
    double replySecondsSum() const { return replySecondsSum_; }
    std::optional<std::int64_t> lastPollWallMs() const { return lastPollWallMs_; }

  private:
    Line& line_;
    std::uint64_t commands_ = 0, repliesMissing_ = 0, linesLost_ = 0;
    std::array<std::uint64_t, kReplyBuckets.size() + 1> replyCounts_{};
    double replySecondsSum_ = 0;
    std::optional<std::int64_t> lastPollWallMs_;
    bool wasUp_ = false;
};

// The Prometheus text format (version 0.0.4) of every projector's series, one family at a
// time: up, power state (one-hot), temperature warning, lamp, temperatures, pressure, the
// counters, the reply
// reply histogram and the last poll. A value the projector has not given is left out, never 0.
std::string metricsText(std::span<const LineMetrics* const> lines);

// A label value as the text format writes it: backslash, double quote and line feed escaped.
std::string labelValue(std::string_view text);

}  // namespace gateway
