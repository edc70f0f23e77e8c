// projectord on MQTT against Debian's mosquitto and its clients, with the projector simulator:
// Home Assistant's discovery for both models (each payload parses, has what its component
// requires, and its templates give every entity's state after a status round, rendered by
// Jinja2 as Home Assistant renders them), a switch that turns the projector on, availability
// across a line loss and a daemon killed, a broker restarted, commands refused, entities of a
// projector no longer configured removed, TLS with a password. Real time: waits are bounded.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>
#include <filesystem>
#include <map>
#include <set>

#include "tests/support/mosquitto.h"
#include "tests/support/simulator.h"

namespace {

using mqtt_support::Broker;
using mqtt_support::Message;
using mqtt_support::Subscriber;
using sim_support::Simulator;

QJsonObject json(const std::string& text) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
}

std::string str(const QJsonValue& v) {
    return v.toString().toStdString();
}

// The projector simulator behind a stable link.
struct Projector {
    explicit Projector(const std::string& model = "TR27K")
        : link(std::filesystem::temp_directory_path() /
               ("projectord-mqtt-" + std::to_string(::getpid()) + "-" + std::to_string(serial++))),
          sim(Simulator::Options{
              PROJECTOR_SIM_PATH, model, link.string(), {"--warmup", "0", "--cooldown", "0"}}) {}
    static inline int serial = 0;
    std::filesystem::path link;
    Simulator sim;
};

struct Daemon {
    explicit Daemon(const QStringList& arguments) {
        process.start(QStringLiteral(PROJECTORD_PATH), arguments);
        EXPECT_TRUE(logSays("started")) << log;
    }
    ~Daemon() {
        process.terminate();
        if (!process.waitForFinished(5000)) process.kill();
        process.waitForFinished();
    }
    bool logSays(const std::string& text, int ms = 8000) {
        return QTest::qWaitFor(
            [&] {
                log += process.readAllStandardError().toStdString();
                return log.find(text) != std::string::npos;
            },
            ms);
    }
    QProcess process;
    std::string log;
};

QStringList options(const Projector& p, const Broker& b, const std::string& model = "TR27K") {
    return {"--port",  QString::fromStdString(p.link.string()),
            "--model", QString::fromStdString(model),
            "--mqtt",  QStringLiteral("mqtt://127.0.0.1:%1").arg(b.port())};
}

const std::string kPrefix = "projector/projector/";

// Renders Jinja2 templates over one state, as Home Assistant does with value_json.
std::vector<std::string> render(const std::vector<std::string>& templates, const std::string& state,
                                const std::string& valueName = "value_json") {
    static const char* kScript = R"(
import json, sys, jinja2
job = json.load(sys.stdin)
env = jinja2.Environment()
print(json.dumps([env.from_string(t).render(**{job['name']: job['value']}) for t in job['templates']]))
)";
    QJsonArray list;
    for (const std::string& t : templates) list.append(QString::fromStdString(t));
    const QJsonValue value = valueName == "value_json" ? QJsonValue(json(state))
                                                       : QJsonValue(QString::fromStdString(state));
    QProcess python;
    python.start(QStringLiteral("python3"), {"-c", kScript});
    python.write(QJsonDocument(QJsonObject{{"templates", list},
                                           {"value", value},
                                           {"name", QString::fromStdString(valueName)}})
                     .toJson());
    python.closeWriteChannel();
    python.waitForFinished(10'000);
    std::vector<std::string> out;
    for (const QJsonValue& v : QJsonDocument::fromJson(python.readAllStandardOutput()).array())
        out.push_back(str(v));
    EXPECT_EQ(out.size(), templates.size()) << python.readAllStandardError().toStdString();
    return out;
}

// The retained state once a status round has filled it.
std::string stateAfterARound(Subscriber& sub) {
    const auto m = sub.waitFor([](const Message& m) {
        return m.topic == kPrefix + "state" && json(m.payload)["power"].isString();
    });
    return m ? m->payload : "";
}

std::vector<std::string> buttonNames(const std::string& model) {
    QProcess p;
    p.start(QStringLiteral(PROJECTORCTL_PATH), {"--model", QString::fromStdString(model), "list"});
    p.waitForFinished(10'000);
    std::vector<std::string> names;
    for (const QByteArray& line : p.readAllStandardOutput().split('\n')) {
        if (!line.isEmpty()) names.push_back(line.split(' ').front().toStdString());
    }
    return names;
}

TEST(MqttEndToEnd, DiscoveryAndEveryEntitysStateAfterAStatusRoundForBothModels) {
    // What Home Assistant requires of each component, beyond what every entity has.
    const std::map<std::string, std::vector<std::string>> required{
        {"switch", {"command_topic", "state_topic", "value_template", "payload_on", "payload_off"}},
        {"select",
         {"command_topic", "options", "state_topic", "value_template", "command_template"}},
        {"sensor", {"state_topic", "value_template"}},
        {"binary_sensor", {"state_topic", "value_template"}},
        {"button", {"command_topic", "payload_press"}},
    };
    // Each entity's state for a projector in stand-by: mute is not known then ("FF").
    const std::map<std::string, std::string> expected{
        {"power", "OFF"},        {"input", "PC1"},          {"sound_mute", "None"},
        {"no_show", "None"},     {"freeze", "None"},        {"lamp_hours", "1234"},
        {"temperature_1", "35"}, {"temperature_2", "38.5"}, {"temperature_3", "41.2"},
        {"pressure", "650"},     {"status", "Stand by"},    {"problem", "OFF"},
    };
    for (const std::string model : {"TR27K", "TR52"}) {
        SCOPED_TRACE(model);
        Broker broker;
        Projector projector(model);
        Subscriber sub(broker.port(), {"#"});
        Daemon daemon(options(projector, broker, model));
        const std::string state = stateAfterARound(sub);
        ASSERT_FALSE(state.empty());

        std::vector<Message> configs;
        for (const Message& m : sub.messages()) {
            if (m.topic.starts_with("homeassistant/") && m.topic.ends_with("/config"))
                configs.push_back(m);
        }
        std::set<std::string> uniqueIds, commandNames;
        std::vector<std::string> templates, keys;
        for (const Message& m : configs) {
            SCOPED_TRACE(m.topic);
            QJsonParseError error;
            const QJsonObject c =
                QJsonDocument::fromJson(QByteArray::fromStdString(m.payload), &error).object();
            ASSERT_EQ(error.error, QJsonParseError::NoError) << m.payload;
            const std::string component = m.topic.substr(14, m.topic.find('/', 14) - 14);
            ASSERT_TRUE(required.contains(component));
            for (const std::string& key : required.at(component))
                EXPECT_TRUE(c.contains(QString::fromStdString(key))) << key;
            for (const char* key : {"name", "unique_id", "availability_topic", "device"})
                EXPECT_TRUE(c.contains(key)) << key;
            EXPECT_TRUE(uniqueIds.insert(str(c["unique_id"])).second) << "unique_id twice";
            const QJsonObject device = c["device"].toObject();
            EXPECT_EQ(str(device["manufacturer"]), "ORVA");
            EXPECT_EQ(str(device["model"]), model);
            EXPECT_EQ(str(device["sw_version"]), "projectord " PANEL_VERSION);
            EXPECT_EQ(device["identifiers"].toArray().size(), 1);
            EXPECT_EQ(str(c["availability_topic"]), kPrefix + "availability");
            for (const char* key : {"payload_on", "payload_off", "payload_press"}) {
                if (c.contains(key)) {
                    EXPECT_TRUE(commandNames.insert(str(c[key])).second) << str(c[key]);
                }
            }
            if (component == "select") {
                std::vector<std::string> options;
                for (const QJsonValue& o : c["options"].toArray()) options.push_back(str(o));
                EXPECT_EQ(options, (std::vector<std::string>{"PC1", "PC2", "Video"}));
                for (const std::string& option : options) {
                    const std::string name =
                        render({str(c["command_template"])}, option, "value").front();
                    EXPECT_TRUE(commandNames.insert(name).second) << option << " presses " << name;
                }
            }
            if (c.contains("value_template")) {
                templates.push_back(str(c["value_template"]));
                keys.push_back(m.topic.substr(0, m.topic.size() - 7)
                                   .substr(m.topic.rfind('/', m.topic.size() - 8) + 1));
            }
        }
        // Every button of projectorctl list is pressed by exactly one entity.
        const std::vector<std::string> names = buttonNames(model);
        EXPECT_EQ(commandNames, std::set<std::string>(names.begin(), names.end()));
        EXPECT_EQ(uniqueIds.size(), configs.size());

        const std::vector<std::string> states = render(templates, state);
        std::map<std::string, std::string> got;
        for (std::size_t i = 0; i < states.size() && i < keys.size(); ++i) got[keys[i]] = states[i];
        EXPECT_EQ(got, expected) << state;
        EXPECT_EQ(sub.last(kPrefix + "availability")->payload, "online");
    }
}

// The power switch presses "power-on"; the switch's state is the projector's answer to the
// status query that follows, not the command's echo: a command the projector does not answer
// changes nothing.
TEST(MqttEndToEnd, PowerOnFromTheSwitchAndItsStateFollowsTheProjector) {
    Broker broker;
    Projector projector;
    Subscriber sub(broker.port(), {"#"});
    Daemon daemon(options(projector, broker));
    ASSERT_FALSE(stateAfterARound(sub).empty());
    const QJsonObject power = json(
        sub.waitFor("homeassistant/switch/projectord_projector_projector/power/config")->payload);
    const std::string powerState = str(power["value_template"]);

    std::size_t from = sub.messages().size();
    mqtt_support::publish(broker.port(), str(power["command_topic"]), str(power["payload_on"]));
    const auto reply = sub.waitFor(kPrefix + "reply", 8000, from);
    ASSERT_TRUE(reply);
    EXPECT_EQ(str(json(reply->payload)["command"]), "C00");
    EXPECT_TRUE(json(reply->payload)["ok"].toBool()) << reply->payload;
    const auto on = sub.waitFor(
        [&](const Message& m) {
            return m.topic == kPrefix + "state" && render({powerState}, m.payload).front() == "ON";
        },
        8000, from);
    EXPECT_TRUE(on) << "the switch never read ON";

    projector.sim.control("noreply on");
    from = sub.messages().size();
    mqtt_support::publish(broker.port(), str(power["command_topic"]), str(power["payload_off"]));
    const auto unanswered = sub.waitFor(kPrefix + "reply", 8000, from);
    ASSERT_TRUE(unanswered);
    EXPECT_FALSE(json(unanswered->payload)["ok"].toBool()) << unanswered->payload;
    QTest::qWait(300);
    EXPECT_FALSE(sub.waitFor(kPrefix + "state", 0, from))
        << "a state published for a command not answered";
}

// The line lost: offline until it is back. The daemon killed: the broker's last will says
// offline.
TEST(MqttEndToEnd, AvailabilityAcrossALineLossAndADaemonKilled) {
    Broker broker;
    Projector projector;
    Subscriber sub(broker.port(), {kPrefix + "availability"});
    Daemon daemon(options(projector, broker));
    const auto online = [&](const std::string& payload, std::size_t from) {
        return sub.waitFor([&](const Message& m) { return m.payload == payload; }, 8000, from)
            .has_value();
    };
    EXPECT_TRUE(online("online", 0));
    std::size_t from = sub.messages().size();
    projector.sim.hangup();
    EXPECT_TRUE(online("offline", from));
    from = sub.messages().size();
    projector.sim.plug();
    EXPECT_TRUE(online("online", from));
    from = sub.messages().size();
    ::kill(pid_t(daemon.process.processId()), SIGKILL);
    EXPECT_TRUE(online("offline", from));
    Subscriber late(broker.port(), {kPrefix + "availability"});
    const auto kept = late.waitFor(kPrefix + "availability");
    ASSERT_TRUE(kept);
    EXPECT_TRUE(kept->retained);
    EXPECT_EQ(kept->payload, "offline");
}

// The broker restarted with nothing kept: the daemon connects again and says everything anew.
TEST(MqttEndToEnd, ABrokerRestartedGetsTheStateAndDiscoveryAgain) {
    Broker broker;
    Projector projector;
    Daemon daemon(options(projector, broker));
    ASSERT_TRUE(daemon.logSays("mqtt: connected"));
    broker.stop();
    EXPECT_TRUE(daemon.logSays("mqtt: broker lost: "));
    broker.start();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            daemon.logSays("");
            return daemon.log.find("mqtt: connected", daemon.log.find("broker lost")) !=
                   std::string::npos;
        },
        10'000))
        << daemon.log;
    Subscriber sub(broker.port(), {"#"});
    for (const std::string& topic : std::vector<std::string>{
             kPrefix + "state", kPrefix + "availability",
             "homeassistant/switch/projectord_projector_projector/power/config"}) {
        ASSERT_TRUE(sub.waitFor(topic, 10'000)) << topic << "\n" << daemon.log;
    }
    // Kept by the broker: a client that comes later has them at once.
    Subscriber late(broker.port(), {"#"});
    for (const std::string& topic : {kPrefix + "state", kPrefix + "availability"}) {
        const auto m = late.waitFor(topic);
        ASSERT_TRUE(m) << topic;
        EXPECT_TRUE(m->retained) << topic;
    }
    EXPECT_EQ(sub.last(kPrefix + "availability")->payload, "online");
}

// Commands that cannot be carried out get an error reply and reach no line; a command kept
// by the broker is never carried out; Home Assistant's birth message brings discovery again.
TEST(MqttEndToEnd, CommandsRefusedAndKeptAndHomeAssistantsBirth) {
    Broker broker;
    Projector projector;
    mqtt_support::publish(broker.port(), kPrefix + "press", "power-on", true);
    Subscriber sub(broker.port(), {"#"});
    Daemon daemon(options(projector, broker));
    EXPECT_TRUE(
        daemon.logSays("a retained command on projector/projector/press is not carried out"));
    EXPECT_EQ(str(json(stateAfterARound(sub))["power"]), "standby");
    mqtt_support::publish(broker.port(), kPrefix + "press", "", true);

    const long before = projector.sim.commandCount();
    const std::pair<std::string, std::string> refused[] = {
        {"press", "lift-off"}, {"press", "vol-up 0"}, {"press", "power-on 2"},
        {"send", ""},          {"send", "C0\x01"},    {"send", std::string(100000, 'C')},
    };
    for (const auto& [topic, payload] : refused) {
        SCOPED_TRACE(topic + " " + payload);
        const std::size_t from = sub.messages().size();
        mqtt_support::publish(broker.port(), kPrefix + topic, payload);
        const auto reply = sub.waitFor(kPrefix + "reply", 8000, from);
        ASSERT_TRUE(reply);
        EXPECT_TRUE(json(reply->payload)["error"].isString()) << reply->payload;
        EXPECT_LT(reply->payload.size(), 1024u) << "what was refused came back whole";
    }
    EXPECT_EQ(projector.sim.commandCount(), before) << "refused commands reached the line";

    std::size_t from = sub.messages().size();
    mqtt_support::publish(broker.port(), kPrefix + "send", "CR0");
    const auto reply = sub.waitFor(kPrefix + "reply", 8000, from);
    ASSERT_TRUE(reply);
    EXPECT_EQ(str(json(reply->payload)["status"]), " Stand by");

    from = sub.messages().size();
    mqtt_support::publish(broker.port(), "homeassistant/status", "online");
    EXPECT_TRUE(sub.waitFor("homeassistant/sensor/projectord_projector_projector/lamp_hours/config",
                            8000, from));
}

void writeFile(const std::string& path, const std::string& text) {
    QFile file(QString::fromStdString(path));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text.data(), qint64(text.size()));
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
}

// A projector taken out of the configuration: at the next start its entities, state and
// availability are cleared from the broker.
TEST(MqttEndToEnd, AProjectorNoLongerConfiguredLosesItsEntities) {
    Broker broker;
    Projector projector;
    const std::string conf = broker.dir() + "/projectord.conf";
    const std::string hall = "[hall]\nport = " + projector.link.string() + "\n";
    const std::string head = "mqtt = mqtt://127.0.0.1:" + std::to_string(broker.port()) + "\n";
    writeFile(conf, head + hall + "[lab]\nport = /dev/projectord-test-absent\n");
    {
        Subscriber sub(broker.port(), {"#"});
        Daemon daemon({"--config", QString::fromStdString(conf)});
        ASSERT_TRUE(sub.waitFor("homeassistant/button/projectord_projector_lab/vol-up/config"));
        ASSERT_TRUE(sub.waitFor("projector/lab/availability"));
    }
    writeFile(conf, head + hall);
    Subscriber watch(broker.port(), {"projector/lab/availability"});
    Daemon daemon({"--config", QString::fromStdString(conf)});
    EXPECT_TRUE(daemon.logSays("[hall] mqtt: cleared ")) << daemon.log;
    // The list's last topic: the broker has taken every one before it.
    ASSERT_TRUE(watch.waitFor([](const Message& m) { return m.payload.empty(); }));
    Subscriber sub(broker.port(), {"#"});
    ASSERT_TRUE(sub.waitFor("projector/hall/state"));
    for (const Message& m : sub.messages()) {
        EXPECT_TRUE(m.topic.find("/lab/") == std::string::npos &&
                    m.topic.find("_lab/") == std::string::npos)
            << m.topic << " is still kept";
    }
}

// mqtts with a password: connected with the right one; the wrong one refused, with a log line.
TEST(MqttEndToEnd, TlsAndAPassword) {
    Broker broker(
        "allow_anonymous false\npassword_file %DIR%/passwd\ncafile %DIR%/ca.pem\ncertfile "
        "%DIR%/server.pem\n"
        "keyfile %DIR%/server.key\n",
        [](const std::string& dir) {
            QProcess sh;
            sh.setWorkingDirectory(QString::fromStdString(dir));
            sh.start("sh",
                     {"-ec",
                      "k='-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes'\n"
                      "openssl req -x509 $k -keyout ca.key -out ca.pem -days 2 -subj /CN=test-ca\n"
                      "openssl req $k -keyout server.key -out server.csr -subj /CN=127.0.0.1\n"
                      "echo subjectAltName=IP:127.0.0.1 > ext\n"
                      "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial "
                      "-out server.pem -days 2 -extfile ext\n"
                      "mosquitto_passwd -b -c passwd hall secret\n"
                      // mosquitto started as root reads its files as the user mosquitto
                      "chmod 755 . && chmod 644 *\n"});
            sh.waitForFinished(30'000);
            ASSERT_EQ(sh.exitCode(), 0) << sh.readAllStandardError().toStdString();
        });
    Projector projector;
    const std::string conf = broker.dir() + "/projectord.conf";
    const auto configure = [&](const std::string& password) {
        writeFile(conf, "mqtt = mqtts://127.0.0.1:" + std::to_string(broker.port()) +
                            "\nmqtt-user = hall\n" + "mqtt-password = " + password +
                            "\nmqtt-ca = " + broker.dir() +
                            "/ca.pem\n[projector]\nport = " + projector.link.string() + "\n");
    };
    configure("secret");
    {
        Daemon daemon({"--config", QString::fromStdString(conf)});
        EXPECT_TRUE(daemon.logSays("mqtt: connected to mqtts://127.0.0.1:")) << daemon.log;
        Subscriber sub(broker.port(), {kPrefix + "state"},
                       {"--cafile", broker.dir() + "/ca.pem", "-u", "hall", "-P", "secret"});
        EXPECT_FALSE(stateAfterARound(sub).empty());
    }
    configure("wrong");
    Daemon daemon({"--config", QString::fromStdString(conf)});
    EXPECT_TRUE(daemon.logSays("the broker refused the connection: ")) << daemon.log;
}

}  // namespace
