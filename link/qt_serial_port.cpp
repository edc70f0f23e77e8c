#include "link/qt_serial_port.h"

#include <QFileInfo>
#include <QStringList>
#include <cstdlib>
#include <set>
#include <utility>

#include "link/device_path.h"

#ifdef Q_OS_UNIX
#include <poll.h>

#include <cerrno>
#endif

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
    connect(&port_, &QSerialPort::bytesWritten, this, [this] { lastTaken_.restart(); });
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
    if (port_.isOpen() && !applyToOpenPort(parsed)) {
        const QString failure = takeFailure();
        // What was applied before the failing step is taken back, so that the line stays as
        // it was; a device that has gone is closed already.
        if (port_.isOpen()) applyToOpenPort(parseSettings(settings_));
        port_.clearError();
        fail(failure);
    }
    settings_ = settings;
}

bool QtSerialPort::applyToOpenPort(const LineSettings& settings) {
    return port_.setBaudRate(settings.baud) && port_.setParity(settings.parity) &&
           port_.setDataBits(settings.dataBits) && port_.setStopBits(settings.stopBits);
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
        if (!lostDescription_.empty()) fail(takeFailure());
        fail(QStringLiteral("Port is not open"));
    }
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
    // A write the device's full queue refuses (EAGAIN) is a ResourceError too. QSerialPort
    // keeps the bytes and writes them when the device can take more; the device is still
    // there, which the error's text (localised) cannot tell but the device's state can.
    if (error == QSerialPort::ResourceError && !deviceGone()) {
        port_.clearError();
        return;
    }
    lostDescription_ = describeError().toStdString();
    port_.close();
    port_.clearError();
    // Reported from the event loop, not from inside the port's own notification, unless the
    // call that met the loss has reported it by then.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (lostDescription_.empty()) return;
            const std::string description = std::exchange(lostDescription_, {});
            if (onLost) onLost(description);
        },
        Qt::QueuedConnection);
}

bool QtSerialPort::deviceGone() const {
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

// The failure of the running call: the loss it met, if the port went away, else the port's
// last error. A loss taken here is not reported again by onLost.
QString QtSerialPort::takeFailure() {
    if (!port_.isOpen() && !lostDescription_.empty())
        return QString::fromStdString(std::exchange(lostDescription_, {}));
    return describeError();
}

QString QtSerialPort::describeFullQueue(qint64 waiting) const {
    const QString device = QString::fromStdString(devicePath());
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
