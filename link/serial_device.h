#pragma once

#include <QSerialPort>
#include <string>

#include "link/transport.h"

namespace serial {

// A local serial device over QSerialPort: a USB adapter, an on-board UART or a
// pseudo-terminal, by its path (a port name such as COM3 on Windows).
class SerialDevice final : public Transport {
public:
    explicit SerialDevice(std::string path);
    ~SerialDevice() override;

    void start(const LineSettings& settings) override;
    void close() override;
    void applySettings(const LineSettings& settings) override;
    void write(const std::string& bytes) override;
    std::string readAll() override;

private:
    void onError(QSerialPort::SerialPortError error);
    QString describeError() const;

    std::string path_;
    QSerialPort port_;
};

}  // namespace serial
