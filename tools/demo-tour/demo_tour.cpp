// A short guided tour of a panel for a machine without a display: the real window, offscreen,
// drives the projector simulator through the main jobs, saves a picture of the window after
// each step and prints the lines exchanged on the serial line.
//
//   demo-tour MODEL OUTPUT_DIR SIMULATOR_LOG
//
// The device is the one PROJECTOR_COM1 names, as for the programs.
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QTest>
#include <QTextStream>
#include <QTimer>
#include <cstdio>

#include "app/form1.h"
#include "link/reconnecting_port.h"
#include "panel/widgets.h"

namespace {

class Tour {
public:
    Tour(Form1& form, QString outputDir, QString simulatorLog)
        : form_(form), outputDir_(std::move(outputDir)), log_(std::move(simulatorLog)) {}

    void wait(int ms) {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    }

    // Waits for the reply window of the last send to end, so that the next query starts one
    // of its own.
    void waitForReplyWindow() {
        for (int i = 0; i < 100 && form_.timer(2).enabled(); ++i) wait(20);
    }

    void click(const char* name) {
        qobject_cast<QAbstractButton*>(form_.controls().find(name))->click();
    }

    QPoint centreOf(const char* name) {
        QWidget* w = form_.controls().find(name);
        return w->mapTo(&form_, w->rect().center());
    }

    void step(const char* title) {
        ++steps_;
        const QString file = QStringLiteral("%1/%2.png").arg(outputDir_).arg(steps_, 2, 10, QChar(u'0'));
        form_.grab().save(file);
        std::printf("\n[%d] %s\n", steps_, title);
        printExchange();
        std::printf("    TXD   |%s|\n    RXD   |%s|\n    STATUS|%s|\n    picture: %s\n",
                    form_.Label11->text().c_str(), form_.Label12->text().c_str(),
                    form_.Label22->text().c_str(), qPrintable(file));
        std::fflush(stdout);
    }

private:
    // The simulator's log lines written since the last step.
    void printExchange() {
        QFile file(log_);
        if (!file.open(QIODevice::ReadOnly)) return;
        file.seek(logOffset_);
        while (!file.atEnd()) {
            const QByteArray line = file.readLine().trimmed();
            if (line.contains(" RX ") || line.contains(" TX ")) std::printf("    %s\n", line.constData());
        }
        logOffset_ = file.pos();
    }

    Form1& form_;
    QString outputDir_;
    QString log_;
    qint64 logOffset_ = 0;
    int steps_ = 0;
};

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: demo-tour TR27K|TR52 OUTPUT_DIR SIMULATOR_LOG\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    panel::chooseFaces();
    const models::Model& model = QByteArray(argv[1]) == "TR52" ? models::kTR52 : models::kTR27K;
    QDir().mkpath(QString::fromLocal8Bit(argv[2]));

    QtTimerSource timers;
    Form1 form(model, std::make_unique<serial::ReconnectingPort>(), timers, [](const std::string& text) {
        std::printf("    WARNING BOX: %s\n", text.c_str());
    });
    form.guarded([&form] { form.Form_Load(); });
    form.show();
    Tour tour(form, QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    tour.wait(200);
    tour.step("The panel at start: COM1 open at 19200,N,8,1");

    QTest::keyClick(form.controls().find("Command17"), Qt::Key_J, Qt::ControlModifier);
    tour.wait(100);
    tour.step("Ctrl+J opens the data view: TXD, RXD, STATUS and the status keys");

    tour.click("Command17");
    tour.wait(300);
    tour.step("POWER ON sends C00; the projector acknowledges (ACK CR)");

    tour.waitForReplyWindow();
    tour.click("Command44");
    tour.wait(300);
    tour.step("STATUS during the count-down");

    tour.wait(3000);
    tour.waitForReplyWindow();
    tour.click("Command44");
    tour.wait(300);
    tour.step("STATUS after the count-down");

    tour.waitForReplyWindow();
    QTest::mousePress(form.windowHandle(), Qt::LeftButton, {}, tour.centreOf("Command1"));
    tour.wait(1100);
    tour.step("VOL + held for a second: C09 at the press and every 250 ms");
    QTest::mouseRelease(form.windowHandle(), Qt::LeftButton, {}, tour.centreOf("Command1"));
    tour.wait(100);
    tour.step("VOL + released: TXD and RXD empty at once, STATUS a second later");

    QTest::mouseDClick(form.Image1, Qt::LeftButton, {}, form.Image1->rect().center());
    tour.wait(100);
    tour.step("A double-click on the picture opens the whole window");

    form.Text1->setText(QStringLiteral("CR6"));
    tour.waitForReplyWindow();
    tour.click("Command95");
    tour.wait(300);
    tour.step("Free text CR6 with SEND: the three temperatures");

    form.close();
    return 0;
}
