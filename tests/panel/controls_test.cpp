// Command buttons and hold keys, driven through the real widgets on the virtual clock.
#include <gtest/gtest.h>

#include <QDialog>
#include <QTest>

#include "tables/buttons.h"
#include "tests/support/panel_fixture.h"

namespace {

using Op = FakePort::Op;

// Sentinel periods, so that a test sees which a handler set and which it left.
void markPeriods(PanelFixture& p) {
    p.form->timer(1).setInterval(333);
    p.form->timer(2).setInterval(777);
    p.form->timer(4).setInterval(888);
}

TEST(CommandButtons, EveryRowSendsItsCommandWithItsTimingClass) {
    for (const models::Model* model : {&models::kTR27K, &models::kTR52}) {
        int rows = 0;
        for (const panel::ButtonRow& row : panel::buttonRows()) {
            if (!model->has(row.models)) continue;
            ++rows;
            PanelFixture p(*model);
            markPeriods(p);
            p.clearTraffic();
            p.click(row.control);
            const std::string expected = std::string(row.command) + "\r";
            EXPECT_EQ(p.port->writes, std::vector<std::string>{expected}) << row.control;
            EXPECT_EQ(p.form->outCommand, expected) << row.control;
            EXPECT_TRUE(p.running(2) && p.running(4)) << row.control;
            EXPECT_FALSE(p.running(1)) << row.control;
            const auto [t1, t2, t4, mode] = [&]() -> std::tuple<int, int, int, int> {
                switch (row.timing) {
                    case panel::Timing::Plain: return {333, 777, 888, 0};
                    case panel::Timing::Timed2000: return {333, 2000, 2500, 0};
                    case panel::Timing::Timed5000: return {333, 5000, 5500, 0};
                    case panel::Timing::Menu: return {200, 777, 888, 1};
                }
                return {};
            }();
            EXPECT_EQ(p.period(1), t1) << row.control;
            EXPECT_EQ(p.period(2), t2) << row.control;
            EXPECT_EQ(p.period(4), t4) << row.control;
            EXPECT_EQ(p.form->arrowMode, mode) << row.control;
        }
        EXPECT_EQ(rows, model == &models::kTR27K ? 50 : 49);
    }
}

TEST(CommandButtons, TheCommandBelongsToTheControlNotTheCaption) {
    struct Case {
        const char* control;
        const char* bytes;
    };
    PanelFixture p(models::kTR52);
    for (const Case& c : {Case{"Command17", "C00\r"}, Case{"Command97", "CF FANSPEED MAX\r"},
                          Case{"Command64", "C50\r"}, Case{"Command72", "C25\r"},
                          Case{"Command29", "C07\r"}, Case{"Command82", "C33\r"},
                          Case{"Command61", "CF LOGO OFF\r"},
                          Case{"Command60", "CF LOGOCAPTURE START\r"},
                          Case{"Command3", "C1E\r"}}) {
        p.click(c.control);
        EXPECT_EQ(p.port->writes.back(), c.bytes) << c.control;
    }
}

TEST(CommandButtons, DisplayClearSendsButLeavesTheDisplays) {
    PanelFixture p;
    p.click("Command44");
    p.port->receive("00\r");
    p.click("Command3");
    EXPECT_EQ(p.txd(), " C 1 E CR ");
    EXPECT_EQ(p.rxd(), " 0 0 CR ");
    EXPECT_EQ(p.status(), " Power ON");
}

TEST(CommandButtons, PeriodsCarryOverToTheNextButton) {
    PanelFixture p;
    p.click("Command10");  // REAL: 2000/2500
    p.clock.advance(3000);
    p.click("Command17");  // POWER ON keeps them
    p.clock.advance(1999);
    EXPECT_EQ(p.rxd(), "");
    p.clock.advance(1);
    EXPECT_EQ(p.rxd(), " X X X X");
    p.clock.advance(499);
    EXPECT_EQ(p.txd(), " C 0 0 CR ");
    p.clock.advance(1);
    EXPECT_EQ(p.txd(), "");

    p.click("Command64");  // an input source: 5000/5500
    p.click("Command17");
    EXPECT_EQ(p.period(2), 5000);
    EXPECT_EQ(p.period(4), 5500);
}

TEST(CommandButtons, MenuButtonWhoseSendFailsLeavesTheArrowSettings) {
    PanelFixture p;
    p.form->timer(1).setInterval(250);
    p.port->failOn(Op::Output, "write failed");
    p.click("Command23");
    EXPECT_EQ(p.warnings, std::vector<std::string>{"write failed"});
    EXPECT_EQ(p.period(1), 250);
    EXPECT_EQ(p.form->arrowMode, 0);
}

TEST(CommandButtons, MenuOffChangesNeitherTheRepeatPeriodNorTheArrowMode) {
    PanelFixture p;
    p.click("Command23");
    p.form->timer(1).setInterval(500);
    p.click("Command24");
    EXPECT_EQ(p.period(1), 500);
    EXPECT_EQ(p.form->arrowMode, 1);
}

TEST(CommandButtons, ButtonBelowTheLowerEdgeWorksFromTheKeyboard) {
    PanelFixture p;
    p.form->show();
    ASSERT_EQ(p.form->outerHeight(), 5350);
    QWidget* status = p.control("Command44");
    ASSERT_GT(status->mapTo(p.form.get(), QPoint(0, 0)).y(), p.form->height());
    p.control("Command17")->setFocus();
    for (int i = 0; i < 100 && p.form->focusWidget() != status; ++i) {
        QTest::keyClick(p.form->focusWidget(), Qt::Key_Tab);
    }
    ASSERT_EQ(p.form->focusWidget(), status);
    p.clearTraffic();
    QTest::keyClick(status, Qt::Key_Space);
    EXPECT_EQ(p.port->written, "CR0\r");
}

// --- hold keys --------------------------------------------------------------------------

class HoldKeys : public ::testing::Test {
protected:
    HoldKeys() {
        p.form->show();
        p.clearTraffic();
    }
    QPoint centreOf(std::string_view name) const {
        QWidget* w = p.control(name);
        return w->mapTo(p.form.get(), w->rect().center());
    }
    // Through the window, so that Qt's routing and its implicit mouse grab take part.
    void press(std::string_view name, Qt::MouseButton button = Qt::LeftButton,
               Qt::KeyboardModifiers mods = {}) {
        QTest::mousePress(p.form->windowHandle(), button, mods, centreOf(name));
    }
    void release(std::string_view name, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mouseRelease(p.form->windowHandle(), button, {}, centreOf(name));
    }
    std::size_t sends() const { return p.port->writes.size(); }

    PanelFixture p;
};

TEST_F(HoldKeys, VolumeRepeatsEveryQuarterSecondUntilReleased) {
    press("Command1");
    EXPECT_EQ(p.port->writes, std::vector<std::string>{"C09\r"});
    EXPECT_EQ(p.form->repeatCode, 1);
    EXPECT_EQ(p.period(1), 250);
    EXPECT_EQ(p.period(2), 200);
    EXPECT_EQ(p.period(4), 245);
    p.clock.advance(249);
    EXPECT_EQ(sends(), 1u);
    p.clock.advance(1);
    EXPECT_EQ(sends(), 2u);
    p.clock.advance(750);
    EXPECT_EQ(sends(), 5u);
    EXPECT_EQ(p.port->writes.back(), "C09\r");
    release("Command1");
    EXPECT_EQ(p.form->repeatCode, 0);
    EXPECT_FALSE(p.running(1));
    EXPECT_FALSE(p.running(2));
    EXPECT_TRUE(p.running(4));
    EXPECT_EQ(p.period(2), 500);
    EXPECT_EQ(p.period(4), 1000);
    p.clock.advance(5000);
    EXPECT_EQ(sends(), 5u);
}

TEST_F(HoldKeys, ShortPressSendsOnce) {
    press("Command2");
    p.clock.advance(249);
    release("Command2");
    p.clock.advance(2000);
    EXPECT_EQ(p.port->writes, std::vector<std::string>{"C0A\r"});
}

TEST_F(HoldKeys, EachKeyRepeatsAtItsOwnPeriodWithItsReplyAndDisplayPeriods) {
    for (const panel::HoldKeyRow& row : panel::holdKeyRows()) {
        if (row.arrow) continue;
        p.clearTraffic();
        press(row.control);
        EXPECT_EQ(p.period(1), row.timer1) << row.control;
        EXPECT_EQ(p.period(2), row.timer2) << row.control;
        EXPECT_EQ(p.period(4), row.timer4) << row.control;
        // Setting a period restarts a running timer, so the key's reply wait and display
        // hold apply from its first send on.
        p.clock.advance(row.timer2 - 1);
        EXPECT_EQ(p.rxd(), "") << row.control;
        p.clock.advance(1);
        EXPECT_FALSE(p.running(2)) << row.control;
        // Where the display hold equals the reply wait, the clear follows at the same moment.
        EXPECT_EQ(p.rxd(), row.timer4 > row.timer2 ? " X X X X" : "") << row.control;
        p.clock.advance(row.timer4 - row.timer2);
        EXPECT_EQ(p.txd(), "") << row.control;
        p.clock.advance(row.timer1 * 4 - row.timer4);
        EXPECT_EQ(sends(), 5u) << row.control;
        release(row.control);
        EXPECT_EQ(p.port->writes, std::vector<std::string>(5, std::string(row.command) + "\r"))
            << row.control;
    }
}

TEST_F(HoldKeys, AnyMouseButtonWithAnyModifierHolds) {
    for (Qt::MouseButton button : {Qt::RightButton, Qt::MiddleButton}) {
        p.clearTraffic();
        press("Command50", button, Qt::ShiftModifier | Qt::ControlModifier);
        p.clock.advance(500);
        release("Command50", button);
        EXPECT_EQ(sends(), 3u) << button;
    }
}

TEST_F(HoldKeys, ReleaseOffTheKeyStillEndsTheHold) {
    press("Command15");
    QTest::mouseMove(p.form->windowHandle(), centreOf("Command17"));
    p.clock.advance(100);
    QTest::mouseRelease(p.form->windowHandle(), Qt::LeftButton, {}, centreOf("Command17"));
    EXPECT_EQ(p.form->repeatCode, 0);
    EXPECT_FALSE(p.running(1));
    EXPECT_EQ(p.port->writes, std::vector<std::string>(3, "C20\r"));
}

TEST_F(HoldKeys, KeyboardActivationOfAHoldKeySendsNothing) {
    p.control("Command1")->setFocus();
    QTest::keyClick(p.control("Command1"), Qt::Key_Space);
    EXPECT_EQ(sends(), 0u);
    EXPECT_FALSE(p.running(1));
}

TEST_F(HoldKeys, ReleaseEmptiesTxdAndRxdAtOnceAndStatusAtTheDisplayClear) {
    p.click("Command44");
    p.port->receive("00\r");
    press("Command6");
    p.port->receive("\x06\r");
    release("Command6");
    EXPECT_EQ(p.txd(), "");
    EXPECT_EQ(p.rxd(), "");
    EXPECT_EQ(p.form->rxBuffer, "");
    EXPECT_EQ(p.status(), " Power ON");
    p.clock.advance(999);
    EXPECT_EQ(p.status(), " Power ON");
    p.clock.advance(1);
    EXPECT_EQ(p.status(), "");
}

TEST_F(HoldKeys, ArrowAtStartRepeatsAtTheDesignPeriodAndLeavesTheReplyPeriods) {
    press("Command5");
    EXPECT_EQ(p.port->writes.back(), "C3C\r");
    EXPECT_EQ(p.period(1), 200);
    EXPECT_EQ(p.period(2), 500);
    EXPECT_EQ(p.period(4), 1000);
    p.clock.advance(400);
    EXPECT_EQ(sends(), 3u);
    release("Command5");
}

TEST_F(HoldKeys, ArrowAfterMenuOnUsesTheMenuPeriods) {
    p.click("Command23");
    p.clearTraffic();
    press("Command7");
    EXPECT_EQ(p.period(2), 150);
    EXPECT_EQ(p.period(4), 190);
    p.clock.advance(600);
    EXPECT_EQ(p.port->writes, std::vector<std::string>(4, "C3D\r"));
    release("Command7");
}

TEST_F(HoldKeys, ArrowAfterADigitalZoomReleaseRacesAtFiveMilliseconds) {
    press("Command48");
    release("Command48");
    EXPECT_EQ(p.form->arrowMode, 3);
    EXPECT_EQ(p.period(1), 5);
    p.clearTraffic();
    press("Command9");
    EXPECT_EQ(p.period(2), 5);
    EXPECT_EQ(p.period(4), 5);
    p.clock.advance(100);
    EXPECT_EQ(p.port->writes, std::vector<std::string>(21, "C3B\r"));
    release("Command9");
    // "A-IMAGE" brings the arrows back to 200 ms.
    p.click("Command13");
    EXPECT_EQ(p.form->arrowMode, 1);
    p.clearTraffic();
    press("Command8");
    p.clock.advance(200);
    EXPECT_EQ(sends(), 2u);
    release("Command8");
}

TEST_F(HoldKeys, OtherKeysChangeTheArrowPeriodButNotTheArrowMode) {
    p.click("Command23");
    press("Command1");
    release("Command1");
    p.clearTraffic();
    press("Command5");
    EXPECT_EQ(p.period(1), 250);
    EXPECT_EQ(p.period(2), 150);
    EXPECT_EQ(p.period(4), 190);
    release("Command5");
    EXPECT_EQ(p.form->arrowMode, 1);
}

TEST_F(HoldKeys, AfterAReleaseAPlainButtonWaitsTheDesignPeriods) {
    press("Command15");
    release("Command15");
    p.click("Command17");
    p.clock.advance(499);
    EXPECT_EQ(p.rxd(), "");
    p.clock.advance(1);
    EXPECT_EQ(p.rxd(), " X X X X");
}

TEST_F(HoldKeys, AFailingSendStopsTheRepetitionAndIsReportedOnce) {
    press("Command1");
    p.port->failOn(Op::Output, "/dev/fake1: Input/output error");
    p.clock.advance(2000);
    EXPECT_EQ(p.warnings, std::vector<std::string>{"/dev/fake1: Input/output error"});
    EXPECT_FALSE(p.running(1));
    release("Command1");
    EXPECT_EQ(p.warnings.size(), 1u);
}

TEST_F(HoldKeys, APressWhoseSendFailsDoesNotStartTheRepetition) {
    p.port->failOn(Op::Output, "Port is not open");
    press("Command1");
    EXPECT_FALSE(p.running(1));
    release("Command1");
    EXPECT_EQ(p.warnings.size(), 1u);
}

TEST_F(HoldKeys, AModalBoxTakingTheMouseEndsTheHold) {
    press("Command50");
    QDialog box(p.form.get());
    box.setWindowModality(Qt::ApplicationModal);
    box.show();
    EXPECT_EQ(p.form->repeatCode, 0);
    EXPECT_FALSE(p.running(1));
    box.hide();
    p.clock.advance(1000);
    EXPECT_EQ(sends(), 1u);
    // The late release finds nothing to end.
    release("Command50");
    EXPECT_EQ(sends(), 1u);
}

}  // namespace
