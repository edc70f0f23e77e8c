#include "gateway/mqtt_device.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <charconv>
#include <set>
#include <stdexcept>

#include "engine/shown_text.h"
#include "gateway/line.h"
#include "session/outcome.h"
#include "session/sends.h"

namespace gateway {

namespace {

// A command longer than this is no button name or code of the projector's.
constexpr std::size_t kMaxCommandBytes = 256;

std::string compact(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

QString characters(const std::string& bytes) {
    return QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
}

std::string inQuotes(const std::string& text) {
    return "\"" + engine::shownText(text) + "\"";
}

}  // namespace

MqttDevice::MqttDevice(Line& line, const Config& config, TimerSource& timers, Log log,
                       std::string version, QObject* parent)
    : QObject(parent),
      line_(line),
      config_(config),
      topics_(Config::mqttPrefixOf(line.projector())),
      version_(std::move(version)),
      log_(std::move(log)),
      what_("[" + line.projector().id + "] mqtt"),
      client_(
          MqttClient::Settings{
              .host = config.mqtt.host,
              .port = config.mqtt.port,
              .tls = config.mqtt.tls,
              .caFile = config.mqtt.caFile,
              .user = config.mqtt.user,
              .password = config.mqtt.password,
              .clientId = mqttClientId(config.mqtt, line.projector()),
              .willTopic = topics_.availability(),
              .willPayload = kOffline,
              .what = what_,
          },
          timers, log_) {
    client_.onConnected = [this] { connected(); };
    client_.onMessage = [this](const MqttClient::Message& m) { message(m); };
    queue_ = line.join("mqtt " + client_.address());
    queue_->onRoom = [this] { client_.setReading(true); };
    settle_ = timers.createTimer();
    settle_->setInterval(kSettleMs);
    settle_->onTick = [this] {
        settle_->setEnabled(false);
        publishState();
    };

    connect(&line, &Line::stateChanged, this, [this](LineState state, const std::string&) {
        if (state != LineState::Up) held_.clear();
        publishAvailability();
        publishState();
    });
    connect(&line, &Line::statusChanged, this, [this](const std::string&) {
        if (!settle_->enabled()) settle_->setEnabled(true);
    });
    connect(&line, &Line::statusRoundDone, this, [this] {
        settle_->setEnabled(false);
        publishState();
    });
    connect(&line, &Line::commandAnswered, this, [this](const Command& c) { answered(c); });
}

MqttDevice::~MqttDevice() {
    settle_->onTick = nullptr;
    client_.stop(topics_.availability(), kOffline);
}

void MqttDevice::start() {
    client_.start();
}

std::string MqttDevice::description() const {
    return client_.address() + " under " + topics_.prefix;
}

// ---------------------------------------------------------------------------------------
// Out

void MqttDevice::connected() {
    lastState_.clear();
    // The list is subscribed to before the new one is published: what comes retained is the
    // list of the daemon's last run.
    client_.subscribe(mqttRetainedListTopic(config_.mqtt));
    QJsonArray retained;
    for (const std::string& topic : mqttRetainedTopics(config_)) retained.append(characters(topic));
    client_.publish(mqttRetainedListTopic(config_.mqtt),
                    QJsonDocument(retained).toJson(QJsonDocument::Compact).toStdString(), true);
    client_.subscribe(topics_.press());
    client_.subscribe(topics_.send());
    client_.subscribe(config_.mqtt.discoveryPrefix + "/status");
    publishDiscovery();
    publishAvailability();
    publishState(true);
}

void MqttDevice::publishDiscovery() {
    for (const DiscoveryMessage& m : mqttDiscovery(config_.mqtt, line_.projector(), version_)) {
        client_.publish(m.topic, m.payload.toStdString(), true);
    }
}

void MqttDevice::publishAvailability() {
    client_.publish(topics_.availability(), line_.state() == LineState::Up ? kOnline : kOffline,
                    true);
}

void MqttDevice::publishState(bool always) {
    if (!client_.connected()) return;
    std::string state = compact(mqttState(line_.status(), held_));
    if (!always && state == lastState_) return;
    client_.publish(topics_.state(), state, true);
    lastState_ = std::move(state);
}

void MqttDevice::clearOlder(const std::string& payload) {
    const QJsonDocument list = QJsonDocument::fromJson(QByteArray::fromStdString(payload));
    if (!list.isArray()) {
        log_(what_ + ": the list of retained topics on " +
             logText(mqttRetainedListTopic(config_.mqtt)) +
             " is no JSON array: nothing of an earlier configuration cleared");
        return;
    }
    const std::vector<std::string> current = mqttRetainedTopics(config_);
    const std::set<std::string> keep(current.begin(), current.end());
    int cleared = 0;
    for (const QJsonValue& v : list.array()) {
        const std::string topic = v.toString().toStdString();
        if (topic.empty() || keep.contains(topic) || !mqttClearable(config_.mqtt, topic)) continue;
        client_.publish(topic, "", true);
        ++cleared;
    }
    if (cleared > 0) {
        log_(what_ + ": cleared " + std::to_string(cleared) +
             " retained topics of projectors or entities no longer configured");
    }
}

// ---------------------------------------------------------------------------------------
// In

void MqttDevice::message(const MqttClient::Message& m) {
    if (m.topic == mqttRetainedListTopic(config_.mqtt)) {
        if (m.retained) clearOlder(m.payload);
        return;
    }
    if (m.topic == config_.mqtt.discoveryPrefix + "/status") {
        // Home Assistant has (re)started: it is told everything anew.
        if (m.payload == "online") {
            publishDiscovery();
            publishAvailability();
            publishState(true);
        }
        return;
    }
    const bool press = m.topic == topics_.press();
    if (!press && m.topic != topics_.send()) return;
    if (m.retained) {
        // A command kept by the broker would run again at every connection.
        log_(what_ + ": a retained command on " + logText(m.topic) +
             " is not carried out: commands are never kept (clear it with mosquitto_pub -r -n -t " +
             logText(m.topic) + ")");
        return;
    }
    command(press ? "press" : "send", m.payload);
}

void MqttDevice::command(const std::string& kind, const std::string& payload) {
    const models::Model& model = *line_.projector().model;
    if (payload.size() > kMaxCommandBytes) {
        reject(kind, payload, "longer than " + std::to_string(kMaxCommandBytes) + " bytes");
        return;
    }
    std::vector<session::Send> sends;
    if (kind == "press") {
        const std::size_t space = payload.find(' ');
        const std::string name = payload.substr(0, space);
        int times = 1;
        if (space != std::string::npos) {
            const std::string count = payload.substr(space + 1);
            const auto [end, error] =
                std::from_chars(count.data(), count.data() + count.size(), times);
            if (count.empty() || error != std::errc() || end != count.data() + count.size() ||
                times < 1 || times > int(kMaxSendsPerRequest)) {
                reject(kind, payload,
                       "NAME or NAME TIMES, TIMES from 1 to " +
                           std::to_string(kMaxSendsPerRequest) + ", not " + inQuotes(payload));
                return;
            }
        }
        const std::vector<panel::NamedButton> buttons = panel::namedButtons(model);
        const auto button = std::ranges::find(buttons, name, &panel::NamedButton::name);
        if (button == buttons.end()) {
            reject(kind, payload,
                   inQuotes(name) + " is no button of the " + std::string(model.name) +
                       ": the names are those of projectorctl list");
            return;
        }
        try {
            sends = session::pressSends(*button, times);
        } catch (const std::invalid_argument& e) {
            reject(kind, payload, e.what());
            return;
        }
    } else {
        if (const auto problem = session::codeProblem(payload)) {
            reject(kind, payload, *problem);
            return;
        }
        sends.push_back(session::codeSend(payload));
    }
    queue_->submit(std::move(sends), [this, &model](const Answer& a) {
        QJsonObject reply = session::outcomeObject(a.outcome, model);
        if (!a.failure.empty()) reply["error"] = characters(a.failure);
        client_.publish(topics_.reply(), compact(reply), false);
    });
    if (queue_->full()) client_.setReading(false);
}

void MqttDevice::reject(const std::string& kind, const std::string& payload,
                        const std::string& why) {
    // What was refused is echoed no further than a command may be long: an oversized message
    // does not come back whole.
    const std::string echoed = payload.substr(0, kMaxCommandBytes);
    client_.publish(
        topics_.reply(),
        compact(QJsonObject{{characters(kind), characters(echoed)}, {"error", characters(why)}}),
        false);
}

void MqttDevice::answered(const Command& c) {
    if (!c.failure.empty() || !c.outcome.ok) return;
    if (const auto held = mqttHeldState(c.outcome.code)) {
        held_[std::string(held->first)] = held->second;
        publishState();
    }
    if (const auto query = mqttFollowUpQuery(c.outcome.code)) {
        queue_->submit({session::codeSend(std::string(*query))},
                       [this](const Answer&) { publishState(); });
    }
}

}  // namespace gateway
