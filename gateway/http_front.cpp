#include "gateway/http_front.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QTimer>
#include <QWebSocket>
#include <algorithm>
#include <cmath>

#include "engine/display_form.h"
#include "engine/shown_text.h"
#include "engine/status.h"
#include "gateway/http_routes.h"
#include "gateway/line.h"
#include "gateway/metrics.h"
#include "gateway/remote_layout.h"
#include "session/outcome.h"
#include "session/sends.h"
#include "tables/names.h"

namespace gateway {

namespace {

QString text(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

std::string compact(const QJsonDocument& document) {
    return document.toJson(QJsonDocument::Compact).toStdString();
}

// The page's own files: the same on every installation, without any projector's data.
constexpr auto kPageHeaders = {
    std::pair{"Content-Security-Policy",
              "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
              "img-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'"},
    std::pair{"X-Content-Type-Options", "nosniff"},
    std::pair{"Referrer-Policy", "no-referrer"},
    std::pair{"Cache-Control", "no-cache"},
};

HttpResponse json(int status, const QJsonDocument& document) {
    HttpResponse r{status, "application/json", compact(document) + "\n", {}};
    r.headers = {{"Cache-Control", "no-store"}, {"X-Content-Type-Options", "nosniff"}};
    return r;
}

HttpResponse json(int status, const QJsonObject& object) {
    return json(status, QJsonDocument(object));
}

HttpResponse error(int status, const std::string& message) {
    return json(status, QJsonObject{{QStringLiteral("error"), text(message)}});
}

// The status queries' JSON keys and their outcome objects.
QJsonValue entryObject(const Line& line, std::string_view query) {
    const StatusEntry* e = line.status().entry(query);
    if (!e) return QJsonValue(QJsonValue::Null);
    QJsonObject o = session::outcomeObject(e->outcome, *line.projector().model);
    o.insert(QStringLiteral("at"),
             QDateTime::fromMSecsSinceEpoch(e->wallMs, Qt::UTC).toString(Qt::ISODateWithMs));
    o.insert(QStringLiteral("fresh"), line.status().fresh(query, line.nowMs()));
    return o;
}

template <typename T, typename F>
QJsonValue orNull(const std::optional<T>& v, F f) {
    return v ? QJsonValue(f(*v)) : QJsonValue(QJsonValue::Null);
}

QJsonObject lineObject(const Line& line) {
    QJsonObject o{{QStringLiteral("up"), line.state() == LineState::Up},
                  {QStringLiteral("state"), text(stateName(line.state()))}};
    if (!line.reason().empty()) o.insert(QStringLiteral("reason"), text(line.reason()));
    return o;
}

// The derived fields every front-end shows.
QJsonObject derivedObject(const StatusCache& s) {
    QJsonArray temperatures;
    for (const auto& t : s.temperatures())
        temperatures.append(orNull(t, [](double v) { return v; }));
    return QJsonObject{
        {QStringLiteral("power"), text(powerName(s.power()))},
        {QStringLiteral("temperatureWarning"),
         orNull(s.temperatureWarning(), [](bool v) { return v; })},
        {QStringLiteral("lampFailure"), orNull(s.lampFailure(), [](bool v) { return v; })},
        {QStringLiteral("input"), orNull(s.input(), [](Input i) { return text(inputName(i)); })},
        {QStringLiteral("mute"), orNull(s.mute(),
                                        [](Mute m) {
                                            return QJsonObject{
                                                {QStringLiteral("sound"), m.sound},
                                                {QStringLiteral("picture"), m.picture}};
                                        })},
        {QStringLiteral("lampHours"), orNull(s.lampHours(), [](long h) { return double(h); })},
        {QStringLiteral("temperatures"), temperatures},
        {QStringLiteral("pressureHpa"), orNull(s.pressureHpa(), [](int p) { return p; })},
    };
}

QJsonObject summaryObject(const Line& line) {
    const ProjectorConfig& p = line.projector();
    QJsonObject o{
        {QStringLiteral("name"), text(p.id)},
        {QStringLiteral("label"), text(p.name)},
        {QStringLiteral("model"), text(p.model->name)},
        {QStringLiteral("port"), text(p.port)},
        {QStringLiteral("pjlink"),
         p.pjlink ? QJsonValue(int(*p.pjlink)) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("raw"), p.raw ? QJsonValue(int(*p.raw)) : QJsonValue(QJsonValue::Null)}};
    const QJsonObject l = lineObject(line);
    for (auto it = l.begin(); it != l.end(); ++it) o.insert(it.key(), it.value());
    return o;
}

QJsonObject withError(QJsonObject o, const std::string& message) {
    o.insert(QStringLiteral("error"), text(message));
    return o;
}

std::string hostOf(std::string_view host) {
    // "[::1]:8080" -> "[::1]", "localhost:8080" -> "localhost"
    const std::size_t colon = host.rfind(':');
    if (colon != std::string_view::npos && host.find(']', colon) == std::string_view::npos)
        host = host.substr(0, colon);
    return QString::fromUtf8(host.data(), qsizetype(host.size())).toLower().toStdString();
}

bool loopbackHost(const std::string& host) {
    if (host == "localhost") return true;
    QHostAddress address;
    const std::string bare =
        host.starts_with('[') && host.ends_with(']') ? host.substr(1, host.size() - 2) : host;
    return address.setAddress(QString::fromStdString(bare)) && address.isLoopback();
}

}  // namespace

QJsonObject statusObject(const Line& line) {
    QJsonObject o = summaryObject(line);
    const QJsonObject derived = derivedObject(line.status());
    for (auto it = derived.begin(); it != derived.end(); ++it) o.insert(it.key(), it.value());
    QJsonObject queries;
    for (const std::string_view query : engine::statusQueries())
        queries.insert(text(query), entryObject(line, query));
    o.insert(QStringLiteral("queries"), queries);
    return o;
}

// ---------------------------------------------------------------------------------------

struct HttpFront::Projector {
    Line* line;
    std::unique_ptr<LineMetrics> metrics;
    QJsonObject remote;
    std::vector<panel::NamedButton> buttons;
};

// A page's live connection to one projector: its events, and the client of the line its
// presses go through (named by the session's id in their X-Remote-Session field), so that its
// TXD, RXD and STATUS show its own commands as the panel's do.
struct HttpFront::Session {
    std::string id;
    QWebSocket* socket = nullptr;  // owned; deleted once ended
    Projector* projector = nullptr;
    std::string peer;
    std::unique_ptr<Client> client;  // once the token is proven
    std::unique_ptr<PanelTimer> deadline;
    bool statusPosted = false;
    bool ended = false;
};

struct HttpFront::Call {
    const HttpRequest& request;
    Respond respond;
    std::vector<std::string> values;
    Projector* projector = nullptr;
};

const HttpFront::Handler HttpFront::kHandlers[] = {
    &HttpFront::page,       &HttpFront::page,    &HttpFront::staticFile, &HttpFront::staticFile,
    &HttpFront::staticFile, &HttpFront::metrics, &HttpFront::projectors, &HttpFront::status,
    &HttpFront::remote,     &HttpFront::press,   &HttpFront::send,       &HttpFront::events,
};

HttpFront::HttpFront(std::vector<Line*> lines, const Config& config, TimerSource& timers, Log log,
                     QObject* parent)
    : QObject(parent),
      config_(config),
      timers_(timers),
      log_(log),
      listener_("http", config.httpAddresses(), config.http->port, config.maxConnections, log,
                this),
      server_(listener_, timers, {}, this),
      beyondLoopback_(!loopbackOnly(config.httpAddresses())) {
    for (Line* line : lines) {
        auto p = std::make_unique<Projector>();
        p->line = line;
        p->metrics = std::make_unique<LineMetrics>(*line, this);
        p->remote = remoteLayout(*line->projector().model);
        p->buttons = panel::namedButtons(*line->projector().model);
        Projector* raw = p.get();
        connect(line, &Line::stateChanged, this, [this, raw](LineState, const std::string&) {
            QJsonObject event = lineObject(*raw->line);
            event.insert(QStringLiteral("event"), QStringLiteral("line"));
            lineEvent(*raw, event);
        });
        connect(line, &Line::commandSent, this, [this, raw](const Command& c) {
            lineEvent(
                *raw,
                QJsonObject{{QStringLiteral("event"), QStringLiteral("sent")},
                            {QStringLiteral("command"), text(c.outcome.code)},
                            {QStringLiteral("sent"), text(engine::displayForm(c.outcome.sent))}},
                c.client);
        });
        connect(line, &Line::commandAnswered, this, [this, raw](const Command& c) {
            QJsonObject event = session::outcomeObject(c.outcome, *raw->line->projector().model);
            event.insert(QStringLiteral("event"), QStringLiteral("answered"));
            if (!c.failure.empty()) event.insert(QStringLiteral("failure"), text(c.failure));
            lineEvent(*raw, event, c.client);
        });
        connect(line, &Line::statusChanged, this, [this, raw](const std::string&) {
            for (auto& [id, s] : sessions_) {
                if (s->projector != raw || !s->client || s->statusPosted) continue;
                // One event for the changes of a poll's answers that come together.
                s->statusPosted = true;
                QMetaObject::invokeMethod(
                    s->socket,
                    [this, session = s.get()] {
                        session->statusPosted = false;
                        QJsonObject event = derivedObject(session->projector->line->status());
                        event.insert(QStringLiteral("event"), QStringLiteral("status"));
                        sendEvent(*session, event);
                    },
                    Qt::QueuedConnection);
            }
        });
        projectors_.push_back(std::move(p));
    }
    Q_ASSERT(std::size(kHandlers) == routes().size());
    server_.onRequest = [this](const HttpRequest& request, Respond respond) {
        handle(request, std::move(respond));
    };
    server_.onUpgrade = [this](const HttpRequest& request) { return refusedUpgrade(request); };
    server_.onWebSocket = [this](QWebSocket* socket, const std::string& path) {
        webSocket(socket, path);
    };
}

HttpFront::~HttpFront() {
    for (auto& [id, s] : sessions_) {
        s->client.reset();
        s->socket->disconnect(this);
        delete s->socket;
    }
}

HttpFront::Projector* HttpFront::projectorNamed(std::string_view id) {
    for (const auto& p : projectors_)
        if (p->line->projector().id == id) return p.get();
    return nullptr;
}

// --- access -------------------------------------------------------------------------------

bool HttpFront::tokenMatches(std::string_view given) const {
    // Compared in a time that does not tell how much of it was right.
    const QByteArray a = QCryptographicHash::hash(QByteArray(given.data(), qsizetype(given.size())),
                                                  QCryptographicHash::Sha256);
    const QByteArray b = QCryptographicHash::hash(QByteArray::fromStdString(config_.httpToken),
                                                  QCryptographicHash::Sha256);
    unsigned char diff = 0;
    for (qsizetype i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

std::optional<HttpResponse> HttpFront::refusedAccess(const HttpRequest& request) {
    if (config_.httpToken.empty()) {
        // Without a token the port listens on loopback alone; a page of another site whose
        // name was made to point at 127.0.0.1 still names that site in Host.
        const std::string* host = request.header("host");
        if (!beyondLoopback_ && host && !loopbackHost(hostOf(*host))) {
            return error(403, "this port answers to localhost and loopback addresses only");
        }
        return std::nullopt;
    }
    const std::string* authorization = request.header("authorization");
    const bool bearer =
        authorization && authorization->size() > 7 &&
        QByteArray::fromStdString(authorization->substr(0, 7)).toLower() == "bearer ";
    if (bearer && tokenMatches(std::string_view(*authorization).substr(7))) return std::nullopt;
    if (authorization) {
        const std::int64_t now = QDateTime::currentMSecsSinceEpoch();
        if (lastAuthLogMs_ == 0 || now - lastAuthLogMs_ >= 60'000) {
            log_("http: " + request.peer + " authentication failed: wrong token" +
                 (authFailuresUnlogged_ ? " (" + std::to_string(authFailuresUnlogged_) +
                                              " more since the last such line)"
                                        : ""));
            lastAuthLogMs_ = now;
            authFailuresUnlogged_ = 0;
        } else {
            ++authFailuresUnlogged_;
        }
    }
    HttpResponse r =
        error(401, authorization ? "the token is wrong"
                                 : "this port takes a token: Authorization: Bearer TOKEN");
    r.headers.emplace_back("WWW-Authenticate", "Bearer realm=\"projectord\"");
    return r;
}

std::optional<HttpResponse> HttpFront::refusedOrigin(const HttpRequest& request) const {
    const std::string* site = request.header("sec-fetch-site");
    if (site && *site != "same-origin" && *site != "none")
        return error(403, "requests from other sites are refused");
    const std::string* origin = request.header("origin");
    const std::string* host = request.header("host");
    if (origin && (!host || QByteArray::fromStdString(*origin).toLower() !=
                                "http://" + QByteArray::fromStdString(*host).toLower())) {
        return error(403, "requests from other sites are refused");
    }
    return std::nullopt;
}

// --- requests -----------------------------------------------------------------------------

void HttpFront::handle(const HttpRequest& request, Respond respond) {
    const bool head = request.method == "HEAD";
    if (head) {
        respond = [respond](HttpResponse r) {
            r.headOnly = true;
            respond(std::move(r));
        };
    }
    const RouteMatch match = matchRoute(request.method, request.path);
    if (match.route < 0) {
        if (match.allow.empty()) {
            respond(error(404, "no such resource"));
        } else {
            HttpResponse r = error(405, "this resource takes " + match.allow);
            r.headers.emplace_back("Allow", match.allow);
            respond(std::move(r));
        }
        return;
    }
    const Route& route = routes()[std::size_t(match.route)];
    if (route.access == Access::Token) {
        if (auto refusal = refusedAccess(request)) return respond(*refusal);
    }
    if (route.method == "POST") {
        if (auto refusal = refusedOrigin(request)) return respond(*refusal);
    }
    Call call{request, std::move(respond), match.values, nullptr};
    if (route.pattern.find("{projector}") != std::string_view::npos) {
        call.projector = projectorNamed(call.values.front());
        if (!call.projector) {
            return call.respond(
                error(404, "no projector \"" + engine::shownText(call.values.front()) + "\""));
        }
    }
    (this->*kHandlers[match.route])(call);
}

void HttpFront::page(Call& call) {
    QFile file(QStringLiteral(":/web/index.html"));
    file.open(QIODevice::ReadOnly);
    HttpResponse r{200, "text/html; charset=utf-8", file.readAll().toStdString(), {}};
    for (const auto& [field, value] : kPageHeaders) r.headers.emplace_back(field, value);
    call.respond(std::move(r));
}

void HttpFront::staticFile(Call& call) {
    struct File {
        std::string_view path, type;
    };
    static constexpr File kFiles[] = {{"/remote.js", "text/javascript; charset=utf-8"},
                                      {"/remote.css", "text/css; charset=utf-8"},
                                      {"/icon.svg", "image/svg+xml"}};
    const File& f = *std::ranges::find(kFiles, std::string_view(call.request.path), &File::path);
    QFile file(QStringLiteral(":/web") + text(f.path));
    file.open(QIODevice::ReadOnly);
    HttpResponse r{200, std::string(f.type), file.readAll().toStdString(), {}};
    for (const auto& [field, value] : kPageHeaders) r.headers.emplace_back(field, value);
    call.respond(std::move(r));
}

void HttpFront::metrics(Call& call) {
    std::vector<const LineMetrics*> all;
    for (const auto& p : projectors_) all.push_back(p->metrics.get());
    call.respond(HttpResponse{200,
                              "text/plain; version=0.0.4; charset=utf-8",
                              metricsText(all),
                              {{"Cache-Control", "no-store"}}});
}

void HttpFront::projectors(Call& call) {
    QJsonArray list;
    for (const auto& p : projectors_) list.append(summaryObject(*p->line));
    call.respond(json(200, QJsonObject{{QStringLiteral("projectors"), list}}));
}

void HttpFront::status(Call& call) {
    call.respond(json(200, statusObject(*call.projector->line)));
}

void HttpFront::remote(Call& call) {
    call.respond(json(200, call.projector->remote));
}

void HttpFront::press(Call& call) {
    const std::string& name = call.values[1];
    const auto button = std::ranges::find(call.projector->buttons, name, &panel::NamedButton::name);
    if (button == call.projector->buttons.end()) {
        return call.respond(error(404, std::string(call.projector->line->projector().model->name) +
                                           " has no button \"" + engine::shownText(name) +
                                           "\" (projectorctl list names them)"));
    }
    const Parsed body = pressBody(call.request.body);
    if (!body.error.empty()) return call.respond(error(400, body.error));
    if (body.times > 1 && !button->holdKey) {
        return call.respond(error(400, name + " is not a hold key: times repeats hold keys only"));
    }
    submit(call, session::pressSends(*button, body.times));
}

void HttpFront::send(Call& call) {
    const Parsed body = sendBody(call.request.body);
    if (!body.error.empty()) return call.respond(error(400, body.error));
    submit(call, {session::codeSend(body.code)});
}

void HttpFront::events(Call& call) {
    HttpResponse r = error(426, "this resource is a WebSocket");
    r.headers.emplace_back("Upgrade", "websocket");
    call.respond(std::move(r));
}

void HttpFront::submit(Call& call, std::vector<session::Send> sends) {
    // The page's presses go through its session's client; any other request is a client of
    // its own, which leaves the line once answered.
    Client* client = nullptr;
    std::shared_ptr<std::unique_ptr<Client>> own;
    if (const std::string* id = call.request.header("x-remote-session")) {
        const auto s = sessions_.find(*id);
        if (s != sessions_.end() && s->second->projector == call.projector && s->second->client)
            client = s->second->client.get();
    }
    if (!client) {
        own = std::make_shared<std::unique_ptr<Client>>(
            call.projector->line->join("http " + call.request.peer));
        client = own->get();
    }
    struct Collected {
        QJsonArray outcomes;
        int status = 200;
        std::string message;
    };
    auto collected = std::make_shared<Collected>();
    const models::Model& model = *call.projector->line->projector().model;
    const std::size_t count = sends.size();
    client->submit(std::move(sends), [collected, own, respond = call.respond, &model,
                                      count](const Answer& a) mutable {
        collected->outcomes.append(session::outcomeObject(a.outcome, model));
        // The worst of the answers decides: the line down, a refusal, a reply missing.
        if (!a.failure.empty() && collected->status != 503) {
            collected->status = 503;
            collected->message = "the projector's line is down: " + a.failure;
        } else if (a.failure.empty() && a.outcome.refused && collected->status < 502) {
            collected->status = 502;
            collected->message = "the projector refused " + a.outcome.code;
        } else if (a.failure.empty() && !a.outcome.ok && !a.outcome.refused &&
                   collected->status == 200) {
            collected->status = 504;
            collected->message =
                "no complete reply to " + a.outcome.code + " within its reply window";
        }
        if (!a.last) return;
        QJsonObject body = count == 1
                               ? collected->outcomes.first().toObject()
                               : QJsonObject{{QStringLiteral("times"), int(count)},
                                             {QStringLiteral("outcomes"), collected->outcomes}};
        if (collected->status != 200) body = withError(body, collected->message);
        respond(json(collected->status, body));
        if (own) own->reset();
    });
}

// --- the page's live events ------------------------------------------------------------

std::optional<HttpResponse> HttpFront::refusedUpgrade(const HttpRequest& request) {
    const RouteMatch match = matchRoute("GET", request.path);
    if (match.route != kEventsRoute) return error(404, "no WebSocket here");
    if (!projectorNamed(match.values.front())) return error(404, "no such projector");
    // Browsers send Origin with every WebSocket: one of another site is refused, and so is a
    // Host that is not this port's on loopback without a token.
    const std::string* origin = request.header("origin");
    const std::string* host = request.header("host");
    if (origin && (!host || QByteArray::fromStdString(*origin).toLower() !=
                                "http://" + QByteArray::fromStdString(*host).toLower())) {
        return error(403, "WebSockets from other sites are refused");
    }
    if (config_.httpToken.empty()) return refusedAccess(request);
    return std::nullopt;
}

void HttpFront::webSocket(QWebSocket* socket, const std::string& path) {
    const RouteMatch match = matchRoute("GET", path);
    Projector* projector =
        match.route == kEventsRoute ? projectorNamed(match.values.front()) : nullptr;
    if (!projector) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    socket->setParent(this);
    auto owned = std::make_unique<Session>();
    Session& s = *owned;
    const QByteArray random = QByteArray::number(QRandomGenerator::system()->generate64(), 16) +
                              QByteArray::number(QRandomGenerator::system()->generate64(), 16);
    s.id = random.toStdString();
    s.socket = socket;
    s.projector = projector;
    s.peer = engine::shownText(socket->peerAddress().toString().toStdString()) + ":" +
             std::to_string(socket->peerPort());
    s.deadline = timers_.createTimer();
    // The token comes first, and soon.
    s.deadline->setInterval(HttpServer::kRequestMs);
    s.deadline->onTick = [this, &s] { endSession(s, "no token in time"); };
    s.deadline->setEnabled(true);
    sessions_.emplace(s.id, std::move(owned));
    connect(socket, &QWebSocket::textMessageReceived, this,
            [this, &s](const QString& m) { sessionMessage(s, m); });
    connect(socket, &QWebSocket::binaryMessageReceived, this,
            [this, &s] { endSession(s, "binary messages are not taken"); });
    connect(socket, &QWebSocket::disconnected, this, [this, &s] { endSession(s, {}); });
}

void HttpFront::sessionMessage(Session& s, const QString& message) {
    if (s.client) return;  // after the token the page only listens
    const QJsonObject o = QJsonDocument::fromJson(message.toUtf8()).object();
    const std::string token = o.value(QStringLiteral("token")).toString().toStdString();
    if (!config_.httpToken.empty() && !tokenMatches(token)) {
        sendEvent(s, QJsonObject{{QStringLiteral("event"), QStringLiteral("error")},
                                 {QStringLiteral("status"), 401},
                                 {QStringLiteral("error"), QStringLiteral("the token is wrong")}});
        endSession(s, "authentication failed: wrong token");
        return;
    }
    s.deadline->setEnabled(false);
    s.client = s.projector->line->join("http page " + s.peer);
    const Line& line = *s.projector->line;
    QJsonObject hello = lineObject(line);
    hello.insert(QStringLiteral("event"), QStringLiteral("hello"));
    hello.insert(QStringLiteral("session"), text(s.id));
    sendEvent(s, hello);
    QJsonObject status = derivedObject(line.status());
    status.insert(QStringLiteral("event"), QStringLiteral("status"));
    sendEvent(s, status);
}

void HttpFront::sendEvent(Session& s, const QJsonObject& event) {
    if (s.ended) return;
    // A page that takes nothing is let go rather than kept in memory.
    if (s.socket->bytesToWrite() > HttpServer::kMaxUnsentBytes) {
        endSession(s, "it does not take its events");
        return;
    }
    s.socket->sendTextMessage(
        QString::fromUtf8(QJsonDocument(event).toJson(QJsonDocument::Compact)));
}

void HttpFront::lineEvent(Projector& p, const QJsonObject& event, std::uint64_t onlyClient) {
    std::vector<Session*> to;
    for (auto& [id, s] : sessions_) {
        if (s->projector != &p || !s->client || s->ended) continue;
        if (onlyClient && s->client->id() != onlyClient) continue;
        to.push_back(s.get());
    }
    for (Session* s : to) sendEvent(*s, event);
}

void HttpFront::endSession(Session& s, const std::string& why) {
    if (s.ended) return;
    s.ended = true;
    if (!why.empty()) log_("http: page " + s.peer + " closed: " + why);
    s.client.reset();
    s.deadline->onTick = nullptr;
    s.deadline->setEnabled(false);
    QWebSocket* socket = s.socket;
    socket->disconnect(this);
    if (socket->state() == QAbstractSocket::UnconnectedState) {
        socket->deleteLater();
    } else {
        connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(5000, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
    }
    socket->close(why.empty() ? QWebSocketProtocol::CloseCodeNormal
                              : QWebSocketProtocol::CloseCodePolicyViolated,
                  QString::fromStdString(why));
    QMetaObject::invokeMethod(
        this, [this, id = s.id] { sessions_.erase(id); }, Qt::QueuedConnection);
}

}  // namespace gateway
