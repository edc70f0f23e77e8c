#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "gateway/log.h"
#include "link/timers.h"

struct mosquitto;
struct mosquitto_message;
class QSocketNotifier;

namespace gateway {

// One connection to an MQTT broker on libmosquitto, driven from the event loop: its socket in
// socket notifiers, its keepalive on a timer, no thread of its own. Nothing waits: the name is
// looked up and the connection made asynchronously. A connection refused or lost is tried
// again after 1 s, then twice as long each time up to a minute, on the timers given (the
// virtual clock in tests). Everything is published with QoS 1; while not connected nothing is
// published or kept: onConnected is the place to say everything anew.
class MqttClient final : public QObject {
    Q_OBJECT
  public:
    struct Settings {
        std::string host;
        std::uint16_t port = 1883;
        bool tls = false;
        std::string caFile;  // TLS: the certificates to trust; empty: the system's
        std::string user;    // empty: anonymous
        std::string password;
        std::string clientId;
        // The broker's last will: published, retained, when the connection ends unannounced.
        std::string willTopic;
        std::string willPayload;
        std::string what;  // names the connection in log lines: "[hall] mqtt"
    };

    struct Message {
        std::string topic;
        std::string payload;
        bool retained = false;  // from the broker's store, not sent just now
    };

    static constexpr int kFirstRetryMs = 1000;
    static constexpr int kLastRetryMs = 60'000;
    static constexpr int kKeepAliveSeconds = 30;
    // How long stop() lets its last words take to be written.
    static constexpr int kGoodbyeMs = 2000;

    MqttClient(Settings settings, TimerSource& timers, Log log, QObject* parent = nullptr);
    // Drops the connection without last words: the broker then publishes the will.
    ~MqttClient() override;

    // Connects, and keeps connecting until stop().
    void start();
    // Publishes `topic` `payload` (retained) in place of the will, then disconnects. Waits for
    // them to be written, at most kGoodbyeMs: it is called as the daemon ends, when the event
    // loop has stopped.
    void stop(const std::string& topic, const std::string& payload);

    bool connected() const { return connected_; }
    // The broker's address as configured: "mqtt://HOST:PORT".
    std::string address() const;

    // Not connected: nothing is done (see onConnected).
    void publish(const std::string& topic, const std::string& payload, bool retain);
    void subscribe(const std::string& topic);
    // Whether the connection is read: a receiver with no room for more stops it until it has.
    // Reading stopped longer than the keepalive loses the connection.
    void setReading(bool reading);

    // Connected (again): subscribe and publish everything here.
    std::function<void()> onConnected;
    std::function<void(const Message& message)> onMessage;
    // The connection lost or refused; `why` in libmosquitto's or the system's words.
    std::function<void(const std::string& why)> onLost;

  private:
    static void connected(mosquitto* mosq, void* self, int rc);
    static void disconnected(mosquitto* mosq, void* self, int rc);
    static void received(mosquitto* mosq, void* self, const mosquitto_message* message);

    void attempt();
    void connectTo(const std::string& address);
    void afterIo(int rc);
    void watchSocket();
    void forgetSocket();
    void lost(const std::string& why);
    void retryLater();

    Settings settings_;
    Log log_;
    mosquitto* mosq_ = nullptr;
    std::unique_ptr<PanelTimer> retry_, misc_;
    QSocketNotifier* read_ = nullptr;
    QSocketNotifier* write_ = nullptr;
    int retryMs_ = kFirstRetryMs;
    bool running_ = false;
    bool connecting_ = false;  // an attempt is under way
    bool connected_ = false;
    bool reading_ = true;
    std::string lastProblem_;  // said once, until it changes or the connection comes
    int lookup_ = -1;          // the host name lookup under way
};

}  // namespace gateway
