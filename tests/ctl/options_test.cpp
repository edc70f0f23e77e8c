// projectorctl's command line: what it sends, and the usage errors that stop it before it
// sends anything.
#include "ctl/options.h"

#include <gtest/gtest.h>

namespace {

ctl::Request parse(const QStringList& arguments) {
    return ctl::parseRequest(QStringList{QStringLiteral("projectorctl")} + arguments);
}

TEST(CtlOptions, UsageErrorsSayWhyInOneLine) {
    const std::pair<QStringList, std::string> cases[] = {
        {{}, "a command is needed"},
        {{"reboot"}, "unknown command \"reboot\""},
        {{"--bogus", "status"}, "Unknown option 'bogus'"},
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
        {{"send", "C0\r"}, "the code \"C0\\x0d\" holds a character outside printable ASCII"},
        {{"send", "C\u00e90"}, "the code \"C\\xe90\" holds a character outside printable ASCII"},
        {{"--model", "TR99", "status"}, "--model takes TR27K or TR52"},
        {{"--speed", "38400", "status"}, "--speed takes 19200 or 9600"},
        {{"--timeout", "0", "status"}, "--timeout takes a whole number from 1"},
        {{"--port", "/dev/ttyUSB0", "--port", "/dev/ttyUSB0", "status"},
         "--port /dev/ttyUSB0 is given twice"},
        {{"--port", "socket://host", "status"}, "no port number"},
        {{"--port", "", "status"}, "--port takes a port"},
        {{"status", "now"}, "status takes no arguments"},
        {{"watch", "0"}, "watch takes SECONDS above 0"},
        {{"watch", "5", "6"}, "watch takes at most one argument"},
    };
    for (const auto& [arguments, reason] : cases) {
        try {
            parse(arguments);
            ADD_FAILURE() << arguments.join(' ').toStdString() << " was taken";
        } catch (const ctl::UsageError& e) {
            const std::string what = e.what();
            EXPECT_NE(what.find(reason), std::string::npos) << what;
            EXPECT_EQ(what.find('\n'), std::string::npos) << what;
        }
    }
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
}

}  // namespace
