// PJLink's lines as the parser reads them, and the PJLink port on the virtual clock in front
// of the fake projector line: the idle end, the answer by its deadline, a client that hangs
// up, a client that speaks no PJLink. (The cache and what makes it stale are proved end to
// end, row by row of the mapping.)
#include "gateway/pjlink.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTcpSocket>
#include <QTest>

#include "gateway/pjlink_protocol.h"
#include "session/sends.h"
#include "tests/support/fake_line.h"

namespace {

using gateway::pjlink::Error;
using Kind = gateway::pjlink::Parsed::Kind;

TEST(PjlinkLine, ParsedAsTheStandardFramesIt) {
    struct Case {
        std::string line;
        Kind kind;
        std::string header;
        std::string parameter;
        Error error = Error::Undefined;
    };
    const std::string longest = "%1NAME " + std::string(128, 'x');  // 136 bytes with its CR
    const Case cases[] = {
        {"%1POWR ?", Kind::Command, "%1POWR", "?"},
        {"%1INPT 11", Kind::Command, "%1INPT", "11"},
        {"\n%1CLSS ?", Kind::Command, "%1CLSS", "?"},  // the LF of a CR LF line end before
        {longest, Kind::Command, "%1NAME", std::string(128, 'x')},
        {longest + "x", Kind::Invalid, "%1NAME", "", Error::Parameter},
        {"%1POWR", Kind::Invalid, "%1POWR", "", Error::Parameter},
        {"%1POWR ", Kind::Invalid, "%1POWR", "", Error::Parameter},
        {"%1POWR=?", Kind::Invalid, "%1POWR", "", Error::Parameter},
        {"%2POWR ?", Kind::Invalid, "%2POWR", "", Error::Undefined},
        {"%1PO ?", Kind::Invalid, "%1PO", "", Error::Undefined},
        {"", Kind::Empty, "", ""},
        {"\n", Kind::Empty, "", ""},
        {"POWR ?", Kind::Foreign, "", ""},
        {"%", Kind::Foreign, "", ""},
        {std::string("%1\x1b[2J ?"), Kind::Foreign, "", ""},
        {std::string("%1P\0WR ?", 8), Kind::Foreign, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const gateway::pjlink::Parsed parsed = gateway::pjlink::parseLine(c.line);
        EXPECT_EQ(parsed.kind, c.kind);
        EXPECT_EQ(parsed.header, c.header);
        EXPECT_EQ(parsed.parameter, c.parameter);
        if (c.kind == Kind::Invalid) {
            EXPECT_EQ(parsed.error, c.error);
        }
    }
}

// The standard's own example, and the digest taken off the front of a line only when it is
// 32 hex digits right before the command.
TEST(PjlinkLine, TheDigestInFrontOfACommand) {
    const std::string digest = gateway::pjlinkDigest("498e4a67", "JBMIAProjectorLink");
    EXPECT_EQ(digest, "5d8409bc1c3fa39749434aa3a5c38682");
    EXPECT_TRUE(gateway::pjlink::sameDigest(digest, "5D8409BC1C3FA39749434AA3A5C38682"));
    EXPECT_FALSE(gateway::pjlink::sameDigest(digest, "5d8409bc1c3fa39749434aa3a5c38683"));
    EXPECT_FALSE(gateway::pjlink::sameDigest(digest, digest.substr(1)));

    const std::string line = digest + "%1POWR 1";
    const auto split = gateway::pjlink::splitDigest(line);
    EXPECT_EQ(split.digest, digest);
    EXPECT_EQ(split.command, "%1POWR 1");
    for (const std::string& other :
         std::vector<std::string>{"%1POWR 1", digest + " %1POWR 1", digest.substr(1) + "%1POWR 1",
                                  "5d8409bc1c3fa39749434aa3a5c3868g%1POWR 1"}) {
        EXPECT_FALSE(gateway::pjlink::splitDigest(other).digest) << other;
    }
}

// The PJLink port of "hall" on a free port of 127.0.0.1, its timers on the fixture's clock.
struct PjlinkFixture : LineFixture {
    PjlinkFixture()
        : LineFixture(10, [](gateway::ProjectorConfig& p) { p.pjlink = 0; }),
          server(*line, config(), clock, [this](const std::string& l) { log.push_back(l); }) {
        server.listener().listen();
        startQuietly();
    }
    static gateway::Config config() {
        gateway::Config c;
        c.listen = {QHostAddress(QHostAddress::LocalHost)};
        return c;
    }

    // A controller's connection, greeted.
    std::unique_ptr<QTcpSocket> connect() {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QHostAddress::LocalHost, server.listener().port());
        EXPECT_EQ(received(*socket), "PJLINK 0\r");
        return socket;
    }
    void send(QTcpSocket& socket, const std::string& line) {
        socket.write(line.data(), qint64(line.size()));
        socket.flush();
    }
    // What has come by now: the sockets are served without the clock moving.
    std::string received(QTcpSocket& socket) {
        std::string got;
        // Nothing having come is an answer too: what was read says it.
        (void)QTest::qWaitFor([&] { return socket.bytesAvailable() > 0; }, 200);
        got += socket.readAll().toStdString();
        return got;
    }
    // The answer, the clock moving a millisecond at a time until it comes (at most `ms`).
    std::string answer(QTcpSocket& socket, int ms = 3000) {
        std::string got;
        for (int i = 0; i <= ms && got.find('\r') == std::string::npos; ++i) {
            got += socket.readAll().toStdString();
            if (got.find('\r') != std::string::npos) break;
            advance(1);
            for (int pass = 0; pass < 5; ++pass) QCoreApplication::processEvents();
        }
        return got;
    }
    bool open(QTcpSocket& socket) {
        // Still connected after the wait is the answer sought.
        (void)QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::UnconnectedState; }, 200);
        return socket.state() == QAbstractSocket::ConnectedState;
    }

    std::vector<std::string> log;
    gateway::PjlinkServer server;
};

// A connection that sends no command for 30 s is closed, quietly; each command starts the
// 30 s again.
TEST(PjlinkPort, AnIdleConnectionIsClosedAfter30s) {
    PjlinkFixture f;
    auto socket = f.connect();
    f.advance(20'000);
    f.send(*socket, "%1CLSS ?\r");
    EXPECT_EQ(f.received(*socket), "%1CLSS=1\r");
    f.advance(29'999);
    EXPECT_TRUE(f.open(*socket));
    f.advance(1);
    EXPECT_FALSE(f.open(*socket));
    EXPECT_TRUE(f.log.empty()) << f.log.front();
}

// A query the cache cannot answer waits its turn on the line; when the line has not answered
// by the deadline it is ERR4, and its reply, once it comes, is handed to no later command.
TEST(PjlinkPort, AnAnswerTheLineHasNotGivenByTheDeadlineIsErr4) {
    PjlinkFixture f;
    auto socket = f.connect();
    auto busy = f.line->join("busy");
    f.projector.script["C11"] = {};  // a picture mode: a 2000 ms window, unanswered here
    f.submit(*busy, {session::codeSend("C11")});
    f.advance(1);
    f.send(*socket, "%1POWR ?\r");
    EXPECT_EQ(f.received(*socket), "");
    f.advance(gateway::PjlinkServer::kAnswerByMs - 1);
    EXPECT_EQ(socket->readAll().toStdString(), "");
    EXPECT_EQ(f.answer(*socket, 1), "%1POWR=ERR4\r");
    f.send(*socket, "%1INPT ?\r");
    EXPECT_EQ(f.answer(*socket), "%1INPT=11\r");
    EXPECT_EQ(f.projector.commands(), (std::vector<std::string>{"C11", "CR0", "CR1"}));
}

// A client that sends its commands and hangs up at once has them carried out all the same.
TEST(PjlinkPort, AClientThatHangsUpHasItsCommandsCarriedOut) {
    PjlinkFixture f;
    auto socket = f.connect();
    f.send(*socket, "%1AVMT 31\r%1INPT 12\r");
    socket->disconnectFromHost();
    f.advance(100);
    EXPECT_EQ(f.projector.commands(), (std::vector<std::string>{"C0D", "C0B", "C06"}));
}

// A line that is no PJLink command ends the connection with a log line; the port goes on.
TEST(PjlinkPort, ALineThatIsNoPjlinkCommandEndsTheConnection) {
    PjlinkFixture f;
    auto socket = f.connect();
    f.send(*socket, std::string("GET / HTTP/1.1\r\n\x01\x02", 19));
    EXPECT_FALSE(f.open(*socket));
    ASSERT_EQ(f.log.size(), 1u);
    EXPECT_TRUE(f.log[0].starts_with("[hall] pjlink: 127.0.0.1:")) << f.log[0];
    EXPECT_TRUE(f.log[0].ends_with(" closed: not a PJLink command: GET / HTTP/1.1")) << f.log[0];
    auto next = f.connect();
    f.send(*next, "%1INF2 ?\r");
    EXPECT_EQ(f.received(*next), "%1INF2=TR27K\r");
}

}  // namespace
