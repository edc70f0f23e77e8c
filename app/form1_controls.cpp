// The operator's controls: command buttons, hold keys, the data views and free text.
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QRadioButton>

#include "app/form1.h"
#include "engine/command.h"
#include "panel/widgets.h"

namespace {

constexpr auto kCaptionShowData = "データを表示する";
constexpr auto kCaptionHideData = "データを表示しない";
constexpr auto kCaptionClose = "CLOSE";

constexpr int kKeyJ = 74;
constexpr int kShiftBit = 1, kCtrlBit = 2, kAltBit = 4;

}  // namespace

void Form1::findControls() {
    // All of them are built at start.
    Label11 = controls_.get<panel::PanelLabel>("Label11");
    Label12 = controls_.get<panel::PanelLabel>("Label12");
    Label22 = controls_.get<panel::PanelLabel>("Label22");
    Frame8 = controls_.get<panel::PanelFrame>("Frame8");
    Command34 = controls_.get<panel::PanelButton>("Command34");
    Image1 = controls_.get<panel::PanelPicture>("Image1");
    Option1 = controls_.get<QRadioButton>("Option1");
    Option2 = controls_.get<QRadioButton>("Option2");
    Option9 = controls_.get<QRadioButton>("Option9");
    Option10 = controls_.get<QRadioButton>("Option10");
}

void Form1::wireControl(std::string_view name, QWidget* widget) {
    using panel::PanelButton;
    static constexpr std::pair<std::string_view, void (Form1::*)()> kClickHandlers[] = {
        {"Option1", &Form1::Option1_Click},     {"Option2", &Form1::Option2_Click},
        {"Option9", &Form1::Option9_Click},     {"Option10", &Form1::Option10_Click},
        {"Command16", &Form1::Command16_Click}, {"Command33", &Form1::Command33_Click},
        {"Command34", &Form1::Command34_Click}, {"Command95", &Form1::Command95_Click},
        {"Command96", &Form1::Command96_Click},
    };
    for (const auto& [control, handler] : kClickHandlers) {
        if (control != name) continue;
        connect(static_cast<QAbstractButton*>(widget), &QAbstractButton::clicked, this,
                [this, handler] { guarded([this, handler] { (this->*handler)(); }); });
        return;
    }
    for (const panel::ButtonRow& row : panel::buttonRows()) {
        if (row.control != name || !model_.has(row.models)) continue;
        connect(static_cast<PanelButton*>(widget), &QAbstractButton::clicked, this,
                [this, &row] { guarded([this, &row] { commandButton_Click(row); }); });
        return;
    }
    for (const panel::HoldKeyRow& row : panel::holdKeyRows()) {
        if (row.control != name) continue;
        auto* key = static_cast<PanelButton*>(widget);
        key->setHoldKey(true);
        connect(key, &PanelButton::holdPressed, this, [this, key, &row] {
            heldKey_ = key;
            guarded([this, &row] { holdKey_MouseDown(row); });
        });
        connect(key, &PanelButton::holdReleased, this, [this, &row] {
            heldKey_ = nullptr;
            guarded([this, &row] { holdKey_MouseUp(row); });
        });
        return;
    }
    if (name == "Image1") {
        connect(static_cast<panel::PanelPicture*>(widget), &panel::PanelPicture::doubleClicked,
                this, [this] { guarded([this] { Image1_DblClick(); }); });
    }
}

// ---------------------------------------------------------------------------------------
// Command buttons

void Form1::commandButton_Click(const panel::ButtonRow& row) {
    switch (row.timing) {
        case panel::Timing::Plain:
            sendCommand(row.command);
            break;
        case panel::Timing::Timed2000:
            Timer2->setInterval(panel::kTimed2000Periods.replyWindowMs);
            Timer4->setInterval(panel::kTimed2000Periods.displayHoldMs);
            sendCommand(row.command);
            break;
        case panel::Timing::Timed5000:
            Timer2->setInterval(panel::kTimed5000Periods.replyWindowMs);
            Timer4->setInterval(panel::kTimed5000Periods.displayHoldMs);
            sendCommand(row.command);
            break;
        case panel::Timing::Menu:
            sendCommand(row.command);
            Timer1->setInterval(panel::kRepeatPeriodMs);
            arrowMode = 1;
            break;
    }
}

// ---------------------------------------------------------------------------------------
// Hold keys

void Form1::holdKey_MouseDown(const panel::HoldKeyRow& row) {
    if (row.arrow) {
        if (arrowMode == 1) {
            Timer2->setInterval(150);
            Timer4->setInterval(190);
        } else if (arrowMode == 3) {
            Timer2->setInterval(5);
            Timer4->setInterval(5);
        }
        repeatCode = row.code;
        sendCommand(row.command);
        Timer1->setEnabled(true);
        return;
    }
    repeatCode = row.code;
    sendCommand(row.command);
    Timer1->setInterval(row.timer1);
    Timer2->setInterval(row.timer2);
    Timer4->setInterval(row.timer4);
    Timer1->setEnabled(true);
}

void Form1::Timer1_Timer() {
    if (repeatCode == 0) return;
    try {
        sendCommand(panel::repeatCommand(repeatCode));
    } catch (const serial::SerialError&) {
        // One failure is reported; the repetition must not fail again on every tick.
        Timer1->setEnabled(false);
        throw;
    }
    // It keeps running on its own schedule. Enabling a running timer again would restart its
    // countdown from now, and each tick's lateness (the event loop waits in whole
    // milliseconds) would add to the repeat period.
    if (!Timer1->enabled()) Timer1->setEnabled(true);
}

void Form1::holdKey_MouseUp(const panel::HoldKeyRow& row) {
    repeatCode = 0;
    Timer1->setEnabled(false);
    Timer2->setEnabled(false);
    Timer4->setEnabled(true);
    Label11->setText("");
    Label12->setText("");
    Timer2->setInterval(panel::kReplyWindowMs);
    Timer4->setInterval(panel::kDisplayHoldMs);
    emptyRxBuffer();
    if (row.dzoom) {
        Timer1->setInterval(5);
        arrowMode = 3;
    }
}

void Form1::releaseHeldKey() {
    if (heldKey_) heldKey_->cancelHold();
}

// ---------------------------------------------------------------------------------------
// Data views, free text, settings frame

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    // Key preview: the window sees every key before the focused control, which still gets
    // it. A key event travels up through the parents; it is looked at once, at the first.
    if (event->type() == QEvent::KeyPress) {
        auto* widget = qobject_cast<QWidget*>(watched);
        QWidget* focus = QApplication::focusWidget();
        const bool first = focus ? widget == focus : widget == this;
        if (widget && first && widget->window() == this) {
            const auto* key = static_cast<QKeyEvent*>(event);
            const Qt::KeyboardModifiers m = key->modifiers();
            const int shift = (m & Qt::ShiftModifier ? kShiftBit : 0) |
                              (m & Qt::ControlModifier ? kCtrlBit : 0) |
                              (m & Qt::AltModifier ? kAltBit : 0);
            guarded([this, key, shift] { Form_KeyDown(key->key(), shift); });
        }
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::Form_KeyDown(int keyCode, int shift) {
    if ((shift & 7) != kCtrlBit || keyCode != kKeyJ) return;
    setOuterHeight(kHeightData);
    serviceUnlocked = 1;
    Command34->setText(QString::fromUtf8(kCaptionClose));
    Command34->show();
}

void Form1::Image1_DblClick() {
    if (serviceUnlocked != 1) return;
    setOuterHeight(kHeightFull);
    Command34->setText(QString::fromUtf8(kCaptionClose));
    Command34->show();
}

void Form1::Command34_Click() {
    Timer3->setEnabled(false);
    serviceUnlocked = 0;
    if (outerHeight() >= kHeightDataThreshold) {
        setOuterHeight(kHeightClosed);
        Command34->setText(QString::fromUtf8(kCaptionShowData));
    } else {
        setOuterHeight(kHeightSmallData);
        Command34->setText(QString::fromUtf8(kCaptionHideData));
    }
    Timer3->setEnabled(true);
}

void Form1::Command95_Click() {
    Timer2->setInterval(2000);
    Timer4->setInterval(2500);
    outCommand = commandPrefix + lineBytes(Text1->text()) + engine::kCR;
    Hyouji(outCommand, 1);
}

void Form1::Command96_Click() { Text1->clear(); }

void Form1::Command33_Click() {
    Frame8->show();
    Frame8->raise();
    Timer3->setEnabled(true);
}
