#pragma once

#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "engine/status.h"
#include "link/serial_port.h"
#include "link/timers.h"
#include "models/model.h"
#include "panel/factory.h"
#include "tables/buttons.h"

class QLineEdit;
class QMessageBox;
class WindowFrame;
class QRadioButton;

namespace panel {
class PanelButton;
class PanelFrame;
class PanelLabel;
class PanelPicture;
}  // namespace panel

// The panel's one window: its controls, the state every handler shares, and one handler per
// control event. Handlers are straight sequences of steps; a failing serial operation throws
// serial::SerialError, which ends the handler at that step and is reported in the warning box
// by the event's dispatcher (see guarded()).
class Form1 : public QWidget {
    Q_OBJECT
public:
    // Shows the warning box with the given text; tests put a recorder here.
    using Warn = std::function<void(const std::string& text)>;

    // The window takes the port; the timers come from `timers`, which must outlive it.
    Form1(const models::Model& model, std::unique_ptr<serial::SerialPort> port,
          TimerSource& timers, Warn warn = {});
    ~Form1() override;

    // --- state shared by the handlers -----------------------------------------------------
    std::string outCommand;
    std::string commandPrefix;
    std::string rxBuffer;
    std::uint8_t awaitingReply = 0;
    std::string commSettings;
    std::uint8_t repeatCode = 0;
    std::uint8_t arrowMode = 0;
    std::int16_t serviceUnlocked = 0;

    // --- start, port and speed, receive, end ------------------------------------------------
    void Form_Load();
    void Option1_Click();
    void Option2_Click();
    void Option9_Click();
    void Option10_Click();
    void Command16_Click();
    void MSComm1_OnComm();
    void Timer3_Timer();

    // --- command engine -----------------------------------------------------------------------
    // Mode 1 sends `text` and shows it in TXD; any other mode shows received text in RXD and
    // decodes it into STATUS.
    void Hyouji(const std::string& text, int mode);
    void sendCommand(std::string_view code);
    void Timer2_Timer();
    void Timer4_Timer();
    void Timer5_Timer();

    // --- operator controls --------------------------------------------------------------------
    void commandButton_Click(const panel::ButtonRow& row);
    void holdKey_MouseDown(const panel::HoldKeyRow& row);
    void holdKey_MouseUp(const panel::HoldKeyRow& row);
    void Timer1_Timer();
    void Form_KeyDown(int keyCode, int shift);
    void Image1_DblClick();
    void Command33_Click();
    void Command34_Click();
    void Command95_Click();
    void Command96_Click();

    // Runs one event's handler; a serial failure ends it and goes to the warning box.
    void guarded(const std::function<void()>& handler);

    // Shows `text` in the warning box, as plain text, without waiting for it to be dismissed.
    // One box is open at a time: a warning that comes meanwhile waits for the boxes before it,
    // once however often it comes, and the waiting are bounded by kWaitingWarnings (the latest
    // taking the last place).
    void warn(const std::string& text);
    static constexpr std::size_t kWaitingWarnings = 8;

    // A lost port is reported once; a loss that follows is reported again only once the port
    // has stayed up this long since it came back, so that a server that keeps hanging up
    // is one report.
    static constexpr int kSteadyMs = 10000;

    // --- window ----------------------------------------------------------------------------
    // The window's outer height (caption bar and borders included), in twips.
    int outerHeight() const { return outerHeightTwips_; }
    void setOuterHeight(int twips);

    const models::Model& model() const { return model_; }
    serial::SerialPort& port() { return *port_; }
    const panel::ControlMap& controls() const { return controls_; }
    PanelTimer& timer(int n);

    panel::PanelLabel* Label11 = nullptr;  // TXD
    panel::PanelLabel* Label12 = nullptr;  // RXD
    panel::PanelLabel* Label22 = nullptr;  // STATUS
    panel::PanelFrame* Frame8 = nullptr;
    panel::PanelButton* Command34 = nullptr;
    QLineEdit* Text1 = nullptr;
    panel::PanelPicture* Image1 = nullptr;
    QRadioButton* Option1 = nullptr;
    QRadioButton* Option2 = nullptr;
    QRadioButton* Option9 = nullptr;
    QRadioButton* Option10 = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // Outer heights of the window's views, in twips.
    static constexpr int kHeightClosed = 5350;      // operating area only
    static constexpr int kHeightSmallData = 6645;   // and the data area
    static constexpr int kHeightData = 7200;        // the same, opened by the key chord
    static constexpr int kHeightFull = 9100;        // the whole client area
    static constexpr int kHeightDataThreshold = 6000;

    void wireControls();
    void choosePort(int n, int fallback);
    void chooseSpeed(const char* settings);
    void showNextWarning();
    // True when what it shows now holds a carriage return: a reply is complete.
    bool showReceived(const std::string& text);
    void decodeReceived();
    void showReplyAsStatus();
    void emptyRxBuffer();
    void releaseHeldKey();
    void syncFrame();

    const models::Model& model_;
    std::unique_ptr<serial::SerialPort> port_;
    Warn warn_;
    QPointer<QMessageBox> warningBox_;
    std::string shownWarning_;  // the text of warningBox_
    std::deque<std::string> waitingWarnings_;
    std::unique_ptr<PanelTimer> Timer1, Timer2, Timer3, Timer4, Timer5;
    std::unique_ptr<PanelTimer> steadyTimer_;
    bool lossReported_ = false;  // and the port has not stayed up since
    panel::ControlMap controls_;
    panel::PanelButton* heldKey_ = nullptr;

    // How much of rxBuffer Label12 shows, valid while Label12 keeps the generation it had
    // after this path last wrote it.
    std::size_t rxShown_ = 0;
    unsigned rxShownGeneration_ = ~0u;

    // The decoder follows Label12's text while Label12 keeps this generation.
    engine::ReplyDecoder replyDecoder_;
    unsigned rxDecodedGeneration_ = ~0u;

    // Label22 holds Label12's text up to statusShown_ ("CR9"), valid while both labels keep
    // the generations they had when this path last wrote Label22.
    std::size_t statusShown_ = 0;
    unsigned statusShownRxGeneration_ = ~0u;
    unsigned statusShownGeneration_ = ~0u;

    int outerHeightTwips_ = 0;
    WindowFrame* frame_ = nullptr;
    QMargins frameMargins_;
    bool centreAtLoad_ = false;
    QTimer frameTimer_;
    int frameChecks_ = 0;
};

// The bytes a typed text goes on the line as: one byte per character, "?" for every
// character outside ASCII.
std::string lineBytes(const QString& typed);
