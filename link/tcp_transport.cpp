#include "link/tcp_transport.h"

#include <QNetworkProxy>

#include "link/serial_port.h"

namespace serial {

TcpTransport::TcpTransport(DeviceAddress address) : address_(std::move(address)) {
    // A serial server is reached directly, never through a proxy of the desktop's.
    socket_.setProxy(QNetworkProxy::NoProxy);
    socket_.setReadBufferSize(kReadBufferSize);
    connect(&socket_, &QTcpSocket::connected, this, &TcpTransport::onSocketConnected);
    connect(&socket_, &QTcpSocket::readyRead, this, &TcpTransport::onSocketReadyRead);
    connect(&socket_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        failOnce(address_.text + ": " +
                 (error == QAbstractSocket::RemoteHostClosedError ? std::string("the server closed the connection")
                                                                   : socket_.errorString().toStdString()));
    });
    connect(&socket_, &QTcpSocket::disconnected, this,
            [this] { failOnce(address_.text + ": the server closed the connection"); });
}

TcpTransport::~TcpTransport() { close(); }

void TcpTransport::start(const LineSettings& settings) {
    settings_ = settings;
    // Started from the event loop, so that neither the connection nor its failure is ever
    // reported from inside start(). The name look-up and the connect do not block.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!done_) socket_.connectToHost(QString::fromStdString(address_.host), address_.port);
        },
        Qt::QueuedConnection);
}

void TcpTransport::close() {
    done_ = true;
    socket_.abort();
}

void TcpTransport::onSocketConnected() {
    if (done_) return;
    // Commands are a few bytes each: out at once, not held for the acknowledgement of the
    // last one.
    socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (onConnected) onConnected();
}

void TcpTransport::applySettings(const LineSettings& settings) { settings_ = settings; }

void TcpTransport::sendProtocol(const std::string& bytes) {
    if (socket_.bytesToWrite() + static_cast<qint64>(bytes.size()) > kWriteLimit) {
        throw SerialError(address_.text + ": the server is not taking data; the command was not sent.");
    }
    socket_.write(bytes.data(), static_cast<qint64>(bytes.size()));
    socket_.flush();
}

void TcpTransport::write(const std::string& bytes) {
    if (done_ || socket_.state() != QAbstractSocket::ConnectedState) {
        throw SerialError(address_.text + ": not connected");
    }
    sendProtocol(bytes);
}

std::string TcpTransport::readAll() {
    std::string all = std::exchange(data_, {});
    all += socket_.readAll().toStdString();
    return all;
}

void TcpTransport::onSocketReadyRead() {
    if (done_) return;
    if (onReadyRead) onReadyRead();
}

void TcpTransport::failOnce(const std::string& description) {
    if (done_) return;
    done_ = true;
    // Raised from the event loop: the port discards the transport in its handler.
    QMetaObject::invokeMethod(
        this,
        [this, description] {
            socket_.abort();
            if (onFailed) onFailed(description);
        },
        Qt::QueuedConnection);
}

}  // namespace serial
