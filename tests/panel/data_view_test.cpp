// The key chord, the picture's double-click, the data-view key, free text and "COM".
#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QLineEdit>
#include <QTest>

#include "tests/support/panel_fixture.h"

namespace {

const QString kShowData = QString::fromUtf8("データを表示する");
const QString kHideData = QString::fromUtf8("データを表示しない");

class DataView : public ::testing::Test {
protected:
    DataView() { p.form->show(); }
    void chord(QWidget* target, Qt::KeyboardModifiers mods = Qt::ControlModifier,
               Qt::Key key = Qt::Key_J) {
        target->setFocus();
        QTest::keyClick(target, key, mods);
    }
    QString caption34() const { return p.form->Command34->text(); }
    void doubleClickPicture() {
        QWidget* picture = p.form->Image1;
        QTest::mouseDClick(picture, Qt::LeftButton, {}, picture->rect().center());
    }
    PanelFixture p;
};

// Counts the keys that reach a widget, to prove the chord is not taken from it.
struct KeySpy : QObject {
    int keys = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->key() == Qt::Key_J) ++keys;
        return false;
    }
};

TEST_F(DataView, ChordFromTheTextBoxOpensTheDataViewAndReachesTheBox) {
    KeySpy spy;
    p.form->Text1->installEventFilter(&spy);
    EXPECT_TRUE(p.form->Command34->isHidden());
    chord(p.form->Text1);
    EXPECT_EQ(p.form->outerHeight(), 7200);
    EXPECT_EQ(p.form->serviceUnlocked, 1);
    EXPECT_EQ(caption34(), "CLOSE");
    EXPECT_FALSE(p.form->Command34->isHidden());
    EXPECT_EQ(spy.keys, 1);
}

TEST_F(DataView, ChordWorksWhereverTheFocusIs) {
    chord(p.control("Command6"));
    EXPECT_EQ(p.form->outerHeight(), 7200);
}

TEST_F(DataView, OtherCombinationsDoNothing) {
    chord(p.form->Text1, Qt::ControlModifier | Qt::ShiftModifier);
    chord(p.form->Text1, Qt::ControlModifier | Qt::AltModifier);
    chord(p.form->Text1, Qt::NoModifier);
    chord(p.form->Text1, Qt::ControlModifier, Qt::Key_K);
    EXPECT_EQ(p.form->outerHeight(), 5350);
    EXPECT_EQ(p.form->serviceUnlocked, 0);
    EXPECT_TRUE(p.form->Command34->isHidden());
    p.form->Text1->clear();
    chord(p.form->Text1, Qt::NoModifier);
    EXPECT_EQ(p.form->Text1->text(), "j");  // J alone is typed, nothing more
}

TEST_F(DataView, DoubleClickOpensTheFullViewOnlyWhileUnlocked) {
    doubleClickPicture();
    EXPECT_EQ(p.form->outerHeight(), 5350);
    chord(p.form->Text1);
    doubleClickPicture();
    EXPECT_EQ(p.form->outerHeight(), 9100);
    EXPECT_EQ(caption34(), "CLOSE");
    chord(p.form->Text1);  // from the full view back to the data view, still unlocked
    EXPECT_EQ(p.form->outerHeight(), 7200);
    EXPECT_EQ(p.form->serviceUnlocked, 1);
    doubleClickPicture();
    EXPECT_EQ(p.form->outerHeight(), 9100);
    p.click("Command34");
    EXPECT_EQ(p.form->outerHeight(), 5350);
    EXPECT_EQ(caption34(), kShowData);
    EXPECT_EQ(p.form->serviceUnlocked, 0);
    doubleClickPicture();
    EXPECT_EQ(p.form->outerHeight(), 5350);
}

TEST_F(DataView, DataKeyTogglesBetweenClosedAndTheSmallView) {
    chord(p.form->Text1);
    p.click("Command34");
    EXPECT_EQ(p.form->outerHeight(), 5350);
    EXPECT_EQ(caption34(), kShowData);
    // Below the lower edge now, but still reached from the keyboard.
    p.form->Command34->setFocus();
    QTest::keyClick(p.form->Command34, Qt::Key_Space);
    EXPECT_EQ(p.form->outerHeight(), 6645);
    EXPECT_EQ(caption34(), kHideData);
    p.click("Command34");
    EXPECT_EQ(p.form->outerHeight(), 5350);
    EXPECT_EQ(caption34(), kShowData);
    EXPECT_FALSE(p.form->Command34->isHidden());
}

TEST_F(DataView, SendTakesTheTextAsTypedWithItsLongerWindow) {
    p.clearTraffic();
    p.click("Command95");
    EXPECT_EQ(p.port->writes.back(), "\r");
    EXPECT_EQ(p.txd(), " CR ");
    p.form->Text1->setText("  c00 x ");
    p.click("Command95");
    EXPECT_EQ(p.port->writes.back(), "  c00 x \r");
    EXPECT_EQ(p.form->Text1->text(), "  c00 x ");
    EXPECT_EQ(p.period(2), 2000);
    EXPECT_EQ(p.period(4), 2500);
    // A plain button afterwards keeps the longer window.
    p.clock.advance(3000);
    p.click("Command17");
    p.clock.advance(1999);
    EXPECT_EQ(p.rxd(), "");
    p.clock.advance(1);
    EXPECT_EQ(p.rxd(), " X X X X");
}

TEST_F(DataView, ClsEmptiesTheBoxAndNothingElse) {
    p.click("Command44");
    p.port->receive("80\r");
    p.form->Text1->setText("CR0");
    p.clearTraffic();
    p.click("Command96");
    EXPECT_EQ(p.form->Text1->text(), "");
    EXPECT_EQ(p.port->written, "");
    EXPECT_EQ(p.txd(), " C R 0 CR ");
    EXPECT_EQ(p.status(), " Stand by");
}

TEST_F(DataView, ComShowsTheSettingsFrameUntilTimerThree) {
    p.click("Command33");
    EXPECT_FALSE(p.form->Frame8->isHidden());
    // "COM" lies under the frame and cannot be reached by the mouse.
    QWidget* com = p.control("Command33");
    const QPoint centre = com->mapTo(p.form.get(), com->rect().center());
    EXPECT_NE(p.form->childAt(centre), com);
    p.clock.advance(3000);
    p.click("Command34");  // restarts the countdown
    p.clock.advance(4999);
    EXPECT_FALSE(p.form->Frame8->isHidden());
    p.clock.advance(1);
    EXPECT_TRUE(p.form->Frame8->isHidden());
}

}  // namespace
