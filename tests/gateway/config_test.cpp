// projectord's configuration: files and option sets, good and bad, with the exact problems
// reported; the rule for ports beyond loopback; secrets kept from others.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "gateway/config.h"

namespace {

std::vector<std::string> problemsOf(const std::string& text) {
    try {
        gateway::parseConfigText(text, "p.conf");
    } catch (const gateway::ConfigError& e) {
        return e.problems();
    }
    return {};
}

TEST(Config, AGoodFile) {
    const gateway::Config c = gateway::parseConfigText(R"(# the building
listen = 0.0.0.0 ::
allow-unauthenticated = true
max-connections = 20

[hall]
port = /dev/serial/by-id/usb-FTDI-if00
model = tr52
name = Großer Hörsaal
pjlink = 4352
pjlink-password = JBMIAProjectorLink
raw = 4001
poll = 5

[lab]
port = socket://lab-server:4001
speed = 9600
listen = 127.0.0.1
raw = 4002
)",
                                                       "p.conf");
    EXPECT_EQ(c.listen.size(), 2u);
    EXPECT_EQ(c.maxConnections, 20);
    ASSERT_EQ(c.projectors.size(), 2u);
    const gateway::ProjectorConfig& hall = c.projectors[0];
    EXPECT_EQ(hall.id, "hall");
    EXPECT_EQ(hall.name, "Großer Hörsaal");
    EXPECT_EQ(hall.model, &models::kTR52);
    EXPECT_EQ(hall.pjlink, 4352);
    EXPECT_EQ(hall.pjlinkPassword, "JBMIAProjectorLink");
    EXPECT_EQ(hall.pollSeconds, 5);
    EXPECT_EQ(hall.settings(), "19200,N,8,1");
    const gateway::ProjectorConfig& lab = c.projectors[1];
    EXPECT_EQ(lab.name, "lab");
    EXPECT_EQ(lab.model, &models::kTR27K);
    EXPECT_EQ(lab.settings(), "9600,N,8,1");
    EXPECT_EQ(c.listenOf(lab), std::vector<QHostAddress>{QHostAddress("127.0.0.1")});
}

TEST(Config, EveryKindOfMistakeIsNamedWithItsPlace) {
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"", {"p.conf: no projector: add a section [NAME] with at least port = PORT"}},
        {"[a]\nport = COM1\nraw = 4001\nprot = 1\n",
         {"p.conf:4: [a] \"prot\" is no key of a projector (listen, port, model, speed, name, "
          "pjlink, pjlink-password, raw, poll, mqtt-prefix)"}},
        {"raw = 4001\n[a]\nport = COM1\nraw = 4001\n",
         {"p.conf:1: raw: a projector's key: put it in the projector's [NAME] section"}},
        {"[a]\nport = COM1\nraw = 4001\nmax-connections = 3\n",
         {"p.conf:4: [a] max-connections: daemon-wide: put it before the first section"}},
        {"[a]\nport = COM1\nraw = 40o1\n",
         {"p.conf:3: [a] raw: \"40o1\" is not a TCP port (a whole number from 1 to 65535)"}},
        {"[a]\nport = COM1\nraw = 4001\nraw = 4002\n", {"p.conf:4: [a] raw: given twice"}},
        {"[a]\nport = COM1\nraw = 4001\nmodel = TR99\nspeed = 115200\npoll = 0\n",
         {"p.conf:4: [a] model: \"TR99\" is no model: TR27K or TR52",
          "p.conf:5: [a] speed: \"115200\" is no speed: 19200 or 9600",
          "p.conf:6: [a] poll: \"0\" is not a number of seconds (a whole number from 1 to 86400)"}},
        {"[a]\nport = tcp://host:1\nraw = 4001\n",
         {"p.conf:2: [a] port: \"tcp://host:1\": unknown scheme \"tcp\"; a network serial server "
          "is socket://HOST:PORT or rfc2217://HOST:PORT"}},
        {"[a]\nraw = 4001\n",
         {"p.conf: [a] port: missing: the projector's port (COM1, a device path, "
          "socket://HOST:PORT or rfc2217://HOST:PORT)"}},
        {"[a b]\nport = COM1\n[a]\nport = COM1\nraw = 1\n[a]\nport=COM2\nraw = 2\nlisten = here\n",
         {"p.conf:1: \"[a b]\" is no section heading: [NAME], NAME 1 to 64 letters, digits, \"-\", "
          "\"_\" or \".\", starting with a letter or digit",
          "p.conf:6: [a] is given twice"}},
        {"[a]\nport = COM1\nraw = 1\nlisten = here\n",
         {"p.conf:4: [a] listen: \"here\" is not an IP address (such as 127.0.0.1, ::1, "
          "192.0.2.10, 0.0.0.0 or ::)"}},
        {"[a]\nport = COM1\nraw = 4001\n[b]\nport = COM1\npjlink = 4001\n",
         {"p.conf: [b] port: \"COM1\" is the port of [a] already: one line has one owner",
          "p.conf: [b] pjlink: port 4001 is taken by p.conf: [a] raw already"}},
        {"[a]\nport = COM1\nraw = 4001\nname = \x01x\njust words\n",
         {"p.conf:4: [a] name: \"\\x01x\" is no name: 1 to 64 bytes of UTF-8 text without control "
          "characters",
          "p.conf:5: \"just words\" is neither KEY = VALUE nor [NAME]"}},
        {"[a]\nport = COM1\npjlink-password = two words\nraw = 4001\n",
         {"p.conf:3: [a] pjlink-password: not a password PJLink can carry: 1 to 32 printable "
          "ASCII characters without spaces",
          "p.conf: [a] pjlink-password: no pjlink port to use it on"}},
    };
    for (const auto& [text, problems] : cases) EXPECT_EQ(problemsOf(text), problems) << text;
}

// The broker and its settings are daemon-wide; a projector may have MQTT alone; no two share
// their topics' device.
TEST(Config, TheMqttKeys) {
    const gateway::Config c = gateway::parseConfigText(
        "mqtt = mqtts://broker.example:8884\nmqtt-user = hall\nmqtt-password = pw\nmqtt-ca = /etc/ca.pem\n"
        "mqtt-client-id = building-7\nmqtt-discovery-prefix = ha/\n[hall]\nport = COM1\nmqtt-prefix = a/b\n"
        "[lab]\nport = COM2\n",
        "p.conf");
    EXPECT_TRUE(c.mqtt.tls);
    EXPECT_EQ(c.mqtt.host, "broker.example");
    EXPECT_EQ(c.mqtt.port, 8884);
    EXPECT_EQ(c.mqtt.discoveryPrefix, "ha");
    EXPECT_EQ(gateway::Config::mqttPrefixOf(c.projectors[0]), "a/b/");
    EXPECT_EQ(gateway::Config::mqttPrefixOf(c.projectors[1]), "projector/lab/");
    EXPECT_EQ(gateway::parseConfigText("mqtt = mqtt://[::1]\n[a]\nport = COM1\n", "p.conf").mqtt.port, 1883);

    const std::string a = "[a]\nport = COM1\n";
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"mqtt = mqtt://u:p@host\n" + a,
         {"p.conf:1: mqtt: \"mqtt://u:p@host\" is no broker: mqtt://HOST[:PORT] or mqtts://HOST[:PORT] (the user "
          "and password go in mqtt-user and mqtt-password)"}},
        {"mqtt = tcp://host\n" + a, {"p.conf:1: mqtt: \"tcp://host\" is no broker: mqtt://HOST[:PORT] or "
                                     "mqtts://HOST[:PORT] (the user and password go in mqtt-user and mqtt-password)"}},
        {"mqtt-user = u\nmqtt-client-id = -x\n" + a,
         {"p.conf:2: mqtt-client-id: \"-x\" is no client id: 1 to 64 letters, digits, \"-\", \"_\" or \".\", "
          "starting with a letter or digit",
          "p.conf: [a] no port to reach the projector by: give pjlink, raw or mqtt",
          "p.conf: mqtt-user: no mqtt broker to use it on"}},
        {"mqtt = mqtt://h\nmqtt-ca = /ca.pem\nmqtt-password = x\n" + a,
         {"p.conf: mqtt-ca: the broker \"mqtt://h\" is not mqtts://",
          "p.conf: mqtt-password: no mqtt-user to go with it"}},
        {"mqtt = mqtt://h\n" + a + "mqtt-prefix = a/#\n[b]\nport = COM2\nmqtt-prefix = $SYS/\n",
         {"p.conf:4: [a] mqtt-prefix: \"a/#\" is no topic prefix: 1 to 200 bytes of UTF-8 text without \"+\", "
          "\"#\" or control characters, not beginning with \"$\" or \"/\" (such as building/hall/projector/)",
          "p.conf:7: [b] mqtt-prefix: \"$SYS/\" is no topic prefix: 1 to 200 bytes of UTF-8 text without \"+\", "
          "\"#\" or control characters, not beginning with \"$\" or \"/\" (such as building/hall/projector/)"}},
        {"mqtt = mqtt://h\n" + a + "mqtt-prefix = x.y\n[b]\nport = COM2\nmqtt-prefix = x_y/\n",
         {"p.conf: [b] mqtt-prefix: \"x_y/\" names the same device as [a]'s topics: give each projector a prefix "
          "of its own"}},
        {a + "mqtt-prefix = x\n", {"p.conf: [a] no port to reach the projector by: give pjlink, raw or mqtt",
                                   "p.conf: [a] mqtt-prefix: no mqtt broker to use it on"}},
    };
    for (const auto& [text, problems] : cases) EXPECT_EQ(problemsOf(text), problems) << text;
}

// Beyond loopback, a port that lets anyone drive the projector needs its secret, or the
// administrator's word that it is meant to be open.
TEST(Config, PortsBeyondLoopbackNeedAPasswordOrAllowUnauthenticated) {
    const std::string unauthenticated =
        "listens beyond loopback (192.0.2.10) without a password; set pjlink-password, or set "
        "allow-unauthenticated = true to let anyone who reaches it in on purpose, or listen on "
        "loopback only";
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"[a]\nport = COM1\npjlink = 4352\n", {}},
        {"listen = ::1 127.0.0.1\n[a]\nport = COM1\npjlink = 4352\nraw = 4001\n", {}},
        {"listen = 192.0.2.10\n[a]\nport = COM1\npjlink = 4352\npjlink-password = x\n", {}},
        {"listen = 192.0.2.10\nallow-unauthenticated = yes\n[a]\nport = COM1\npjlink = 4352\nraw = 1\n", {}},
        {"[a]\nlisten = 127.0.0.1 192.0.2.10\nport = COM1\npjlink = 4352\n",
         {"p.conf: [a] pjlink: " + unauthenticated}},
        {"listen = 0.0.0.0\n[a]\nport = COM1\nraw = 4001\npjlink = 4352\npjlink-password = x\n",
         {"p.conf: [a] raw: listens beyond loopback (0.0.0.0) and raw has no authentication; set "
          "allow-unauthenticated = true to let anyone who reaches it in on purpose, or listen on "
          "loopback only"}},
        {"allow-unauthenticated = maybe\n[a]\nport = COM1\nraw = 4001\n",
         {"p.conf:1: allow-unauthenticated: \"maybe\" is neither true nor false"}},
    };
    for (const auto& [text, problems] : cases) EXPECT_EQ(problemsOf(text), problems) << text;
}

struct Invoked {
    std::string usage;
    std::vector<std::string> problems;
    std::optional<gateway::Invocation> invocation;
};

Invoked invoke(const QStringList& arguments) {
    Invoked r;
    try {
        r.invocation = gateway::readInvocation(QStringList{"projectord"} + arguments);
    } catch (const gateway::UsageError& e) {
        r.usage = e.what();
    } catch (const gateway::ConfigError& e) {
        r.problems = e.problems();
    }
    return r;
}

TEST(Config, OptionsForOneProjector) {
    Invoked r = invoke({"--port", "/dev/ttyUSB0", "--model", "TR52", "--raw", "4001", "--pjlink",
                        "4352", "--listen", "127.0.0.1", "--poll", "3", "--check"});
    ASSERT_TRUE(r.invocation) << r.usage << (r.problems.empty() ? "" : r.problems[0]);
    EXPECT_EQ(r.invocation->action, gateway::Invocation::Action::Check);
    const gateway::Config& c = r.invocation->config;
    ASSERT_EQ(c.projectors.size(), 1u);
    EXPECT_EQ(c.projectors[0].model, &models::kTR52);
    EXPECT_EQ(c.projectors[0].raw, 4001);
    EXPECT_EQ(c.projectors[0].pollSeconds, 3);
    EXPECT_FALSE(c.defaultListen);

    const std::pair<QStringList, std::string> usage[] = {
        {{"--pjlink-password", "x"}, "Unknown option 'pjlink-password'."},
        {{"--port", "COM1", "--raw", "1", "--config", "x"},
         "--config and the projector's options exclude each other: give either"},
        {{"run"}, "no arguments are taken, only options: not \"run\""},
    };
    for (const auto& [arguments, text] : usage) EXPECT_EQ(invoke(arguments).usage, text);

    const std::pair<QStringList, std::vector<std::string>> wrong[] = {
        {{"--raw", "4001"},
         {"--port: missing: the projector's port (COM1, a device path, socket://HOST:PORT or "
          "rfc2217://HOST:PORT)"}},
        {{"--port", "COM1", "--raw", "70000", "--raw", "1"}, {"--raw: given twice"}},
        {{"--port", "COM1", "--pjlink", "4352", "--listen", "::"},
         {"--pjlink: listens beyond loopback (::) without a password; set pjlink-password, or set "
          "allow-unauthenticated = true to let anyone who reaches it in on purpose, or listen on "
          "loopback only"}},
        {{"--config", "/nonexistent/p.conf"}, {"/nonexistent/p.conf: cannot be read: No such file or directory"}},
    };
    for (const auto& [arguments, problems] : wrong) {
        EXPECT_EQ(invoke(arguments).problems, problems) << arguments.join(' ').toStdString();
    }
}

// A secret is refused where others than its owner can read it: the password file of an
// option, or a configuration file that holds one.
TEST(Config, SecretsOthersCanReadAreRefused) {
    QTemporaryDir dir;
    const QString secret = dir.filePath("pjlink.secret"), conf = dir.filePath("p.conf");
    const auto write = [](const QString& path, const QByteArray& text, QFile::Permissions mode) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
        f.close();
        f.setPermissions(mode);
    };
    const QFile::Permissions own = QFile::ReadOwner | QFile::WriteOwner;
    write(secret, "s3cret\n", own);
    Invoked r = invoke({"--port", "COM1", "--pjlink", "4352", "--pjlink-password-file", secret, "--listen", "0.0.0.0"});
    ASSERT_TRUE(r.invocation) << (r.problems.empty() ? r.usage : r.problems[0]);
    EXPECT_EQ(r.invocation->config.projectors[0].pjlinkPassword, "s3cret");

    write(secret, "s3cret\n", own | QFile::ReadOther);
    r = invoke({"--port", "COM1", "--pjlink", "4352", "--pjlink-password-file", secret});
    EXPECT_EQ(r.problems, std::vector<std::string>{"--pjlink-password-file: " + secret.toStdString() +
                                                   " holds a secret and can be read by others than "
                                                   "its owner (mode 0604): chmod go-rwx " +
                                                   secret.toStdString()});

    write(conf, "[a]\nport = COM1\npjlink = 4352\npjlink-password = s3cret\n", own | QFile::ReadGroup);
    r = invoke({"--config", conf});
    EXPECT_EQ(r.problems, std::vector<std::string>{conf.toStdString() +
                                                   " holds a secret and can be read by others than "
                                                   "its owner (mode 0640): chmod go-rwx " +
                                                   conf.toStdString()});
    write(conf, "mqtt = mqtt://h\nmqtt-user = u\nmqtt-password = s3cret\n[a]\nport = COM1\n", own | QFile::ReadOther);
    EXPECT_EQ(invoke({"--config", conf}).problems.size(), 1u);
    // Without a secret the file may be read by all, as files in /etc are.
    write(conf, "[a]\nport = COM1\npjlink = 4352\n", own | QFile::ReadGroup | QFile::ReadOther);
    EXPECT_TRUE(invoke({"--config", conf}).invocation);
}

}  // namespace
