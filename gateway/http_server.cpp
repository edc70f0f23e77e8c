#include "gateway/http_server.h"

#include <QPointer>
#include <QTcpSocket>
#include <QWebSocket>
#include <algorithm>

#include "gateway/listener.h"
#include "gateway/log.h"

namespace gateway {

// ---------------------------------------------------------------------------------------

struct HttpServer::Connection {
    QTcpSocket* socket = nullptr;  // a child of the server until closed
    std::string peer;
    std::unique_ptr<PanelTimer> timer;  // the request's deadline, or the idle one
    std::uint64_t awaiting = 0;         // the request being answered; 0: none
    bool keepAlive = true;
    bool continued = false;  // 100 Continue sent for the request being read
    bool closing = false;
};

HttpServer::HttpServer(Listener& listener, TimerSource& timers, HttpLimits limits, QObject* parent)
    : QObject(parent),
      timers_(timers),
      limits_(limits),
      webSockets_(QStringLiteral("projectord"), QWebSocketServer::NonSecureMode) {
    listener.onConnection = [this](QTcpSocket* socket) { accepted(socket); };
    connect(&webSockets_, &QWebSocketServer::newConnection, this, [this] {
        while (QWebSocket* socket = webSockets_.nextPendingConnection()) {
            socket->setMaxAllowedIncomingFrameSize(kMaxWebSocketMessageBytes);
            socket->setMaxAllowedIncomingMessageSize(kMaxWebSocketMessageBytes);
            if (onWebSocket) {
                onWebSocket(socket, socket->requestUrl().path(QUrl::FullyEncoded).toStdString());
            } else {
                socket->abort();
                socket->deleteLater();
            }
        }
    });
}

HttpServer::~HttpServer() {
    for (const auto& c : connections_) c->timer->onTick = nullptr;
}

void HttpServer::accepted(QTcpSocket* socket) {
    socket->setParent(this);
    // What a client sends beyond one whole request waits in the system, not here.
    socket->setReadBufferSize(qint64(limits_.maxHeadBytes + limits_.maxBodyBytes));
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    auto owned = std::make_shared<Connection>();
    Connection& c = *owned;
    c.socket = socket;
    c.peer = peerOf(*socket);
    c.timer = timers_.createTimer();
    connections_.push_back(std::move(owned));
    connect(socket, &QTcpSocket::readyRead, this, [this, &c] { readMore(c); });
    connect(socket, &QTcpSocket::bytesWritten, this, [this, &c] {
        if (c.socket->bytesToWrite() == 0 && !c.awaiting) readMore(c);
    });
    connect(socket, &QTcpSocket::disconnected, this, [this, &c] { close(c); });
    armIdle(c);
    readMore(c);
}

void HttpServer::armIdle(Connection& c) {
    c.timer->setInterval(kIdleMs);
    c.timer->onTick = [this, &c] { close(c); };
    c.timer->setEnabled(true);
}

void HttpServer::readMore(Connection& c) {
    // One request at a time, and none while the client leaves our answers untaken.
    if (c.closing || c.awaiting || c.socket->bytesToWrite() > kMaxUnsentBytes) return;
    const qint64 available = c.socket->bytesAvailable();
    if (available == 0) return;
    const QByteArray bytes = c.socket->peek(available);
    const RequestHead head =
        parseRequestHead(std::string_view(bytes.constData(), std::size_t(bytes.size())), limits_);
    if (head.state == RequestHead::State::Bad) {
        refuse(c, head.status, head.error);
        return;
    }
    if (head.state == RequestHead::State::Incomplete ||
        std::size_t(available) < head.headBytes + head.bodyBytes) {
        // The rest of the request is due within kRequestMs of its first byte.
        if (c.timer->interval() != kRequestMs) {
            c.timer->setInterval(kRequestMs);
            c.timer->onTick = [this, &c] {
                refuse(c, 408, "the request did not arrive whole in time");
            };
            c.timer->setEnabled(true);
        }
        if (head.state == RequestHead::State::Complete && head.expectContinue && !c.continued) {
            c.continued = true;
            c.socket->write("HTTP/1.1 100 Continue\r\n\r\n");
        }
        return;
    }
    HttpRequest request = head.request;
    request.peer = c.peer;
    const std::string* upgradeField = request.header("upgrade");
    if (upgradeField && fieldListHas(*upgradeField, "websocket") && request.method == "GET") {
        upgrade(c, request);
        return;
    }
    c.socket->skip(qint64(head.headBytes));
    request.body = c.socket->read(qint64(head.bodyBytes)).toStdString();
    c.keepAlive = head.keepAlive;
    c.continued = false;
    c.awaiting = nextRequest_++;
    c.timer->setEnabled(false);
    c.timer->setInterval(0);
    if (!onRequest) {
        answer(c, c.awaiting, HttpResponse{404, "text/plain; charset=utf-8", "not found\n", {}});
        return;
    }
    // The answer may come after the connection has gone, and with it the server.
    const std::weak_ptr<Connection> alive = connectionOf(c);
    const std::uint64_t id = c.awaiting;
    QPointer<HttpServer> server(this);
    onRequest(request, [server, alive, id](HttpResponse response) {
        const std::shared_ptr<Connection> c = alive.lock();
        if (server && c && c->awaiting == id && !c->closing) server->answer(*c, id, response);
    });
}

std::shared_ptr<HttpServer::Connection> HttpServer::connectionOf(const Connection& c) const {
    const auto at =
        std::ranges::find_if(connections_, [&](const auto& owned) { return owned.get() == &c; });
    return at == connections_.end() ? nullptr : *at;
}

void HttpServer::answer(Connection& c, std::uint64_t request, const HttpResponse& response) {
    if (c.awaiting != request) return;
    c.awaiting = 0;
    const std::string bytes = responseBytes(response, !c.keepAlive);
    c.socket->write(bytes.data(), qint64(bytes.size()));
    if (!c.keepAlive) {
        close(c);
        return;
    }
    armIdle(c);
    // A request that came behind this one is read now, from the event loop.
    QMetaObject::invokeMethod(
        c.socket, [this, &c] { readMore(c); }, Qt::QueuedConnection);
}

void HttpServer::refuse(Connection& c, int status, const std::string& why) {
    c.keepAlive = false;
    c.awaiting = nextRequest_++;
    answer(c, c.awaiting,
           HttpResponse{status, "application/json", "{\"error\":\"" + why + "\"}\n", {}});
}

void HttpServer::upgrade(Connection& c, const HttpRequest& request) {
    if (onUpgrade) {
        if (std::optional<HttpResponse> refusal = onUpgrade(request)) {
            c.keepAlive = false;
            c.awaiting = nextRequest_++;
            answer(c, c.awaiting, *refusal);
            return;
        }
    }
    // The handshake is the WebSocket server's from here, its request still unread.
    QTcpSocket* socket = c.socket;
    socket->disconnect(this);
    c.closing = true;
    c.timer->onTick = nullptr;
    c.timer->setEnabled(false);
    eraseLater(this, connections_, c);
    webSockets_.handleConnection(socket);
    QMetaObject::invokeMethod(socket, "readyRead", Qt::QueuedConnection);
}

void HttpServer::close(Connection& c) {
    if (c.closing) return;
    c.closing = true;
    c.timer->onTick = nullptr;
    c.timer->setEnabled(false);
    closeWhenSent(*c.socket, this);
    eraseLater(this, connections_, c);
}

}  // namespace gateway
