#include "app/form1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QRadioButton>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <utility>

#include "app/window_frame.h"
#include "engine/command.h"
#include "engine/display_form.h"
#include "engine/shown_text.h"
#include "engine/status.h"
#include "panel/accessibility.h"
#include "panel/art.h"
#include "tables/layout.h"
#include "panel/widgets.h"

using panel::toPixels;

namespace {

// Writes of the receive path, told to assistive technology once the reply is complete.
constexpr panel::PanelLabel::Announce kHeld = panel::PanelLabel::Announce::Held;

constexpr const char* kSettings19200 = "19200,N,8,1";
constexpr const char* kSettings9600 = "9600,N,8,1";

// A window manager that keeps no record of its frames is waited for about ten seconds.
constexpr int kFrameCheckMs = 25;
constexpr int kFrameChecks = 400;

}  // namespace

std::string lineBytes(const QString& typed) {
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(typed.size()));
    for (const char32_t c : typed.toUcs4()) bytes.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return bytes;
}

Form1::Form1(const models::Model& model, std::unique_ptr<serial::SerialPort> port,
             TimerSource& timers, Warn warn)
    : model_(model), port_(std::move(port)), warn_(std::move(warn)) {
    panel::installAccessibility();
    setWindowTitle(QString::fromUtf8(model.caption.data(), qsizetype(model.caption.size())));
    setWindowIcon(panel::programIcon());
    frame_ = new WindowFrame(this, [this] { syncFrame(); });
    frameTimer_.setSingleShot(true);
    frameTimer_.setInterval(kFrameCheckMs);
    connect(&frameTimer_, &QTimer::timeout, this, &Form1::syncFrame);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, panel::colourFor(panel::kGrey));
    pal.setColor(QPalette::WindowText, Qt::black);
    setPalette(pal);
    setFont(panel::fontFor(panel::FontCode::W));
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);

    Timer1 = timers.createTimer();
    Timer2 = timers.createTimer();
    Timer3 = timers.createTimer();
    Timer4 = timers.createTimer();
    Timer5 = timers.createTimer();
    Timer1->setInterval(panel::kRepeatPeriodMs);
    Timer2->setInterval(panel::kReplyWindowMs);
    Timer3->setInterval(5000);
    Timer4->setInterval(panel::kDisplayHoldMs);
    Timer5->setInterval(2000);
    Timer1->onTick = [this] { guarded([this] { Timer1_Timer(); }); };
    Timer2->onTick = [this] { guarded([this] { Timer2_Timer(); }); };
    Timer3->onTick = [this] { guarded([this] { Timer3_Timer(); }); };
    Timer4->onTick = [this] { guarded([this] { Timer4_Timer(); }); };
    Timer5->onTick = [this] { guarded([this] { Timer5_Timer(); }); };

    controls_ = panel::buildPanel(this, model_);
    wireControls();

    port_->onComm = [this] { guarded([this] { MSComm1_OnComm(); }); };
    steadyTimer_ = timers.createTimer();
    steadyTimer_->setInterval(kSteadyMs);
    steadyTimer_->onTick = [this] {
        steadyTimer_->setEnabled(false);
        lossReported_ = false;
    };
    port_->onLost = [this](const std::string& description) {
        // The adapter has closed the port already; a held key must not go on sending.
        Timer1->setEnabled(false);
        steadyTimer_->setEnabled(false);
        if (!std::exchange(lossReported_, true)) this->warn(description);
    };
    port_->onReady = [this] { steadyTimer_->setEnabled(true); };

    setFixedSize(toPixels(panel::kClientWidth), toPixels(panel::kClientHeight));
    outerHeightTwips_ = panel::kClientHeight;
    qApp->installEventFilter(this);
}

Form1::~Form1() {
    qApp->removeEventFilter(this);
    // The timers' handlers reach the controls; stop them before the controls go.
    for (auto* t : {Timer1.get(), Timer2.get(), Timer3.get(), Timer4.get(), Timer5.get(),
                    steadyTimer_.get()}) {
        t->onTick = nullptr;
        t->setEnabled(false);
    }
    port_->onComm = nullptr;
    port_->onLost = nullptr;
    port_->onReady = nullptr;
    // Gone while the state its dismissal touches is still there.
    delete warningBox_.data();
}

PanelTimer& Form1::timer(int n) {
    switch (n) {
        case 1: return *Timer1;
        case 2: return *Timer2;
        case 3: return *Timer3;
        case 4: return *Timer4;
        default: return *Timer5;
    }
}

void Form1::guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const serial::SerialError& e) {
        warn(e.what());
    }
}

void Form1::warn(const std::string& text) {
    if (warn_) {
        warn_(text);
        return;
    }
    // A box that waited on the operator from inside the handler would run a nested event
    // loop, in which the next failure opens the next box: a port that keeps failing would pile
    // them up on the stack.
    if (text == shownWarning_ ||
        std::ranges::find(waitingWarnings_, text) != waitingWarnings_.end())
        return;
    if (waitingWarnings_.size() == kWaitingWarnings) waitingWarnings_.pop_back();
    waitingWarnings_.push_back(text);
    if (!warningBox_) showNextWarning();
}

void Form1::showNextWarning() {
    if (warningBox_ || waitingWarnings_.empty()) return;
    shownWarning_ = std::move(waitingWarnings_.front());
    waitingWarnings_.pop_front();
    auto* box =
        new QMessageBox(QMessageBox::Warning,
                        QString::fromUtf8(model_.program.data(), qsizetype(model_.program.size())),
                        QString::fromStdString(engine::shownLines(shownWarning_)),
                        QMessageBox::Ok, this);
    // Texts hold what devices, servers and files said: never read as markup, their control
    // characters made visible.
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    connect(box, &QMessageBox::finished, this, [this] {
        warningBox_ = nullptr;
        shownWarning_.clear();
        // The next box once this one has gone.
        QMetaObject::invokeMethod(this, &Form1::showNextWarning, Qt::QueuedConnection);
    });
    warningBox_ = box;
    box->show();
}

// ---------------------------------------------------------------------------------------
// Start, port and speed, receive, end

void Form1::Form_Load() {
    commSettings = kSettings19200;
    commandPrefix = "";
    // The window is centred by its design size once its frame is known (syncFrame), then
    // cut to the operating area; the top edge stays where the centring put it.
    centreAtLoad_ = true;
    setOuterHeight(kHeightClosed);
    repeatCode = 0;
    awaitingReply = 0;
    rxBuffer.clear();
    port_->setCommPort(1);
    port_->setSettings(commSettings);
    port_->setPortOpen(true);
    Option1->setChecked(true);
    Option1_Click();
}

void Form1::Option1_Click() { choosePort(1, 2); }
void Form1::Option2_Click() { choosePort(2, 1); }

void Form1::choosePort(int n, int fallback) {
    // The operator's choice starts afresh: its loss is reported.
    lossReported_ = false;
    try {
        if (port_->portOpen()) port_->setPortOpen(false);
        port_->setCommPort(n);
        // A choice made while the port is closed opens it as well, so that a failed choice
        // can be mended by choosing again.
        port_->setPortOpen(true);
    } catch (const serial::SerialError& e) {
        warn(e.what());
        port_->setCommPort(fallback);
        return;
    }
    Frame8->hide();
}

void Form1::Option9_Click() { chooseSpeed(kSettings19200); }
void Form1::Option10_Click() { chooseSpeed(kSettings9600); }

void Form1::chooseSpeed(const char* settings) {
    commSettings = settings;
    try {
        port_->setSettings(commSettings);
    } catch (const serial::SerialError&) {
        // The option shown, like commSettings, is the speed in force.
        commSettings = port_->settings();
        (commSettings == kSettings9600 ? Option10 : Option9)->setChecked(true);
        throw;
    }
    Frame8->hide();
}

void Form1::Timer3_Timer() {
    Frame8->hide();
    Timer3->setEnabled(false);
}

void Form1::MSComm1_OnComm() {
    if (port_->commEvent() != serial::SerialPort::kEventReceive) return;
    const std::string received = port_->input();
    // A reply window keeps its first kReplyWindowLimit characters; the rest is dropped.
    const std::size_t room = engine::kReplyWindowLimit - std::min(rxBuffer.size(), engine::kReplyWindowLimit);
    rxBuffer.append(received, 0, std::min(room, received.size()));
    awaitingReply = 0;
    Hyouji(rxBuffer, 2);
}

// END unloads the window; the port is closed on the way out (closeEvent), as it is when the
// window is closed by its close box.
void Form1::Command16_Click() { close(); }

void Form1::closeEvent(QCloseEvent* event) {
    releaseHeldKey();
    // A failed close is reported, and the window closes all the same.
    guarded([this] { port_->setPortOpen(false); });
    event->accept();
}

// ---------------------------------------------------------------------------------------
// Command engine

void Form1::Hyouji(const std::string& text, int mode) {
    if (mode == 1) {
        port_->output(text);
        Label11->setText(engine::displayForm(text));
        Timer2->setEnabled(true);
        awaitingReply = 1;
        Timer4->setEnabled(true);
        return;
    }
    const bool complete = showReceived(text);
    decodeReceived();
    // What arrives is told to assistive technology once a reply is complete, or once its
    // window ends (Timer2), not once per piece: a listener hears each reply once.
    if (complete) {
        Label12->announceHeld();
        Label22->announceHeld();
    }
}

bool Form1::showReceived(const std::string& text) {
    // rxBuffer only grows between two emptyings, so the rendering is extended by what is new
    // instead of being redone: the receive path stays linear in what arrives.
    const bool extends = &text == &rxBuffer && Label12->generation() == rxShownGeneration_ &&
                         rxShown_ <= text.size();
    const std::string_view shownNow = std::string_view(text).substr(extends ? rxShown_ : 0);
    if (extends) {
        std::string more;
        engine::appendDisplayTokens(more, shownNow);
        Label12->appendText(more, kHeld);
    } else {
        Label12->setText(engine::displayForm(text), kHeld);
    }
    if (&text == &rxBuffer) {
        rxShown_ = text.size();
        rxShownGeneration_ = Label12->generation();
    }
    return shownNow.find(engine::kCR) != std::string_view::npos;
}

void Form1::decodeReceived() {
    // R is read back from RXD. The decoder goes on from what it has seen of R, unless RXD was
    // rewritten since, so every receive event costs what arrived with it.
    if (Label12->generation() != rxDecodedGeneration_) {
        replyDecoder_.restart();
        rxDecodedGeneration_ = Label12->generation();
    }
    engine::StatusUpdate update =
        replyDecoder_.update(outCommand, commandPrefix, Label12->text(), model_.lampMode);
    switch (update.kind) {
        case engine::StatusUpdate::Kind::Keep: break;
        case engine::StatusUpdate::Kind::Set:
            Label22->setText(std::move(update.caption), kHeld);
            break;
        case engine::StatusUpdate::Kind::ShowReply: showReplyAsStatus(); break;
    }
}

void Form1::showReplyAsStatus() {
    // STATUS shows R. It is extended along with RXD as long as it still holds what this path
    // wrote last: a display clear, another decoder's caption or a rewritten RXD make it
    // start again from the whole of R.
    const std::string& r = Label12->text();
    const bool extends = Label22->generation() == statusShownGeneration_ &&
                         Label12->generation() == statusShownRxGeneration_ &&
                         statusShown_ <= r.size();
    if (extends) {
        Label22->appendText(std::string_view(r).substr(statusShown_), kHeld);
    } else {
        Label22->setText(r, kHeld);
    }
    statusShown_ = r.size();
    statusShownRxGeneration_ = Label12->generation();
    statusShownGeneration_ = Label22->generation();
}

void Form1::emptyRxBuffer() {
    rxBuffer.clear();
    rxShown_ = 0;
    rxShownGeneration_ = ~0u;
}

void Form1::sendCommand(std::string_view code) {
    outCommand = engine::commandText(commandPrefix, code);
    Hyouji(outCommand, 1);
}

void Form1::Timer2_Timer() {
    if (awaitingReply == 1) Label12->setText(" X X X X");
    Label12->announceHeld();
    Label22->announceHeld();
    Timer2->setEnabled(false);
    emptyRxBuffer();
    awaitingReply = 0;
}

void Form1::Timer4_Timer() {
    Label11->setText("");
    Label12->setText("");
    Label22->setText("");
    Timer4->setEnabled(false);
}

void Form1::Timer5_Timer() {
    outCommand = engine::commandText("", "C00");
    Hyouji(outCommand, 1);
    Timer5->setEnabled(false);
}

// ---------------------------------------------------------------------------------------
// Window geometry

void Form1::setOuterHeight(int twips) {
    outerHeightTwips_ = twips;
    const int frame = frameMargins_.top() + frameMargins_.bottom();
    setFixedSize(toPixels(panel::kClientWidth), std::max(0, toPixels(twips) - frame));
}

void Form1::syncFrame() {
    // The frame is known only once the window is shown, and under X only once the window
    // manager has taken the window in; the outer height and the centring depend on it.
    if (!isVisible()) return;
    const bool lastLook = frameChecks_ >= kFrameChecks;
    QMargins margins = frame_->current();
    if (margins.isNull() && lastLook) margins = frame_->qtFrame();
    if (margins != frameMargins_) {
        frameMargins_ = margins;
        setOuterHeight(outerHeightTwips_);
    }
    if (centreAtLoad_) {
        // Centred by the design size, frame included. The client area is put where that
        // places it, so that the result does not rest on Qt's guess of the frame; the window
        // manager may still place it elsewhere the first time, so it is looked at again.
        if (const QScreen* s = screen()) {
            const QRect area = s->geometry();
            const int w = toPixels(panel::kClientWidth) + margins.left() + margins.right();
            const int h = toPixels(panel::kClientHeight) + margins.top() + margins.bottom();
            const QPoint client(area.left() + (area.width() - w) / 2 + margins.left(),
                                area.top() + (area.height() - h) / 2 + margins.top());
            if (geometry().topLeft() != client) windowHandle()->setPosition(client);
            else if (!margins.isNull()) centreAtLoad_ = false;
        }
    }
    if ((!margins.isNull() && !centreAtLoad_) || lastLook) {
        // Settled, or never to be: an operator's later move of the window is theirs.
        centreAtLoad_ = false;
        frameTimer_.stop();
    } else if (!frameTimer_.isActive()) {
        ++frameChecks_;
        frameTimer_.start();
    }
}

bool Form1::event(QEvent* e) {
    switch (e->type()) {
        case QEvent::Show:
        case QEvent::Move:
        case QEvent::Resize: {
            const bool handled = QWidget::event(e);
            syncFrame();
            return handled;
        }
        case QEvent::WindowBlocked:
        case QEvent::WindowDeactivate:
        case QEvent::Hide:
            // A modal box or another window took the mouse: the release will not come.
            releaseHeldKey();
            break;
        default:
            break;
    }
    return QWidget::event(e);
}

void Form1::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(QPen(panel::colourFor(panel::kLineColour), panel::kLineWidthPx, Qt::SolidLine,
                  Qt::SquareCap));
    for (const panel::LineRow& line : panel::lineRows()) {
        p.drawLine(toPixels(line.x1), toPixels(line.y1), toPixels(line.x2), toPixels(line.y2));
    }
}
