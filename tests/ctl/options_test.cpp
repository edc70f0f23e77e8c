// projectorctl's command line: what it sends, and the usage errors that stop it before it
// sends anything.
#include "ctl/options.h"

#include <gtest/gtest.h>

#include "engine/status.h"

namespace {

ctl::Request parse(const QStringList& arguments) {
    return ctl::parseRequest(QStringList{QStringLiteral("projectorctl")} + arguments);
}

TEST(CtlOptions, UsageErrorsSayWhyInOneLine) {
    const std::pair<QStringList, std::string> cases[] = {
        {{}, "a command is needed"},
        {{"reboot"}, "unknown command \"reboot\""},
        {{"--bogus", "status"}, "Unknown option 'bogus'"},
        {{"press", "mute-on"}, "TR27K has no button named \"mute-on\""},
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

TEST(CtlOptions, WhatGoesToEachPort) {
    const ctl::Request tr52 = parse({"--model", "tr52", "--speed", "9600", "--port", "COM2",
                                     "--port", "rfc2217://[::1]:4002", "press", "logo-off"});
    EXPECT_EQ(tr52.model, &models::kTR52);
    EXPECT_EQ(tr52.settings, "9600,N,8,1");
    EXPECT_EQ(tr52.ports, (std::vector<std::string>{"COM2", "rfc2217://[::1]:4002"}));
    ASSERT_EQ(tr52.sends.size(), 1u);
    EXPECT_EQ(tr52.sends[0].code, "CF LOGO OFF");

    const ctl::Request held = parse({"press", "vol-down", "--times", "3", "--timeout", "90"});
    EXPECT_EQ(held.ports, std::vector<std::string>{"COM1"});
    EXPECT_EQ(held.settings, "19200,N,8,1");
    ASSERT_EQ(held.sends.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(held.sends[i].code, "C0A");
        EXPECT_EQ(held.sends[i].replyWindowMs, 90);
        EXPECT_EQ(held.sends[i].paceMs, i == 0 ? 0 : 250);
    }

    const ctl::Request watch = parse({"watch", "0.25"});
    EXPECT_EQ(watch.watchPeriodMs, 250);
    EXPECT_EQ(watch.sends.size(), engine::statusQueries().size());
    EXPECT_EQ(parse({"send", " CF FANSPEED MAX "}).sends.at(0).code, " CF FANSPEED MAX ");
}

}  // namespace
