#include "gateway/mqtt_entities.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSysInfo>
#include <algorithm>
#include <iterator>

#include "gateway/status_cache.h"
#include "tables/names.h"

namespace gateway {

namespace {

enum class Component { Switch, Select, Sensor, BinarySensor, Button };

std::string_view componentName(Component c) {
    switch (c) {
        case Component::Switch:
            return "switch";
        case Component::Select:
            return "select";
        case Component::Sensor:
            return "sensor";
        case Component::BinarySensor:
            return "binary_sensor";
        case Component::Button:
            break;
    }
    return "button";
}

// One entity of every projector. A switch presses the buttons of its two codes; its state, and
// a select's, is the status query's answer, asked again once the projector has acknowledged
// one of its codes (or, without a query, the code last acknowledged: a held state). Value
// templates read the state JSON; an empty one reads the field `key` as a switch's ON/OFF.
// "None" is Home Assistant's word for a state not known.
struct EntityRow {
    Component component;
    std::string_view key;  // object id and, for switches, the state field
    std::string_view name;
    std::string_view onCode = {};
    std::string_view offCode = {};
    std::string_view query = {};
    std::string_view value = {};
    std::string_view deviceClass = {};
    std::string_view stateClass = {};
    std::string_view unit = {};
};

// The input select's options: the captions of the buttons that choose them.
struct InputOption {
    Input input;
    std::string_view code;
};
constexpr InputOption kInputOptions[] = {
    {Input::PC1, "C05"},
    {Input::PC2, "C06"},
    {Input::Video, "C07"},
};

constexpr EntityRow kEntities[] = {
    {Component::Switch, "power", "Power", "C00", "C01", "CR0",
     "{{ {'on': 'ON', 'warm-up': 'ON', 'standby': 'OFF', 'cooling': 'OFF', 'fail': 'OFF'}"
     ".get(value_json.power, 'None') }}"},
    {Component::Select,
     "input",
     "Input",
     {},
     {},
     "CR1",
     "{{ value_json.input if value_json.input in ['PC1', 'PC2', 'Video'] else 'None' }}"},
    {Component::Switch, "sound_mute", "Sound mute", "C0B", "C0C", "CRA"},
    {Component::Switch, "no_show", "No show", "C0D", "C0E", "CRA"},
    {Component::Switch, "freeze", "Freeze", "C43", "C44"},
    {Component::Sensor,
     "lamp_hours",
     "Lamp hours",
     {},
     {},
     {},
     "{{ value_json.lamp_hours }}",
     "duration",
     "total_increasing",
     "h"},
    {Component::Sensor,
     "temperature_1",
     "Temperature 1",
     {},
     {},
     {},
     "{{ value_json.temperatures[0] }}",
     "temperature",
     "measurement",
     "°C"},
    {Component::Sensor,
     "temperature_2",
     "Temperature 2",
     {},
     {},
     {},
     "{{ value_json.temperatures[1] }}",
     "temperature",
     "measurement",
     "°C"},
    {Component::Sensor,
     "temperature_3",
     "Temperature 3",
     {},
     {},
     {},
     "{{ value_json.temperatures[2] }}",
     "temperature",
     "measurement",
     "°C"},
    {Component::Sensor,
     "pressure",
     "Pressure",
     {},
     {},
     {},
     "{{ value_json.pressure }}",
     "atmospheric_pressure",
     "measurement",
     "hPa"},
    {Component::Sensor,
     "status",
     "Status",
     {},
     {},
     {},
     "{{ 'None' if value_json.status is none else value_json.status | trim }}"},
    {Component::BinarySensor,
     "problem",
     "Problem",
     {},
     {},
     {},
     "{{ 'None' if value_json.temperature_warning is none else "
     "('ON' if value_json.temperature_warning or value_json.lamp_failure else 'OFF') }}",
     "problem"},
};

// The codes an entity of the table sends: their buttons are no button entities of their own.
bool claimed(std::string_view code) {
    return std::ranges::any_of(
               kEntities,
               [&](const EntityRow& e) { return e.onCode == code || e.offCode == code; }) ||
           std::ranges::find(kInputOptions, code, &InputOption::code) != std::end(kInputOptions);
}

QString text(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

template <typename T>
QJsonValue orNull(const std::optional<T>& v) {
    return v ? QJsonValue(*v) : QJsonValue(QJsonValue::Null);
}

const panel::NamedButton* buttonOf(const std::vector<panel::NamedButton>& buttons,
                                   std::string_view code) {
    const auto found = std::ranges::find_if(
        buttons, [&](const panel::NamedButton& b) { return b.command() == code; });
    return found == buttons.end() ? nullptr : &*found;
}

// An entity as discovery announces it: its component, key and what it says beyond the keys
// every entity has.
struct Entity {
    Component component;
    std::string key;
    QJsonObject config;
};

std::vector<Entity> entitiesOf(const ProjectorConfig& p) {
    const MqttTopics topics(Config::mqttPrefixOf(p));
    const std::vector<panel::NamedButton> buttons = panel::namedButtons(*p.model);
    std::vector<Entity> entities;
    for (const EntityRow& row : kEntities) {
        QJsonObject c{{"name", text(row.name)}};
        if (row.component != Component::Button) c["state_topic"] = text(topics.state());
        c["value_template"] = row.value.empty()
                                  ? text("{{ 'None' if value_json." + std::string(row.key) +
                                         " is none else ('ON' if value_json." +
                                         std::string(row.key) + " else 'OFF') }}")
                                  : text(row.value);
        if (!row.deviceClass.empty()) c["device_class"] = text(row.deviceClass);
        if (!row.stateClass.empty()) c["state_class"] = text(row.stateClass);
        if (!row.unit.empty()) c["unit_of_measurement"] = text(row.unit);
        if (row.component == Component::Switch) {
            const panel::NamedButton* on = buttonOf(buttons, row.onCode);
            const panel::NamedButton* off = buttonOf(buttons, row.offCode);
            if (!on || !off) continue;
            c["command_topic"] = text(topics.press());
            c["payload_on"] = text(on->name);
            c["payload_off"] = text(off->name);
        } else if (row.component == Component::Select) {
            QJsonArray options;
            std::string choose;
            for (const InputOption& option : kInputOptions) {
                const panel::NamedButton* button = buttonOf(buttons, option.code);
                if (!button) continue;
                options.append(text(inputName(option.input)));
                choose +=
                    (choose.empty() ? "" : ", ") +
                    ("'" + std::string(inputName(option.input)) + "': '" + button->name + "'");
            }
            c["options"] = options;
            c["command_topic"] = text(topics.press());
            c["command_template"] = text("{{ {" + choose + "}[value] }}");
        }
        entities.push_back({row.component, std::string(row.key), c});
    }
    for (const panel::NamedButton& b : buttons) {
        if (claimed(b.command())) continue;
        const std::string name = b.title.empty()
                                     ? std::string(b.caption)
                                     : std::string(b.title) + " " + std::string(b.caption);
        entities.push_back({Component::Button, b.name,
                            QJsonObject{{"name", text(name)},
                                        {"command_topic", text(topics.press())},
                                        {"payload_press", text(b.name)}}});
    }
    return entities;
}

std::string discoveryTopic(const MqttConfig& m, const std::string& node, const Entity& e) {
    return m.discoveryPrefix + "/" + std::string(componentName(e.component)) + "/" + node + "/" +
           e.key + "/config";
}

}  // namespace

QJsonObject mqttState(const StatusCache& status, const HeldStates& held) {
    const Power power = status.power();
    const std::optional<Input> input = status.input();
    const std::optional<Mute> mute = status.mute();
    QJsonArray temperatures;
    for (const std::optional<double>& t : status.temperatures()) temperatures.append(orNull(t));
    const std::optional<long> hours = status.lampHours();
    QJsonObject state{
        {"power", power == Power::Unknown ? QJsonValue(QJsonValue::Null)
                                          : QJsonValue(text(powerName(power)))},
        {"input", input ? QJsonValue(text(inputName(*input))) : QJsonValue(QJsonValue::Null)},
        {"sound_mute", mute ? QJsonValue(mute->sound) : QJsonValue(QJsonValue::Null)},
        {"no_show", mute ? QJsonValue(mute->picture) : QJsonValue(QJsonValue::Null)},
        {"lamp_hours", hours ? QJsonValue(qint64(*hours)) : QJsonValue(QJsonValue::Null)},
        {"temperatures", temperatures},
        {"pressure", orNull(status.pressureHpa())},
        {"temperature_warning", orNull(status.temperatureWarning())},
        {"lamp_failure", orNull(status.lampFailure())},
    };
    const std::optional<std::string> line = status.statusText("CR0");
    state["status"] = line ? QJsonValue(text(*line)) : QJsonValue(QJsonValue::Null);
    for (const EntityRow& row : kEntities) {
        if (row.component != Component::Switch || !row.query.empty()) continue;
        const auto found = held.find(row.key);
        state[text(row.key)] =
            found == held.end() ? QJsonValue(QJsonValue::Null) : QJsonValue(found->second);
    }
    return state;
}

std::optional<std::string_view> mqttFollowUpQuery(std::string_view code) {
    for (const EntityRow& row : kEntities) {
        if (row.query.empty()) continue;
        if (row.onCode == code || row.offCode == code) return row.query;
        if (row.component == Component::Select &&
            std::ranges::find(kInputOptions, code, &InputOption::code) != std::end(kInputOptions)) {
            return row.query;
        }
    }
    return std::nullopt;
}

std::optional<std::pair<std::string_view, bool>> mqttHeldState(std::string_view code) {
    for (const EntityRow& row : kEntities) {
        if (row.component != Component::Switch || !row.query.empty()) continue;
        if (row.onCode == code) return std::pair{row.key, true};
        if (row.offCode == code) return std::pair{row.key, false};
    }
    return std::nullopt;
}

std::vector<DiscoveryMessage> mqttDiscovery(const MqttConfig& mqtt, const ProjectorConfig& p,
                                            std::string_view version) {
    const std::string prefix = Config::mqttPrefixOf(p);
    const std::string node = mqttNodeId(prefix);
    const QJsonObject device{
        {"identifiers", QJsonArray{text(node)}},
        {"name", text(p.name)},
        {"manufacturer", "ORVA"},
        {"model", text(p.model->name)},
        {"sw_version", text("projectord " + std::string(version))},
    };
    std::vector<DiscoveryMessage> messages;
    for (Entity& e : entitiesOf(p)) {
        e.config["unique_id"] =
            text(node + "_" + std::string(componentName(e.component)) + "_" + e.key);
        e.config["availability_topic"] = text(MqttTopics(prefix).availability());
        e.config["device"] = device;
        messages.push_back({discoveryTopic(mqtt, node, e),
                            QJsonDocument(e.config).toJson(QJsonDocument::Compact)});
    }
    return messages;
}

std::string mqttClientId(const MqttConfig& mqtt, const ProjectorConfig& projector) {
    std::string daemon = mqtt.clientId;
    if (daemon.empty()) {
        daemon = "projectord-";
        for (const char c : QSysInfo::machineHostName().toStdString()) {
            const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                               (c >= '0' && c <= '9') || c == '-';
            daemon.push_back(plain ? c : '_');
        }
    }
    return daemon + "-" + projector.id;
}

std::string mqttRetainedListTopic(const MqttConfig& mqtt) {
    // Named after the daemon: the client id of a projector without the projector.
    ProjectorConfig none;
    std::string id = mqttClientId(mqtt, none);
    id.pop_back();
    return "projectord/" + id + "/retained";
}

std::vector<std::string> mqttRetainedTopics(const Config& config) {
    std::vector<std::string> topics;
    for (const ProjectorConfig& p : config.projectors) {
        const std::string prefix = Config::mqttPrefixOf(p);
        const std::string node = mqttNodeId(prefix);
        for (const Entity& e : entitiesOf(p))
            topics.push_back(discoveryTopic(config.mqtt, node, e));
        topics.push_back(MqttTopics(prefix).state());
        topics.push_back(MqttTopics(prefix).availability());
    }
    return topics;
}

bool mqttClearable(const MqttConfig& mqtt, std::string_view topic) {
    const std::string discovery = mqtt.discoveryPrefix + "/";
    if (topic.starts_with(discovery) && topic.ends_with("/config")) {
        return topic.find("/projectord_") != std::string_view::npos;
    }
    return topic.ends_with("/state") || topic.ends_with("/availability");
}

}  // namespace gateway
