// projectord on MQTT, measured: a command published on a projector's press topic to its bytes
// on the line, against the floor of the same message reaching a plain subscriber of the broker;
// and the state messages a status round costs, with the status unchanged and with a reading
// that changes every round.
//
// The bench holds the far end of a pseudo-terminal and answers as the projector does, so that
// the moment the command's last byte arrives is seen directly; projectord (poll 1 s) and
// Debian's mosquitto run as they are shipped. A program to run by hand, not a test.
#include <fcntl.h>
#include <mosquitto.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QProcess>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <QTest>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "tests/support/mosquitto.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kCommands = 500;
constexpr int kRoundSeconds = 10;

std::atomic<Clock::rep> floorAt{0};
std::atomic<int> stateMessages{0};

double us(Clock::rep ticks) {
    return std::chrono::duration<double, std::micro>(Clock::duration(ticks)).count();
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, std::size_t(p * double(v.size())))];
}

void onMessage(mosquitto*, void*, const mosquitto_message* m) {
    const std::string topic = m->topic;
    if (topic.ends_with("/press")) floorAt = Clock::now().time_since_epoch().count();
    if (topic.ends_with("/state")) ++stateMessages;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    mqtt_support::Broker broker;

    int master = -1, slave = -1;
    char path[128];
    if (openpty(&master, &slave, path, nullptr, nullptr) != 0) return 1;
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    fcntl(master, F_SETFL, O_NONBLOCK);

    // The projector: every status query answered as a projector in stand-by; CR6's first
    // reading changes each round while `changing`.
    bool changing = false;
    int rounds = 0, temperature = 300;
    Clock::rep commandAt = 0;
    // The command is waited for in an event loop of its own, which wakes at its bytes (a
    // polling wait would add its own period to the figure).
    QEventLoop* waiting = nullptr;
    std::string line;
    QSocketNotifier notifier(master, QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
        char buffer[256];
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        const Clock::rep now = Clock::now().time_since_epoch().count();
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[i] != '\r') {
                line.push_back(buffer[i]);
                continue;
            }
            static const std::map<std::string, std::string> replies{
                {"CR0", "80"}, {"CR1", "1"},           {"CR4", "11"},          {"CR3", "01234"},
                {"CRA", "FF"}, {"CR9", "TR27K BENCH"}, {"CR PRESSURE", "512"}, {"CR7", "01"}};
            std::string reply = "\x06";
            if (line == "C09") {
                commandAt = now;
                if (waiting) waiting->quit();
            }
            if (line == "CR0") ++rounds;
            if (line == "CR6") {
                if (changing) ++temperature;
                reply = "0" + std::to_string(temperature / 10) + "." +
                        std::to_string(temperature % 10) + "  38.5 041.2";
            } else if (const auto r = replies.find(line); r != replies.end()) {
                reply = r->second;
            }
            reply += '\r';
            [[maybe_unused]] const ssize_t written = ::write(master, reply.data(), reply.size());
            line.clear();
        }
    });

    QProcess daemon;
    daemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    daemon.start(QStringLiteral(PROJECTORD_PATH),
                 {"--port", path, "--poll", "1", "--mqtt",
                  QStringLiteral("mqtt://127.0.0.1:%1").arg(broker.port())});

    mosquitto_lib_init();
    mosquitto* client = mosquitto_new("bench", true, nullptr);
    mosquitto_message_callback_set(client, onMessage);
    mosquitto_connect(client, "127.0.0.1", broker.port(), 30);
    mosquitto_subscribe(client, nullptr, "projector/projector/press", 1);
    mosquitto_subscribe(client, nullptr, "projector/projector/state", 1);
    mosquitto_loop_start(client);
    QTest::qWait(2000);  // connected, the first rounds done

    std::vector<double> latency, floor;
    for (int i = 0; i < kCommands; ++i) {
        commandAt = 0;
        floorAt = 0;
        const Clock::rep sent = Clock::now().time_since_epoch().count();
        mosquitto_publish(client, nullptr, "projector/projector/press", 6, "vol-up", 1, false);
        QEventLoop loop;
        waiting = &loop;
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        if (commandAt == 0) loop.exec();
        waiting = nullptr;
        if (commandAt == 0 || !QTest::qWaitFor([&] { return floorAt != 0; }, 5000)) {
            std::fprintf(stderr, "command %d never reached the line\n", i);
            return 1;
        }
        latency.push_back(us(commandAt - sent));
        floor.push_back(us(floorAt - sent));
        QTest::qWait(5);
    }
    // 4 bytes at 19200 baud, ten bits a byte.
    const double lineUs = 4 * 10 * 1e6 / 19200;
    std::printf(
        "press to line: p50 %.0f us, p99 %.0f us; floor (broker to a subscriber): p50 %.0f us, p99 "
        "%.0f us; "
        "p99 over the floor %.0f us = %.1f%% of the command's line time (%.0f us)\n",
        percentile(latency, 0.5), percentile(latency, 0.99), percentile(floor, 0.5),
        percentile(floor, 0.99), percentile(latency, 0.99) - percentile(floor, 0.99),
        100 * (percentile(latency, 0.99) - percentile(floor, 0.99)) / lineUs, lineUs);

    for (const bool change : {false, true}) {
        changing = change;
        QTest::qWait(1500);
        const int roundsBefore = rounds, messagesBefore = stateMessages;
        QTest::qWait(kRoundSeconds * 1000);
        std::printf("status %s: %d rounds, %d state messages (%.2f a round)\n",
                    change ? "changing" : "unchanged", rounds - roundsBefore,
                    stateMessages - messagesBefore,
                    double(stateMessages - messagesBefore) / std::max(1, rounds - roundsBefore));
    }
    mosquitto_loop_stop(client, true);
    mosquitto_destroy(client);
    daemon.terminate();
    daemon.waitForFinished();
    ::close(slave);
    ::close(master);
    return 0;
}
