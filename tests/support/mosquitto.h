#pragma once

#include <QProcess>
#include <QTemporaryDir>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Debian's mosquitto for the end-to-end tests: a broker of the test's own on a free port of
// 127.0.0.1, and its command-line clients. Waits poll the event loop, bounded.
namespace mqtt_support {

// A broker; stopped and its files removed with the object.
class Broker {
  public:
    // `extra`: lines added to its configuration (TLS, passwords), with %DIR% standing for a
    // folder of the broker's own, where `prepare` puts its files before the broker starts.
    explicit Broker(std::string extra = "allow_anonymous true\n",
                    const std::function<void(const std::string& dir)>& prepare = {});
    ~Broker();
    Broker(const Broker&) = delete;
    Broker& operator=(const Broker&) = delete;

    int port() const { return port_; }
    std::string dir() const { return dir_.path().toStdString(); }
    // Starts it (again, on the same port, with nothing retained) and waits until it listens.
    void start();
    // Ends it (SIGTERM) and waits.
    void stop();

  private:
    QTemporaryDir dir_;
    std::string extra_;
    int port_;
    QProcess process_;
};

struct Message {
    bool retained = false;
    std::string topic;
    std::string payload;
};

// mosquitto_sub on topics of the broker, each message one line of "%r %t %p".
class Subscriber {
  public:
    Subscriber(int port, const std::vector<std::string>& topics,
               const std::vector<std::string>& options = {});
    ~Subscriber();

    // The first message from `from` on (an index into messages()) that satisfies `wanted`,
    // waiting up to `ms`.
    std::optional<Message> waitFor(const std::function<bool(const Message&)>& wanted, int ms = 8000,
                                   std::size_t from = 0);
    std::optional<Message> waitFor(const std::string& topic, int ms = 8000, std::size_t from = 0);
    // Every message so far.
    const std::vector<Message>& messages();
    // The last message on `topic` so far.
    std::optional<Message> last(const std::string& topic);

  private:
    void read();
    QProcess process_;
    std::string buffer_;
    std::vector<Message> messages_;
};

// mosquitto_pub: one message.
void publish(int port, const std::string& topic, const std::string& payload, bool retain = false,
             const std::vector<std::string>& options = {});

}  // namespace mqtt_support
