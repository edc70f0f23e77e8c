// projectord as an administrator runs it, against the projector simulator: projectorctl and
// the panel through its shared line, several clients at once, the line lost and back, a client
// that breaks the rules, the end on SIGTERM. Real time here: waits are bounded and poll the
// event loop.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractButton>

#include "panel/widgets.h"
#include "tests/e2e/gateway_fixture.h"
#include "tests/e2e/panel_on_line.h"

namespace {

using namespace e2e;

TEST(ProjectordEndToEnd, ProjectorctlThroughTheSharedLineForBothModels) {
    for (const std::string model : {"TR27K", "TR52"}) {
        SCOPED_TRACE(model);
        Gateway gateway(model);
        const Finished f = projectorctl(
            {"--model", QString::fromStdString(model), "--port", gateway.rawPort(), "--json", "status"});
        EXPECT_EQ(f.status, 0) << f.err;
        const std::vector<std::string> lines = linesOf(f.out);
        ASSERT_EQ(lines.size(), 9u) << f.out;
        EXPECT_NE(lines[0].find(R"("status":" Stand by")"), std::string::npos) << lines[0];
        EXPECT_NE(lines[6].find(model + " SIM"), std::string::npos) << lines[6];
        for (const std::string& line : lines) EXPECT_NE(line.find(R"("ok":true)"), std::string::npos) << line;
    }
}

// The panel presses POWER ON through the shared line while projectorctl asks for the status:
// each gets its own replies, and the projector comes on.
TEST(ProjectordEndToEnd, ThePanelAndProjectorctlAtOnce) {
    Gateway gateway;
    PanelOnLine panel(gateway.rawPort());
    Form1& form = panel.form;
    const std::vector<std::string>& warnings = panel.warnings;

    QProcess status;
    status.start(QStringLiteral(PROJECTORCTL_PATH), {"--port", gateway.rawPort(), "status"});
    ASSERT_TRUE(waitFor([&] { return form.port().portOpen(); }));
    qobject_cast<QAbstractButton*>(form.controls().find("Command17"))->click();
    EXPECT_TRUE(waitFor([&] { return form.Label12->text() == " ACK CR "; })) << form.Label12->text();
    const Finished f = finish(status);
    EXPECT_EQ(f.status, 0) << f.err;
    EXPECT_EQ(linesOf(f.out).size(), 9u) << f.out;
    // The STATUS key once a reply window until the projector is on.
    bool on = false;
    for (int i = 0; i < 10 && !on; ++i) {
        qobject_cast<QAbstractButton*>(form.controls().find("Command44"))->click();
        on = waitFor([&] { return form.Label22->text() == " Power ON"; }, 600);
    }
    EXPECT_TRUE(on) << form.Label22->text();
    EXPECT_TRUE(warnings.empty()) << warnings.front();
}

// Two clients asking at once each hear only their own replies; one that sends a line without
// end is closed with a log line, and the others go on.
TEST(ProjectordEndToEnd, EachClientGetsItsOwnRepliesAndAFloodStopsNoOne) {
    Gateway gateway;
    RawClient a(gateway.raw), b(gateway.raw), flood(gateway.raw);
    std::string askA, askB;
    for (int i = 0; i < 20; ++i) askA += "CR1\r", askB += "CR3\r";
    a.send(askA);
    b.send(askB);
    flood.send(std::string(40'000, 'x'));
    ASSERT_TRUE(a.receive(2 * 20));
    ASSERT_TRUE(b.receive(6 * 20));
    std::string wantA, wantB;
    for (int i = 0; i < 20; ++i) wantA += "1\r", wantB += "01234\r";
    EXPECT_EQ(a.got, wantA);
    EXPECT_EQ(b.got, wantB);
    EXPECT_TRUE(flood.closed());
    EXPECT_TRUE(gateway.logSays("closed: more than 32768 bytes without a carriage return")) << gateway.log;
    a.send("C00\r");
    EXPECT_TRUE(a.receive(2 * 20 + 2));
    EXPECT_EQ(a.got.substr(40), "\x06\r");
}

// The projector unplugged: every client is let go, a new one is told why, projectorctl says
// the port was lost; plugged in again, the line is back. SIGTERM ends the daemon with 0.
TEST(ProjectordEndToEnd, TheLineLostAndBackAndTheEnd) {
    Gateway gateway;
    RawClient client(gateway.raw);
    gateway.sim.hangup();
    EXPECT_TRUE(gateway.logSays("line lost: ")) << gateway.log;
    EXPECT_TRUE(client.closed());
    RawClient late(gateway.raw);
    EXPECT_TRUE(late.closed());
    late.got += late.socket.readAll().toStdString();
    EXPECT_TRUE(late.got.starts_with("projectord: the projector's line is down: ")) << late.got;
    Finished f = projectorctl({"--port", gateway.rawPort(), "send", "CR0"});
    EXPECT_EQ(f.status, 2) << f.out << f.err;

    gateway.sim.plug();
    EXPECT_TRUE(gateway.logSays("line back", 8000)) << gateway.log;
    f = projectorctl({"--port", gateway.rawPort(), "send", "CR0"});
    EXPECT_EQ(f.status, 0) << f.err;
    EXPECT_EQ(f.out, " C R 0 CR \t 8 0 CR \t Stand by\n");

    gateway.daemon.terminate();
    ASSERT_TRUE(gateway.daemon.waitForFinished(5000));
    EXPECT_EQ(gateway.daemon.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(gateway.daemon.exitCode(), 0);
    EXPECT_TRUE(gateway.sim.waitForClient(false)) << "the line was not released";
}

// A client that hangs up frees its place at once: with room for one connection, the next
// client is served right after.
TEST(ProjectordEndToEnd, AClientThatHangsUpFreesItsPlaceAtOnce) {
    Gateway gateway;
    gateway.daemon.terminate();
    gateway.daemon.waitForFinished(5000);
    gateway.log.clear();
    gateway.daemon.start(QStringLiteral(PROJECTORD_PATH),
                         {"--port", QString::fromStdString(gateway.link.string()), "--raw",
                          QString::number(gateway.raw), "--max-connections", "1"});
    ASSERT_TRUE(gateway.logSays("line up")) << gateway.log;
    // The daemon notices a hang-up within moments, not seconds.
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(waitFor(
            [&] {
                RawClient client(gateway.raw);
                client.send("CR1\r");
                const bool served = client.receive(2, 100);
                client.socket.disconnectFromHost();
                return served;
            },
            1000))
            << "client " << i << " was not served";
    }
}

TEST(ProjectordEndToEnd, CheckAndAWrongConfigurationExit78) {
    QProcess p;
    p.start(QStringLiteral(PROJECTORD_PATH), {"--port", "/dev/ttyUSB0", "--raw", "4001", "--check"});
    Finished f = finish(p);
    EXPECT_EQ(f.status, 0) << f.err;
    p.start(QStringLiteral(PROJECTORD_PATH), {"--port", "/dev/ttyUSB0", "--raw", "4001", "--listen", "0.0.0.0"});
    f = finish(p);
    EXPECT_EQ(f.status, 78);
    EXPECT_EQ(f.err,
              "projectord: --raw: listens beyond loopback (0.0.0.0) and raw has no authentication; "
              "set allow-unauthenticated = true to let anyone who reaches it in on purpose, or "
              "listen on loopback only\n");
}

}  // namespace
