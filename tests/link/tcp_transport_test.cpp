// The TCP transport against a server of the test's own on 127.0.0.1: bytes both ways, a
// flooding server, a server that hangs up or is not there. Real sockets; every wait is
// bounded and ends as soon as its condition holds.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <functional>
#include <memory>

#include "link/device_address.h"
#include "link/rfc2217.h"
#include "link/serial_port.h"
#include "link/tcp_transport.h"

using serial::TcpTransport;

namespace {

bool waitFor(const std::function<bool()>& done, int ms = 3000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

const serial::LineSettings k19200{19200, QSerialPort::NoParity, QSerialPort::Data8, QSerialPort::OneStop};

// A transport connected to a server socket of the test's.
struct Connection {
    explicit Connection(const char* scheme = "socket", const char* host = "127.0.0.1",
                        QHostAddress::SpecialAddress listen = QHostAddress::LocalHost) {
        EXPECT_TRUE(server.listen(listen));
        transport = std::make_unique<TcpTransport>(serial::parseDeviceAddress(
            std::string(scheme) + "://" + host + ":" + std::to_string(server.serverPort())));
        transport->onConnected = [this] { connected = true; };
        transport->onReadyRead = [this] {
            const std::string piece = transport->readAll();
            largestPiece = std::max(largestPiece, piece.size());
            received += piece;
        };
        transport->onFailed = [this](const std::string& d) { failures.push_back(d); };
        transport->start(k19200);
        EXPECT_TRUE(waitFor([&] { return connected && server.hasPendingConnections(); }));
        peer.reset(server.nextPendingConnection());
    }
    std::string atServer(std::size_t bytes) {
        waitFor([&] { return std::size_t(peer->bytesAvailable()) >= bytes; });
        return peer->readAll().toStdString();
    }

    QTcpServer server;
    std::unique_ptr<QTcpSocket> peer;
    std::unique_ptr<TcpTransport> transport;
    bool connected = false;
    std::string received;
    std::size_t largestPiece = 0;
    std::vector<std::string> failures;
};

}  // namespace

TEST(TcpTransport, RawBytesGoBothWaysAsTheyAre) {
    Connection c;
    const std::string command("C00\r\xff\x00", 6);
    c.transport->write(command);
    EXPECT_EQ(c.atServer(command.size()), command);
    const std::string reply("\xff\xfb\x01" "80\r", 6);
    c.peer->write(reply.data(), qint64(reply.size()));
    EXPECT_TRUE(waitFor([&] { return c.received.size() == reply.size(); }));
    EXPECT_EQ(c.received, reply);
    EXPECT_TRUE(c.failures.empty());
}

TEST(TcpTransport, HostNamesAndBracketedIpv6AddressesAreReached) {
    for (const auto& [host, listen] : {std::pair{"localhost", QHostAddress::LocalHost},
                                       std::pair{"[::1]", QHostAddress::LocalHostIPv6}}) {
        SCOPED_TRACE(host);
        if (listen == QHostAddress::LocalHostIPv6 && !QTcpServer().listen(QHostAddress::LocalHostIPv6)) continue;
        Connection c("socket", host, listen);
        ASSERT_TRUE(c.peer);
        c.transport->write("CR0\r");
        EXPECT_EQ(c.atServer(4), "CR0\r");
    }
}

TEST(TcpTransport, FloodingServerIsTakenInBoundedPieces) {
    Connection c;
    const std::string flood(4 << 20, 'x');
    c.peer->write(flood.data(), qint64(flood.size()));
    EXPECT_TRUE(waitFor([&] { return c.received.size() == flood.size(); }, 10000));
    EXPECT_LE(c.largestPiece, std::size_t(TcpTransport::kReadBufferSize));
}

TEST(TcpTransport, ServerThatHangsUpOrIsNotThereIsOneFailure) {
    {
        Connection c;
        c.peer->close();
        EXPECT_TRUE(waitFor([&] { return !c.failures.empty(); }));
        waitFor([] { return false; }, 100);
        ASSERT_EQ(c.failures.size(), 1u);
        EXPECT_EQ(c.failures[0], "socket://127.0.0.1:" + std::to_string(c.server.serverPort()) +
                                     ": the server closed the connection");
        EXPECT_THROW(c.transport->write("C00\r"), serial::SerialError);
    }
    {
        QTcpServer closed;
        ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
        const std::string address = "socket://127.0.0.1:" + std::to_string(closed.serverPort());
        closed.close();
        TcpTransport transport(serial::parseDeviceAddress(address));
        std::vector<std::string> failures;
        transport.onFailed = [&](const std::string& d) { failures.push_back(d); };
        transport.start(k19200);
        EXPECT_TRUE(waitFor([&] { return !failures.empty(); }));
        waitFor([] { return false; }, 100);
        ASSERT_EQ(failures.size(), 1u);
        EXPECT_EQ(failures[0].find(address + ": "), 0u) << failures[0];
    }
}

TEST(TcpTransport, Rfc2217EscapesDataAndAnswersTheServer) {
    Connection c("rfc2217");
    const std::string start = serial::Rfc2217Session().start({19200, 8, 'N', 1});
    EXPECT_EQ(c.atServer(start.size()), start);  // the options and the line settings at connect
    c.transport->write(std::string("A\xff" "B", 3));
    EXPECT_EQ(c.atServer(4), std::string("A\xff\xff" "B", 4));
    // Data with a doubled IAC, and an offer of an option the client does not know (0xAA).
    const std::string fromServer("x\xff\xffy\xff\xfd\xaa", 7);
    c.peer->write(fromServer.data(), qint64(fromServer.size()));
    EXPECT_TRUE(waitFor([&] { return c.received == std::string("x\xffy", 3); }));
    EXPECT_EQ(c.atServer(3), std::string("\xff\xfc\xaa", 3));  // WONT
    EXPECT_TRUE(c.failures.empty());
}

TEST(TcpTransport, Rfc2217ServerThatBreaksOffOrFloodsANegotiationIsOneFailure) {
    const std::pair<std::string, const char*> cases[] = {
        {std::string("\xff\xfa\x2c\x01", 4), "the server closed the connection"},  // then hangs up
        {std::string("\xff\xfa\x2c") + std::string(4096, 'g'), "the server broke the Telnet protocol"},
    };
    for (const auto& [bytes, wanted] : cases) {
        SCOPED_TRACE(wanted);
        Connection c("rfc2217");
        c.peer->write(bytes.data(), qint64(bytes.size()));
        if (bytes.size() < 8) {
            c.peer->flush();
            c.peer->close();
        }
        EXPECT_TRUE(waitFor([&] { return !c.failures.empty(); }));
        waitFor([] { return false; }, 100);
        ASSERT_EQ(c.failures.size(), 1u);
        EXPECT_NE(c.failures[0].find(wanted), std::string::npos) << c.failures[0];
        EXPECT_EQ(c.received, "");
    }
}
