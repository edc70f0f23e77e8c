#pragma once

#include <QJsonObject>
#include <QObject>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "gateway/config.h"
#include "gateway/http_server.h"
#include "gateway/listener.h"
#include "gateway/log.h"
#include "link/timers.h"
#include "session/session.h"

class QWebSocket;

namespace gateway {

class Line;
class LineMetrics;

// The status cache of a line as the API gives it: the line's state, the derived fields (null
// when the projector has not given them) and per status query its outcome with the time of
// its answer.
QJsonObject statusObject(const Line& line);

// The HTTP port: the web remote (/ and /projectors/NAME, its script and style from the
// binary's resources), the HTTP API under /api/v1, the page's live events over a WebSocket,
// and /metrics. With an http-token every request but /metrics and the page's own files must
// carry it (Authorization: Bearer TOKEN; the page's WebSocket sends it as its first message).
// Requests that change something are POST and refused from another origin.
class HttpFront final : public QObject {
    Q_OBJECT
  public:
    // The lines outlive the front.
    HttpFront(std::vector<Line*> lines, const Config& config, TimerSource& timers, Log log,
              QObject* parent = nullptr);
    ~HttpFront() override;

    Listener& listener() { return listener_; }
    bool listensBeyondLoopback() const { return beyondLoopback_; }

  private:
    struct Projector;
    struct Session;
    struct Call;

    void handle(const HttpRequest& request, Respond respond);
    std::optional<HttpResponse> refusedUpgrade(const HttpRequest& request);
    void webSocket(QWebSocket* socket, const std::string& path);
    void sessionMessage(Session& s, const QString& message);
    void endSession(Session& s, const std::string& why);
    void sendEvent(Session& s, const QJsonObject& event);
    void lineEvent(Projector& p, const QJsonObject& event, std::uint64_t onlyClient = 0);

    // Checks every request to the API: the token, the Host on an open loopback port.
    std::optional<HttpResponse> refusedAccess(const HttpRequest& request);
    bool tokenMatches(std::string_view given) const;
    std::optional<HttpResponse> refusedOrigin(const HttpRequest& request) const;

    void page(Call& call);
    void staticFile(Call& call);
    void metrics(Call& call);
    void projectors(Call& call);
    void status(Call& call);
    void remote(Call& call);
    void press(Call& call);
    void send(Call& call);
    void events(Call& call);
    void submit(Call& call, std::vector<session::Send> sends);

    Projector* projectorNamed(std::string_view id);

    using Handler = void (HttpFront::*)(Call&);
    static const Handler kHandlers[];

    const Config& config_;
    TimerSource& timers_;
    Log log_;
    std::vector<std::unique_ptr<Projector>> projectors_;
    Listener listener_;
    HttpServer server_;
    bool beyondLoopback_;
    std::map<std::string, std::unique_ptr<Session>, std::less<>> sessions_;
    long authFailuresUnlogged_ = 0;
    std::int64_t lastAuthLogMs_ = 0;  // monotonic; 0: none logged yet
};

}  // namespace gateway
