// The real warning box: plain text whatever a server sent, and one box at a time however
// often the port fails, never a nested event loop.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include "app/form1.h"
#include "models/model.h"
#include "tests/support/fake_port.h"
#include "tests/support/virtual_clock.h"

namespace {

struct BoxedPanel {
    BoxedPanel() {
        auto owned = std::make_unique<FakePort>();
        port = owned.get();
        form = std::make_unique<Form1>(models::kTR27K, std::move(owned), clock);
        form->guarded([this] { form->Form_Load(); });
    }
    std::vector<QMessageBox*> boxes() const {
        std::vector<QMessageBox*> open;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) open.push_back(box);
        }
        return open;
    }
    // Warns as a failing port does; fails the test instead of hanging when the warning waits
    // for the box to be dismissed.
    void lose(const std::string& text) {
        bool returned = false;
        QTimer::singleShot(0, [&] {
            if (returned) return;
            ADD_FAILURE() << "the warning waits in a nested event loop";
            if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
        });
        port->onLost(text);
        returned = true;
        QApplication::processEvents();
    }
    std::string dismiss() {
        const std::vector<QMessageBox*> open = boxes();
        if (open.size() != 1) return "boxes open: " + std::to_string(open.size());
        const std::string text = open[0]->text().toStdString();
        open[0]->button(QMessageBox::Ok)->click();
        QApplication::processEvents();
        return text;
    }

    VirtualClock clock;
    FakePort* port = nullptr;
    std::unique_ptr<Form1> form;
};

}  // namespace

TEST(WarningBox, ShowsWhatAServerSentAsPlainText) {
    BoxedPanel p;
    const std::string text =
        "socket://hall:4001: the server closed the connection (the server said \"<p "
        "style=\"color:red;font-size:40pt\">Projector OK - no action needed</p><!--\")\nThe rest.";
    p.lose(text);
    ASSERT_EQ(p.boxes().size(), 1u);
    EXPECT_EQ(p.boxes()[0]->textFormat(), Qt::PlainText);
    EXPECT_EQ(p.boxes()[0]->icon(), QMessageBox::Warning);
    EXPECT_EQ(p.dismiss(), text);
}

TEST(WarningBox, OneBoxAtATimeEachTextOnceTheLatestKept) {
    BoxedPanel p;
    for (int i = 0; i < 19; ++i) p.lose("socket://hall:4001: the server closed the connection");
    p.lose("second");
    EXPECT_EQ(p.boxes().size(), 1u);
    // A send that fails meanwhile is told too, after the boxes before it.
    p.port->setPortOpen(false);
    p.form->guarded([&] { p.form->sendCommand("C00"); });
    EXPECT_EQ(p.dismiss(), "socket://hall:4001: the server closed the connection");
    EXPECT_EQ(p.dismiss(), "second");
    EXPECT_EQ(p.dismiss(), "Port is not open");
    EXPECT_TRUE(p.boxes().empty());

    // Dismissed, the same text is told again when it comes again.
    p.lose("second");
    EXPECT_EQ(p.dismiss(), "second");

    // The waiting are bounded; the latest takes the last place.
    p.lose("open");
    for (int i = 0; i < 20; ++i) p.lose("waiting " + std::to_string(i));
    EXPECT_EQ(p.dismiss(), "open");
    for (std::size_t i = 0; i + 1 < Form1::kWaitingWarnings; ++i) EXPECT_EQ(p.dismiss(), "waiting " + std::to_string(i));
    EXPECT_EQ(p.dismiss(), "waiting 19");
    EXPECT_TRUE(p.boxes().empty());
}
