#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "models/model.h"
#include "session/session.h"

namespace gateway {

// The projector's operating state, from the reply to "CR0" by the rows of the panel's
// operating-state table:
//
//   reply  STATUS                                        power     temperatureWarning lampFailure
//   00     Power ON                                      on
//   08     Temperature Warning                           on        yes
//   02     NO Key input                                  on
//   80     Stand by                                      standby
//   04     Lamp OFF by PWR Management                    standby
//   88     Temperature Warning and recoverd              standby   yes
//   40     Count down                                    warm-up
//   20     Cooling down                                  cooling
//   28     Temperature Warning & cooling down            cooling   yes
//   24     Cooling down  PWR Management                  cooling
//   21     Cooling down (All Lamp FAIL)                  cooling             yes
//   81     Cooling down & sutandby (All Lamp FAIL)       cooling             yes
//   10     Power Fail                                    fail
//   other, none, or no answer                            unknown   (absent)           (absent)
//
// The lamp is lit while the power is on.
enum class Power { On, Standby, WarmUp, Cooling, Fail, Unknown };

// "on", "standby", "warm-up", "cooling", "fail", "unknown".
std::string_view powerName(Power power);

// The input the projector shows, from "CR1": the caption of the button that selects it.
// Reply 4, which no button selects, is "Input mode 4", as the panel's STATUS names it.
enum class Input { PC1, PC2, Video, Mode4 };
std::string_view inputName(Input input);

// What "CRA" says is muted. "80" (no signal) mutes nothing; "FF" (stand-by) says nothing.
struct Mute {
    bool sound = false;
    bool picture = false;
};

// The last answer to one status query.
struct StatusEntry {
    session::Outcome outcome;
    double atMs = 0;          // on the line's clock (session::Surroundings::nowMs)
    std::int64_t wallMs = 0;  // milliseconds since 1970 UTC
    bool sinceLineUp = true;  // answered since the line last came up
};

// The status the projector last gave: per status query its last outcome and the time of it,
// and the fields every front-end shows, derived here alone from the panel's decoders and
// tables. A value the projector has not given (never asked, no reply, a reply no row knows,
// the error mark) is absent, never 0 or false.
class StatusCache {
  public:
    StatusCache(const models::Model& model, int freshForMs);

    // Takes the outcome of a send made on the line: kept when its code is a status query.
    // True when the query's reply or its completeness differ from what was kept before.
    bool record(const session::Outcome& outcome, double atMs, std::int64_t wallMs);
    // The line is lost: every entry stops being fresh; the values stay, for reading.
    void lineLost();

    // nullptr when the query has not been answered since the start.
    const StatusEntry* entry(std::string_view query) const;
    // Answered completely, since the line last came up, less than the poll period ago.
    bool fresh(std::string_view query, double nowMs) const;
    int freshForMs() const { return freshForMs_; }

    // The STATUS line the panel shows for the query's last reply.
    std::optional<std::string> statusText(std::string_view query) const;

    Power power() const;
    std::optional<bool> temperatureWarning() const;
    std::optional<bool> lampFailure() const;
    std::optional<Input> input() const;
    std::optional<Mute> mute() const;
    std::optional<long> lampHours() const;
    // Sensors 1, 2 and 3 in degrees Celsius, each absent on its own.
    std::array<std::optional<double>, 3> temperatures() const;
    std::optional<int> pressureHpa() const;

    // The raw codes the projector answered, as PJLink's mapping takes them: "CR0" "00", "80",
    // ...; "CR1" "1" to "4"; "CRA" "00" to "03", "80", "FF". Absent unless the reply is one
    // the panel's table knows.
    std::optional<std::string> operatingCode() const;
    std::optional<std::string> inputCode() const;
    std::optional<std::string> muteCode() const;

  private:
    // The reply without its carriage return, when the query was answered completely and not
    // refused.
    std::optional<std::string_view> answer(std::string_view query) const;
    std::optional<std::string> tableCode(std::string_view query, std::size_t length) const;

    const models::Model& model_;
    int freshForMs_;
    std::map<std::string, StatusEntry, std::less<>> entries_;
};

}  // namespace gateway
