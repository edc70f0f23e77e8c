// projectorctl's runs on the virtual clock, its ports on fake lines to a scripted projector: reply
// windows, the cadence of held keys, several ports at once, exit statuses.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <map>
#include <sstream>

#include "ctl/options.h"
#include "ctl/run.h"
#include "engine/shown_text.h"
#include "link/transport.h"
#include "tests/support/virtual_clock.h"

namespace {

using namespace std::string_literals;

// A piece of a reply: its bytes, this long after the command arrived; or the line's device
// pulled out at that moment.
struct Piece {
    int atMs;
    std::string bytes;
    bool unplug = false;
};

// Projectors behind fake lines, one per device path; what each answers is scripted.
struct Lines {
    explicit Lines(VirtualClock& clock) : clock(clock) {}

    VirtualClock& clock;
    std::set<std::string> present;  // paths that open
    std::map<std::string, std::map<std::string, std::vector<Piece>>>
        script;                                                // path -> command -> reply
    std::vector<std::pair<std::int64_t, std::string>> writes;  // (time, path + " " + command)
    std::map<std::string, class Line*> live;
    // A network server (a device text socket://...) takes this long to answer the connection,
    // and says this first.
    int connectMs = 50;
    std::vector<Piece> greeting;
};

class Line final : public serial::Transport {
  public:
    Line(Lines& lines, std::string path) : lines_(lines), path_(std::move(path)) {}
    ~Line() override { close(); }

    void start(const serial::LineSettings&) override {
        if (!lines_.present.contains(path_))
            throw serial::SerialError(path_ + ": No such file or directory");
        lines_.live[path_] = this;
        if (!path_.starts_with("socket://")) return;
        later({lines_.connectMs, ""}, [this] { onConnected(); });
        for (const Piece& piece : lines_.greeting) later(piece);
    }
    void close() override {
        if (lines_.live[path_] == this) lines_.live.erase(path_);
    }
    bool gone() const override { return gone_; }
    void applySettings(const serial::LineSettings&) override {}
    void write(const std::string& bytes) override {
        const std::string command = bytes.substr(0, bytes.size() - 1);
        lines_.writes.emplace_back(lines_.clock.now(), path_ + " " + command);
        const auto script = lines_.script[path_].find(command);
        const std::vector<Piece> reply = script != lines_.script[path_].end()
                                             ? script->second
                                             : std::vector<Piece>{{1, "\x06\r"}};
        for (const Piece& piece : reply) later(piece);
    }
    std::string readAll() override { return std::exchange(waiting_, {}); }

    void unplug() {
        gone_ = true;
        onFailed(path_ + ": Input/output error");
    }

  private:
    // The piece arrives, or `action` runs, this long from now.
    void later(const Piece& piece, std::function<void()> action = {}) {
        auto timer = lines_.clock.createTimer();
        PanelTimer* t = timer.get();
        t->setInterval(piece.atMs);
        t->onTick = [this, t, piece, action] {
            t->setEnabled(false);
            if (gone_) return;
            if (action) return action();
            if (piece.unplug) return unplug();
            waiting_ += piece.bytes;
            onReadyRead();
        };
        t->setEnabled(true);
        replies_.push_back(std::move(timer));
    }

    Lines& lines_;
    std::string path_;
    std::string waiting_;
    bool gone_ = false;
    std::vector<std::unique_ptr<PanelTimer>> replies_;
};

struct Fixture {
    Fixture() {
        surroundings.timers = &clock;
        surroundings.nowMs = [this] { return static_cast<double>(clock.now()); };
        surroundings.port.assignment.environment = [](const std::string&) { return std::string(); };
        surroundings.port.assignment.adapters = [] { return std::vector<serial::Adapter>{}; };
        surroundings.port.assignment.stableNameFolder = byId.path().toStdString();
        surroundings.port.assignment.settingsFile = byId.filePath("ports.ini").toStdString();
        surroundings.port.transports = [this](const serial::DeviceAddress& a) {
            return std::make_unique<Line>(lines, a.network() ? a.text : a.path);
        };
        lines.present = {"/dev/ttyUSB0", "/dev/ttyUSB1"};
    }

    ctl::Request request(const QStringList& arguments) {
        return ctl::parseRequest(QStringList{QStringLiteral("projectorctl")} + arguments,
                                 surroundings.port.assignment);
    }

    // Runs the request to its end; the exit status.
    int runBatch(const QStringList& arguments, std::int64_t limitMs = 60'000) {
        held = request(arguments);
        ctl::Batch batch(held, surroundings, out, err);
        batch.start([this] { finishedAt = clock.now(); });
        QCoreApplication::processEvents();  // the other ports open on the loop's next passes
        for (std::int64_t t = 0; !batch.done() && t < limitMs; ++t) advance(1);
        EXPECT_TRUE(batch.done());
        return batch.exitStatus();
    }

    void advance(std::int64_t ms) {
        clock.advance(ms);
        QCoreApplication::processEvents();  // the port's queued loss reports
    }

    std::vector<QJsonObject> jsonLines() const {
        std::vector<QJsonObject> objects;
        std::istringstream in(out.str());
        for (std::string line; std::getline(in, line);) {
            objects.push_back(QJsonDocument::fromJson(QByteArray::fromStdString(line)).object());
        }
        return objects;
    }
    std::vector<std::int64_t> writeTimes() const {
        std::vector<std::int64_t> times;
        for (const auto& w : writes()) times.push_back(w.first);
        return times;
    }
    const std::vector<std::pair<std::int64_t, std::string>>& writes() const { return lines.writes; }

    VirtualClock clock;
    Lines lines{clock};
    QTemporaryDir byId;
    session::Surroundings surroundings;
    ctl::Request held;
    std::ostringstream out, err;
    std::int64_t finishedAt = -1;
};

QStringList onPort(QStringList arguments) {
    return QStringList{QStringLiteral("--port"), QStringLiteral("/dev/ttyUSB0"),
                       QStringLiteral("--json")} +
           arguments;
}

// A reply is complete at its first carriage return, and the next command goes out at once; a
// reply not complete when the window ends is missing, and the next command waits for the line
// to be quiet; the error mark is a refusal.
TEST(CtlRuns, RepliesCompleteAtTheirFirstCarriageReturnOrGoMissingWhenTheWindowEnds) {
    struct Case {
        const char* what;
        QStringList arguments;
        std::string code;  // the command the reply answers, sent first
        std::vector<Piece> reply;
        double ms;
        bool ok;
        bool refused;
        std::string received;
        std::string display;
        QJsonValue status;
        std::int64_t nextAt;  // when the command after it goes out; -1: there is none
    };
    const QJsonValue none(QJsonValue::Null);
    const QStringList sendTwo{"send", "CR0", "C00"};
    // clang-format off
    const Case cases[] = {
        {"whole", sendTwo, "CR0", {{3, "80\r"}}, 3, true, false, "80\r", " 8 0 CR ", " Stand by", 3},
        {"in pieces", sendTwo, "CR0", {{2, "8"}, {7, "0\r"}}, 7, true, false, "80\r", " 8 0 CR ",
         " Stand by", 7},
        // The second line answers nothing: the line is let go quiet before the next command.
        {"two replies", {"send", "CR1", "C00"}, "CR1", {{2, "3\r2\r"}}, 2, true, false, "3\r",
         " 3 CR ", " Video", 202},
        {"no row", sendTwo, "CR0", {{2, "\x06\r"}}, 2, true, false, "\x06\r", " ACK CR ", none, 2},
        {"refused", {"send", "C0X", "C00"}, "C0X", {{2, "?\r"}}, 2, false, true, "?\r", " ? CR ",
         none, 2},
        {"nothing", sendTwo, "CR0", {}, 500, false, false, "", " X X X X", none, 700},
        {"no CR", {"send", "CR3", "C00"}, "CR3", {{4, "12"}}, 500, false, false, "12", " 1 2 ",
         " 1 2  Hour Use", 700},
        {"--timeout", {"--timeout", "40", "send", "CR0", "C00"}, "CR0", {{41, "80\r"}}, 40, false,
         false, "", " X X X X", none, 241},
        {"a query button", {"press", "status"}, "CR0", {}, 500, false, false, "", " X X X X", none,
         -1},
        {"timed 2000", {"press", "real"}, "C12", {{1999, "\x06\r"}}, 1999, true, false, "\x06\r",
         " ACK CR ", none, -1},
        {"timed 5000", {"press", "pc1-rgb"}, "C50", {{5001, "\x06\r"}}, 5000, false, false, "",
         " X X X X", none, -1},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Fixture f;
        f.lines.script["/dev/ttyUSB0"][c.code] = c.reply;
        f.runBatch(onPort(c.arguments));
        const std::vector<QJsonObject> lines = f.jsonLines();
        ASSERT_FALSE(lines.empty());
        const QJsonObject& o = lines[0];
        EXPECT_EQ(o.value("command").toString().toStdString(), c.code);
        EXPECT_EQ(o.value("ms").toDouble(), c.ms);
        EXPECT_EQ(o.value("ok").toBool(), c.ok);
        EXPECT_EQ(o.value("refused").toBool(), c.refused);
        EXPECT_EQ(o.value("reply").toString().toStdString(), c.received);
        EXPECT_EQ(o.value("display").toString().toStdString(), c.display);
        EXPECT_EQ(o.value("status"), c.status);
        const std::vector<std::int64_t> times = f.writeTimes();
        EXPECT_EQ(times.size() > 1 ? times[1] : -1, c.nextAt);
    }
}

// What the line brings outside a command's reply is reported as a line of its own, after the
// outcome it followed, and never taken for the next command's reply.
TEST(CtlRuns, BytesOfNoCommandAreReportedAndNotTakenForTheNextReply) {
    struct Case {
        const char* what;
        QStringList sends;
        std::vector<Piece> reply;  // to CR0; everything else is acknowledged at once
        std::vector<std::string> lines;
        std::vector<std::int64_t> sentAt;
        int status = 1;
    };
    std::vector<Piece> babble;  // a line that goes quiet only after the guard's limit
    for (int t = 550; t <= 1450; t += 100) babble.push_back({t, "x"});
    const std::string ack = "CR1 ok \\x06\\x0D";
    // clang-format off
    const Case cases[] = {
        {"a late reply", {"CR0", "CR1"}, {{600, "80\r"}},
         {"CR0 missing ", "unclaimed 80\\x0D after CR0 at 600", ack}, {0, 800}},
        {"the rest of a reply after its window", {"CR0", "CR1"}, {{490, "8"}, {510, "0\r"}},
         {"CR0 missing 8", "unclaimed 0\\x0D after CR0 at 510", ack}, {0, 710}},
        {"two lines in one piece", {"CR0", "CR1"}, {{2, "80\r1\r"}},
         {"CR0 ok 80\\x0D", "unclaimed 1\\x0D after CR0 at 2", ack}, {0, 202}, 0},
        {"no carriage return: raised once the line is quiet", {"CR0", "CR1"}, {{600, "8"}},
         {"CR0 missing ", "unclaimed 8 after CR0 at 600", ack}, {0, 800}},
        {"a babbling line holds the next command back no longer than the limit", {"CR0", "CR1"},
         babble, {"CR0 missing ", "unclaimed xxxxxxxxxx after CR0 at 550", ack}, {0, 1500}},
        {"the last command's late reply", {"CR0"}, {{600, "80\r"}},
         {"CR0 missing ", "unclaimed 80\\x0D after CR0 at 600"}, {0}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Fixture f;
        f.lines.script["/dev/ttyUSB0"]["CR0"] = c.reply;
        EXPECT_EQ(f.runBatch(onPort(QStringList{"send"} + c.sends)), c.status);
        std::vector<std::string> lines;
        for (const QJsonObject& o : f.jsonLines()) {
            const auto field = [&](const char* key) {
                return engine::shownBytes(o.value(key).toString().toLatin1().toStdString());
            };
            if (o.contains("command")) {
                lines.push_back(field("command") + (o.value("ok").toBool() ? " ok " : " missing ") +
                                field("reply"));
            } else {
                EXPECT_EQ(o.value("port").toString(), "/dev/ttyUSB0");
                lines.push_back("unclaimed " + field("unclaimed") + " after " + field("after") +
                                " at " + std::to_string(o.value("ms").toInt()));
            }
        }
        EXPECT_EQ(lines, c.lines);
        EXPECT_EQ(f.writeTimes(), c.sentAt);
    }

    // Plain output keeps one line per command; the note goes to standard error.
    Fixture f;
    f.lines.script["/dev/ttyUSB0"]["CR0"] = {{600, "80\r"}};
    f.runBatch({"--port", "/dev/ttyUSB0", "send", "CR0", "CR1"});
    EXPECT_EQ(f.out.str(), " C R 0 CR \t X X X X\t\n C R 1 CR \t ACK CR \t\n");
    EXPECT_EQ(f.err.str(),
              "/dev/ttyUSB0: \" 8 0 CR \" came 600 ms after CR0 was sent, outside its "
              "reply: taken for no command.\n");
}

// A held key goes out at its own repeat period while its replies keep up; a repeat due before
// the reply to the one before it is through waits for that reply, or for its window and the
// guard.
TEST(CtlRuns, HoldKeyRepeatsAtItsOwnPeriod) {
    struct Case {
        QString name;
        std::vector<Piece> reply;
        std::vector<std::int64_t> sentAt;
        std::vector<double> ms;
        int status;
    };
    const Case cases[] = {
        {"vol-up", {{1, "\x06\r"}}, {0, 250, 500}, {1, 1, 1}, 0},
        {"vol-up", {}, {0, 700, 1400}, {500, 500, 500}, 1},
        {"brightness-up", {{3, "\x06\r"}}, {0, 50, 100}, {3, 3, 3}, 0},
        {"brightness-up", {{100, "\x06\r"}}, {0, 100, 200}, {100, 100, 100}, 0},
        {"up", {{1, "\x06\r"}}, {0, 200, 400}, {1, 1, 1}, 0},  // an arrow: Timer1's period at start
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.toStdString() + (c.reply.empty() ? " unanswered" : ""));
        Fixture f;
        for (const char* code : {"C09", "C20", "C3C"})
            f.lines.script["/dev/ttyUSB0"][code] = c.reply;
        EXPECT_EQ(f.runBatch(onPort({"press", c.name, "--times", "3"})), c.status);
        EXPECT_EQ(f.writeTimes(), c.sentAt);
        std::vector<double> ms;
        for (const QJsonObject& o : f.jsonLines()) ms.push_back(o.value("ms").toDouble());
        EXPECT_EQ(ms, c.ms);
    }
}

// Every port is driven at once; the lines come port by port in the order the ports were given.
TEST(CtlRuns, SeveralPortsRunAtOnceAndPrintInTheirOrder) {
    Fixture f;
    for (const std::string_view q : engine::statusQueries()) {
        f.lines.script["/dev/ttyUSB0"][std::string(q)] = {{100, "00\r"}};
        f.lines.script["/dev/ttyUSB1"][std::string(q)] = {{1, "00\r"}};
    }
    EXPECT_EQ(f.runBatch({"--port", "/dev/ttyUSB0", "--port", "/dev/ttyUSB1", "status"}), 0);
    EXPECT_EQ(f.finishedAt, 900);  // the slower projector's time alone
    const std::vector<std::int64_t> times = f.writeTimes();
    EXPECT_EQ(std::count(times.begin(), times.end(), 0), 2);
    std::istringstream lines(f.out.str());
    std::vector<std::string> ports;
    for (std::string line; std::getline(lines, line);)
        ports.push_back(line.substr(0, line.find('\t')));
    std::vector<std::string> expected(9, "/dev/ttyUSB0");
    expected.resize(18, "/dev/ttyUSB1");
    EXPECT_EQ(ports, expected) << f.out.str();
}

// COMn is assigned as for the panel; what the settings file holds that is never read is said
// first, where a port is COMn.
TEST(CtlRuns, SettingsFileLinesThatAreNotReadAreToldOnStandardError) {
    QTemporaryDir config;
    QFile file(config.filePath("ports.ini"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("com1=/dev/ttyUSB1\n[ports]\n2=x\n") > 0);
    file.close();
    for (const char* port : {"com1", "/dev/ttyUSB1"}) {
        Fixture f;
        f.surroundings.port.assignment.settingsFile = file.fileName().toStdString();
        EXPECT_EQ(f.runBatch({"--port", port, "send", "C00"}), 0);
        EXPECT_EQ(f.writes().at(0).second, "/dev/ttyUSB1 C00");
        EXPECT_EQ(f.err.str().find(file.fileName().toStdString() + " has lines that are not read:\n  [ports]"),
                  *port == 'c' ? 0 : std::string::npos);
    }
}

TEST(CtlRuns, ExitStatusSaysTheWorstThatHappened) {
    const std::string lost = "/dev/ttyUSB0: Input/output error\nprojectorctl does not try again.\n";
    struct Case {
        const char* what;
        QStringList ports;
        std::map<std::string, std::vector<Piece>> script;  // of /dev/ttyUSB0
        int status;
        std::size_t lines;
        std::string err;
    };
    const Case cases[] = {
        {"answered", {"/dev/ttyUSB0"}, {}, 0, 9, ""},
        {"one missing", {"/dev/ttyUSB0"}, {{"CR4", {}}}, 1, 9, ""},
        {"one refused", {"/dev/ttyUSB0"}, {{"CR4", {{1, "?\r"}}}}, 1, 9, ""},
        {"lost on the way", {"/dev/ttyUSB0"}, {{"CR4", {{2, "", true}}}}, 2, 3, lost},
        {"not there",
         {"/dev/ttyUSB7"},
         {},
         2,
         0,
         "/dev/ttyUSB7: No such file or directory\nNo serial adapters were found.\n"},
        {"one of two lost",
         {"/dev/ttyUSB0", "/dev/ttyUSB1"},
         {{"CR0", {{2, "", true}}}},
         2,
         10,
         lost},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Fixture f;
        f.lines.script["/dev/ttyUSB0"] = c.script;
        QStringList arguments;
        for (const QString& port : c.ports) arguments << "--port" << port;
        EXPECT_EQ(f.runBatch(arguments << "status"), c.status);
        const std::string out = f.out.str();
        EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), static_cast<long>(c.lines)) << out;
        EXPECT_EQ(f.err.str(), c.err);
    }

    // projectorctl's words, not the panel's; a device text shown as text, never as a
    // terminal's escape sequence.
    Fixture f;
    const std::string escape = "/dev/tty\x1b[2J";
    f.lines.present.insert(escape);
    EXPECT_EQ(f.runBatch({"--port", "COM3", "--port", QString::fromStdString(escape), "--port",
                          "/dev/tty\x1b]0;x\x07", "send", "C00"}),
              2);
    const std::string err = f.err.str();
    EXPECT_NE(err.find("or set PROJECTOR_COM3 before starting projectorctl.\n"), std::string::npos)
        << err;
    EXPECT_NE(err.find("\n/dev/tty\\x1B]0;x\\x07: No such file or directory\n"), std::string::npos)
        << err;
    EXPECT_EQ(err.find("panel"), std::string::npos) << err;
    EXPECT_EQ(f.out.str(), "/dev/tty\\x1B[2J\t C 0 0 CR \t ACK CR \t\n");
}

// watch, in JSON: what came unclaimed is printed in its place among the round's lines, each
// time it comes, though the outcomes around it did not change.
TEST(CtlRuns, WatchPrintsWhatCameUnclaimedInItsPlace) {
    Fixture f;
    f.lines.script["/dev/ttyUSB0"]["CR0"] = {{600, "80\r"}};
    f.held = f.request(onPort({"watch", "5"}));
    ctl::Watch watch(f.held, f.surroundings, f.out, f.err);
    watch.start([](int) { ADD_FAILURE() << "watch ended"; });
    for (int t = 0; t < 6000; ++t) f.advance(1);
    std::vector<std::string> lines;
    for (const QJsonObject& o : f.jsonLines())
        lines.push_back(o.value(o.contains("command") ? "command" : "unclaimed").toString().toStdString());
    std::vector<std::string> expected{"CR0", "80\r"};
    for (const std::string_view q : engine::statusQueries().subspan(1)) expected.emplace_back(q);
    expected.emplace_back("80\r");
    EXPECT_EQ(lines, expected);
}

// A network server may speak first: a round begun while its port connects waits for the
// connection, and what the server said first belongs to no command.
TEST(PortSessionRuns, ARoundBegunWhileConnectingWaitsAndTheServersFirstWordsAreNoReply) {
    Fixture f;
    const std::string server = "socket://hall-server:4001";
    f.lines.present.insert(server);
    f.lines.greeting = {{10, "ser2net\r"}};
    session::PortSession line(server, "19200,N,8,1", f.surroundings);
    std::vector<std::string> seen;
    line.onOutcome = [&](const session::Outcome& o) { seen.push_back(o.code + " " + o.reply); };
    line.onUnclaimed = [&](const session::Unclaimed& u) { seen.push_back("unclaimed " + u.bytes); };
    bool done = false;
    line.onDone = [&] { done = true; };
    line.open();
    line.run({{"CR0", 500}});
    for (int t = 0; t < 2000 && !done; ++t) f.advance(1);
    EXPECT_TRUE(done);
    // Connected at 50, counted as made 300 ms later; the greeting heard then; quiet 200 ms.
    EXPECT_EQ(f.writeTimes(), std::vector<std::int64_t>{550});
    EXPECT_EQ(seen, (std::vector<std::string>{"unclaimed ser2net\r", "CR0 \x06\r"}));
}

}  // namespace
