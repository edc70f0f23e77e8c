#pragma once

#include <QHostAddress>
#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gateway/log.h"

class QTcpServer;
class QTcpSocket;

namespace gateway {

// The listening side of every TCP front-end: one port on the configured addresses, at most
// `maxConnections` connections open at once (one over it is closed at once, with a log line),
// TCP keepalive on every connection accepted so that a half-open one is found.
class Listener final : public QObject {
    Q_OBJECT
  public:
    // `what` names the port in log lines and errors ("[hall] raw").
    Listener(std::string what, std::vector<QHostAddress> addresses, std::uint16_t port,
             int maxConnections, Log log, QObject* parent = nullptr);
    ~Listener() override;

    // Listens on every address; throws std::runtime_error saying which address failed and
    // why. With `skipUnavailable`, an address this system does not have (IPv6 switched off)
    // is left out with a log line instead, as long as one address listens.
    void listen(bool skipUnavailable = false);

    // Whether a connection can come from beyond this machine.
    bool beyondLoopback() const;
    // "127.0.0.1:4001 [::1]:4001": where it listens (after listen()).
    std::string description() const;
    // The port listened on: the one given, or the one the system chose for 0.
    std::uint16_t port() const { return port_; }
    int connections() const { return open_; }

    // Each connection accepted, keepalive on, not yet read. The receiver owns it from now on
    // (reparent it) and must delete it once it is closed: until then it counts against the
    // bound.
    std::function<void(QTcpSocket* socket)> onConnection;

  private:
    void accept(QTcpServer& server);

    std::string what_;
    std::vector<QHostAddress> addresses_;
    std::uint16_t port_;
    int maxConnections_;
    Log log_;
    std::vector<std::unique_ptr<QTcpServer>> servers_;
    int open_ = 0;
    long refusedSinceFull_ = 0;  // connections refused since the bound was reached
};

// Ends a connection the daemon is done with: what was written to it still goes out, then it
// closes and is deleted; a peer that takes nothing is cut off after kClosingMs. Its signals no
// longer reach `receiver`.
inline constexpr int kClosingMs = 5000;
void closeWhenSent(QTcpSocket& socket, const QObject* receiver);

// Removes a front-end's record of a connection from the event loop, since ending it may run
// inside the connection's own notification.
template <typename Owners, typename Connection>
void eraseLater(QObject* context, Owners& connections, const Connection& c) {
    QMetaObject::invokeMethod(
        context,
        [&connections, &c] {
            std::erase_if(connections, [&](const auto& owned) { return owned.get() == &c; });
        },
        Qt::QueuedConnection);
}

}  // namespace gateway
