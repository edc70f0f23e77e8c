#pragma once

#include <QObject>
#include <cstddef>
#include <list>
#include <memory>
#include <string>

#include "gateway/config.h"
#include "gateway/line_framer.h"
#include "gateway/listener.h"
#include "gateway/log.h"

class QTcpSocket;

namespace gateway {

class Line;
class Client;

// The shared line (`raw`): a TCP port that is the projector's own line for the panel
// (socket:// in ports.ini) and projectorctl (--port socket://...). Each command a client
// sends, up to its carriage return, waits its turn on the line; the reply goes back to that
// client alone, the bytes as the projector sent them. Bytes that come when no command waits go
// to every client. While the line is down, no client is kept: a connection is told why in
// one line and closed, as a serial server whose device is away hangs up, so that the panel
// and projectorctl report the loss and the panel reconnects by itself.
class SharedLine final : public QObject {
    Q_OBJECT
  public:
    // A command longer than this without its carriage return ends the client's connection.
    static constexpr std::size_t kMaxCommandBytes = 32768;
    // Replies a client has not taken beyond this end its connection.
    static constexpr qint64 kMaxUnsentBytes = 1 << 20;

    SharedLine(Line& line, const Config& config, Log log, QObject* parent = nullptr);
    ~SharedLine() override;

    // Where it listens; the daemon starts it.
    Listener& listener() { return listener_; }

  private:
    struct Connection;
    void accepted(QTcpSocket* socket);
    // Submits the whole commands received, reading on while the client has room (or, when
    // `leaving`, to the end of what it sent).
    void take(Connection& c, bool leaving);
    void reply(Connection& c, const std::string& bytes);
    void end(Connection& c, const std::string& why);
    void lineChanged();

    Line& line_;
    Log log_;
    std::string what_;  // "[hall] raw"
    Listener listener_;
    std::list<std::unique_ptr<Connection>> connections_;
};

}  // namespace gateway
