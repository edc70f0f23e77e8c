#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "gateway/config.h"

namespace gateway {

class StatusCache;

// What a projector is on MQTT: its topics, the JSON of its state, and the entities Home
// Assistant's discovery makes of it. One table maps the panel's tables and the status cache
// to entities: the switches, the select and the sensors are its rows; every other button of
// the model's `projectorctl list` is a button entity of its own, so that a new button appears
// without new code.
//
// Topics under the projector's prefix P ("projector/hall/"):
//   P state         retained JSON, the fields of mqttState()
//   P availability  retained "online" while the line is up, "offline" otherwise (the will)
//   P press         in: a button name of `projectorctl list` ("power-on"), or "NAME TIMES"
//   P send          in: a code ("CR0", "CF FANSPEED MAX")
//   P reply         out: the object of `projectorctl --json` for each send of a command that
//                   came in on press or send, with "error" where it was not carried out
struct MqttTopics {
    explicit MqttTopics(std::string prefix) : prefix(std::move(prefix)) {}
    std::string prefix;
    std::string state() const { return prefix + "state"; }
    std::string availability() const { return prefix + "availability"; }
    std::string press() const { return prefix + "press"; }
    std::string send() const { return prefix + "send"; }
    std::string reply() const { return prefix + "reply"; }
};

inline constexpr auto kOnline = "online";
inline constexpr auto kOffline = "offline";

// Switches the projector has no query for: their state is the code the projector last
// acknowledged ("freeze" true after "C43"), absent until one is. Key: the state field.
using HeldStates = std::map<std::string, bool, std::less<>>;

// The state JSON: power ("on", "standby", "warm-up", "cooling", "fail"), input ("PC1",
// "PC2", "Video", "Input mode 4"), sound_mute, no_show, freeze, lamp_hours, temperatures
// (three, °C), pressure (hPa), temperature_warning, lamp_failure, status (the STATUS line of
// the operating state). A value the projector has not given is null.
QJsonObject mqttState(const StatusCache& status, const HeldStates& held);

// The status query that shows a code's effect ("CR0" after "C00"), asked once the projector
// has acknowledged the code, so that the entity follows the projector without waiting for the
// next poll.
std::optional<std::string_view> mqttFollowUpQuery(std::string_view code);

// The held state a code sets, when the projector acknowledges it.
std::optional<std::pair<std::string_view, bool>> mqttHeldState(std::string_view code);

struct DiscoveryMessage {
    std::string topic;  // <discovery prefix>/<component>/<node id>/<key>/config
    QByteArray payload;
};

// Home Assistant's discovery messages for one projector: one device, its entities.
std::vector<DiscoveryMessage> mqttDiscovery(const MqttConfig& mqtt,
                                            const ProjectorConfig& projector,
                                            std::string_view version);

// The client id the daemon's connection for the projector has at the broker.
std::string mqttClientId(const MqttConfig& mqtt, const ProjectorConfig& projector);

// Where the daemon keeps the list of the topics it holds retained messages on, so that a
// later start with another configuration can clear those it no longer has.
std::string mqttRetainedListTopic(const MqttConfig& mqtt);
// Every topic the configuration holds retained messages on: discovery, state, availability.
std::vector<std::string> mqttRetainedTopics(const Config& config);
// Whether a topic of an older list may be cleared: a discovery topic of the daemon's, or a
// state or availability topic. A list that someone else wrote can clear nothing else.
bool mqttClearable(const MqttConfig& mqtt, std::string_view topic);

}  // namespace gateway
