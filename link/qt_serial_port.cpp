#include "link/qt_serial_port.h"

#include <QFileInfo>
#include <QStringList>
#include <cstdlib>
#include <set>
#include <utility>

#include "link/device_path.h"

namespace serial {

namespace {

[[noreturn]] void fail(const QString& description) {
    throw SerialError(description.toStdString());
}

// Every port object alive. A process can end by exit() with its windows and their ports
// still standing (Qt ends it so when the connection to the X server breaks); the ports are
// closed then too, so that no lock file outlives the process and refuses the port later.
std::set<QSerialPort*>& livePorts() {
    static std::set<QSerialPort*> ports;
    return ports;
}

void closeLivePorts() {
    for (QSerialPort* port : livePorts())
        if (port->isOpen()) port->close();
}

void track(QSerialPort* port) {
    // The set is made before the handler is registered, so it outlives the handler's run.
    std::set<QSerialPort*>& ports = livePorts();
    static const bool registered = (std::atexit(closeLivePorts), true);
    (void)registered;
    ports.insert(port);
}

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

QtSerialPort::QtSerialPort(QObject* parent) : QObject(parent) {
    connect(&port_, &QSerialPort::readyRead, this, [this] {
        commEvent_ = kEventReceive;
        if (onComm) onComm();
    });
    connect(&port_, &QSerialPort::errorOccurred, this, &QtSerialPort::onError);
    track(&port_);
}

QtSerialPort::~QtSerialPort() {
    // Closing releases the device and its lock file on every way out of the program.
    livePorts().erase(&port_);
    if (port_.isOpen()) port_.close();
}

std::string QtSerialPort::devicePath() const { return devicePathFor(commPort_); }

QString QtSerialPort::describeError() const {
    return QString::fromStdString(devicePath()) + QStringLiteral(": ") + port_.errorString();
}

void QtSerialPort::setCommPort(int n) {
    if (port_.isOpen()) fail(QStringLiteral("Port already open"));
    if (n < 1 || n > 16) fail(QStringLiteral("Invalid port number %1").arg(n));
    commPort_ = n;
}

void QtSerialPort::setSettings(const std::string& settings) {
    const LineSettings parsed = parseSettings(settings);
    settings_ = settings;
    if (!port_.isOpen()) return;
    const bool ok = port_.setBaudRate(parsed.baud) && port_.setParity(parsed.parity) &&
                    port_.setDataBits(parsed.dataBits) && port_.setStopBits(parsed.stopBits);
    if (!ok) fail(describeError());
}

void QtSerialPort::applySettings() {
    const LineSettings parsed = parseSettings(settings_);
    port_.setBaudRate(parsed.baud);
    port_.setParity(parsed.parity);
    port_.setDataBits(parsed.dataBits);
    port_.setStopBits(parsed.stopBits);
    port_.setFlowControl(QSerialPort::NoFlowControl);
}

void QtSerialPort::setPortOpen(bool open) {
    if (!open) {
        if (port_.isOpen()) port_.close();
        return;
    }
    if (port_.isOpen()) fail(QStringLiteral("Port already open"));
    const QString path = QString::fromStdString(devicePath());
    port_.setPortName(path);
    applySettings();
    if (!port_.open(QIODevice::ReadWrite)) {
        QString description = describeError();
        // Qt reports a refused device and a port another program holds alike, as a
        // permission error; only the device's own permissions tell which it is.
        const QFileInfo device(path);
        if (port_.error() == QSerialPort::PermissionError && device.exists()) {
            if (!device.isReadable() || !device.isWritable()) {
                description += QStringLiteral(
                    "\nAccess to the serial port was refused. The user running the panel needs "
                    "permission to use it (on Linux: membership of the \"dialout\" group, then "
                    "log in again).");
            } else {
                description += QStringLiteral(
                    "\nThe serial port is in use by another program. Close that program, or "
                    "choose the other port.");
            }
        }
        port_.clearError();
        fail(description);
    }
    port_.clear();
    lostDescription_.clear();
}

void QtSerialPort::output(const std::string& bytes) {
    if (!port_.isOpen()) {
        // A port lost since it was opened says why, once: by this failure or by onLost,
        // whichever comes first.
        if (!lostDescription_.empty()) fail(QString::fromStdString(std::exchange(lostDescription_, {})));
        fail(QStringLiteral("Port is not open"));
    }
    const qint64 written = port_.write(bytes.data(), static_cast<qint64>(bytes.size()));
    if (written != static_cast<qint64>(bytes.size())) fail(describeError());
    // QSerialPort only buffers; without this the bytes would reach the device on the event
    // loop's next pass, after the repaints the handler has asked for. A failure here is
    // reported through errorOccurred, as it would be from that later write.
    port_.flush();
}

std::string QtSerialPort::input() {
    const QByteArray waiting = port_.readAll();
    return waiting.toStdString();
}

void QtSerialPort::onError(QSerialPort::SerialPortError error) {
    // Errors of an open are reported by setPortOpen itself. A device that vanishes while open
    // makes the port report ReadError or ResourceError over and over until it is closed, so
    // close it at once, guarded: close() on a closed port reports NotOpenError and would
    // bring us back here.
    if (error == QSerialPort::NoError || error == QSerialPort::NotOpenError ||
        error == QSerialPort::TimeoutError || !port_.isOpen()) {
        return;
    }
    if (error != QSerialPort::ReadError && error != QSerialPort::ResourceError &&
        error != QSerialPort::WriteError) {
        return;
    }
    lostDescription_ = describeError().toStdString();
    port_.close();
    port_.clearError();
    // Reported from the event loop, not from inside the port's own notification.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (lostDescription_.empty()) return;
            const std::string description = std::exchange(lostDescription_, {});
            if (onLost) onLost(description);
        },
        Qt::QueuedConnection);
}

}  // namespace serial
