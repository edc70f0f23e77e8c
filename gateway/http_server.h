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

#include "gateway/log.h"
#include "link/timers.h"

class QTcpSocket;
class QWebSocket;

namespace gateway {

class Listener;

struct HttpRequest {
    std::string method;  // "GET", as sent
    std::string path;    // the target up to "?", still percent-encoded
    std::string query;   // after "?", without it
    // Field names in lower case, values without surrounding blanks, in the order sent.
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    std::string peer;  // "192.0.2.7:50112"

    // The first field of that name (lower case), or nullptr.
    const std::string* header(std::string_view name) const;
};

struct HttpResponse {
    int status = 200;
    std::string contentType;  // empty with an empty body
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;  // besides the length and type
    bool headOnly = false;  // HEAD: the fields of the body, not the body
};

// What may come in one request; beyond it the request is refused with 431 or 413.
struct HttpLimits {
    std::size_t maxHeadBytes = 16 * 1024;  // request line and header fields
    std::size_t maxHeaderFields = 64;
    std::size_t maxBodyBytes = 64 * 1024;
};

// The head of a request read from the start of the bytes received.
struct RequestHead {
    enum class State { Incomplete, Complete, Bad };
    State state = State::Incomplete;
    HttpRequest request;          // Complete: all but the body and the peer
    std::size_t headBytes = 0;    // Complete: bytes up to and including the empty line
    std::size_t bodyBytes = 0;    // Complete: the Content-Length
    bool keepAlive = true;        // Complete: the connection may carry another request
    bool expectContinue = false;  // Complete: the client waits for 100 Continue
    int status = 0;               // Bad: 400, 411, 413, 431, 501 or 505
    std::string error;            // Bad: why, for the client
};

// Reads a request's head as HTTP/1.1 frames it (RFC 9112), strictly: origin-form targets,
// header fields without folding, the body's length by Content-Length alone. Empty lines
// before the request line are skipped. Pure: no socket, no state.
RequestHead parseRequestHead(std::string_view bytes, const HttpLimits& limits = {});

// The reason phrase of a status code.
std::string_view reasonPhrase(int status);

// The bytes of a response: status line, Content-Length, Content-Type, the given fields,
// Connection: close when `close`, then the body.
std::string responseBytes(const HttpResponse& response, bool close);

// Answers a request once, now or later from the event loop. Answering after the client has
// gone does nothing. Copies answer the same request.
using Respond = std::function<void(HttpResponse response)>;

// A bounded HTTP/1.1 server on a listener's connections, for a client that may be hostile or
// just slow: one request at a time per connection (the next is not read until the answer to
// the one before is written), the head and body bounded (HttpLimits), a request that does not
// arrive whole within kRequestMs and a connection idle for kIdleMs are closed, answers a client
// does not take beyond kMaxUnsentBytes close its connection. WebSocket upgrades go, with their
// request unread, to a QWebSocketServer whose handshake has its own timeout.
class HttpServer final : public QObject {
    Q_OBJECT
  public:
    static constexpr int kRequestMs = 10'000;
    static constexpr int kIdleMs = 60'000;
    static constexpr std::int64_t kMaxUnsentBytes = 1 << 20;
    static constexpr std::int64_t kMaxWebSocketMessageBytes = 4096;

    // `what` names the port in log lines ("http"). The listener's connections come here.
    HttpServer(std::string what, Listener& listener, TimerSource& timers, Log log,
               HttpLimits limits = {}, QObject* parent = nullptr);
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
    void answer(Connection& c, std::uint64_t request, const HttpResponse& response);
    void refuse(Connection& c, int status, const std::string& why);
    void upgrade(Connection& c, const HttpRequest& request);
    void close(Connection& c);
    void armIdle(Connection& c);

    std::string what_;
    TimerSource& timers_;
    Log log_;
    HttpLimits limits_;
    QWebSocketServer webSockets_;
    std::list<std::unique_ptr<Connection>> connections_;
    std::uint64_t nextRequest_ = 1;
};

}  // namespace gateway
