#include "link/serial_device.h"

#include <QFileInfo>
#include <cstdlib>
#include <set>
#include <utility>

#include "link/serial_port.h"

#ifdef Q_OS_UNIX
#include <poll.h>

#include <cerrno>
#endif

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

SerialDevice::SerialDevice(std::string path, std::string program)
    : path_(std::move(path)), program_(std::move(program)) {
    connect(&port_, &QSerialPort::readyRead, this, [this] {
        if (onReadyRead) onReadyRead();
    });
    connect(&port_, &QSerialPort::errorOccurred, this, &SerialDevice::onError);
    connect(&port_, &QSerialPort::bytesWritten, this, [this] { lastTaken_.restart(); });
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
    settings_ = settings;
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
                                   "\nAccess to the serial port was refused. The user running %1 "
                                   "needs permission to use it (on Linux: membership of the "
                                   "\"dialout\" group, then log in again).")
                                   .arg(QString::fromStdString(program_));
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
    if (port_.isOpen() && !applyToOpenPort(settings)) {
        const QString failure = takeFailure();
        // What was applied before the failing step is taken back, so that the line stays as
        // it was; a device that has gone is closed already.
        if (port_.isOpen()) applyToOpenPort(settings_);
        port_.clearError();
        fail(failure);
    }
    settings_ = settings;
}

bool SerialDevice::applyToOpenPort(const LineSettings& settings) {
    return port_.setBaudRate(settings.baud) && port_.setParity(settings.parity) &&
           port_.setDataBits(settings.dataBits) && port_.setStopBits(settings.stopBits);
}

void SerialDevice::write(const std::string& bytes) {
    if (!port_.isOpen()) fail(takeFailure());
    const qint64 size = static_cast<qint64>(bytes.size());
    const qint64 waiting = port_.bytesToWrite();
    if (waiting + size > kOutputQueueLimit) fail(describeFullQueue(waiting));
    if (waiting == 0) lastTaken_.restart();
    if (port_.write(bytes.data(), size) != size) fail(describeError());
    // QSerialPort only buffers; without this the bytes would reach the device on the event
    // loop's next pass, after the repaints the handler has asked for. What the device cannot
    // take now stays in QSerialPort, which writes it as the device takes more.
    port_.flush();
    // A device found gone on the way fails this call, which then is the loss's one report.
    if (!port_.isOpen()) fail(takeFailure());
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
    // A write the device's full queue refuses (EAGAIN) is a ResourceError too. QSerialPort
    // keeps the bytes and writes them when the device can take more; the device is still
    // there, which the error's text (localised) cannot tell but the device's state can.
    if (error == QSerialPort::ResourceError && !deviceGone()) {
        port_.clearError();
        return;
    }
    gone_ = true;
    lostDescription_ = describeError().toStdString();
    port_.close();
    port_.clearError();
    // Raised from the event loop, not from inside the port's own notification (which may
    // come from inside write()).
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (onFailed) onFailed(lostDescription_);
        },
        Qt::QueuedConnection);
}

bool SerialDevice::deviceGone() const {
#ifdef Q_OS_UNIX
    // A hung-up or failed device shows it to poll() whatever is asked; a full queue does not.
    pollfd device{static_cast<int>(port_.handle()), 0, 0};
    int ready;
    do {
        ready = ::poll(&device, 1, 0);
    } while (ready < 0 && errno == EINTR);
    return ready < 0 || (device.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
#else
    // Elsewhere a write waits for the device in the system; ResourceError means it has gone.
    return true;
#endif
}

// The failure of the running call: the loss it met, if the device went away, else the
// port's last error. The port reports a loss once, whichever way it learns of it first.
QString SerialDevice::takeFailure() {
    if (!port_.isOpen() && !lostDescription_.empty()) return QString::fromStdString(lostDescription_);
    if (!port_.isOpen()) return QString::fromStdString(path_) + QStringLiteral(": Port is not open");
    return describeError();
}

QString SerialDevice::describeFullQueue(qint64 waiting) const {
    const QString device = QString::fromStdString(path_);
    const qint64 idleSeconds = lastTaken_.isValid() ? lastTaken_.elapsed() / 1000 : 0;
    const QString state =
        idleSeconds >= 1
            ? QStringLiteral("the device has taken nothing for %1 s").arg(idleSeconds)
            : QStringLiteral("the device takes the data more slowly than it is sent");
    return QStringLiteral(
               "%1: %2; %3 bytes wait to go out, and no more than %4 may wait. The command was "
               "not sent.")
        .arg(device, state)
        .arg(waiting)
        .arg(kOutputQueueLimit);
}

}  // namespace serial
