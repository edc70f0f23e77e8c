#include "link/serial_device.h"

#include <QFileInfo>
#include <cstdlib>
#include <set>

#include "link/serial_port.h"

namespace serial {

namespace {

[[noreturn]] void fail(const QString& description) { throw SerialError(description.toStdString()); }

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

SerialDevice::SerialDevice(std::string path) : path_(std::move(path)) {
    connect(&port_, &QSerialPort::readyRead, this, [this] {
        if (onReadyRead) onReadyRead();
    });
    connect(&port_, &QSerialPort::errorOccurred, this, &SerialDevice::onError);
    track(&port_);
}

SerialDevice::~SerialDevice() {
    // Closing releases the device and its lock file on every way out of the program.
    livePorts().erase(&port_);
    close();
}

QString SerialDevice::describeError() const {
    return QString::fromStdString(path_) + QStringLiteral(": ") + port_.errorString();
}

void SerialDevice::start(const LineSettings& settings) {
    const QString path = QString::fromStdString(path_);
    port_.setPortName(path);
    port_.setBaudRate(settings.baud);
    port_.setParity(settings.parity);
    port_.setDataBits(settings.dataBits);
    port_.setStopBits(settings.stopBits);
    port_.setFlowControl(QSerialPort::NoFlowControl);
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
}

void SerialDevice::close() {
    if (port_.isOpen()) port_.close();
    port_.clearError();
}

void SerialDevice::applySettings(const LineSettings& settings) {
    if (!port_.isOpen()) return;
    const bool ok = port_.setBaudRate(settings.baud) && port_.setParity(settings.parity) &&
                    port_.setDataBits(settings.dataBits) && port_.setStopBits(settings.stopBits);
    if (!ok) fail(describeError());
}

void SerialDevice::write(const std::string& bytes) {
    if (!port_.isOpen()) fail(QString::fromStdString(path_) + QStringLiteral(": Port is not open"));
    const qint64 written = port_.write(bytes.data(), static_cast<qint64>(bytes.size()));
    if (written != static_cast<qint64>(bytes.size())) fail(describeError());
    // QSerialPort only buffers; without this the bytes would reach the device on the event
    // loop's next pass, after the repaints the handler has asked for. A failure here is
    // reported through errorOccurred, as it would be from that later write.
    port_.flush();
}

std::string SerialDevice::readAll() { return port_.readAll().toStdString(); }

void SerialDevice::onError(QSerialPort::SerialPortError error) {
    // Errors of an open are reported by start() itself. A device that vanishes while open
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
    const std::string description = describeError().toStdString();
    port_.close();
    port_.clearError();
    // Raised from the event loop, not from inside the port's own notification (which may
    // come from inside write()).
    QMetaObject::invokeMethod(
        this,
        [this, description] {
            if (onFailed) onFailed(description);
        },
        Qt::QueuedConnection);
}

}  // namespace serial
