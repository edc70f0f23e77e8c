// The listening helper on loopback: the bound on connections with its one log line, and
// keepalive on every connection it accepts.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <QTcpSocket>
#include <QTest>

#include "gateway/listener.h"
#include "link/keep_alive.h"

namespace {

int option(QTcpSocket& socket, int level, int name) {
    int value = -1;
    socklen_t size = sizeof value;
    ::getsockopt(int(socket.socketDescriptor()), level, name, &value, &size);
    return value;
}

TEST(Listener, BoundsItsConnectionsAndKeepsEachAlive) {
    std::vector<std::string> log;
    gateway::Listener listener("[hall] raw", {QHostAddress("127.0.0.1")}, 0, 2,
                               [&](const std::string& line) { log.push_back(line); });
    std::vector<QTcpSocket*> accepted;
    std::vector<std::pair<int, int>> keepAlive;
    listener.onConnection = [&](QTcpSocket* socket) {
        accepted.push_back(socket);
        keepAlive.emplace_back(option(*socket, SOL_SOCKET, SO_KEEPALIVE),
                               option(*socket, IPPROTO_TCP, TCP_KEEPIDLE));
    };
    listener.listen();
    EXPECT_FALSE(listener.beyondLoopback());
    EXPECT_EQ(listener.description(), "127.0.0.1:" + std::to_string(listener.port()));

    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < 4; ++i) {
        clients.push_back(std::make_unique<QTcpSocket>());
        clients.back()->connectToHost(QHostAddress::LocalHost, listener.port());
    }
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return std::ranges::count_if(clients, [](const auto& c) {
                   return c->state() == QAbstractSocket::UnconnectedState;
               }) == 2;
    }));
    EXPECT_EQ(accepted.size(), 2u);
    EXPECT_EQ(keepAlive, (std::vector<std::pair<int, int>>(2, {1, serial::kKeepAliveIdleS})));
    ASSERT_EQ(log.size(), 1u) << "one line for a burst";
    EXPECT_TRUE(log[0].starts_with("[hall] raw: connection from 127.0.0.1:")) << log[0];
    EXPECT_TRUE(log[0].ends_with(" refused: 2 connections open, the most max-connections allows")) << log[0];

    // Room again once one closes; the refusals meanwhile are counted.
    delete accepted[0];
    EXPECT_EQ(listener.connections(), 1);
    EXPECT_EQ(log.back(), "[hall] raw: 1 more connections were refused while 2 were open");
    QTcpSocket again;
    again.connectToHost(QHostAddress::LocalHost, listener.port());
    EXPECT_TRUE(QTest::qWaitFor([&] { return accepted.size() == 3; }));
}

}  // namespace
