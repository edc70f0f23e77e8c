// The real window with the real serial adapter against the projector simulator on a
// pseudo-terminal. Real time here: waits are bounded and poll the event loop.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>
#include <filesystem>
#include <future>
#include <optional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#ifdef __linux__
#include <linux/capability.h>
#include <sys/syscall.h>
#endif

#include "app/form1.h"
#include "link/reconnecting_port.h"
#include "panel/widgets.h"
#include "tests/support/ser2net.h"
#include "tests/support/simulator.h"

namespace {

using namespace std::chrono_literals;
using sim_support::Simulator;

// The adapter, counting the commands the panel writes.
class CountingPort final : public serial::SerialPort {
public:
    CountingPort() {
        inner_.onComm = [this] { if (onComm) onComm(); };
        inner_.onLost = [this](const std::string& d) { if (onLost) onLost(d); };
        inner_.onReady = [this] { if (onReady) onReady(); };
    }
    void setCommPort(int n) override { inner_.setCommPort(n); }
    int commPort() const override { return inner_.commPort(); }
    void setSettings(const std::string& s) override { inner_.setSettings(s); }
    std::string settings() const override { return inner_.settings(); }
    void setPortOpen(bool open) override { inner_.setPortOpen(open); }
    bool portOpen() const override { return inner_.portOpen(); }
    void output(const std::string& bytes) override {
        inner_.output(bytes);
        ++commands;
    }
    std::string input() override { return inner_.input(); }
    int commEvent() const override { return inner_.commEvent(); }
    std::string devicePath() const override { return inner_.devicePath(); }
    bool reconnecting() const { return inner_.reconnecting(); }

    long commands = 0;

private:
    serial::ReconnectingPort inner_;
};

// What a second program gets when it opens COM1: the adapter's error text, or "" when it
// opened. With `unprivileged` the attempt runs on a thread of its own that first gives up the
// capabilities that let root past file permissions (Linux keeps them per thread), so that
// the device's permissions count as they would for an operator.
std::string secondProgramOpens(bool unprivileged) {
    auto attempt = [unprivileged]() -> std::string {
        if (unprivileged) {
#ifdef __linux__
            __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
            __user_cap_data_struct caps[_LINUX_CAPABILITY_U32S_3]{};
            if (syscall(SYS_capget, &header, caps) != 0) return "capget failed";
            for (unsigned cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER}) {
                caps[cap / 32].effective &= ~(1u << (cap % 32));
                caps[cap / 32].permitted &= ~(1u << (cap % 32));
            }
            if (syscall(SYS_capset, &header, caps) != 0) return "capset failed";
#endif
        }
        serial::ReconnectingPort other;
        try {
            other.setPortOpen(true);
            other.setPortOpen(false);
            return "";
        } catch (const serial::SerialError& e) {
            return e.what();
        }
    };
    if (!unprivileged) return attempt();
    auto result = std::async(std::launch::async, attempt);
    return result.get();
}

// How the panel reaches the simulator's device: directly, or through ser2net on 127.0.0.1 (its
// Telnet port without RFC 2217 given an rfc2217:// address, for the refusal).
enum class Via { Device, RawTcp, Rfc2217, TelnetAsRfc2217 };

std::string nameOf(const ::testing::TestParamInfo<Via>& info) {
    switch (info.param) {
        case Via::Device: return "Device";
        case Via::RawTcp: return "RawTcp";
        case Via::Rfc2217: return "Rfc2217";
        case Via::TelnetAsRfc2217: return "TelnetAsRfc2217";
    }
    return "";
}

class EndToEnd : public ::testing::Test {
protected:
    explicit EndToEnd(std::vector<std::string> args = {"--warmup", "1500", "--cooldown", "1500"},
                      Via via = Via::Device, const models::Model& model = models::kTR27K)
        : link_(std::filesystem::temp_directory_path() /
                ("projector-e2e-" + std::to_string(::getpid()) + "-" + std::to_string(serial_++))),
          sim_(Simulator::Options{PROJECTOR_SIM_PATH, std::string(model.name), link_.string(), std::move(args)}) {
        std::string device = link_.string();
        if (via != Via::Device && !sim_support::Ser2net::program().empty()) {
            ser2net_.emplace(link_.string());
            device = via == Via::RawTcp           ? ser2net_->rawAddress()
                     : via == Via::TelnetAsRfc2217 ? ser2net_->telnetAsRfc2217Address()
                                                   : ser2net_->rfc2217Address();
        }
        qputenv("PROJECTOR_COM1", QByteArray::fromStdString(device));
        auto owned = std::make_unique<CountingPort>();
        port_ = owned.get();
        form_ = std::make_unique<Form1>(model, std::move(owned), timers_,
                                        [this](const std::string& t) { warnings_.push_back(t); });
        form_->guarded([this] { form_->Form_Load(); });
        form_->show();
    }
    ~EndToEnd() override {
        form_.reset();
        qunsetenv("PROJECTOR_COM1");
    }

    void click(std::string_view name) {
        qobject_cast<QAbstractButton*>(form_->controls().find(name))->click();
    }
    QPoint centreOf(std::string_view name) {
        QWidget* w = form_->controls().find(name);
        return w->mapTo(form_.get(), w->rect().center());
    }
    bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s) {
        return QTest::qWaitFor(done, static_cast<int>(limit.count()));
    }
    bool statusBecomes(const std::string& text) {
        return waitFor([&] { return form_->Label22->text() == text; });
    }
    // The STATUS key, once per reply window, until the status line reads `text`. A reply
    // window lasts until Timer2 fires; a reply within it would be keyed by the first one.
    bool pollStatus(const std::string& text, std::chrono::milliseconds limit = 8s) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            waitFor([&] { return !form_->timer(2).enabled(); });
            click("Command44");
            if (waitFor([&] { return form_->Label22->text() == text; }, 400ms)) return true;
        }
        return false;
    }

    static inline int serial_ = 0;
    std::filesystem::path link_;
    Simulator sim_;
    std::optional<sim_support::Ser2net> ser2net_;
    QtTimerSource timers_;
    CountingPort* port_ = nullptr;
    std::vector<std::string> warnings_;
    std::unique_ptr<Form1> form_;
};

TEST_F(EndToEnd, PowerOnAndTheStatusLineFollowsTheProjector) {
    ASSERT_TRUE(port_->portOpen()) << (warnings_.empty() ? "" : warnings_.front());
    EXPECT_EQ(port_->settings(), "19200,N,8,1");
    click("Command44");
    ASSERT_TRUE(statusBecomes(" Stand by"));
    EXPECT_EQ(form_->Label12->text(), " 8 0 CR ");
    click("Command17");
    // The acknowledgement may join the status reply in one reply window.
    ASSERT_TRUE(waitFor([&] { return form_->Label12->text().ends_with("ACK CR "); }));
    EXPECT_TRUE(pollStatus(" Count down"));
    EXPECT_TRUE(pollStatus(" Power ON"));
    EXPECT_TRUE(warnings_.empty());
}

TEST_F(EndToEnd, HeldKeyIsCountedByTheProjector) {
    const long before = sim_.commandCount();
    QTest::mousePress(form_->windowHandle(), Qt::LeftButton, {}, centreOf("Command1"));
    QTest::qWait(1100);
    QTest::mouseRelease(form_->windowHandle(), Qt::LeftButton, {}, centreOf("Command1"));
    const long sent = port_->commands;
    EXPECT_GE(sent, 4);  // one at the press, then every 250 ms
    EXPECT_LE(sent, 6);
    ASSERT_TRUE(waitFor([&] { return sim_.commandCount() - before == sent; }, 3s))
        << "sent " << sent << ", counted " << sim_.commandCount() - before;
}

TEST_F(EndToEnd, ReplySplitIntoPiecesIsShownWhole) {
    sim_.control("split 1 40");
    click("Command44");
    // Each piece is its own receive event; the status is decoded as soon as the key is in.
    ASSERT_TRUE(statusBecomes(" Stand by"));
    EXPECT_TRUE(waitFor([&] { return form_->Label12->text() == " 8 0 CR "; }));
}

TEST_F(EndToEnd, NoReplyShowsXxxx) {
    sim_.control("noreply on");
    click("Command44");
    EXPECT_TRUE(waitFor([&] { return form_->Label12->text() == " X X X X"; }, 2s));
    EXPECT_EQ(form_->Label22->text(), "");
}

TEST_F(EndToEnd, HangUpIsReportedOnceAndChoosingThePortAgainRecovers) {
    ASSERT_TRUE(sim_.waitForClient(true));
    sim_.hangup();
    ASSERT_TRUE(waitFor([&] { return !warnings_.empty(); }));
    EXPECT_FALSE(port_->portOpen());
    QTest::qWait(300);  // no storm of reports, no spinning
    EXPECT_EQ(warnings_.size(), 1u) << warnings_.front();

    sim_.plug();
    click("Command33");
    form_->Option1->click();
    ASSERT_TRUE(port_->portOpen()) << warnings_.back();
    EXPECT_TRUE(form_->Frame8->isHidden());
    click("Command44");
    EXPECT_TRUE(statusBecomes(" Stand by"));
}

// The free text goes out at once only as far as the device's own queue holds it; the rest
// waits in the adapter.
TEST_F(EndToEnd, SlowLineTakesALongTextWholeAndTheCommandAfterIt) {
    constexpr int kLength = 20000;  // more than the pseudo-terminal's queue (about 14 KB)
    ASSERT_TRUE(sim_.waitForClient(true));
    sim_.control("read-rate 16000");
    const long before = sim_.bytesReceived();
    form_->Text1->setText(QString(kLength, u'A'));
    click("Command95");
    click("Command44");
    // The query is answered only as a command of its own: arriving amid the text, it would
    // have been part of one overlong command, which the projector throws away.
    EXPECT_TRUE(statusBecomes(" Stand by"));
    EXPECT_EQ(sim_.bytesReceived() - before, kLength + 1 + 4);
    EXPECT_TRUE(port_->portOpen());
    EXPECT_TRUE(warnings_.empty()) << warnings_.front();
}

TEST_F(EndToEnd, DeviceThatStopsReadingGetsOneBoxAtTheBoundAndKeepsWhatWaits) {
    constexpr int kLength = 32767;  // the longest free text
    ASSERT_TRUE(sim_.waitForClient(true));
    sim_.control("read-rate 0");
    const long before = sim_.bytesReceived();
    form_->Text1->setText(QString(kLength, u'A'));
    int accepted = 0;
    for (int i = 0; i < 8 && warnings_.empty(); ++i) {
        click("Command95");
        if (warnings_.empty()) ++accepted;
    }
    ASSERT_EQ(warnings_.size(), 1u);
    EXPECT_NE(warnings_[0].find("bytes wait to go out, and no more than 65536 may wait"),
              std::string::npos)
        << warnings_[0];
    EXPECT_GE(accepted, 2);  // the longest text twice fits in the adapter alone
    EXPECT_TRUE(port_->portOpen());
    QTest::qWait(300);
    EXPECT_EQ(warnings_.size(), 1u);

    sim_.control("read-rate off");
    EXPECT_TRUE(waitFor([&] { return sim_.bytesReceived() - before == accepted * (kLength + 1); }))
        << sim_.bytesReceived() - before << " of " << accepted * (kLength + 1);
    click("Command44");
    EXPECT_TRUE(statusBecomes(" Stand by"));
    EXPECT_EQ(warnings_.size(), 1u);
}

// A call that meets a vanished device fails with the real reason and is the loss's one report.
TEST_F(EndToEnd, LossMetByASpeedChangeOrASendIsReportedOnceByThatCall) {
    struct Case {
        const char* name;
        std::function<void()> act;
        std::function<void()> check;
    };
    const Case cases[] = {
        {"speed change", [&] { form_->Option10->click(); },
         [&] { EXPECT_EQ(port_->settings(), "19200,N,8,1"); }},
        {"send", [&] { click("Command44"); },
         [&] { EXPECT_EQ(form_->Label11->text(), ""); }},  // not shown as sent
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(sim_.waitForClient(true));
        warnings_.clear();
        // The event loop does not run in between, so the call is the first to meet the loss.
        sim_.hangup();
        click("Command33");
        c.act();
        QTest::qWait(300);  // a second report would come from the event loop
        ASSERT_EQ(warnings_.size(), 1u) << (warnings_.empty() ? "" : warnings_.front());
        EXPECT_NE(warnings_[0].find(link_.string()), std::string::npos) << warnings_[0];
        EXPECT_EQ(warnings_[0].find("No error"), std::string::npos) << warnings_[0];
        EXPECT_FALSE(port_->portOpen());
        c.check();

        sim_.plug();
        form_->Option1->click();
        ASSERT_TRUE(port_->portOpen()) << warnings_.back();
    }
}

TEST_F(EndToEnd, PortHeldByAnotherProgramIsReportedAsInUse) {
    ASSERT_TRUE(port_->portOpen());
    const std::string text = secondProgramOpens(false);
    EXPECT_NE(text.find(link_.string()), std::string::npos) << text;
    EXPECT_NE(text.find("in use by another program"), std::string::npos) << text;
    EXPECT_EQ(text.find("dialout"), std::string::npos) << text;
}

TEST_F(EndToEnd, RefusedDeviceNamesTheDialoutGroup) {
#ifndef __linux__
    GTEST_SKIP() << "drops Linux capabilities";
#endif
    form_->guarded([this] { port_->setPortOpen(false); });
    ASSERT_TRUE(sim_.waitForClient(false));
    const std::string device = sim_.devicePath();
    struct stat before {};
    ASSERT_EQ(::stat(device.c_str(), &before), 0);
    ASSERT_EQ(::chmod(device.c_str(), 0), 0);
    const std::string text = secondProgramOpens(true);
    ::chmod(device.c_str(), before.st_mode & 07777);

    EXPECT_NE(text.find(link_.string()), std::string::npos) << text;
    EXPECT_NE(text.find("\"dialout\" group"), std::string::npos) << text;
    EXPECT_EQ(text.find("in use"), std::string::npos) << text;
    // The port is free again once the device lets the user in.
    EXPECT_EQ(secondProgramOpens(false), "");
}

TEST_F(EndToEnd, WrongSpeedGetsNoAnswerUntilTheSpeedsAgree) {
    click("Command33");
    form_->Option10->click();  // 9600 against a projector at 19200
    click("Command44");
    EXPECT_TRUE(waitFor([&] { return form_->Label12->text() == " X X X X"; }, 2s));
    EXPECT_GT(sim_.garbledBytes(), 0);
    click("Command33");
    form_->Option9->click();
    EXPECT_TRUE(pollStatus(" Stand by"));
}

// The same panel through a network serial server: ser2net in front of the simulator.
class Networked : public EndToEnd, public ::testing::WithParamInterface<Via> {
protected:
    Networked() : EndToEnd({"--warmup", "1500", "--cooldown", "1500"}, GetParam()) {}
    void SetUp() override {
        if (GetParam() != Via::Device && !ser2net_) GTEST_SKIP() << "ser2net is not installed (./go installs it)";
        // A network port opens asynchronously.
        ASSERT_TRUE(waitFor([&] { return port_->portOpen(); }, 3s)) << (warnings_.empty() ? "" : warnings_.front());
    }
    // Whether the port is open again within `limit`, and a STATUS is then answered.
    bool backWithin(std::chrono::milliseconds limit) {
        if (!waitFor([&] { return port_->portOpen(); }, limit)) return false;
        return pollStatus(" Stand by", 3s);
    }
};

class AnyRoute : public Networked {};
class NetworkRoute : public Networked {};

TEST_P(NetworkRoute, PowerOnAndTheStatusLineFollowsTheProjector) {
    click("Command44");
    ASSERT_TRUE(statusBecomes(" Stand by"));
    click("Command17");
    EXPECT_TRUE(pollStatus(" Power ON"));
    EXPECT_TRUE(warnings_.empty()) << warnings_.front();
}

TEST_P(AnyRoute, DeviceHungUpAndPluggedBackIsReachedAgainWithOneWarning) {
    ASSERT_TRUE(pollStatus(" Stand by"));
    sim_.hangup();
    ASSERT_TRUE(waitFor([&] { return !warnings_.empty(); }));
    EXPECT_FALSE(port_->portOpen());
    QTest::qWait(1500);  // attempts against the missing device stay quiet
    const long before = sim_.commandCount();
    sim_.plug();
    EXPECT_TRUE(backWithin(2s));
    EXPECT_EQ(warnings_.size(), 1u) << warnings_.back();
    EXPECT_GT(sim_.commandCount(), before);
}

INSTANTIATE_TEST_SUITE_P(Routes, AnyRoute, ::testing::Values(Via::Device, Via::RawTcp, Via::Rfc2217), nameOf);

TEST_P(NetworkRoute, ServerStoppedAndStartedAgainIsReachedAgainWithOneWarning) {
    ASSERT_TRUE(pollStatus(" Stand by"));
    ser2net_->stop();
    ASSERT_TRUE(waitFor([&] { return !warnings_.empty(); }));
    QTest::qWait(1500);  // refused attempts stay quiet
    ser2net_->start();
    EXPECT_TRUE(backWithin(2s));
    EXPECT_EQ(warnings_.size(), 1u) << warnings_.back();
}

INSTANTIATE_TEST_SUITE_P(Routes, NetworkRoute, ::testing::Values(Via::RawTcp, Via::Rfc2217), nameOf);

class Rfc2217Route : public Networked {};

TEST_P(Rfc2217Route, SpeedChosenInThePanelReachesTheDevice) {
    ASSERT_TRUE(pollStatus(" Stand by"));
    click("Command33");
    form_->Option10->click();  // 9600: the server's port, the simulator's pseudo-terminal, follows
    ASSERT_TRUE(warnings_.empty()) << warnings_.front();
    QTest::qWait(200);
    click("Command44");
    EXPECT_TRUE(waitFor([&] { return form_->Label12->text() == " X X X X"; }, 2s));
    EXPECT_TRUE(waitFor([&] { return sim_.garbledBytes() > 0; }));
    click("Command33");
    form_->Option9->click();
    EXPECT_TRUE(pollStatus(" Stand by"));
    EXPECT_TRUE(warnings_.empty()) << warnings_.front();
}

INSTANTIATE_TEST_SUITE_P(Routes, Rfc2217Route, ::testing::Values(Via::Rfc2217), nameOf);

// ser2net's Telnet port without RFC 2217 refuses the COM-PORT-OPTION: valid Telnet, reported
// once as what it is, and not tried again.
class TelnetWithoutRfc2217 : public EndToEnd {
protected:
    TelnetWithoutRfc2217() : EndToEnd({}, Via::TelnetAsRfc2217) {}
};

TEST_F(TelnetWithoutRfc2217, IsReportedOnceWithTheAddressFormForItAndNotRetried) {
    if (!ser2net_) GTEST_SKIP() << "ser2net is not installed (./go installs it)";
    ASSERT_TRUE(waitFor([&] { return !warnings_.empty(); }));
    const std::string told = ser2net_->telnetAsRfc2217Address() + ": the server does not offer RFC 2217";
    EXPECT_EQ(warnings_[0].find(told), 0u) << warnings_[0];
    EXPECT_NE(warnings_[0].find("socket://"), std::string::npos) << warnings_[0];
    QTest::qWait(1500);  // a retry would be due after a second
    EXPECT_EQ(warnings_.size(), 1u) << warnings_.back();
    EXPECT_FALSE(port_->reconnecting());
}

// The other program's panel through ser2net.
class Tr52OverRfc2217 : public EndToEnd {
protected:
    Tr52OverRfc2217() : EndToEnd({"--warmup", "1500", "--cooldown", "1500"}, Via::Rfc2217, models::kTR52) {}
};

TEST_F(Tr52OverRfc2217, PowerOnAndTheStatusLineFollowsTheProjector) {
    if (!ser2net_) GTEST_SKIP() << "ser2net is not installed (./go installs it)";
    EXPECT_TRUE(pollStatus(" Stand by"));
    click("Command17");
    EXPECT_TRUE(pollStatus(" Power ON"));
    EXPECT_TRUE(warnings_.empty()) << warnings_.front();
}

}  // namespace
