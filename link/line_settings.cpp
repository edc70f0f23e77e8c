#include "link/line_settings.h"

#include <QString>
#include <QStringList>

#include "link/serial_port.h"

namespace serial {

namespace {

[[noreturn]] void fail(const QString& description) { throw SerialError(description.toStdString()); }

}  // namespace

LineSettings parseSettings(const std::string& settings) {
    const QStringList fields = QString::fromStdString(settings).split(u',');
    if (fields.size() != 4) fail(QStringLiteral("Invalid line settings \"%1\"").arg(settings.c_str()));

    bool ok = false;
    const int baud = fields[0].trimmed().toInt(&ok);
    if (!ok || baud <= 0) fail(QStringLiteral("Invalid baud rate \"%1\"").arg(fields[0]));

    LineSettings parsed{baud, QSerialPort::NoParity, QSerialPort::Data8, QSerialPort::OneStop};
    const QString parity = fields[1].trimmed().toUpper();
    if (parity == u"N") parsed.parity = QSerialPort::NoParity;
    else if (parity == u"E") parsed.parity = QSerialPort::EvenParity;
    else if (parity == u"O") parsed.parity = QSerialPort::OddParity;
    else if (parity == u"M") parsed.parity = QSerialPort::MarkParity;
    else if (parity == u"S") parsed.parity = QSerialPort::SpaceParity;
    else fail(QStringLiteral("Invalid parity \"%1\"").arg(fields[1]));

    const int bits = fields[2].trimmed().toInt(&ok);
    if (!ok || bits < 5 || bits > 8) fail(QStringLiteral("Invalid data bits \"%1\"").arg(fields[2]));
    parsed.dataBits = static_cast<QSerialPort::DataBits>(bits);

    const QString stop = fields[3].trimmed();
    if (stop == u"1") parsed.stopBits = QSerialPort::OneStop;
    else if (stop == u"1.5") parsed.stopBits = QSerialPort::OneAndHalfStop;
    else if (stop == u"2") parsed.stopBits = QSerialPort::TwoStop;
    else fail(QStringLiteral("Invalid stop bits \"%1\"").arg(fields[3]));
    return parsed;
}

}  // namespace serial
