#include "gateway/listener.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <stdexcept>

#include "gateway/config.h"
#include "link/keep_alive.h"

namespace gateway {

namespace {

std::string addressText(const QHostAddress& address, std::uint16_t port) {
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? QStringLiteral("[%1]").arg(address.toString())
                             : address.toString();
    return host.toStdString() + ":" + std::to_string(port);
}

}  // namespace

Listener::Listener(std::string what, std::vector<QHostAddress> addresses, std::uint16_t port,
                   int maxConnections, Log log, QObject* parent)
    : QObject(parent),
      what_(std::move(what)),
      addresses_(std::move(addresses)),
      port_(port),
      maxConnections_(maxConnections),
      log_(std::move(log)) {}

Listener::~Listener() = default;

void Listener::listen(bool skipUnavailable) {
    std::vector<QHostAddress> listening;
    for (const QHostAddress& address : addresses_) {
        auto server = std::make_unique<QTcpServer>();
        if (!server->listen(address, port_)) {
            const QAbstractSocket::SocketError error = server->serverError();
            const std::string why = what_ + ": cannot listen on " + addressText(address, port_) +
                                    ": " + server->errorString().toStdString();
            const bool unavailable = error == QAbstractSocket::SocketAddressNotAvailableError ||
                                     error == QAbstractSocket::UnsupportedSocketOperationError;
            if (skipUnavailable && unavailable) {
                log_(why + "; left out");
                continue;
            }
            servers_.clear();
            throw std::runtime_error(why);
        }
        // A port of 0 is the system's choice, and every address then listens on that one.
        port_ = server->serverPort();
        QTcpServer* s = server.get();
        connect(s, &QTcpServer::newConnection, this, [this, s] { accept(*s); });
        servers_.push_back(std::move(server));
        listening.push_back(address);
    }
    if (servers_.empty()) throw std::runtime_error(what_ + ": no address to listen on");
    addresses_ = std::move(listening);
}

bool Listener::beyondLoopback() const { return !loopbackOnly(addresses_); }

std::string Listener::description() const {
    std::string text;
    for (const QHostAddress& address : addresses_) {
        if (!text.empty()) text += ' ';
        text += addressText(address, port_);
    }
    return text;
}

void Listener::accept(QTcpServer& server) {
    while (QTcpSocket* socket = server.nextPendingConnection()) {
        if (open_ >= maxConnections_) {
            if (refusedSinceFull_++ == 0) {
                log_(what_ + ": connection from " + peerOf(*socket) + " refused: " +
                     std::to_string(open_) + " connections open, the most max-connections allows");
            }
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++open_;
        connect(socket, &QObject::destroyed, this, [this] {
            if (--open_ < maxConnections_ && refusedSinceFull_ > 1) {
                log_(what_ + ": " + std::to_string(refusedSinceFull_ - 1) +
                     " more connections were refused while " + std::to_string(maxConnections_) +
                     " were open");
            }
            if (open_ < maxConnections_) refusedSinceFull_ = 0;
        });
        serial::keepAlive(*socket);
        if (onConnection) {
            onConnection(socket);
        } else {
            socket->abort();
            socket->deleteLater();
        }
    }
}

void closeWhenSent(QTcpSocket& socket, const QObject* receiver) {
    socket.disconnect(receiver);
    QTcpSocket* s = &socket;
    // One that has hung up already is let go at once: until its socket is gone it counts
    // against the listener's bound.
    if (s->state() == QAbstractSocket::UnconnectedState) {
        s->deleteLater();
        return;
    }
    QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
    QTimer::singleShot(kClosingMs, s, [s] {
        s->abort();
        s->deleteLater();
    });
    s->disconnectFromHost();
}

}  // namespace gateway
