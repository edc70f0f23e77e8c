#include "link/tcp_transport.h"

#include <QNetworkProxy>

#include <stdexcept>

#include "link/keep_alive.h"
#include "link/rfc2217.h"
#include "link/serial_port.h"

namespace serial {

namespace {

ComPortSettings comPortSettings(const LineSettings& s) {
    char parity = 'N';
    switch (s.parity) {
        case QSerialPort::EvenParity: parity = 'E'; break;
        case QSerialPort::OddParity: parity = 'O'; break;
        case QSerialPort::MarkParity: parity = 'M'; break;
        case QSerialPort::SpaceParity: parity = 'S'; break;
        default: break;
    }
    const std::uint8_t stop = s.stopBits == QSerialPort::TwoStop ? 2 : s.stopBits == QSerialPort::OneAndHalfStop ? 3 : 1;
    return {static_cast<std::uint32_t>(s.baud), static_cast<std::uint8_t>(s.dataBits), parity, stop};
}

}  // namespace

TcpTransport::TcpTransport(DeviceAddress address) : address_(std::move(address)) {
    if (telnet()) session_ = std::make_unique<Rfc2217Session>();
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
    // A server that vanished without closing is found, and the port reopened, in about a
    // minute rather than never while the line is quiet.
    keepAlive(socket_);
    if (telnet()) {
        // The options and the line settings go first; nothing waits for the server's answers
        // (a server may never acknowledge some of them).
        try {
            sendProtocol(session_->start(comPortSettings(settings_)));
        } catch (const std::exception& e) {
            failOnce(address_.text + ": " + e.what());
            return;
        }
    }
    if (onConnected) onConnected();
}

void TcpTransport::applySettings(const LineSettings& settings) {
    if (!telnet()) {
        settings_ = settings;
        return;
    }
    std::string bytes;
    try {
        // Made whether or not connected, so that settings the protocol cannot carry are
        // refused at once.
        bytes = session_->lineSettings(comPortSettings(settings));
    } catch (const std::invalid_argument& e) {
        throw SerialError(address_.text + ": " + e.what());
    }
    if (!done_ && socket_.state() == QAbstractSocket::ConnectedState) sendProtocol(bytes);
    settings_ = settings;
}

void TcpTransport::sendProtocol(const std::string& bytes) {
    if (socket_.bytesToWrite() + static_cast<qint64>(bytes.size()) > kWriteLimit) {
        throw SerialError(address_.text + ": the server is not taking data; the command was not sent.");
    }
    socket_.write(bytes.data(), static_cast<qint64>(bytes.size()));
    socket_.flush();
    // A connection found broken on the way fails this call, which then is the loss's report.
    if (gone()) throw SerialError(failure_);
}

void TcpTransport::write(const std::string& bytes) {
    if (gone()) throw SerialError(failure_);
    if (done_ || socket_.state() != QAbstractSocket::ConnectedState) {
        throw SerialError(address_.text + ": not connected");
    }
    sendProtocol(telnet() ? Rfc2217Session::escape(bytes) : bytes);
}

std::string TcpTransport::readAll() {
    if (telnet()) {
        takeTelnet();
        return std::exchange(data_, {});
    }
    return socket_.readAll().toStdString();
}

void TcpTransport::takeTelnet() {
    if (done_) return;
    // The socket holds at most kReadBufferSize, so data_ and the answers do too.
    const QByteArray bytes = socket_.readAll();
    std::string reply;
    session_->receive(std::string_view(bytes.constData(), std::size_t(bytes.size())), data_, reply);
    if (session_->comPortRefused()) {
        // Valid Telnet, and the same on every connection: reported once, not retried.
        data_.clear();
        refused_ = true;
        failOnce(address_.text +
                 ": the server does not offer RFC 2217 (it refused the COM-PORT-OPTION), so the "
                 "line speed cannot be set from here. A serial server without RFC 2217 is "
                 "reached at a socket:// address of its raw TCP port, at the speed set on the "
                 "server.");
        return;
    }
    if (!session_->failure().empty()) {
        data_.clear();
        failOnce(address_.text + ": the server broke the Telnet protocol (" + session_->failure() + ")");
        return;
    }
    if (!reply.empty()) {
        try {
            sendProtocol(reply);
        } catch (const SerialError& e) {
            failOnce(e.what());
        }
    }
}

void TcpTransport::onSocketReadyRead() {
    if (done_) return;
    if (telnet()) {
        // Negotiation alone is no receive event.
        takeTelnet();
        if (data_.empty() || done_) return;
    }
    if (onReadyRead) onReadyRead();
}

void TcpTransport::failOnce(const std::string& description) {
    if (done_) return;
    done_ = true;
    failure_ = description;
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
