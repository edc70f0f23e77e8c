// The port the panel holds, on the virtual clock and fake transports: opening, losing and
// reopening the device, network connections and their deadlines, bad input.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <set>

#include "link/reconnecting_port.h"
#include "link/transport.h"
#include "tests/support/virtual_clock.h"

using serial::DeviceAddress;
using serial::ReconnectingPort;
using serial::SerialError;

namespace {

// The devices and servers the fake transports reach.
struct World {
    std::set<std::string> present;     // local paths that open
    std::vector<std::string> starts;   // "PATH BAUD" or "HOST:PORT BAUD", one per start
    std::string written;               // everything any transport was given
    bool breakOnWrite = false;         // the next write meets the device gone
    class Fake* live = nullptr;        // the transport in use
};

class Fake final : public serial::Transport {
public:
    Fake(World& world, DeviceAddress address) : world_(world), address_(std::move(address)) {}
    ~Fake() override {
        if (world_.live == this) world_.live = nullptr;
    }
    void start(const serial::LineSettings& s) override {
        const std::string where = address_.network() ? address_.host + ":" + std::to_string(address_.port) : address_.path;
        world_.starts.push_back(where + " " + std::to_string(s.baud));
        if (!address_.network() && !world_.present.contains(address_.path)) {
            throw SerialError(address_.path + ": No such file or directory");
        }
        world_.live = this;
    }
    void close() override {
        if (world_.live == this) world_.live = nullptr;
    }
    bool gone() const override { return gone_; }
    void applySettings(const serial::LineSettings& s) override { baudApplied = s.baud; }
    void write(const std::string& bytes) override {
        if (std::exchange(world_.breakOnWrite, false)) {
            gone_ = true;
            throw SerialError("/dev/ttyUSB0: Input/output error");
        }
        world_.written += bytes;
    }
    std::string readAll() override { return std::exchange(waiting_, {}); }

    void connectNow() { onConnected(); }
    void deliver(const std::string& bytes) {
        waiting_ += bytes;
        onReadyRead();
    }
    void fail(const std::string& why) { onFailed(why); }

    int baudApplied = 0;

private:
    World& world_;
    DeviceAddress address_;
    std::string waiting_;
    bool gone_ = false;
};

struct PortFixture {
    explicit PortFixture(std::string device, std::string settingsFile = "") {
        ReconnectingPort::Context context;
        context.timers = &clock;
        context.assignment.environment = [](const std::string&) { return std::string(); };
        context.assignment.settingsFile = std::move(settingsFile);
        context.assignment.adapters = [this] { return adapters; };
        context.assignment.stableNameFolder = byId.path().toStdString();
        context.transports = [this](const DeviceAddress& a) { return std::make_unique<Fake>(world, a); };
        port = std::make_unique<ReconnectingPort>(std::move(context));
        port->setDevice(std::move(device));
        port->setSettings("19200,N,8,1");
        port->onLost = [this](const std::string& d) { lost.push_back(d); };
        port->onComm = [this] { received += port->input(); };
        port->onReady = [this] { ++readied; };
    }
    // Queued reports and discarded transports.
    void settle() { QCoreApplication::processEvents(); }
    Fake& live() {
        EXPECT_NE(world.live, nullptr);
        return *world.live;
    }
    std::string sendFails(const std::string& bytes) {
        try {
            port->output(bytes);
        } catch (const SerialError& e) {
            return e.what();
        }
        return "";
    }

    VirtualClock clock;
    World world;
    QTemporaryDir byId;
    std::vector<serial::Adapter> adapters;
    std::vector<std::string> lost;
    std::string received;
    int readied = 0;  // onReady calls
    std::unique_ptr<ReconnectingPort> port;
};

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST(ReconnectingPort, LostDeviceIsReportedOnceThenReopenedQuietlyWithTheSettingsInForce) {
    PortFixture p("/dev/ttyACM0");
    p.world.present = {"/dev/ttyACM0"};
    p.port->setPortOpen(true);
    p.live().fail("/dev/ttyACM0: Input/output error");
    p.world.present.clear();
    p.settle();
    ASSERT_EQ(p.lost.size(), 1u);
    EXPECT_TRUE(contains(p.lost[0], "/dev/ttyACM0: Input/output error\nThe panel reconnects by itself"));
    EXPECT_FALSE(p.port->portOpen());
    EXPECT_TRUE(p.port->reconnecting());

    // Away: a command fails with a box of its own and is not kept for later.
    EXPECT_TRUE(contains(p.sendFails("C00\r"), "the port is disconnected; the command was not sent"));
    p.port->setSettings("9600,N,8,1");

    p.world.starts.clear();
    p.clock.advance(999);
    EXPECT_TRUE(p.world.starts.empty());
    p.clock.advance(1);
    EXPECT_EQ(p.world.starts, std::vector<std::string>{"/dev/ttyACM0 9600"});
    p.clock.advance(1000);
    EXPECT_EQ(p.world.starts.size(), 2u);

    EXPECT_EQ(p.readied, 0);
    p.world.present = {"/dev/ttyACM0"};
    p.clock.advance(1000);
    EXPECT_TRUE(p.port->portOpen());
    EXPECT_EQ(p.readied, 1);
    p.clock.advance(5000);
    p.settle();
    EXPECT_EQ(p.world.starts.size(), 3u);
    EXPECT_EQ(p.lost.size(), 1u);
    EXPECT_EQ(p.world.written, "");  // nothing sent on its own, nothing replayed
    p.port->output("CR0\r");
    EXPECT_EQ(p.world.written, "CR0\r");
}

TEST(ReconnectingPort, SendThatMeetsTheLossIsItsOneReport) {
    PortFixture p("/dev/ttyUSB0");
    p.world.present = {"/dev/ttyUSB0"};
    p.port->setPortOpen(true);
    p.world.breakOnWrite = true;
    EXPECT_TRUE(contains(p.sendFails("C00\r"), "/dev/ttyUSB0: Input/output error\nThe panel reconnects by itself"));
    p.settle();
    EXPECT_TRUE(p.lost.empty());
    EXPECT_TRUE(p.port->reconnecting());
    p.clock.advance(ReconnectingPort::kRetryMs);
    EXPECT_TRUE(p.port->portOpen());
    EXPECT_EQ(p.world.written, "");
}

TEST(ReconnectingPort, ChoosingAPortOrClosingStopsTheAttempts) {
    const std::function<void(ReconnectingPort&)> stops[] = {
        [](ReconnectingPort& port) { port.setPortOpen(false); },
        [](ReconnectingPort& port) { port.setCommPort(2); },
        [](ReconnectingPort& port) { port.setDevice("/dev/other"); },
    };
    for (const auto& stop : stops) {
        PortFixture p("/dev/ttyUSB0");
        p.world.present = {"/dev/ttyUSB0"};
        p.port->setPortOpen(true);
        p.live().fail("gone");
        p.settle();
        stop(*p.port);
        EXPECT_FALSE(p.port->reconnecting());
        p.world.starts.clear();
        p.clock.advance(5000);
        EXPECT_TRUE(p.world.starts.empty());
    }
}

TEST(ReconnectingPort, UsbAdapterIsFoundAgainByItsStableNameOrSerialNumberNotByItsOldPath) {
    {
        PortFixture p("/dev/ttyUSB0");
        const QString byIdName = p.byId.filePath("usb-Maker_Adapter_S1-if00-port0");
        QTemporaryDir dev;
        const QString usb0 = dev.filePath("ttyUSB0"), usb1 = dev.filePath("ttyUSB1");
        QFile(usb0).open(QIODevice::WriteOnly);
        QFile(usb1).open(QIODevice::WriteOnly);
        ASSERT_TRUE(QFile::link(usb0, byIdName));
        p.port->setDevice(usb0.toStdString());
        p.world.present = {usb0.toStdString()};
        p.port->setPortOpen(true);
        p.live().fail("gone");
        // Back as ttyUSB1, while another adapter takes ttyUSB0.
        QFile::remove(byIdName);
        ASSERT_TRUE(QFile::link(usb1, byIdName));
        p.world.present = {usb0.toStdString(), byIdName.toStdString()};
        p.world.starts.clear();
        p.clock.advance(1000);
        EXPECT_EQ(p.world.starts, std::vector<std::string>{byIdName.toStdString() + " 19200"});
        EXPECT_TRUE(p.port->portOpen());
        EXPECT_EQ(p.port->openedDevice(), byIdName.toStdString());
    }
    {
        PortFixture p("/dev/ttyUSB0");
        p.adapters = {{"/dev/ttyUSB0", "", "Adapter", "S1", true}};
        p.world.present = {"/dev/ttyUSB0"};
        p.port->setPortOpen(true);
        p.live().fail("gone");
        p.adapters = {{"/dev/ttyUSB0", "", "Adapter", "OTHER", true}};
        p.world.starts.clear();
        p.clock.advance(1000);
        EXPECT_TRUE(p.world.starts.empty());  // ttyUSB0 is another adapter now
        p.adapters.push_back({"/dev/ttyUSB1", "", "Adapter", "S1", true});
        p.world.present.insert("/dev/ttyUSB1");
        p.clock.advance(1000);
        EXPECT_EQ(p.world.starts, std::vector<std::string>{"/dev/ttyUSB1 19200"});
        EXPECT_TRUE(p.port->portOpen());
    }
}

TEST(ReconnectingPort, NetworkPortWaitsForTheServerThenSendsWhatWasWritten) {
    PortFixture p("socket://127.0.0.1:4001");
    p.port->setPortOpen(true);
    EXPECT_TRUE(p.port->portOpen());
    p.port->output("C00\r");
    EXPECT_TRUE(contains(p.sendFails(std::string(ReconnectingPort::kPendingLimit, 'x')), "has not answered yet"));
    p.clock.advance(100);
    p.live().connectNow();
    p.live().deliver("80\r");  // before the connection counts: kept
    p.clock.advance(ReconnectingPort::kSettleMs - 1);
    EXPECT_EQ(p.world.written, "");
    EXPECT_EQ(p.received, "");
    EXPECT_EQ(p.readied, 0);
    p.clock.advance(1);
    EXPECT_EQ(p.world.written, "C00\r");
    EXPECT_EQ(p.received, "80\r");
    EXPECT_EQ(p.readied, 1);
    p.live().deliver("00\r");
    EXPECT_EQ(p.received, "80\r00\r");
    p.settle();
    EXPECT_TRUE(p.lost.empty());
}

TEST(ReconnectingPort, NetworkPortThatIsNotMadeIsReportedOnceAndRetried) {
    struct Case {
        const char* what;
        std::function<void(PortFixture&)> failure;
        const char* reported;
    };
    const Case cases[] = {
        {"nobody answers",
         [](PortFixture& p) {
             p.clock.advance(ReconnectingPort::kConnectTimeoutMs - 1);
             p.settle();
             EXPECT_TRUE(p.lost.empty());
             p.clock.advance(1);
         },
         "rfc2217://hall:2217: the server did not answer within 3 s"},
        {"refused", [](PortFixture& p) { p.live().fail("rfc2217://hall:2217: Connection refused"); },
         "rfc2217://hall:2217: Connection refused\nThe panel reconnects"},
        {"hung up at once",
         [](PortFixture& p) {
             p.live().connectNow();
             p.live().deliver("Device open failure: Value or file not found\r\n");
             p.clock.advance(10);
             p.live().fail("rfc2217://hall:2217: the server closed the connection");
         },
         "the server closed the connection (the server said \"Device open failure: Value or file not found\")"},
        {"hung up after markup and control characters: quoted as they came",
         [](PortFixture& p) {
             p.live().connectNow();
             p.live().deliver("<p style=\"color:red;font-size:40pt\">Projector OK - no action needed</p><!--\x1b[2J");
             p.live().fail("rfc2217://hall:2217: the server closed the connection");
         },
         "the server closed the connection (the server said \"<p style=\"color:red;font-size:40pt\">Projector OK - "
         "no action needed</p><!--\\x1B[2J\")\nThe panel reconnects"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PortFixture p("rfc2217://hall:2217");
        p.port->setPortOpen(true);
        p.port->output("C00\r");
        c.failure(p);
        p.settle();
        ASSERT_EQ(p.lost.size(), 1u);
        EXPECT_TRUE(contains(p.lost[0], c.reported)) << p.lost[0];
        EXPECT_FALSE(p.port->portOpen());
        EXPECT_EQ(p.received, "");

        // Retried quietly; the command written while connecting is not replayed.
        p.world.starts.clear();
        p.clock.advance(ReconnectingPort::kRetryMs);
        ASSERT_EQ(p.world.starts.size(), 1u);
        p.live().fail("refused again");
        p.clock.advance(ReconnectingPort::kRetryMs);
        p.live().connectNow();
        p.clock.advance(ReconnectingPort::kSettleMs);
        p.settle();
        EXPECT_TRUE(p.port->portOpen());
        EXPECT_EQ(p.lost.size(), 1u);
        EXPECT_EQ(p.world.written, "");
    }
}

TEST(ReconnectingPort, LineSettingsOverTheNetwork) {
    PortFixture rfc("rfc2217://hall:2217");
    rfc.port->setPortOpen(true);
    rfc.live().connectNow();
    rfc.clock.advance(ReconnectingPort::kSettleMs);
    rfc.port->setSettings("9600,N,8,1");
    EXPECT_EQ(rfc.live().baudApplied, 9600);

    // Chosen while an attempt to reconnect is on its way: that connection starts with it.
    rfc.live().fail("rfc2217://hall:2217: the server closed the connection");
    rfc.clock.advance(ReconnectingPort::kRetryMs);
    rfc.port->setSettings("19200,N,8,1");
    EXPECT_EQ(rfc.live().baudApplied, 19200);

    PortFixture raw("socket://hall:4001");
    raw.port->setPortOpen(true);
    raw.port->setSettings("19200,N,8,1");  // unchanged: nothing to refuse
    try {
        raw.port->setSettings("9600,N,8,1");
        ADD_FAILURE() << "accepted";
    } catch (const SerialError& e) {
        EXPECT_TRUE(contains(e.what(), "socket://hall:4001: the line settings of a raw TCP port are those set on the server"));
    }
    EXPECT_EQ(raw.port->settings(), "19200,N,8,1");
}

TEST(ReconnectingPort, DeviceThatCannotBeOpenedIsNamedWithTheAdaptersAndHowToAssignOne) {
    QTemporaryDir config;
    const std::string folder = config.path().toStdString();
    struct Case {
        const char* what;
        std::string file;
        std::string device;
        std::vector<std::string> parts;
    };
    const Case cases[] = {
        {"missing by default", "", "COM1",
         {"/dev/ttyUSB4: No such file or directory\nCOM1 is /dev/ttyUSB4 by default", "  /dev/ttyUSB4: Adapter",
          "COM1=/dev/ttyUSB4\nin " + config.filePath("ports.ini").toStdString()}},
        {"a folder", "COM2=" + folder + "\n", "COM2", {folder + ": a folder, not a serial device", "COM2 is " + folder + ", from "}},
        {"malformed in the file", "COM1=socket://hall\n", "COM1",
         {"\"socket://hall\": no port number", "COM1 is set to it in " + config.filePath("ports.ini").toStdString()}},
        {"empty in the file", "COM1=\n", "COM1", {"COM1 is assigned no device in"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QFile file(config.filePath("ports.ini"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(c.file.c_str());
        file.close();
        PortFixture p(c.device, config.filePath("ports.ini").toStdString());
        p.adapters = {{"/dev/ttyUSB4", "", "Adapter", "", true}};
        try {
            p.port->setPortOpen(true);
            ADD_FAILURE() << "opened";
        } catch (const SerialError& e) {
            for (const std::string& part : c.parts) EXPECT_TRUE(contains(e.what(), part)) << part << "\nin\n" << e.what();
        }
        EXPECT_FALSE(p.port->portOpen());
        EXPECT_FALSE(p.port->reconnecting());
    }
}
