// projectorctl's command line: what it sends, and the usage errors that stop it before it
// sends anything.
#include "ctl/options.h"
#include "engine/shown_text.h"
#include "ctl/report.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

namespace {

// A device, its stable name (a symbolic link to it), and COM1 and COM2 assigned by variables.
struct Wiring {
    Wiring() {
        QFile(device()).open(QIODevice::WriteOnly);
        QFile::link(device(), stableName());
        assignment.environment = [this](const std::string& name) {
            if (name == "PROJECTOR_COM1") return stableName().toStdString();
            if (name == "PROJECTOR_COM2") return std::string("socket://hall-server:4001");
            return std::string();
        };
        assignment.adapters = [] { return std::vector<serial::Adapter>{}; };
    }
    QString device() const { return folder.filePath("ttyUSB0"); }
    QString stableName() const { return folder.filePath("usb-FTDI_A1B2-if00-port0"); }

    QTemporaryDir folder;
    serial::PortAssignment assignment;
};

ctl::Request parse(const QStringList& arguments) {
    serial::PortAssignment byDefault;  // COMn is /dev/ttyS(n-1)
    byDefault.adapters = [] { return std::vector<serial::Adapter>{}; };
    return ctl::parseRequest(QStringList{QStringLiteral("projectorctl")} + arguments, byDefault);
}

TEST(CtlOptions, UsageErrorsSayWhyInOneLine) {
    const Wiring wiring;
    const QString device = wiring.device(), stable = wiring.stableName();
    const std::pair<QStringList, std::string> cases[] = {
        {{}, "a command is needed"},
        {{"reboot"}, "unknown command \"reboot\""},
        {{"--bogus", "status"}, "Unknown option 'bogus'"},
        {{"--\x1b[2J", "status"}, "Unknown option '\\x1B[2J'"},
        {{"press", "mute-on"},
         "TR27K has no button named \"mute-on\"; did you mean \"sound-mute-on\"?"},
        {{"press", "zoom-up"}, "did you mean \"d-zoom-up\"?"},
        {{"--model", "TR52", "press", "l-mode"}, "TR52 has no button named \"l-mode\""},
        {{"--model", "TR27K", "press", "logo-off"}, "TR27K has no button named \"logo-off\""},
        {{"press", "power-on", "--times", "2"}, "power-on is not a hold key"},
        {{"press", "vol-up", "--times", "0"}, "--times takes a whole number from 1"},
        {{"status", "--times", "2"}, "--times goes with press only"},
        {{"send"}, "send needs at least one code"},
        {{"send", "CR0", ""}, "an empty code"},
        {{"send", "C0\r"}, "the code \"C0\\x0D\" holds a character outside printable ASCII"},
        {{"send", "C\u00e90"}, "the code \"C\u00e90\" holds a character outside printable ASCII"},
        {{"send", "\U0001F600"}, "the code \"\U0001F600\" holds"},
        {{"--model", "TR99", "status"}, "--model takes TR27K or TR52"},
        {{"--speed", "38400", "status"}, "--speed takes 19200 or 9600"},
        {{"--timeout", "0", "status"}, "--timeout takes a whole number from 1"},
        {{"--port", "socket://host", "status"}, "--port \"socket://host\": no port number"},
        {{"--port", "socket://\x1b]0;x\x07:1", "status"},
         "--port \"socket://\\x1B]0;x\\x07:1\": \"\\x1B]0;x\\x07\" is not a host name"},
        {{"--port", "", "status"}, "--port takes a port"},
        {{"status", "now"}, "status takes no arguments"},
        {{"watch", "0"}, "watch takes SECONDS above 0"},
        {{"watch", "5", "6"}, "watch takes at most one argument"},
        // The speed of a raw TCP port is the server's, named or assigned.
        {{"--speed", "9600", "--port", "socket://hall-server:4002", "status"},
         "--speed: socket://hall-server:4002: the line settings of a raw TCP port are those set "
         "on the server. Use an rfc2217:// address of the server to choose them from "
         "projectorctl."},
        {{"--speed", "19200", "--port", "COM2", "status"}, "--speed: socket://hall-server:4001:"},
        // One device, two texts.
        {{"--port", device, "--port", device, "status"},
         "--port " + device.toStdString() + " and --port " + device.toStdString() +
             " reach the same device, " + device.toStdString() + ": give each projector once"},
        {{"--port", "COM1", "--port", "com1", "status"}, "--port COM1 and --port com1 reach"},
        {{"--port", "COM1", "--port", device, "status"},
         "reach the same device, " + stable.toStdString()},
        {{"--port", stable, "--port", device, "status"}, "reach the same device"},
        {{"--port", "socket://Hall-Server:4001", "--port", "COM2", "status"},
         "reach the same device"},
        {{"--port", "socket://[::1]:4001", "--port", "rfc2217://[0::1]:4001", "status"},
         "reach the same device"},
    };
    for (const auto& [arguments, reason] : cases) {
        try {
            ctl::parseRequest(QStringList{QStringLiteral("projectorctl")} + arguments,
                              wiring.assignment);
            ADD_FAILURE() << arguments.join(' ').toStdString() << " was taken";
        } catch (const ctl::UsageError& e) {
            const std::string what = e.what();
            EXPECT_NE(what.find(reason), std::string::npos) << what;
            // One line, with nothing in it that acts on the terminal.
            EXPECT_EQ(what, engine::shownText(what, what.size())) << what;
        }
    }
    // What stays apart: two servers, or two ports of one server.
    for (const QStringList& apart :
         {QStringList{"--port", "socket://a:4001", "--port", "socket://b:4001"},
          QStringList{"--port", "COM2", "--port", "rfc2217://hall-server:4002"},
          QStringList{"--speed", "9600", "--port", "rfc2217://hall-server:4002"}}) {
        EXPECT_NO_THROW(ctl::parseRequest(
            QStringList{"projectorctl"} + apart + QStringList{"status"}, wiring.assignment));
    }
}

// What an adapter's firmware calls it reaches the terminal as text.
TEST(CtlOptions, PortsShowWhatAdaptersSayAsText) {
    const serial::Adapter adapter{"/dev/ttyUSB0", "", "FT232R\x1b[2J", "A1\xc3\xa9"};
    EXPECT_EQ(ctl::portsText({adapter}, false), "/dev/ttyUSB0\t\tFT232R\\x1B[2J\tA1\u00e9\n");
}

TEST(CtlOptions, ModelSpeedPortsAndTheWatchPeriod) {
    const ctl::Request r = parse({"--model", "tr52", "--speed", "9600", "--port", "COM2", "--port",
                                  "rfc2217://[::1]:4002", "watch", "0.25"});
    EXPECT_EQ(r.model, &models::kTR52);
    EXPECT_EQ(r.settings, "9600,N,8,1");
    EXPECT_EQ(r.ports, (std::vector<std::string>{"COM2", "rfc2217://[::1]:4002"}));
    EXPECT_EQ(r.watchPeriodMs, 250);
    EXPECT_EQ(parse({"status"}).ports, std::vector<std::string>{"COM1"});
    EXPECT_EQ(parse({"status"}).settings, "19200,N,8,1");
    // Qt's --help-all is help, whatever follows it.
    EXPECT_EQ(parse({"--help-all", "send", "C00"}).command, ctl::Request::Command::Help);
}

}  // namespace
