#pragma once

#include <QObject>
#include <memory>
#include <string>

#include "gateway/config.h"
#include "gateway/log.h"
#include "gateway/mqtt_client.h"
#include "gateway/mqtt_entities.h"

class TimerSource;

namespace gateway {

class Line;
class Client;
struct Command;

// One projector on MQTT: its state and availability published, its discovery for Home
// Assistant, and the commands that come in on its press and send topics put into the line's
// queue like every other front-end's. Its own connection to the broker carries its
// availability as the last will, so that a daemon that dies reads offline.
//
// The state is published when a status round has changed it, when a query outside a round
// has (after kSettleMs, or with the round that comes first), and at once when it is the answer
// to a command's follow-up query; a round that changed nothing publishes nothing.
class MqttDevice final : public QObject {
    Q_OBJECT
  public:
    static constexpr int kSettleMs = 1000;

    MqttDevice(Line& line, const Config& config, TimerSource& timers, Log log, std::string version,
               QObject* parent = nullptr);
    // Says "offline" and leaves the broker (see MqttClient::stop).
    ~MqttDevice() override;

    void start();
    // "mqtt://HOST:PORT under PREFIX", for the daemon's log.
    std::string description() const;

  private:
    void connected();
    void message(const MqttClient::Message& m);
    void command(const std::string& kind, const std::string& payload);
    void reject(const std::string& kind, const std::string& payload, const std::string& why);
    void answered(const Command& c);
    void publishDiscovery();
    void publishAvailability();
    void publishState(bool always = false);
    void clearOlder(const std::string& payload);

    Line& line_;
    const Config& config_;
    MqttTopics topics_;
    std::string version_;
    Log log_;
    std::string what_;  // "[hall] mqtt"
    MqttClient client_;
    std::unique_ptr<Client> queue_;
    std::unique_ptr<PanelTimer> settle_;
    HeldStates held_;
    std::string lastState_;  // the state JSON published last on this connection
};

}  // namespace gateway
