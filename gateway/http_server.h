#pragma once

#include <QObject>
#include <QWebSocketServer>
#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "gateway/http_request.h"
#include "link/timers.h"

class QTcpSocket;
class QWebSocket;

namespace gateway {

class Listener;

// Answers a request once, now or later from the event loop. Answering after the client has
// gone does nothing. Copies answer the same request.
using Respond = std::function<void(HttpResponse response)>;

// A bounded HTTP/1.1 server on a listener's connections, for a client that may be hostile or
// just slow: one request at a time per connection (the next is not read until the answer to
// the one before is written), the head and body bounded (HttpLimits), a request that does not
// arrive whole within kRequestMs and a connection idle for kIdleMs are closed, answers a client
// does not take beyond kMaxUnsentBytes close its connection. A request refused is answered
// with its status and not logged: a flood of them would flood the log, and the listener logs
// when connections are turned away. WebSocket upgrades go, with their request unread, to a
// QWebSocketServer whose handshake has its own timeout.
class HttpServer final : public QObject {
    Q_OBJECT
  public:
    static constexpr int kRequestMs = 10'000;
    static constexpr int kIdleMs = 60'000;
    static constexpr std::int64_t kMaxUnsentBytes = 1 << 20;
    static constexpr std::int64_t kMaxWebSocketMessageBytes = 4096;

    // The listener's connections come here.
    HttpServer(Listener& listener, TimerSource& timers, HttpLimits limits = {},
               QObject* parent = nullptr);
    ~HttpServer() override;

    // Each complete request; the handler answers through `respond`, at once or later.
    std::function<void(const HttpRequest& request, Respond respond)> onRequest;
    // A request to upgrade to a WebSocket: nothing lets the handshake go on; a response
    // refuses it with that answer.
    std::function<std::optional<HttpResponse>(const HttpRequest& request)> onUpgrade;
    // A WebSocket whose handshake is done; the receiver owns it. `path` is the request's.
    std::function<void(QWebSocket* socket, const std::string& path)> onWebSocket;

    std::size_t connections() const { return connections_.size(); }

  private:
    struct Connection;
    void accepted(QTcpSocket* socket);
    void readMore(Connection& c);
    std::shared_ptr<Connection> connectionOf(const Connection& c) const;
    void answer(Connection& c, std::uint64_t request, const HttpResponse& response);
    void refuse(Connection& c, int status, const std::string& why);
    void upgrade(Connection& c, const HttpRequest& request);
    void close(Connection& c);
    void armIdle(Connection& c);

    TimerSource& timers_;
    HttpLimits limits_;
    QWebSocketServer webSockets_;
    std::list<std::shared_ptr<Connection>> connections_;
    std::uint64_t nextRequest_ = 1;
};

}  // namespace gateway
