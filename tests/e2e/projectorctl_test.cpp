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

// Runs it to its end; its output goes to `outputFile` when one is given.
Finished projectorctl(const QStringList& arguments, const QString& outputFile = {}) {
    QProcess p;
    if (!outputFile.isEmpty()) p.setStandardOutputFile(outputFile);
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

constexpr auto kWatchGoesOn =
    "projectorctl watch goes on and tries the port again about once a second.";

// projectorctl watch running; what it printed so far.
struct Watching {
    explicit Watching(const QStringList& arguments) {
        process.start(QStringLiteral(PROJECTORCTL_PATH), arguments);
    }
    ~Watching() { end(); }

    // Waits (bounded) until `done` holds for what was printed.
    bool until(const std::function<bool()>& done) {
        return QTest::qWaitFor(
            [&] {
                out += process.readAllStandardOutput().toStdString();
                err += process.readAllStandardError().toStdString();
                return done();
            },
            10'000);
    }
    std::size_t lines() const { return linesOf(out).size(); }

    // Ends it as a service manager does; its exit status, -1 when it did not end normally.
    int end() {
        process.terminate();
        if (process.state() != QProcess::NotRunning && !process.waitForFinished(10'000))
            process.kill();
        process.waitForFinished();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    QProcess process;
    std::string out, err;
};

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
          QStringList{"send", "C00", ""}, QStringList{"send", "C0\t0"},
          QStringList{"--port", projector.port(), "status"},
          QStringList{"--speed", "9600", "--port", "socket://127.0.0.1:9", "status"}}) {
        const Finished f = projectorctl(QStringList{"--port", projector.port()} + wrong);
        EXPECT_EQ(f.status, 64) << wrong.join(' ').toStdString();
        EXPECT_EQ(f.out, "");
        EXPECT_EQ(linesOf(f.err).size(), 1u) << f.err;
    }
    const Finished help = projectorctl({"--port", projector.port(), "--help-all", "send", "C00"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.starts_with("Usage: ")) << help.out;
    EXPECT_EQ(projector.sim.commandCount(), before) << "a usage error or --help-all sent something";

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
    std::vector<QJsonObject> lines;
    for (const std::string& line : linesOf(f.out))
        lines.push_back(QJsonDocument::fromJson(QByteArray::fromStdString(line)).object());
    ASSERT_EQ(lines.size(), 6u) << f.out;
    for (qsizetype k = 0; k < codes.size(); ++k) {
        const QJsonObject &sent = lines[2 * k], &late = lines[2 * k + 1];
        EXPECT_EQ(sent.value("command").toString(), codes[k]);
        EXPECT_EQ(sent.value("reply").toString(), "") << f.out;
        EXPECT_EQ(late.value("after").toString(), codes[k]) << f.out;
        EXPECT_GE(late.value("ms").toDouble(), 600) << f.out;
    }
    EXPECT_EQ(lines[1].value("unclaimed"), "80\r");
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
    Watching watch({"--port", projector.port(), "watch", "0.2"});
    ASSERT_TRUE(watch.until([&] { return watch.lines() == 9; })) << watch.out << watch.err;
    // Cooling clears the stand-by bit: CR0 and CRA change.
    projector.sim.control("state 20");
    ASSERT_TRUE(watch.until([&] { return watch.lines() == 11; })) << watch.out << watch.err;
    EXPECT_EQ(linesOf(watch.out)[9], " C R 0 CR \t 2 0 CR \t Cooling down");
    EXPECT_EQ(linesOf(watch.out)[10], " C R A CR \t 0 0 CR \t Video & Audio mute OFF");

    projector.sim.hangup();
    ASSERT_TRUE(watch.until([&] { return watch.err.find(kWatchGoesOn) != std::string::npos; }))
        << watch.err;
    projector.sim.plug();
    ASSERT_TRUE(watch.until([&] { return watch.lines() == 20; })) << watch.out << watch.err;
    EXPECT_EQ(linesOf(watch.out)[11], " C R 0 CR \t 2 0 CR \t Cooling down");
    // Reported once; the rounds while it was away sent nothing and said nothing.
    EXPECT_EQ(linesOf(watch.err).size(), 2u) << watch.err;
    EXPECT_EQ(watch.end(), 0);
}

// A device or a server not there when watch starts is reported, and watched once it is there,
// as a lost one is.
TEST(CtlEndToEnd, WatchWaitsForWhatIsNotThereAtStart) {
    Projector projector;
    projector.sim.hangup();
    {
        Watching watch({"--port", projector.port(), "watch", "0.2"});
        ASSERT_TRUE(watch.until([&] { return watch.err.find(kWatchGoesOn) != std::string::npos; }))
            << watch.err;
        EXPECT_TRUE(
            watch.err.starts_with(projector.port().toStdString() + ": No such file or directory\n"))
            << watch.err;
        projector.sim.plug();
        ASSERT_TRUE(watch.until([&] { return watch.lines() == 9; })) << watch.out << watch.err;
        EXPECT_EQ(watch.end(), 0);
    }
    if (sim_support::Ser2net::program().empty())
        GTEST_SKIP() << "ser2net is not installed (./go installs it)";
    sim_support::Ser2net server(projector.link.string());
    server.stop();
    Watching watch({"--port", QString::fromStdString(server.rawAddress()), "watch", "0.2"});
    ASSERT_TRUE(watch.until([&] { return watch.err.find(kWatchGoesOn) != std::string::npos; }))
        << watch.err;
    EXPECT_EQ(watch.err, server.rawAddress() + ": Connection refused\n" + kWatchGoesOn + "\n");
    server.start();
    ASSERT_TRUE(watch.until([&] { return watch.lines() == 9; })) << watch.out << watch.err;
    EXPECT_EQ(watch.end(), 0);
}

// Output that cannot be written is an error, whatever the command; what was asked of the
// projector has been done all the same.
TEST(CtlEndToEnd, OutputThatCannotBeWrittenFails) {
    Projector projector;
    for (const QStringList& arguments : {QStringList{"list"}, QStringList{"--help"},
                                         QStringList{"--port", projector.port(), "status"},
                                         QStringList{"--port", projector.port(), "watch", "0.2"}}) {
        const Finished f = projectorctl(arguments, QStringLiteral("/dev/full"));
        EXPECT_EQ(f.status, 74) << arguments.join(' ').toStdString();
        EXPECT_EQ(f.err,
                  "projectorctl: the output could not be written: No space left on device\n");
    }
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
