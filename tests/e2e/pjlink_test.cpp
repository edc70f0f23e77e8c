// projectord's PJLink port against the projector simulator: every answer of the mapping for
// both models, authentication, a PJLink client no one here wrote (npm's pjlink, driven by
// Node), the panel and projectorctl on the shared line while controllers poll, the line lost
// and back.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <map>

#include "panel/widgets.h"
#include "tests/e2e/gateway_fixture.h"
#include "tests/e2e/panel_on_line.h"

namespace {

using namespace e2e;

// One step: control lines for the simulator (what only its own keys and state can do), then
// a PJLink command and the answer expected. "{model}" stands for the model's name.
struct Step {
    std::vector<std::string> control;
    std::string command;
    std::string answer;
};

std::string forModel(std::string text, const std::string& model) {
    for (std::size_t at; (at = text.find("{model}")) != std::string::npos;)
        text.replace(at, 7, model);
    return text;
}

// POWR ?, ERST ? and LAMP ? for each operating state CR0 answers.
struct OperatingRow {
    std::string state, power, errors, lamp;
};
const OperatingRow kOperating[] = {
    {"00", "1", "000000", "1234 1"},    {"08", "1", "001000", "1234 1"},
    {"02", "1", "000000", "1234 1"},    {"80", "0", "000000", "1234 0"},
    {"04", "0", "000000", "1234 0"},    {"88", "0", "001000", "1234 0"},
    {"40", "3", "000000", "1234 0"},    {"20", "2", "000000", "1234 0"},
    {"28", "2", "001000", "1234 0"},    {"24", "2", "000000", "1234 0"},
    {"21", "2", "020000", "1234 0"},    {"81", "2", "020000", "1234 0"},
    {"10", "ERR4", "000002", "1234 0"},
};

// The rest, in order: each step starts from the state the ones before it left.
const std::vector<Step> kMapping = {
    // POWR 1 / 0: C00 / C01, refused while counting down or cooling down (C01 would start
    // the cooling: the state stays).
    {{"state 40"}, "%1POWR 1", "%1POWR=ERR3"},
    {{}, "%1POWR 0", "%1POWR=ERR3"},
    {{}, "%1POWR ?", "%1POWR=3"},
    {{"state 20"}, "%1POWR 1", "%1POWR=ERR3"},
    {{"state 80"}, "%1POWR 1", "%1POWR=OK"},
    {{}, "%1POWR ?", "%1POWR=1"},
    {{}, "%1POWR 0", "%1POWR=OK"},
    {{}, "%1POWR ?", "%1POWR=0"},
    {{}, "%1POWR 2", "%1POWR=ERR2"},
    // INPT: C05 / C06 / C07 and CR1; input mode 4, which PJLink has no name for, is ERR3.
    {{"state 00"}, "%1INPT 21", "%1INPT=OK"},
    {{}, "%1INPT ?", "%1INPT=21"},
    {{}, "%1INPT 12", "%1INPT=OK"},
    {{}, "%1INPT ?", "%1INPT=12"},
    {{}, "%1INPT 11", "%1INPT=OK"},
    {{}, "%1INPT ?", "%1INPT=11"},
    {{"input 4"}, "%1INPT ?", "%1INPT=ERR3"},
    {{}, "%1INST ?", "%1INST=11 12 21"},
    {{}, "%1INPT 31", "%1INPT=ERR2"},
    // AVMT: NO SHOW (C0D / C0E), SOUND MUTE (C0B / C0C), both; CRA.
    {{}, "%1AVMT 11", "%1AVMT=OK"},
    {{}, "%1AVMT ?", "%1AVMT=11"},
    {{}, "%1AVMT 21", "%1AVMT=OK"},
    {{}, "%1AVMT ?", "%1AVMT=31"},
    {{}, "%1AVMT 10", "%1AVMT=OK"},
    {{}, "%1AVMT ?", "%1AVMT=21"},
    {{}, "%1AVMT 20", "%1AVMT=OK"},
    {{}, "%1AVMT ?", "%1AVMT=30"},
    {{}, "%1AVMT 31", "%1AVMT=OK"},
    {{}, "%1AVMT ?", "%1AVMT=31"},
    {{"signal off"}, "%1AVMT ?", "%1AVMT=30"},
    {{"signal on"}, "%1AVMT 30", "%1AVMT=OK"},
    {{}, "%1AVMT ?", "%1AVMT=30"},
    {{"state 80"}, "%1AVMT ?", "%1AVMT=ERR3"},
    {{}, "%1AVMT 41", "%1AVMT=ERR2"},
    // What the gateway says itself, and CR9's text.
    {{}, "%1NAME ?", "%1NAME=Lecture hall"},
    {{}, "%1INF1 ?", "%1INF1=ORVA"},
    {{}, "%1INF2 ?", "%1INF2={model}"},
    {{}, "%1INFO ?", "%1INFO={model} SIM 1.00"},
    {{}, "%1CLSS ?", "%1CLSS=1"},
    // Errors: unknown command or class, bad parameters, a line over 136 bytes; a refusal by
    // the projector (ERR3) and no reply (ERR4).
    {{}, "%1XXXX ?", "%1XXXX=ERR1"},
    {{}, "%2POWR ?", "%2POWR=ERR1"},
    {{}, "%1NAME x", "%1NAME=ERR2"},
    {{}, "%1POWR", "%1POWR=ERR2"},
    {{}, "%1NAME " + std::string(129, 'x'), "%1NAME=ERR2"},
    {{"refuse on"}, "%1AVMT 11", "%1AVMT=ERR3"},
    {{}, "%1POWR ?", "%1POWR=ERR3"},
    {{"refuse off", "noreply on"}, "%1INPT ?", "%1INPT=ERR4"},
    {{}, "%1INPT 11", "%1INPT=ERR4"},
    {{"noreply off"}, "%1INPT ?", "%1INPT=11"},
};

// Every row of the mapping, for both models. After control lines the first query goes to the
// projector, the ones after it come from the cache.
TEST(PjlinkEndToEnd, EveryRowOfTheMappingForBothModels) {
    for (const std::string model : {"TR27K", "TR52"}) {
        SCOPED_TRACE(model);
        Gateway gateway({.model = model, .pjlink = true, .more = {"--name", "Lecture hall"}});
        PjlinkClient pjlink(gateway.pjlink);
        EXPECT_EQ(pjlink.greeting, "PJLINK 0");
        RawClient raw(gateway.raw);
        // Control lines, then a command through the shared line: the status cached before is
        // no longer taken for the projector's.
        const auto control = [&](const std::vector<std::string>& lines) {
            for (const std::string& line : lines) gateway.sim.control(line);
            raw.got.clear();
            raw.send("C0F\r");
            raw.receive(2, 1000);
        };
        for (const OperatingRow& row : kOperating) {
            SCOPED_TRACE(row.state);
            control({"state " + row.state});
            EXPECT_EQ(pjlink.ask("%1POWR ?"), "%1POWR=" + row.power);
            EXPECT_EQ(pjlink.ask("%1ERST ?"), "%1ERST=" + row.errors);
            EXPECT_EQ(pjlink.ask("%1LAMP ?"), "%1LAMP=" + row.lamp);
        }
        for (const Step& step : kMapping) {
            SCOPED_TRACE(step.command);
            if (!step.control.empty()) control(step.control);
            QElapsedTimer took;
            took.start();
            EXPECT_EQ(pjlink.ask(step.command), forModel(step.answer, model));
            EXPECT_LT(took.elapsed(), 2000);
        }
    }
}

// With a password: the digest of the random characters and the password in front of the
// first command, and nothing after; a wrong or missing digest gets PJLINK ERRA, a log line and
// the end of the connection.
TEST(PjlinkEndToEnd, AuthenticationRightWrongAndMissing) {
    Gateway gateway({.pjlink = true, .password = "JBMIAProjectorLink"});
    PjlinkClient right(gateway.pjlink, "JBMIAProjectorLink");
    ASSERT_TRUE(right.greeting.starts_with("PJLINK 1 ")) << right.greeting;
    EXPECT_EQ(right.greeting.size(), 17u) << "8 random characters";
    EXPECT_EQ(right.ask("%1POWR ?"), "%1POWR=0");
    EXPECT_EQ(right.ask("%1CLSS ?"), "%1CLSS=1");

    PjlinkClient again(gateway.pjlink, "JBMIAProjectorLink");
    EXPECT_NE(again.greeting, right.greeting) << "the random characters are new each time";

    PjlinkClient wrong(gateway.pjlink, "JBMIAProjectorLinK");
    EXPECT_EQ(wrong.ask("%1POWR 1"), "PJLINK ERRA");
    EXPECT_TRUE(wrong.closed());
    PjlinkClient missing(gateway.pjlink);
    EXPECT_EQ(missing.ask("%1POWR 1"), "PJLINK ERRA");
    EXPECT_TRUE(missing.closed());
    EXPECT_TRUE(gateway.logSays("closed: authentication failed: no digest")) << gateway.log;
    EXPECT_NE(gateway.log.find("closed: authentication failed: wrong digest"), std::string::npos)
        << gateway.log;
    EXPECT_EQ(right.ask("%1POWR ?"), "%1POWR=0")
        << "the power commands of the others never went out";
}

// npm's pjlink client, driven by Node: every call answered as the standard says.
TEST(PjlinkEndToEnd, NpmsPjlinkClient) {
    const QString folder = QStringLiteral(NODE_TESTS_DIR);
    ASSERT_TRUE(std::filesystem::exists((folder + "/node_modules/pjlink").toStdString()))
        << "npm's pjlink is missing: ./go build installs it into tests/node/node_modules";
    Gateway gateway(
        {.model = "TR52", .pjlink = true, .password = "secret", .more = {"--name", "Hall 2"}});
    QProcess node;
    node.setWorkingDirectory(folder);
    node.start(QStringLiteral("node"),
               {QStringLiteral("pjlink-client.js"), QStringLiteral("127.0.0.1"),
                QString::number(gateway.pjlink), QStringLiteral("secret")});
    const Finished f = finish(node);
    ASSERT_EQ(f.status, 0) << f.err;
    std::vector<std::string> got;
    for (const std::string& line : linesOf(f.out)) {
        const QJsonObject call = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
        const QString error = call["error"].toString();
        got.push_back(call["call"].toString().toStdString() + " " +
                      (error.isEmpty() ? QString::fromUtf8(QJsonDocument(call["result"].toArray())
                                                               .toJson(QJsonDocument::Compact))
                                       : error)
                          .toStdString());
    }
    EXPECT_EQ(
        got,
        (std::vector<std::string>{
            R"(getClass ["1"])",
            R"(getPowerState [0])",
            R"(powerOn [])",
            R"(getPowerState [1])",
            R"(getInputs [[{"channel":1,"code":"11","name":"RGB - 1","source":1},{"channel":2,"code":"12","name":"RGB - 2","source":1},{"channel":1,"code":"21","name":"VIDEO - 1","source":2}]])",
            R"(setInput [])",
            R"(getInput [{"channel":1,"code":"21","name":"VIDEO - 1","source":2}])",
            R"(setInput [])",
            R"(getInput [{"channel":2,"code":"12","name":"RGB - 2","source":1}])",
            "setInput Out of parameter",
            R"(setMute [])",
            R"(getMute [{"audio":false,"video":true}])",
            R"(setMute [])",
            R"(getMute [{"audio":true,"video":true}])",
            R"(setMute [])",
            R"(getMute [{"audio":true,"video":true}])",
            R"(setMute [])",
            R"(getMute [{"audio":false,"video":false}])",
            R"(getLamps [[{"hours":1234,"on":true}]])",
            R"(getErrors [null])",
            R"(getName ["Hall","2"])",
            R"(getManufacturer ["ORVA"])",
            R"(getModel ["TR52"])",
            R"(getInfo ["TR52","SIM","1.00"])",
            R"(powerOff [])",
            R"(getPowerState [0])",
        }));
}

// Controllers poll PJLink while the panel (offscreen) and projectorctl use the shared line:
// everyone gets their own answers, and the panel's button reaches the projector.
TEST(PjlinkEndToEnd, ThePanelAndProjectorctlWhileControllersPoll) {
    Gateway gateway({.pjlink = true});
    std::vector<std::unique_ptr<PjlinkClient>> pollers;
    for (int i = 0; i < 4; ++i) pollers.push_back(std::make_unique<PjlinkClient>(gateway.pjlink));
    std::map<std::string, int> answers;
    bool asking = false;  // the waits for answers run the event loop, and this timer in it
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (std::exchange(asking, true)) return;
        for (auto& p : pollers) {
            for (const char* command : {"%1POWR ?", "%1INPT ?", "%1AVMT ?"})
                answers[p->ask(command, 2000)]++;
        }
        asking = false;
    });
    poll.start(20);

    PanelOnLine panel(gateway.rawPort());
    Form1& form = panel.form;
    const std::vector<std::string>& warnings = panel.warnings;
    QProcess status;
    status.start(QStringLiteral(PROJECTORCTL_PATH),
                 {"--port", gateway.rawPort(), "--json", "status"});
    ASSERT_TRUE(waitFor([&] { return form.port().portOpen(); }));
    qobject_cast<QAbstractButton*>(form.controls().find("Command17"))->click();
    EXPECT_TRUE(waitFor([&] { return form.Label12->text() == " ACK CR "; }))
        << form.Label12->text();
    const Finished f = finish(status);
    EXPECT_EQ(f.status, 0) << f.err;
    for (const std::string& line : linesOf(f.out))
        EXPECT_NE(line.find(R"("ok":true)"), std::string::npos) << line;
    EXPECT_TRUE(waitFor([&] { return answers["%1POWR=1"] > 0; }))
        << "the panel's POWER ON is seen on PJLink";
    poll.stop();
    for (const auto& [answer, count] : answers) {
        EXPECT_TRUE(answer == "%1POWR=0" || answer == "%1POWR=1" || answer == "%1INPT=11" ||
                    answer == "%1AVMT=ERR3" || answer == "%1AVMT=30")
            << answer << " (" << count << " times)";
    }
    EXPECT_TRUE(warnings.empty()) << warnings.front();
}

// The projector unplugged: PJLink answers ERR4 to what needs the projector and still says
// what the gateway knows itself; plugged in again, it answers within 2 s of the line's return.
TEST(PjlinkEndToEnd, TheLineLostAndBack) {
    Gateway gateway({.pjlink = true});
    PjlinkClient pjlink(gateway.pjlink);
    EXPECT_EQ(pjlink.ask("%1POWR ?"), "%1POWR=0");
    gateway.sim.hangup();
    ASSERT_TRUE(gateway.logSays("line lost: ")) << gateway.log;
    EXPECT_EQ(pjlink.ask("%1POWR ?"), "%1POWR=ERR4");
    EXPECT_EQ(pjlink.ask("%1AVMT 11"), "%1AVMT=ERR4");
    EXPECT_EQ(pjlink.ask("%1INF2 ?"), "%1INF2=TR27K");

    gateway.sim.plug();
    ASSERT_TRUE(gateway.logSays("line back", 8000)) << gateway.log;
    QElapsedTimer since;
    since.start();
    std::string answer;
    while (since.elapsed() < 2000 && (answer = pjlink.ask("%1POWR ?")) != "%1POWR=0")
        QTest::qWait(20);
    EXPECT_EQ(answer, "%1POWR=0") << "no answer within 2 s of the line's return";
}

}  // namespace
