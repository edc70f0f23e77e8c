#include "gateway/http_routes.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <algorithm>
#include <cmath>
#include <optional>

#include "engine/shown_text.h"
#include "gateway/line.h"
#include "session/sends.h"

namespace gateway {

namespace {

// --- the route table ---------------------------------------------------------------------

// The handlers in HttpFront::kHandlers follow this order.
constexpr Route kRoutes[] = {
    {"GET", "/", Access::Open},
    {"GET", "/projectors/{projector}", Access::Open},
    {"GET", "/remote.js", Access::Open},
    {"GET", "/remote.css", Access::Open},
    {"GET", "/icon.svg", Access::Open},
    {"GET", "/metrics", Access::Open},
    {"GET", "/api/v1/projectors", Access::Token},
    {"GET", "/api/v1/projectors/{projector}", Access::Token},
    {"GET", "/api/v1/projectors/{projector}/remote", Access::Token},
    {"POST", "/api/v1/projectors/{projector}/press/{button}", Access::Token},
    {"POST", "/api/v1/projectors/{projector}/send", Access::Token},
    {"GET", "/api/v1/projectors/{projector}/events", Access::Token},
};

std::vector<std::string_view> segments(std::string_view path) {
    std::vector<std::string_view> out;
    path.remove_prefix(1);
    while (true) {
        const std::size_t slash = path.find('/');
        out.push_back(path.substr(0, slash));
        if (slash == std::string_view::npos) break;
        path.remove_prefix(slash + 1);
    }
    return out;
}

bool matches(std::string_view pattern, std::string_view path, std::vector<std::string>& values) {
    if (pattern == "/" || path == "/") return pattern == path;
    const std::vector<std::string_view> want = segments(pattern), got = segments(path);
    if (want.size() != got.size()) return false;
    values.clear();
    for (std::size_t i = 0; i < want.size(); ++i) {
        if (want[i].starts_with('{')) {
            if (got[i].empty()) return false;
            values.push_back(
                QByteArray::fromPercentEncoding(QByteArray(got[i].data(), qsizetype(got[i].size())))
                    .toStdString());
        } else if (want[i] != got[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::span<const Route> routes() {
    return kRoutes;
}

RouteMatch matchRoute(std::string_view method, std::string_view path) {
    RouteMatch match;
    std::vector<std::string> values;
    const std::string_view as = method == "HEAD" ? "GET" : method;
    for (std::size_t i = 0; i < std::size(kRoutes); ++i) {
        if (!matches(kRoutes[i].pattern, path, values)) continue;
        if (kRoutes[i].method == as) {
            match.route = int(i);
            match.values = std::move(values);
            match.allow.clear();
            return match;
        }
        if (!match.allow.empty()) match.allow += ", ";
        match.allow += kRoutes[i].method;
        if (kRoutes[i].method == "GET") match.allow += ", HEAD";
    }
    return match;
}

namespace {

// A body that must be empty or one JSON object with only the given keys.
std::optional<QJsonObject> bodyObject(std::string_view body,
                                      std::initializer_list<QStringView> keys, std::string& error) {
    if (body.find_first_not_of(" \t\r\n") == std::string_view::npos) return QJsonObject{};
    QJsonParseError parseError{};
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray(body.data(), qsizetype(body.size())), &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        error = "the body is not a JSON object";
        return std::nullopt;
    }
    const QJsonObject object = document.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (std::ranges::find(keys, QStringView(it.key())) == keys.end()) {
            error = "the body holds \"" + engine::shownText(it.key().toStdString()) +
                    "\", which is no key of this request";
            return std::nullopt;
        }
    }
    return object;
}

}  // namespace

Parsed pressBody(std::string_view body) {
    Parsed parsed;
    const std::optional<QJsonObject> o = bodyObject(body, {u"times"}, parsed.error);
    if (!o || !o->contains(QStringLiteral("times"))) return parsed;
    const QJsonValue times = o->value(QStringLiteral("times"));
    const double n = times.toDouble(-1);
    if (!times.isDouble() || n != std::floor(n) || n < 1 || n > double(kMaxSendsPerRequest)) {
        parsed.error = "times is a whole number from 1 to " + std::to_string(kMaxSendsPerRequest);
        return parsed;
    }
    parsed.times = int(n);
    return parsed;
}

Parsed sendBody(std::string_view body) {
    Parsed parsed;
    const std::optional<QJsonObject> o = bodyObject(body, {u"code"}, parsed.error);
    if (!o) return parsed;
    const QJsonValue code = o->value(QStringLiteral("code"));
    if (!code.isString()) {
        parsed.error = "the body gives no code: {\"code\": \"CR0\"}";
        return parsed;
    }
    parsed.code = code.toString().toStdString();
    if (const auto problem = session::codeProblem(parsed.code)) parsed.error = *problem;
    return parsed;
}

}  // namespace gateway
