// The real warning box: plain text whatever a server sent; one box at a time however often
// the port fails, the rest waiting in turn, and never a nested event loop.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include "tests/support/panel_fixture.h"

TEST(WarningBox, PlainTextOneAtATimeEachTextOnceTheWaitingBounded) {
    VirtualClock clock;
    Form1 form(models::kTR27K, std::make_unique<FakePort>(), clock);
    const auto dismiss = [] {
        std::vector<QMessageBox*> open;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) open.push_back(box);
        if (open.size() != 1) return "boxes open: " + std::to_string(open.size());
        EXPECT_EQ(open[0]->textFormat(), Qt::PlainText);
        const std::string text = open[0]->text().toStdString();
        open[0]->button(QMessageBox::Ok)->click();
        QApplication::processEvents();
        return text;
    };
    const std::string html = "(the server said \"<p style=\"font-size:40pt\">OK</p><!--\")\nThe rest.";
    bool returned = false;
    QTimer::singleShot(0, [&] {
        if (returned) return;
        ADD_FAILURE() << "the warning waits in a nested event loop";
        QApplication::activeModalWidget()->close();
    });
    for (int i = 0; i < 19; ++i) form.warn(html);
    returned = true;
    form.warn("second");
    form.guarded([&] { form.sendCommand("C00"); });  // the port is closed
    EXPECT_EQ(dismiss(), html);
    EXPECT_EQ(dismiss(), "second");
    EXPECT_EQ(dismiss(), "Port is not open");
    EXPECT_EQ(dismiss(), "boxes open: 0");

    for (int i = 0; i <= 20; ++i) form.warn("warning " + std::to_string(i));
    for (std::size_t i = 0; i < Form1::kWaitingWarnings; ++i) EXPECT_EQ(dismiss(), "warning " + std::to_string(i));
    EXPECT_EQ(dismiss(), "warning 20");  // the latest takes the last place
}
