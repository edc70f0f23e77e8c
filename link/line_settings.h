#pragma once

#include <QSerialPort>
#include <string>

namespace serial {

// The parsed form of a line-settings text such as "19200,N,8,1": baud rate, parity letter
// (N, E, O, M, S), data bits (5 to 8), stop bits (1, 1.5, 2).
struct LineSettings {
    qint32 baud;
    QSerialPort::Parity parity;
    QSerialPort::DataBits dataBits;
    QSerialPort::StopBits stopBits;

    bool operator==(const LineSettings&) const = default;
};

// Throws SerialError on a malformed text.
LineSettings parseSettings(const std::string& settings);

}  // namespace serial
