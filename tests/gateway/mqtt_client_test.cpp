// The MQTT client's retries on the virtual clock, against a server that takes each connection
// and closes it at once: the first retry 1 s after the loss, then twice as long each time,
// each at its edge; one log line for a reason that repeats.
#include "gateway/mqtt_client.h"

#include <gtest/gtest.h>

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include "tests/support/virtual_clock.h"

namespace {

TEST(MqttClient, RetriesAfterOneSecondThenTwiceAsLongEachTime) {
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    int connections = 0;
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* s = server.nextPendingConnection()) {
            ++connections;
            s->close();
            s->deleteLater();
        }
    });
    VirtualClock clock;
    std::vector<std::string> log;
    gateway::MqttClient client({.host = "127.0.0.1",
                                .port = server.serverPort(),
                                .clientId = "test",
                                .willTopic = "t/availability",
                                .willPayload = "offline",
                                .what = "[t] mqtt"},
                               clock, [&](const std::string& line) { log.push_back(line); });
    client.start();
    // Each attempt is made, refused and given up in real time; the clock stands still meanwhile.
    const auto settled = [&](int expected) {
        return QTest::qWaitFor([&] { return connections == expected && !log.empty(); }, 3000) &&
               (QTest::qWait(50), connections == expected);
    };
    ASSERT_TRUE(settled(1));
    for (const int waitMs : {1000, 2000, 4000, 8000}) {
        clock.advance(waitMs - 1);
        EXPECT_TRUE(settled(connections)) << "retried before " << waitMs << " ms";
        const int before = connections;
        clock.advance(1);
        EXPECT_TRUE(settled(before + 1)) << "not retried at " << waitMs << " ms";
    }
    ASSERT_EQ(log.size(), 1u);
    EXPECT_TRUE(log[0].starts_with("[t] mqtt: cannot connect to mqtt://127.0.0.1:")) << log[0];
    EXPECT_TRUE(log[0].ends_with("; trying again in 1 s")) << log[0];
}

}  // namespace
