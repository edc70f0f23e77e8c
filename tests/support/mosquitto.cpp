#include "tests/support/mosquitto.h"

#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <stdexcept>

namespace mqtt_support {

namespace {

int freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

QStringList arguments(const std::vector<std::string>& list) {
    QStringList out;
    for (const std::string& s : list) out << QString::fromStdString(s);
    return out;
}

}  // namespace

Broker::Broker(std::string extra, const std::function<void(const std::string& dir)>& prepare)
    : extra_(std::move(extra)), port_(freePort()) {
    if (prepare) prepare(dir());
    start();
}

Broker::~Broker() {
    stop();
}

void Broker::start() {
    std::string config =
        "listener " + std::to_string(port_) + " 127.0.0.1\npersistence false\n" + extra_;
    for (std::size_t at; (at = config.find("%DIR%")) != std::string::npos;)
        config.replace(at, 5, dir());
    QFile file(dir_.filePath("mosquitto.conf"));
    if (!file.open(QIODevice::WriteOnly) || file.write(config.data(), qint64(config.size())) < 0) {
        throw std::runtime_error("cannot write the broker's configuration");
    }
    file.close();
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start(QStringLiteral("mosquitto"), {QStringLiteral("-c"), file.fileName()});
    const bool listening = QTest::qWaitFor(
        [&] {
            if (process_.state() == QProcess::NotRunning) return true;
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, quint16(port_));
            return probe.waitForConnected(100);
        },
        5000);
    if (!listening || process_.state() == QProcess::NotRunning) {
        throw std::runtime_error("mosquitto did not start: " + process_.readAll().toStdString());
    }
}

void Broker::stop() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.terminate();
    if (!process_.waitForFinished(5000)) process_.kill();
    process_.waitForFinished();
}

Subscriber::Subscriber(int port, const std::vector<std::string>& topics,
                       const std::vector<std::string>& options) {
    QStringList args{"-h", "127.0.0.1", "-p", QString::number(port),
                     "-F", "%r %t %p",  "-t", "subscriber/ready"};
    for (const std::string& t : topics) args << "-t" << QString::fromStdString(t);
    process_.start(QStringLiteral("mosquitto_sub"), args + arguments(options));
    // Subscribed once a message of its own comes back.
    const bool ready = QTest::qWaitFor(
        [&] {
            publish(port, "subscriber/ready", "1", false, options);
            return QTest::qWaitFor([&] { return last("subscriber/ready").has_value(); }, 200);
        },
        5000);
    if (!ready) throw std::runtime_error("mosquitto_sub did not subscribe");
}

Subscriber::~Subscriber() {
    process_.kill();
    process_.waitForFinished();
}

void Subscriber::read() {
    buffer_ += process_.readAllStandardOutput().toStdString();
    for (std::size_t end; (end = buffer_.find('\n')) != std::string::npos;) {
        const std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        const std::size_t space = line.find(' ', 2);
        if (line.size() < 3 || space == std::string::npos) continue;
        messages_.push_back({line[0] == '1', line.substr(2, space - 2), line.substr(space + 1)});
    }
}

const std::vector<Message>& Subscriber::messages() {
    read();
    return messages_;
}

std::optional<Message> Subscriber::waitFor(const std::function<bool(const Message&)>& wanted,
                                           int ms, std::size_t from) {
    std::optional<Message> found;
    // What was found says whether the wait succeeded.
    (void)QTest::qWaitFor(
        [&] {
            read();
            for (std::size_t i = from; i < messages_.size() && !found; ++i) {
                if (wanted(messages_[i])) found = messages_[i];
            }
            return found.has_value();
        },
        ms);
    return found;
}

std::optional<Message> Subscriber::waitFor(const std::string& topic, int ms, std::size_t from) {
    return waitFor([&](const Message& m) { return m.topic == topic; }, ms, from);
}

std::optional<Message> Subscriber::last(const std::string& topic) {
    read();
    for (auto m = messages_.rbegin(); m != messages_.rend(); ++m) {
        if (m->topic == topic) return *m;
    }
    return std::nullopt;
}

void publish(int port, const std::string& topic, const std::string& payload, bool retain,
             const std::vector<std::string>& options) {
    QStringList args{
        "-h", "127.0.0.1", "-p", QString::number(port), "-t", QString::fromStdString(topic)};
    args << (payload.empty() ? QStringList{"-n"}
                             : QStringList{"-m", QString::fromStdString(payload)});
    if (retain) args << "-r";
    QProcess p;
    p.start(QStringLiteral("mosquitto_pub"), args + arguments(options));
    p.waitForFinished(5000);
}

}  // namespace mqtt_support
