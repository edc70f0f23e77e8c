// Start-up, port and speed choice, receiving, END and failures of the serial control.
#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include "app/start.h"
#include "tests/support/panel_fixture.h"

using Op = FakePort::Op;
using Log = std::vector<std::string>;

TEST(SerialLink, LoadOpensCom1At19200AndSelectsIt) {
    PanelFixture p;
    EXPECT_EQ(p.port->log, (Log{"port 1", "settings 19200,N,8,1", "open 1", "close", "port 1",
                                "open 1"}));
    EXPECT_TRUE(p.port->portOpen());
    EXPECT_EQ(p.port->commPort(), 1);
    EXPECT_EQ(p.port->settings(), "19200,N,8,1");
    EXPECT_EQ(p.form->commSettings, "19200,N,8,1");
    EXPECT_EQ(p.form->commandPrefix, "");
    EXPECT_TRUE(p.form->Option1->isChecked());
    EXPECT_FALSE(p.form->Option2->isChecked());
    EXPECT_TRUE(p.form->Option9->isChecked());
    EXPECT_EQ(p.form->outerHeight(), 5350);
    EXPECT_TRUE(p.form->Frame8->isHidden());
    for (int t = 1; t <= 5; ++t) EXPECT_FALSE(p.running(t)) << "Timer" << t;
    EXPECT_TRUE(p.warnings.empty());
}

TEST(SerialLink, ReplyInPiecesAccumulatesAndIsShownWholeEachTime) {
    PanelFixture p;
    p.click("Command44");  // STATUS
    p.port->receive("0");
    EXPECT_EQ(p.form->rxBuffer, "0");
    EXPECT_EQ(p.rxd(), " 0 ");
    EXPECT_EQ(p.form->awaitingReply, 0);
    p.port->receive("0\r");
    EXPECT_EQ(p.form->rxBuffer, "00\r");
    EXPECT_EQ(p.rxd(), " 0 0 CR ");
    EXPECT_EQ(p.status(), " Power ON");
}

TEST(SerialLink, OtherEventKindsChangeNothing) {
    PanelFixture p;
    p.port->receive("8");
    p.port->raiseEvent(3);
    EXPECT_EQ(p.form->rxBuffer, "8");
    EXPECT_EQ(p.rxd(), " 8 ");
}

TEST(SerialLink, SpeedChoiceAppliesAtOnceAndKeepsThePortOpen) {
    PanelFixture p;
    p.port->receive("12");
    p.click("Command33");
    p.clearTraffic();
    p.click("Option10");
    EXPECT_EQ(p.port->log, Log{"settings 9600,N,8,1"});
    EXPECT_TRUE(p.port->portOpen());
    EXPECT_EQ(p.form->commSettings, "9600,N,8,1");
    EXPECT_EQ(p.form->rxBuffer, "12");
    EXPECT_TRUE(p.form->Frame8->isHidden());
    // The two option groups are independent.
    EXPECT_TRUE(p.form->Option1->isChecked());
    EXPECT_TRUE(p.form->Option10->isChecked());
    p.click("Option9");
    EXPECT_EQ(p.port->settings(), "19200,N,8,1");
}

TEST(SerialLink, PortChoiceReopensOnTheChosenPort) {
    PanelFixture p;
    p.click("Command33");
    p.clearTraffic();
    p.click("Option2");
    EXPECT_EQ(p.port->log, (Log{"close", "port 2", "open 2"}));
    EXPECT_TRUE(p.form->Frame8->isHidden());
    EXPECT_TRUE(p.form->Option2->isChecked());
    EXPECT_TRUE(p.form->Option9->isChecked());
}

TEST(SerialLink, FailedPortChoiceWarnsFallsBackAndKeepsTheFrame) {
    PanelFixture p;
    p.port->failOn(Op::Open, "/dev/fake2: No such file or directory", 2);
    p.click("Command33");
    p.click("Option2");
    EXPECT_EQ(p.warnings, Log{"/dev/fake2: No such file or directory"});
    EXPECT_EQ(p.port->commPort(), 1);
    EXPECT_FALSE(p.port->portOpen());
    EXPECT_FALSE(p.form->Frame8->isHidden());
    EXPECT_TRUE(p.form->Option2->isChecked());
}

TEST(SerialLink, PortChoiceWhileClosedOpensThePort) {
    PanelFixture p;
    p.port->failOn(Op::Open, "busy", 2);
    p.click("Command33");
    p.click("Option2");
    ASSERT_FALSE(p.port->portOpen());
    // Choosing again mends the failed choice instead of leaving the port closed for good.
    p.clearTraffic();
    p.click("Option1");
    EXPECT_EQ(p.port->log, (Log{"port 1", "open 1"}));
    EXPECT_TRUE(p.port->portOpen());
    EXPECT_TRUE(p.form->Frame8->isHidden());
    EXPECT_EQ(p.warnings.size(), 1u);
}

TEST(SerialLink, Com1FailingAtLoadIsReportedAndThePanelGoesOn) {
    PanelFixture p(models::kTR27K, false);
    p.port->failOn(Op::Open, "/dev/ttyS0: Permission denied", 1);
    p.form->guarded([&] { p.form->Form_Load(); });
    EXPECT_EQ(p.warnings, Log{"/dev/ttyS0: Permission denied"});
    EXPECT_FALSE(p.port->portOpen());
    EXPECT_EQ(p.form->outerHeight(), 5350);
    // A send while closed is reported in turn and shows nothing.
    p.click("Command17");
    EXPECT_EQ(p.warnings.back(), "Port is not open");
    EXPECT_EQ(p.txd(), "");
    EXPECT_FALSE(p.running(2));
    EXPECT_FALSE(p.running(4));
    EXPECT_EQ(p.form->awaitingReply, 0);
}

TEST(SerialLink, TimerThreeHidesTheSettingsFrameAndStops) {
    PanelFixture p;
    p.click("Command33");
    EXPECT_FALSE(p.form->Frame8->isHidden());
    p.clock.advance(4999);
    EXPECT_FALSE(p.form->Frame8->isHidden());
    p.clock.advance(1);
    EXPECT_TRUE(p.form->Frame8->isHidden());
    EXPECT_FALSE(p.running(3));
}

TEST(SerialLink, EndClosesThePortAndTheWindow) {
    PanelFixture p;
    p.form->show();
    p.clearTraffic();
    p.click("Command16");
    EXPECT_EQ(p.port->log, Log{"close"});
    EXPECT_FALSE(p.form->isVisible());
    EXPECT_TRUE(p.warnings.empty());
}

TEST(SerialLink, EndReportsAFailedCloseAndStillEnds) {
    PanelFixture p;
    p.form->show();
    p.port->failOn(Op::Close, "close failed");
    p.click("Command16");
    EXPECT_EQ(p.warnings, Log{"close failed"});
    EXPECT_FALSE(p.form->isVisible());
}

TEST(SerialLink, CloseBoxClosesThePort) {
    PanelFixture p;
    p.form->show();
    p.form->close();
    EXPECT_FALSE(p.port->portOpen());
}

TEST(SerialLink, LostPortIsReportedOnceAndStopsTheRepetition) {
    PanelFixture p;
    QTest::mousePress(p.key("Command1"), Qt::LeftButton);
    ASSERT_TRUE(p.running(1));
    p.port->setPortOpen(false);
    p.port->onLost("/dev/fake1: Input/output error");
    EXPECT_EQ(p.warnings, Log{"/dev/fake1: Input/output error"});
    EXPECT_FALSE(p.running(1));
    p.clock.advance(1000);
    EXPECT_EQ(p.warnings.size(), 1u);
    QTest::mouseRelease(p.key("Command1"), Qt::LeftButton);

    // Back and lost again and again (a server that accepts and hangs up 0.6 s later): no more
    // boxes until the port has stayed up for a while.
    std::vector<int> upMs(19, 600);
    upMs.insert(upMs.end(), {Form1::kSteadyMs - 1, Form1::kSteadyMs});
    std::vector<std::size_t> reports;
    for (const int ms : upMs) {
        p.port->onReady();
        p.clock.advance(ms);
        p.port->onLost("/dev/fake1: Input/output error");
        reports.push_back(p.warnings.size());
        p.clock.advance(1000);
    }
    std::vector<std::size_t> expected(20, 1);
    expected.push_back(2);
    EXPECT_EQ(reports, expected);
}

TEST(SerialLink, RefusedSpeedLeavesTheSpeedInForceSelected) {
    PanelFixture p;
    p.port->failOn(Op::SetSettings, "socket://hall:4001: the line settings of a raw TCP port are those set on the server.");
    p.click("Command33");
    p.click("Option10");
    EXPECT_EQ(p.warnings.size(), 1u);
    EXPECT_EQ(p.form->commSettings, "19200,N,8,1");
    EXPECT_TRUE(p.form->Option9->isChecked());
    EXPECT_FALSE(p.form->Option10->isChecked());
}

TEST(SerialLink, SettingsFileLinesThatAreNotReadAreToldAtStart) {
    QTemporaryDir dir;
    QFile file(dir.filePath("ports.ini"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) &&
                file.write("COMI=/dev/ttyUSB0\n\x1b[2J=x\n[ports]\nCOM1=/dev/ttyUSB0\n") > 0);
    file.close();
    serial::PortAssignment assignment;
    assignment.settingsFile = file.fileName().toStdString();
    PanelFixture p(models::kTR27K, false);
    startPanel(*p.form, assignment);
    ASSERT_EQ(p.warnings.size(), 1u);
    EXPECT_EQ(p.warnings[0], file.fileName().toStdString() +
                                 " has lines that are not read:\n"
                                 "  \"\\x1B[2J\": not a port name\n"
                                 "  \"COMI\": not a port name\n"
                                 "  [ports]: a section; the lines under it are not read (\"COM1\")\n"
                                 "The file holds lines COM1=DEVICE and COM2=DEVICE, above any section; a "
                                 "port it does not assign leads to its default device.");
    EXPECT_TRUE(p.port->portOpen());
}
