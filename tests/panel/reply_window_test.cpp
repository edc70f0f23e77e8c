// Sending, the reply window and the display clear, on the virtual clock.
#include <gtest/gtest.h>

#include <QLineEdit>

#include "engine/display_form.h"
#include "tests/support/panel_fixture.h"

TEST(ReplyWindow, SendPutsTheCommandOnTheLineAndInTxd) {
    PanelFixture p;
    p.clearTraffic();
    p.click("Command44");
    EXPECT_EQ(p.port->written, "CR0\r");
    EXPECT_EQ(p.form->outCommand, "CR0\r");
    EXPECT_EQ(p.txd(), " C R 0 CR ");
    EXPECT_EQ(p.form->awaitingReply, 1);
    EXPECT_TRUE(p.running(2));
    EXPECT_TRUE(p.running(4));
    // Sending leaves the earlier reply and status alone.
    EXPECT_EQ(p.rxd(), "");
}

TEST(ReplyWindow, NoReplyShowsXxxxAtTheTimeoutAndClearsAtTheDisplayHold) {
    PanelFixture p;
    p.click("Command17");
    p.clock.advance(499);
    EXPECT_EQ(p.rxd(), "");
    EXPECT_EQ(p.form->awaitingReply, 1);
    p.clock.advance(1);
    EXPECT_EQ(p.rxd(), " X X X X");
    EXPECT_EQ(p.form->awaitingReply, 0);
    EXPECT_FALSE(p.running(2));
    p.clock.advance(499);
    EXPECT_EQ(p.txd(), " C 0 0 CR ");
    EXPECT_EQ(p.rxd(), " X X X X");
    p.clock.advance(1);
    EXPECT_EQ(p.txd(), "");
    EXPECT_EQ(p.rxd(), "");
    EXPECT_FALSE(p.running(4));
}

TEST(ReplyWindow, ReplyInTimeIsShownAndTheWindowEndsAtTheTimeout) {
    PanelFixture p;
    p.click("Command44");
    p.clock.advance(100);
    p.port->receive("80\r");
    EXPECT_EQ(p.rxd(), " 8 0 CR ");
    EXPECT_EQ(p.status(), " Stand by");
    p.clock.advance(399);
    EXPECT_EQ(p.form->rxBuffer, "80\r");
    p.clock.advance(1);
    EXPECT_EQ(p.form->rxBuffer, "");
    EXPECT_EQ(p.rxd(), " 8 0 CR ");  // no " X X X X": a character arrived
    p.clock.advance(500);
    EXPECT_EQ(p.txd(), "");
    EXPECT_EQ(p.rxd(), "");
    EXPECT_EQ(p.status(), "");
}

TEST(ReplyWindow, TwoSendsShareOneWindowAndTheKeyComesFromTheFirstReply) {
    PanelFixture p;
    p.click("Command44");  // CR0
    p.port->receive("00\r");
    p.clock.advance(100);
    p.click("Command45");  // CR1: the second send does not restart the accumulation
    EXPECT_EQ(p.form->awaitingReply, 1);
    p.port->receive("3\r");
    EXPECT_EQ(p.form->rxBuffer, "00\r3\r");
    EXPECT_EQ(p.rxd(), " 0 0 CR 3 CR ");
    // Looked up in the table of the last query sent ("CR1"), keyed by the first reply.
    EXPECT_EQ(p.status(), " Power ON");
}

TEST(ReplyWindow, AfterTheWindowEndsANewReplyIsRenderedAfresh) {
    PanelFixture p;
    p.click("Command44");
    p.clock.advance(500);
    ASSERT_EQ(p.rxd(), " X X X X");
    p.port->receive("4");
    EXPECT_EQ(p.rxd(), " 4 ");
    p.port->receive("0\r");
    EXPECT_EQ(p.rxd(), " 4 0 CR ");
    EXPECT_EQ(p.status(), " Count down");
}

TEST(ReplyWindow, ReplyWindowKeepsItsFirst32767Characters) {
    PanelFixture p;
    p.click("Command44");
    const std::string chunk(1000, 'A');
    for (int i = 0; i < 40; ++i) p.port->receive(chunk);
    EXPECT_EQ(p.form->rxBuffer.size(), 32767u);
    EXPECT_EQ(p.rxd(), engine::displayForm(p.form->rxBuffer));
    p.clock.advance(500);
    p.port->receive("1");
    EXPECT_EQ(p.rxd(), " 1 ");
}

TEST(ReplyWindow, LowerCaseQueryIsSentButNotDecoded) {
    PanelFixture p;
    p.form->Text1->setText("cr0");
    p.click("Command95");
    EXPECT_EQ(p.port->writes.back(), "cr0\r");
    p.port->receive("00\r");
    EXPECT_EQ(p.rxd(), " 0 0 CR ");
    EXPECT_EQ(p.status(), "");
}

TEST(ReplyWindow, TypedQueryIsDecodedLikeItsButton) {
    PanelFixture p;
    p.form->Text1->setText("CR PRESSURE");
    p.click("Command95");
    p.port->receive("512\r");
    EXPECT_EQ(p.status(), "650 hPa");
    p.port->receive("99999");
    EXPECT_EQ(p.status(), "650 hPa");  // the key is the start of the window: still 512
}

TEST(ReplyWindow, PressureOutOfRangeIsSaidPlainly) {
    PanelFixture p;
    p.form->Text1->setText("CR PRESSURE");
    p.click("Command95");
    p.port->receive("6554\r");
    EXPECT_EQ(p.status(), "Pressure out of range");
}

TEST(ReplyWindow, CharactersOutsideAsciiGoOnTheLineAsQuestionMarks) {
    PanelFixture p;
    p.form->Text1->setText(QString::fromUtf8("Aé→😀{"));
    p.click("Command95");
    EXPECT_EQ(p.port->writes.back(), "A???{\r");
    EXPECT_EQ(p.txd(), " A ? ? ? ? CR ");
}

TEST(ReplyWindow, LampModeTextsFollowTheModel) {
    for (const models::Model* model : {&models::kTR27K, &models::kTR52}) {
        PanelFixture p(*model);
        p.form->Text1->setText("CR7");
        p.click("Command95");
        p.port->receive("00\r");
        EXPECT_EQ(p.status(), model == &models::kTR27K ? " OFF" : " All OFF : 2 Lamp mode");
    }
}

TEST(ReplyWindow, TimerFiveSendsPowerOnOnceWithoutThePrefix) {
    PanelFixture p;
    p.clearTraffic();
    p.form->commandPrefix = "#";
    p.form->timer(5).setEnabled(true);
    p.clock.advance(1999);
    EXPECT_EQ(p.port->written, "");
    p.clock.advance(1);
    EXPECT_EQ(p.port->written, "C00\r");
    EXPECT_FALSE(p.running(5));
    p.clock.advance(5000);
    EXPECT_EQ(p.port->writes.size(), 1u);
}
