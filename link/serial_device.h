#pragma once

#include <QElapsedTimer>
#include <QSerialPort>
#include <string>

#include "link/transport.h"

namespace serial {

// A local serial device over QSerialPort: a USB adapter, an on-board UART or a
// pseudo-terminal, by its path (a port name such as COM3 on Windows).
//
// Writing never blocks the caller: what the device cannot take at once waits here and goes
// out, whole and in order, as the device takes more. A device that refuses bytes for the
// moment (its queue full) is not a lost device; only one that has gone is reported as lost.
class SerialDevice final : public Transport {
public:
    // Bytes that may wait here for a device that takes them slowly or not at all: the
    // longest free text (32767 characters and its carriage return) and as much again for what
    // follows it. A write that would pass it fails and leaves the waiting bytes as they are.
    static constexpr qint64 kOutputQueueLimit = 64 * 1024;

    // `program` names the program in the messages: "The user running the panel needs ...".
    SerialDevice(std::string path, std::string program);
    ~SerialDevice() override;

    void start(const LineSettings& settings) override;
    void close() override;
    bool gone() const override { return gone_; }
    void applySettings(const LineSettings& settings) override;
    void write(const std::string& bytes) override;
    std::string readAll() override;

private:
    bool applyToOpenPort(const LineSettings& settings);
    void onError(QSerialPort::SerialPortError error);
    bool deviceGone() const;
    QString describeError() const;
    QString takeFailure();
    QString describeFullQueue(qint64 waiting) const;

    std::string path_;
    std::string program_;
    QSerialPort port_;
    LineSettings settings_{};
    bool gone_ = false;
    std::string lostDescription_;  // why the device went away
    QElapsedTimer lastTaken_;      // since the device last took bytes, or bytes began to wait
};

}  // namespace serial
