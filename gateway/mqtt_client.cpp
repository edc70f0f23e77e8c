#include "gateway/mqtt_client.h"

#include <mosquitto.h>

#include <QHostAddress>
#include <QHostInfo>
#include <QSocketNotifier>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>

namespace gateway {

namespace {

constexpr int kMiscMs = 1000;  // libmosquitto's keepalive and retries of QoS 1

std::string errorText(int rc, int error) {
    if (rc == MOSQ_ERR_ERRNO) return std::strerror(error);
    return mosquitto_strerror(rc);
}

void initialiseLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

}  // namespace

MqttClient::MqttClient(Settings settings, TimerSource& timers, Log log, QObject* parent)
    : QObject(parent), settings_(std::move(settings)), log_(std::move(log)) {
    initialiseLibrary();
    retry_ = timers.createTimer();
    retry_->onTick = [this] {
        retry_->setEnabled(false);
        attempt();
    };
    misc_ = timers.createTimer();
    misc_->setInterval(kMiscMs);
    misc_->onTick = [this] {
        if (mosq_ && (connecting_ || connected_)) afterIo(mosquitto_loop_misc(mosq_));
    };
}

MqttClient::~MqttClient() {
    running_ = false;
    retry_->onTick = nullptr;
    misc_->onTick = nullptr;
    if (lookup_ >= 0) QHostInfo::abortHostLookup(lookup_);
    forgetSocket();
    if (mosq_) mosquitto_destroy(mosq_);
}

std::string MqttClient::address() const {
    const bool v6 = settings_.host.find(':') != std::string::npos;
    return std::string(settings_.tls ? "mqtts://" : "mqtt://") + (v6 ? "[" : "") + settings_.host +
           (v6 ? "]" : "") + ":" + std::to_string(settings_.port);
}

void MqttClient::start() {
    if (running_) return;
    running_ = true;
    misc_->setEnabled(true);
    attempt();
}

void MqttClient::stop(const std::string& topic, const std::string& payload) {
    running_ = false;
    retry_->setEnabled(false);
    misc_->setEnabled(false);
    if (lookup_ >= 0) QHostInfo::abortHostLookup(lookup_);
    lookup_ = -1;
    if (!mosq_ || !connected_) return;
    forgetSocket();
    mosquitto_publish(mosq_, nullptr, topic.c_str(), int(payload.size()), payload.data(), 1, true);
    mosquitto_disconnect(mosq_);
    // The event loop has ended: libmosquitto's own loop writes what is queued, DISCONNECT last.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGoodbyeMs);
    while (mosquitto_socket(mosq_) >= 0 && std::chrono::steady_clock::now() < deadline) {
        if (mosquitto_loop(mosq_, 100, 1) != MOSQ_ERR_SUCCESS) break;
    }
    connected_ = connecting_ = false;
}

void MqttClient::publish(const std::string& topic, const std::string& payload, bool retain) {
    if (!connected_) return;
    const int rc = mosquitto_publish(mosq_, nullptr, topic.c_str(), int(payload.size()),
                                     payload.data(), 1, retain);
    const int error = errno;
    if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_NO_CONN) {
        log_(settings_.what + ": cannot publish on " + logText(topic) + ": " +
             errorText(rc, error));
    }
    afterIo(MOSQ_ERR_SUCCESS);
}

void MqttClient::subscribe(const std::string& topic) {
    if (!connected_) return;
    const int rc = mosquitto_subscribe(mosq_, nullptr, topic.c_str(), 1);
    const int error = errno;
    if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_NO_CONN) {
        log_(settings_.what + ": cannot subscribe to " + logText(topic) + ": " +
             errorText(rc, error));
    }
    afterIo(MOSQ_ERR_SUCCESS);
}

void MqttClient::setReading(bool reading) {
    reading_ = reading;
    if (read_) read_->setEnabled(reading);
}

// ---------------------------------------------------------------------------------------
// Connecting

void MqttClient::attempt() {
    if (!running_ || connecting_ || connected_) return;
    connecting_ = true;
    if (QHostAddress literal; literal.setAddress(QString::fromStdString(settings_.host))) {
        connectTo(settings_.host);
        return;
    }
    // libmosquitto would look the name up itself, waiting for the answer: it is given an
    // address instead. TLS checks the certificate against the name, so there it looks the
    // name up once more, now that the resolver has the answer at hand.
    lookup_ = QHostInfo::lookupHost(
        QString::fromStdString(settings_.host), this, [this](const QHostInfo& info) {
            lookup_ = -1;
            if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
                lost(info.errorString().toStdString());
                return;
            }
            connectTo(settings_.tls ? settings_.host
                                    : info.addresses().front().toString().toStdString());
        });
}

void MqttClient::connectTo(const std::string& address) {
    forgetSocket();
    // A fresh client each time: nothing queued for the connection before goes out on this one.
    if (mosq_) mosquitto_destroy(mosq_);
    mosq_ = mosquitto_new(settings_.clientId.c_str(), true, this);
    if (!mosq_) {
        lost(std::strerror(errno));
        return;
    }
    mosquitto_connect_callback_set(mosq_, &MqttClient::connected);
    mosquitto_disconnect_callback_set(mosq_, &MqttClient::disconnected);
    mosquitto_message_callback_set(mosq_, &MqttClient::received);
    mosquitto_will_set(mosq_, settings_.willTopic.c_str(), int(settings_.willPayload.size()),
                       settings_.willPayload.data(), 1, true);
    if (!settings_.user.empty()) {
        mosquitto_username_pw_set(
            mosq_, settings_.user.c_str(),
            settings_.password.empty() ? nullptr : settings_.password.c_str());
    }
    if (settings_.tls) {
        const int rc = settings_.caFile.empty()
                           ? mosquitto_int_option(mosq_, MOSQ_OPT_TLS_USE_OS_CERTS, 1)
                           : mosquitto_tls_set(mosq_, settings_.caFile.c_str(), nullptr, nullptr,
                                               nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            lost(settings_.caFile + ": " + errorText(rc, errno));
            return;
        }
    }
    const int rc =
        mosquitto_connect_async(mosq_, address.c_str(), settings_.port, kKeepAliveSeconds);
    const int error = errno;
    if (rc != MOSQ_ERR_SUCCESS) {
        lost(errorText(rc, error));
        return;
    }
    watchSocket();
    afterIo(MOSQ_ERR_SUCCESS);
}

void MqttClient::watchSocket() {
    const int fd = mosquitto_socket(mosq_);
    if (fd < 0) return;
    read_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    read_->setEnabled(reading_);
    connect(read_, &QSocketNotifier::activated, this,
            [this] { afterIo(mosquitto_loop_read(mosq_, 1)); });
    write_ = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    connect(write_, &QSocketNotifier::activated, this,
            [this] { afterIo(mosquitto_loop_write(mosq_, 1)); });
}

void MqttClient::forgetSocket() {
    // Disabled at once: the socket may be closed before the notifiers are gone.
    for (QSocketNotifier* n : {read_, write_}) {
        if (!n) continue;
        n->setEnabled(false);
        n->deleteLater();
    }
    read_ = write_ = nullptr;
}

void MqttClient::afterIo(int rc) {
    const int error = errno;
    if (!mosq_ || !(connecting_ || connected_)) return;
    if (rc != MOSQ_ERR_SUCCESS) {
        lost(errorText(rc, error));
    } else if (mosquitto_socket(mosq_) < 0) {
        lost(mosquitto_strerror(MOSQ_ERR_CONN_LOST));
    } else if (write_) {
        write_->setEnabled(mosquitto_want_write(mosq_));
    }
}

void MqttClient::lost(const std::string& why) {
    if (!(connecting_ || connected_)) return;
    forgetSocket();
    const bool was = connected_;
    connected_ = connecting_ = false;
    if (!running_) return;
    const std::string again = "; trying again in " + std::to_string(retryMs_ / 1000) + " s";
    if (was) {
        log_(settings_.what + ": broker lost: " + why + again);
        lastProblem_ = why;
        if (onLost) onLost(why);
    } else if (why != lastProblem_) {
        log_(settings_.what + ": cannot connect to " + address() + ": " + why + again);
        lastProblem_ = why;
    }
    retryLater();
}

void MqttClient::retryLater() {
    retry_->setInterval(retryMs_);
    retry_->setEnabled(true);
    retryMs_ = std::min(retryMs_ * 2, kLastRetryMs);
}

// ---------------------------------------------------------------------------------------
// libmosquitto's callbacks, from inside its loop functions

void MqttClient::connected(mosquitto*, void* self, int rc) {
    auto* client = static_cast<MqttClient*>(self);
    if (rc != 0) {
        // The broker closes the connection next; the retry says why.
        client->lost(std::string("the broker refused the connection: ") +
                     mosquitto_connack_string(rc));
        return;
    }
    client->connecting_ = false;
    client->connected_ = true;
    client->retryMs_ = kFirstRetryMs;
    client->lastProblem_.clear();
    client->log_(client->settings_.what + ": connected to " + client->address());
    if (client->onConnected) client->onConnected();
}

void MqttClient::disconnected(mosquitto*, void* self, int rc) {
    auto* client = static_cast<MqttClient*>(self);
    client->lost(rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc));
}

void MqttClient::received(mosquitto*, void* self, const mosquitto_message* message) {
    auto* client = static_cast<MqttClient*>(self);
    if (!client->onMessage || !message->topic) return;
    Message m;
    m.topic = message->topic;
    if (message->payloadlen > 0)
        m.payload.assign(static_cast<const char*>(message->payload),
                         std::size_t(message->payloadlen));
    m.retained = message->retain;
    client->onMessage(m);
}

}  // namespace gateway
