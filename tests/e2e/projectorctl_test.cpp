// projectorctl as a user runs it, against the projector simulator on pseudo-terminals (and
// through ser2net): its output, its exit statuses, several ports, watch. Real time here: waits
// are bounded and poll the event loop.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>
#include <filesystem>
#include <optional>

#include "engine/display_form.h"
#include "engine/status.h"
#include "link/reconnecting_port.h"
#include "tests/support/panel_fixture.h"
#include "tests/support/ser2net.h"
#include "tests/support/simulator.h"

namespace {

using namespace std::chrono_literals;
using sim_support::Simulator;

struct Finished {
    int status = -1;  // -1: did not end normally
    std::string out, err;
};

Finished projectorctl(const QStringList& arguments) {
    QProcess p;
    p.start(QStringLiteral(PROJECTORCTL_PATH), arguments);
    Finished f;
    if (!p.waitForFinished(30'000)) {
        p.kill();
        p.waitForFinished();
    } else if (p.exitStatus() == QProcess::NormalExit) {
        f.status = p.exitCode();
    }
    f.out = p.readAllStandardOutput().toStdString();
    f.err = p.readAllStandardError().toStdString();
    return f;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
        lines.push_back(text.substr(at, end - at));
    }
    return lines;
}

// A simulator with a stable link in the temporary folder, as an adapter's stable name is.
struct Projector {
    explicit Projector(const std::string& model = "TR27K")
        : link(std::filesystem::temp_directory_path() /
               ("projectorctl-e2e-" + std::to_string(::getpid()) + "-" + std::to_string(serial++))),
          sim(Simulator::Options{
              PROJECTOR_SIM_PATH, model, link.string(), {"--warmup", "0", "--cooldown", "0"}}) {}

    QString port() const { return QString::fromStdString(link.string()); }

    static inline int serial = 0;
    std::filesystem::path link;
    Simulator sim;
};

// The JSON agrees with the panel: each reply given to the window after the same command shows
// the same RXD and STATUS; the keys are exactly those named.
TEST(CtlEndToEnd, StatusJsonAgreesWithThePanelForBothModels) {
    for (const models::Model* model : {&models::kTR27K, &models::kTR52}) {
        SCOPED_TRACE(std::string(model->name));
        Projector projector(std::string(model->name));
        const Finished f = projectorctl({"--model", QString::fromUtf8(model->name.data()), "--port",
                                         projector.port(), "--json", "status"});
        EXPECT_EQ(f.status, 0) << f.err;
        const std::vector<std::string> lines = linesOf(f.out);
        ASSERT_EQ(lines.size(), engine::statusQueries().size()) << f.out;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            QJsonParseError error;
            const QJsonObject o =
                QJsonDocument::fromJson(QByteArray::fromStdString(lines[i]), &error).object();
            ASSERT_EQ(error.error, QJsonParseError::NoError) << lines[i];
            EXPECT_EQ(o.keys(), QStringList({"command", "display", "ms", "ok", "port", "refused",
                                             "reply", "sent", "status"}));
            const std::string command = o.value("command").toString().toStdString();
            EXPECT_EQ(command, engine::statusQueries()[i]);
            EXPECT_EQ(o.value("port").toString(), projector.port());
            EXPECT_TRUE(o.value("ok").toBool());
            EXPECT_GE(o.value("ms").toDouble(), 0);

            PanelFixture panel(*model);
            panel.form->guarded([&] { panel.form->sendCommand(command); });
            panel.port->receive(o.value("reply").toString().toLatin1().toStdString());
            EXPECT_EQ(o.value("sent").toString().toStdString(), panel.txd());
            EXPECT_EQ(o.value("display").toString().toStdString(), panel.rxd());
            EXPECT_EQ(o.value("status").toString().toStdString(), panel.status()) << command;
            if (o.value("status").isNull()) {
                EXPECT_EQ(panel.status(), "") << command;
            }
        }
        EXPECT_NE(f.out.find(R"("status":" Stand by")"), std::string::npos);
        EXPECT_NE(f.out.find("\"status\":\"" + std::string(model->lampMode.reply01) + "\""),
                  std::string::npos);
    }
}

TEST(CtlEndToEnd, ExitStatuses) {
    Projector projector;
    const long before = projector.sim.commandCount();
    for (const QStringList& wrong :
         {QStringList{"press", "mute-on"}, QStringList{"--speed", "300", "status"},
          QStringList{"send", "C00", ""}, QStringList{"send", "C0\t0"}}) {
        const Finished f = projectorctl(QStringList{"--port", projector.port()} + wrong);
        EXPECT_EQ(f.status, 64) << wrong.join(' ').toStdString();
        EXPECT_EQ(f.out, "");
        EXPECT_EQ(linesOf(f.err).size(), 1u) << f.err;
    }
    EXPECT_EQ(projector.sim.commandCount(), before) << "a usage error sent something";

    Finished f = projectorctl({"--port", projector.port(), "press", "power-on"});
    EXPECT_EQ(f.status, 0) << f.err;
    EXPECT_EQ(f.out, " C 0 0 CR \t ACK CR \t\n");

    // The projector's error mark: it did not take the command.
    f = projectorctl({"--port", projector.port(), "send", "C0X"});
    EXPECT_EQ(f.status, 1) << f.err;
    EXPECT_EQ(f.out, " C 0 X CR \t ? CR \t\n");

    projector.sim.control("noreply on");
    f = projectorctl({"--port", projector.port(), "--timeout", "100", "send", "CR0"});
    EXPECT_EQ(f.status, 1) << f.err;
    EXPECT_EQ(f.out, " C R 0 CR \t X X X X\t\n");

    // The words of the panel's warning box for the same device.
    const std::string missing = projector.link.string() + "-unplugged";
    std::string expected;
    serial::ReconnectingPort panelPort;
    panelPort.setDevice(missing);
    try {
        panelPort.setPortOpen(true);
    } catch (const serial::SerialError& e) {
        expected = e.what();
    }
    f = projectorctl({"--port", QString::fromStdString(missing), "status"});
    EXPECT_EQ(f.status, 2);
    EXPECT_EQ(f.out, "");
    EXPECT_EQ(f.err, expected + "\n");
}

// A projector slower than the reply window: each reply is reported as late, after the command
// it answers, and none is taken for the next command's.
TEST(CtlEndToEnd, LateRepliesAreReportedAsSuchAndNotTakenForTheNextCommands) {
    Projector projector;
    projector.sim.control("delay 600");
    const QStringList codes{"CR0", "CR1", "CRA"};
    const Finished f =
        projectorctl(QStringList{"--port", projector.port(), "--json", "send"} + codes);
    EXPECT_EQ(f.status, 1) << f.err;
    const std::vector<std::string> lines = linesOf(f.out);
    ASSERT_EQ(lines.size(), 6u) << f.out;
    for (qsizetype k = 0; k < codes.size(); ++k) {
        SCOPED_TRACE(codes[k].toStdString());
        const QJsonObject sent =
            QJsonDocument::fromJson(QByteArray::fromStdString(lines[2 * k])).object();
        EXPECT_EQ(sent.value("command").toString(), codes[k]);
        EXPECT_FALSE(sent.value("ok").toBool());
        EXPECT_EQ(sent.value("reply").toString(), "");
        const QJsonObject late =
            QJsonDocument::fromJson(QByteArray::fromStdString(lines[2 * k + 1])).object();
        EXPECT_EQ(late.value("after").toString(), codes[k]);
        EXPECT_TRUE(late.value("unclaimed").toString().endsWith('\r')) << lines[2 * k + 1];
        EXPECT_GE(late.value("ms").toDouble(), 600);
    }
    EXPECT_EQ(
        QJsonDocument::fromJson(QByteArray::fromStdString(lines[1])).object().value("unclaimed"),
        "80\r");
}

TEST(CtlEndToEnd, SeveralPortsAtOnceInTheirOrder) {
    Projector first, second("TR52");
    second.sim.control("state 00");
    const Finished f = projectorctl({"--port", first.port(), "--port", second.port(), "status"});
    EXPECT_EQ(f.status, 0) << f.err;
    const std::vector<std::string> lines = linesOf(f.out);
    ASSERT_EQ(lines.size(), 18u) << f.out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_TRUE(
            lines[i].starts_with((i < 9 ? first.port() : second.port()).toStdString() + "\t"))
            << lines[i];
    }
    EXPECT_TRUE(lines[0].ends_with("\t Stand by"));
    EXPECT_TRUE(lines[9].ends_with("\t Power ON"));
}

// watch prints everything once, then what changes; it goes on across an unplug, prints all
// again once the device is back, and ends with status 0 on SIGTERM.
TEST(CtlEndToEnd, WatchReportsAChangeAndKeepsGoingAcrossAnUnplug) {
    Projector projector;
    QProcess watch;
    watch.start(QStringLiteral(PROJECTORCTL_PATH), {"--port", projector.port(), "watch", "0.2"});
    std::string out, err;
    const auto until = [&](const std::function<bool()>& done) {
        return QTest::qWaitFor(
            [&] {
                out += watch.readAllStandardOutput().toStdString();
                err += watch.readAllStandardError().toStdString();
                return done();
            },
            10'000);
    };
    ASSERT_TRUE(until([&] { return linesOf(out).size() == 9; })) << out << err;
    // Cooling clears the stand-by bit: CR0 and CRA change.
    projector.sim.control("state 20");
    ASSERT_TRUE(until([&] { return linesOf(out).size() == 11; })) << out << err;
    EXPECT_EQ(linesOf(out)[9], " C R 0 CR \t 2 0 CR \t Cooling down");
    EXPECT_EQ(linesOf(out)[10], " C R A CR \t 0 0 CR \t Video & Audio mute OFF");

    projector.sim.hangup();
    ASSERT_TRUE(until([&] {
        return err.find("The panel reconnects by itself") != std::string::npos;
    })) << err;
    projector.sim.plug();
    ASSERT_TRUE(until([&] { return linesOf(out).size() == 20; })) << out << err;
    EXPECT_EQ(linesOf(out)[11], " C R 0 CR \t 2 0 CR \t Cooling down");
    // Reported once; the rounds while it was away sent nothing and said nothing.
    EXPECT_EQ(linesOf(err).size(), 2u) << err;

    watch.terminate();
    ASSERT_TRUE(watch.waitForFinished(10'000));
    EXPECT_EQ(watch.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(watch.exitCode(), 0);
}

TEST(CtlEndToEnd, StatusThroughSer2netWithRfc2217) {
    if (sim_support::Ser2net::program().empty())
        GTEST_SKIP() << "ser2net is not installed (./go installs it)";
    Projector projector;
    sim_support::Ser2net server(projector.link.string());
    const Finished f =
        projectorctl({"--port", QString::fromStdString(server.rfc2217Address()), "status"});
    EXPECT_EQ(f.status, 0) << f.err;
    EXPECT_EQ(linesOf(f.out).size(), 9u) << f.out;
    EXPECT_TRUE(f.out.starts_with(" C R 0 CR \t 8 0 CR \t Stand by\n")) << f.out;
}

}  // namespace
