#pragma once

#include <QObject>
#include <QSerialPort>

#include "link/serial_port.h"

namespace serial {

// MSComm-like serial control over QSerialPort: port number, line settings, open flag, output,
// input and a receive event. "COMn" opens the device that devicePathFor(n) names.
class QtSerialPort final : public QObject, public SerialPort {
    Q_OBJECT
public:
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
    void onError(QSerialPort::SerialPortError error);
    QString describeError() const;

    QSerialPort port_;
    int commPort_ = 1;
    std::string settings_ = "9600,N,8,1";
    int commEvent_ = 0;
    std::string lostDescription_;  // why the open port went away, until reported
};

// The parsed form of a line-settings text; throws SerialError on a malformed text.
struct LineSettings {
    qint32 baud;
    QSerialPort::Parity parity;
    QSerialPort::DataBits dataBits;
    QSerialPort::StopBits stopBits;
};
LineSettings parseSettings(const std::string& settings);

}  // namespace serial
