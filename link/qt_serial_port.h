#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QSerialPort>

#include "link/line_settings.h"
#include "link/serial_port.h"

namespace serial {

// The parsed form of a line-settings text; throws SerialError on a malformed text.
struct LineSettings {
    qint32 baud;
    QSerialPort::Parity parity;
    QSerialPort::DataBits dataBits;
    QSerialPort::StopBits stopBits;
};
LineSettings parseSettings(const std::string& settings);

// MSComm-like serial control over QSerialPort: port number, line settings, open flag, output,
// input and a receive event. "COMn" opens the device that devicePathFor(n) names.
//
// Output never blocks the caller: what the device cannot take at once waits in the adapter and
// goes out, whole and in order, as the device takes more. A device that refuses bytes for the
// moment (its queue full) is not a lost device; only one that has gone is reported as lost.
class QtSerialPort final : public QObject, public SerialPort {
    Q_OBJECT
public:
    // Bytes that may wait in the adapter for a device that takes them slowly or not at all: the
    // longest free text (32767 characters and its carriage return) and as much again for what
    // follows it. An output that would pass it fails and leaves the waiting bytes as they are.
    static constexpr qint64 kOutputQueueLimit = 64 * 1024;

    explicit QtSerialPort(QObject* parent = nullptr);
    ~QtSerialPort() override;

    void setCommPort(int n) override;
    int commPort() const override { return commPort_; }
    void setSettings(const std::string& settings) override;
    std::string settings() const override { return settings_; }
    void setPortOpen(bool open) override;
    bool portOpen() const override { return port_.isOpen(); }
    void output(const std::string& bytes) override;
    std::string input() override;
    int commEvent() const override { return commEvent_; }
    std::string devicePath() const override;

private:
    void applySettings();
    bool applyToOpenPort(const LineSettings& settings);
    void onError(QSerialPort::SerialPortError error);
    bool deviceGone() const;
    QString describeError() const;
    QString takeFailure();
    QString describeFullQueue(qint64 waiting) const;

    QSerialPort port_;
    int commPort_ = 1;
    std::string settings_ = "9600,N,8,1";
    int commEvent_ = 0;
    std::string lostDescription_;  // why the open port went away, until reported
    QElapsedTimer lastTaken_;      // since the device last took bytes, or bytes began to wait
};

}  // namespace serial
