// The HTTP port's pieces without a projector: the request head as HTTP/1.1 frames it, the
// route table, the request bodies, the web remote's layout from the panel's tables, and the
// server's bounds on loopback with its deadlines on the virtual clock.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QTcpSocket>
#include <QTest>
#include <set>

#include "gateway/http_routes.h"
#include "gateway/http_server.h"
#include "gateway/listener.h"
#include "gateway/remote_layout.h"
#include "tables/names.h"
#include "tests/support/virtual_clock.h"

namespace {

using gateway::RequestHead;
using State = RequestHead::State;

TEST(HttpRequestHead, FramedStrictlyAndBounded) {
    const std::string big(20'000, 'a');
    std::string manyFields = "GET / HTTP/1.1\r\nHost: h\r\n";
    for (int i = 0; i < 70; ++i) manyFields += "X-" + std::to_string(i) + ": 1\r\n";
    manyFields += "\r\n";
    const struct {
        std::string bytes;
        State state;
        int status;  // Bad: the refusal; Complete: the body's length
    } cases[] = {
        {"GET /metrics HTTP/1.1\r\nHost: h\r\n\r\n", State::Complete, 0},
        {"\r\n\r\nGET / HTTP/1.1\nHost: h\n\n", State::Complete, 0},  // blank lines first, bare LF
        {"POST /x HTTP/1.1\r\nHost: h\r\nContent-Length: 12\r\n\r\n", State::Complete, 12},
        {"GET / HTTP/1.0\r\n\r\n", State::Complete, 0},  // 1.0 needs no Host
        {"GET / HTTP/1.1\r\nHost: h\r\n", State::Incomplete, 0},
        {"GET / HT", State::Incomplete, 0},
        {"GET /" + big, State::Bad, 431},
        {"GET / HTTP/1.1\r\nHost: h\r\nX: " + big + "\r\n\r\n", State::Bad, 431},
        {manyFields, State::Bad, 431},
        {"POST / HTTP/1.1\r\nHost: h\r\nContent-Length: 65537\r\n\r\n", State::Bad, 413},
        {"POST / HTTP/1.1\r\nHost: h\r\nContent-Length: 99999999999999999999999\r\n\r\n",
         State::Bad, 413},
        {"POST / HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n", State::Bad, 411},
        {"POST / HTTP/1.1\r\nHost: h\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n", State::Bad,
         400},
        {"POST / HTTP/1.1\r\nHost: h\r\nContent-Length: -1\r\n\r\n", State::Bad, 400},
        {"POST / HTTP/1.1\r\nHost: h\r\nContent-Length: 1 2\r\n\r\n", State::Bad, 400},
        {"GET / HTTP/2.0\r\nHost: h\r\n\r\n", State::Bad, 505},
        {"GET  / HTTP/1.1\r\nHost: h\r\n\r\n", State::Bad, 400},
        {"GET http://h/ HTTP/1.1\r\nHost: h\r\n\r\n", State::Bad, 400},
        {"G(T / HTTP/1.1\r\nHost: h\r\n\r\n", State::Bad, 400},
        {"GET / HTTP/1.1\r\n\r\n", State::Bad, 400},  // no Host
        {"GET / HTTP/1.1\r\nHost: h\r\n folded\r\n\r\n", State::Bad, 400},
        {"GET / HTTP/1.1\r\nHost : h\r\n\r\n", State::Bad, 400},
        {std::string("GET / HTTP/1.1\r\nHost: h\x01\r\n\r\n"), State::Bad, 400},
        {"GET / HTTP/1.1\r\nHost: h\r\nExpect: 200-ok\r\n\r\n", State::Bad, 417},
    };
    for (const auto& c : cases) {
        const RequestHead head = gateway::parseRequestHead(c.bytes);
        EXPECT_EQ(head.state, c.state) << c.bytes.substr(0, 80) << " " << head.error;
        EXPECT_EQ(head.state == State::Bad ? head.status : int(head.bodyBytes), c.status)
            << c.bytes.substr(0, 80);
    }

    const RequestHead head = gateway::parseRequestHead(
        "POST /api/v1/projectors/hall/send?x=1 HTTP/1.1\r\nHOST: h:1\r\nConnection: Keep-Alive, "
        "close\r\n"
        "Expect: 100-continue\r\nContent-Length: 2\r\n\r\n{}");
    EXPECT_EQ(head.request.method, "POST");
    EXPECT_EQ(head.request.path, "/api/v1/projectors/hall/send");
    EXPECT_EQ(head.request.query, "x=1");
    ASSERT_NE(head.request.header("host"), nullptr);
    EXPECT_EQ(*head.request.header("host"), "h:1");
    EXPECT_FALSE(head.keepAlive);
    EXPECT_TRUE(head.expectContinue);
    EXPECT_EQ(head.headBytes + head.bodyBytes,
              std::string_view("POST /api/v1/projectors/hall/send?x=1 HTTP/1.1\r\nHOST: "
                               "h:1\r\nConnection: Keep-Alive, close\r\n"
                               "Expect: 100-continue\r\nContent-Length: 2\r\n\r\n{}")
                  .size());
    EXPECT_FALSE(gateway::parseRequestHead("GET / HTTP/1.0\r\n\r\n").keepAlive);
    EXPECT_TRUE(
        gateway::parseRequestHead("GET / HTTP/1.0\r\nConnection: keep-alive\r\n\r\n").keepAlive);
}

TEST(HttpRoutes, PathsMethodsAndNames) {
    const struct {
        std::string method, path;
        bool found;
        std::vector<std::string> values;
        std::string allow;
    } cases[] = {
        {"GET", "/", true, {}, ""},
        {"HEAD", "/metrics", true, {}, ""},
        {"GET", "/projectors/hall", true, {"hall"}, ""},
        {"GET", "/api/v1/projectors", true, {}, ""},
        {"GET", "/api/v1/projectors/hall%2Dleft", true, {"hall-left"}, ""},
        {"POST", "/api/v1/projectors/hall/press/vol-up", true, {"hall", "vol-up"}, ""},
        {"POST", "/api/v1/projectors/hall/send", true, {"hall"}, ""},
        {"GET", "/api/v1/projectors/hall/press/vol-up", false, {}, "POST"},
        {"DELETE", "/api/v1/projectors/hall", false, {}, "GET, HEAD"},
        {"POST", "/metrics", false, {}, "GET, HEAD"},
        {"GET", "/api/v1/projectors/", false, {}, ""},
        {"GET", "/api/v1/projectors//press/x", false, {}, ""},
        {"GET", "/api/v2/projectors", false, {}, ""},
        {"GET", "/remote.js/", false, {}, ""},
        {"GET", "/../etc/passwd", false, {}, ""},
    };
    for (const auto& c : cases) {
        const gateway::RouteMatch m = gateway::matchRoute(c.method, c.path);
        EXPECT_EQ(m.route >= 0, c.found) << c.method << " " << c.path;
        EXPECT_EQ(m.values, c.values) << c.path;
        EXPECT_EQ(m.allow, c.allow) << c.method << " " << c.path;
    }
}

TEST(HttpBodies, PressAndSend) {
    const struct {
        std::string body;
        int times;
        std::string error;
    } presses[] = {
        {"", 1, ""},
        {" \r\n", 1, ""},
        {"{}", 1, ""},
        {R"({"times": 3})", 3, ""},
        {R"({"times": 100})", 100, ""},
        {R"({"times": 101})", 1, "times is a whole number from 1 to 100"},
        {R"({"times": 0})", 1, "times is a whole number from 1 to 100"},
        {R"({"times": 2.5})", 1, "times is a whole number from 1 to 100"},
        {R"({"times": "3"})", 1, "times is a whole number from 1 to 100"},
        {R"({"time": 3})", 1, "the body holds \"time\", which is no key of this request"},
        {"[3]", 1, "the body is not a JSON object"},
        {"{", 1, "the body is not a JSON object"},
    };
    for (const auto& c : presses) {
        const gateway::Parsed p = gateway::pressBody(c.body);
        EXPECT_EQ(p.times, c.error.empty() ? c.times : p.times) << c.body;
        EXPECT_EQ(p.error, c.error) << c.body;
    }
    const struct {
        std::string body, code, error;
    } sends[] = {
        {R"({"code": "CR0"})", "CR0", ""},
        {R"({"code": "CF FANSPEED MAX"})", "CF FANSPEED MAX", ""},
        {R"({"code": ""})", "", "an empty code: a code has at least one character"},
        {R"({"code": "C00\rC01"})", "C00\rC01",
         "the code \"C00\\x0DC01\" holds a character outside printable ASCII"},
        {R"({"code": "Ä"})", "Ä", "the code \"Ä\" holds a character outside printable ASCII"},
        {R"({"code": 7})", "", "the body gives no code: {\"code\": \"CR0\"}"},
        {"", "", "the body gives no code: {\"code\": \"CR0\"}"},
    };
    for (const auto& c : sends) {
        const gateway::Parsed p = gateway::sendBody(c.body);
        EXPECT_EQ(p.code, c.code) << c.body;
        EXPECT_EQ(p.error, c.error) << c.body;
    }
}

// Every button of the model once, in sections titled as on the window, placed as there.
TEST(RemoteLayout, EveryButtonOnceInTheWindowsGroupsAndArrangement) {
    for (const models::Model* model : {&models::kTR27K, &models::kTR52}) {
        SCOPED_TRACE(model->name);
        const QJsonObject layout = gateway::remoteLayout(*model);
        std::vector<std::string> titles, names;
        std::map<std::string, QJsonObject> byName;
        for (const QJsonValue s : layout.value("sections").toArray()) {
            titles.push_back(s.toObject().value("title").toString().toStdString());
            for (const QJsonValue i : s.toObject().value("items").toArray()) {
                const std::string name = i.toObject().value("name").toString().toStdString();
                if (name.empty()) continue;
                names.push_back(name);
                byName[name] = i.toObject();
            }
        }
        std::vector<std::string> all;
        for (const panel::NamedButton& b : panel::namedButtons(*model)) all.push_back(b.name);
        EXPECT_EQ(names, all);

        std::vector<std::string> want = {"POWER", "INPUT MODE SET"};
        if (model == &models::kTR27K) want.push_back("INPUT SIGNAL");
        for (const char* t :
             {"SOUND MUTE", "NO SHOW", "FREEZE", "MENU", "AV Size", "", "VOL", "Brightness",
              "D.Zoom", "Keystone", "", "", "R/C KEY OFF", "", "input sources", "FAN SPEED"}) {
            want.push_back(t);
        }
        if (model == &models::kTR52) want.push_back("logo");
        EXPECT_EQ(titles, want);

        // The cursor pad a cross: (row, column) of up, left, select, right, down.
        const auto at = [&](const char* name) {
            return std::pair(byName[name].value("row").toInt(),
                             byName[name].value("column").toInt());
        };
        EXPECT_EQ(at("up"), std::pair(1, 2));
        EXPECT_EQ(at("left"), std::pair(2, 1));
        EXPECT_EQ(at("select"), std::pair(2, 2));
        EXPECT_EQ(at("right"), std::pair(2, 3));
        EXPECT_EQ(at("down"), std::pair(3, 2));
        EXPECT_EQ(byName["vol-up"].value("repeatMs").toInt(), 250);
        EXPECT_EQ(byName["brightness-up"].value("repeatMs").toInt(), 50);
        EXPECT_EQ(byName["up"].value("repeatMs").toInt(), 200);
        EXPECT_FALSE(byName["power-on"].contains("repeatMs"));
        EXPECT_EQ(byName["power-on"].value("back").toString(), "#c0ffc0");
        EXPECT_EQ(byName["vol-up"].value("description").toString(), "volume up");
        EXPECT_EQ(byName["stand"].value("holdMs").toInt(), 2500);
        EXPECT_EQ(byName["pc1-rgb"].value("holdMs").toInt(), 5500);
    }
}

// The server on loopback: a request that stalls is refused at its deadline and not before;
// requests sent together are answered in their order; one over the bounds gets its status and
// the connection ends; the next connection is served all the same.
TEST(HttpServer, DeadlinesOrderAndBounds) {
    VirtualClock clock;
    std::vector<std::string> log;
    gateway::Listener listener("http", {QHostAddress::LocalHost}, 0, 8,
                               [&](const std::string& l) { log.push_back(l); });
    gateway::HttpServer server(listener, clock);
    std::vector<gateway::Respond> later;
    server.onRequest = [&](const gateway::HttpRequest& r, gateway::Respond respond) {
        if (r.path == "/later") {
            later.push_back(respond);
            return;
        }
        respond(gateway::HttpResponse{200, "text/plain", r.path + " " + r.body, {}});
    };
    listener.listen();
    const auto connect = [&] {
        auto s = std::make_unique<QTcpSocket>();
        s->connectToHost(QHostAddress::LocalHost, listener.port());
        EXPECT_TRUE(s->waitForConnected(3000));
        return s;
    };
    const auto receive = [](QTcpSocket& s, const std::string& until) {
        std::string got;
        (void)QTest::qWaitFor(
            [&] {
                got += s.readAll().toStdString();
                return got.find(until) != std::string::npos ||
                       s.state() == QAbstractSocket::UnconnectedState;
            },
            3000);
        return got + s.readAll().toStdString();
    };

    auto stalled = connect();
    stalled->write("GET /a HTTP/1.1\r\nHo");
    QTest::qWait(50);
    clock.advance(gateway::HttpServer::kRequestMs - 1);
    QTest::qWait(50);
    EXPECT_EQ(stalled->state(), QAbstractSocket::ConnectedState);
    clock.advance(1);
    EXPECT_NE(receive(*stalled, "\r\n\r\n").find("HTTP/1.1 408 Request Timeout"),
              std::string::npos);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return stalled->state() == QAbstractSocket::UnconnectedState; }, 3000));

    // The first answer waits; the second request is not read before it is given.
    auto client = connect();
    client->write(
        "GET /later HTTP/1.1\r\nHost: h\r\n\r\nPOST /b HTTP/1.1\r\nHost: h\r\nContent-Length: "
        "2\r\n\r\nhi");
    ASSERT_TRUE(QTest::qWaitFor([&] { return later.size() == 1; }, 3000));
    QTest::qWait(50);
    EXPECT_EQ(client->bytesAvailable(), 0);
    later.front()(gateway::HttpResponse{204, "", "", {}});
    later.front()(gateway::HttpResponse{500, "", "twice", {}});  // a second answer is none
    const std::string both = receive(*client, "/b hi");
    EXPECT_EQ(both,
              "HTTP/1.1 204 No Content\r\nContent-Length: 0\r\n\r\n"
              "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Type: text/plain\r\n\r\n/b hi");

    auto large = connect();
    large->write("POST /c HTTP/1.1\r\nHost: h\r\nContent-Length: 70000\r\n\r\n");
    EXPECT_NE(receive(*large, "}").find("HTTP/1.1 413 Content Too Large"), std::string::npos);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return large->state() == QAbstractSocket::UnconnectedState; }, 3000));

    // An answer to a client that has gone is dropped quietly.
    auto gone = connect();
    gone->write("GET /later HTTP/1.1\r\nHost: h\r\n\r\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return later.size() == 2; }, 3000));
    gone->abort();
    QTest::qWait(50);
    later.back()(gateway::HttpResponse{200, "", "late", {}});
    auto next = connect();
    next->write("GET /d HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n");
    EXPECT_NE(receive(*next, "/d ").find("Connection: close\r\n\r\n/d "), std::string::npos);
    EXPECT_TRUE(log.empty()) << log.front();  // a client's mistakes are its own
}

}  // namespace
