#include "gateway/shared_line.h"

#include <QTcpSocket>

#include "gateway/line.h"
#include "session/sends.h"

namespace gateway {

namespace {

// Bytes taken from a connection at a time; what a client sends beyond them waits in the
// system, which slows a flooding client down.
constexpr qint64 kReadChunk = 16 * 1024;

}  // namespace

struct SharedLine::Connection {
    QTcpSocket* socket = nullptr;  // a child of the shared line; deleted once removed
    std::unique_ptr<Client> client;
    std::string peer;
    LineFramer framer{kMaxCommandBytes};
    bool toldFull = false;
    bool ended = false;
};

SharedLine::SharedLine(Line& line, const Config& config, Log log, QObject* parent)
    : QObject(parent),
      line_(line),
      log_(log),
      what_("[" + line.projector().id + "] raw"),
      listener_(what_, config.listenOf(line.projector()), *line.projector().raw,
                config.maxConnections, log, this) {
    listener_.onConnection = [this](QTcpSocket* socket) { accepted(socket); };
    connect(&line_, &Line::stateChanged, this, [this] { lineChanged(); });
    connect(&line_, &Line::unclaimed, this, [this](const session::Unclaimed& u) {
        for (const auto& c : connections_) reply(*c, u.bytes);
    });
}

SharedLine::~SharedLine() {
    // The clients leave the line before their sockets go.
    for (const auto& c : connections_) c->client.reset();
}

void SharedLine::accepted(QTcpSocket* socket) {
    socket->setParent(this);
    socket->setReadBufferSize(kReadChunk);
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    auto owned = std::make_unique<Connection>();
    Connection& c = *owned;
    c.socket = socket;
    c.peer = peerOf(*socket);
    connections_.push_back(std::move(owned));

    // A client that hangs up has its whole commands carried out all the same.
    connect(socket, &QTcpSocket::disconnected, this, [this, &c] {
        take(c, true);
        end(c, {});
    });
    if (line_.state() == LineState::Down) {
        // As a serial server whose device is away: the reason, then the end.
        const std::string why = "projectord: the projector's line is down: " + logText(line_.reason());
        socket->write(why.data(), qint64(why.size()));
        socket->write("\r\n");
        end(c, {});
        return;
    }
    c.client = line_.join("raw " + c.peer);
    c.client->onRoom = [this, &c] { take(c, false); };
    connect(socket, &QTcpSocket::readyRead, this, [this, &c] { take(c, false); });
    take(c, false);
}

void SharedLine::take(Connection& c, bool leaving) {
    while (!c.ended && c.client) {
        if (c.client->full() && !leaving) {
            if (!c.toldFull) {
                c.toldFull = true;
                log_(what_ + ": " + c.peer + " has " + std::to_string(c.client->waiting()) +
                     " commands waiting for the line: not read until they have gone out");
            }
            return;
        }
        std::optional<LineFramer::Line> command = c.framer.next();
        if ((command && command->overlong) || (!command && c.framer.overflowing())) {
            end(c, "more than " + std::to_string(kMaxCommandBytes) +
                       " bytes without a carriage return");
            return;
        }
        if (command) {
            // The answer never comes once the client has left, which it does with `c`.
            c.client->submit({session::codeSend(std::move(command->text))},
                             [this, &c](const Answer& a) {
                                 if (!a.outcome.reply.empty()) reply(c, a.outcome.reply);
                             });
            continue;
        }
        const QByteArray more = c.socket->read(kReadChunk);
        if (more.isEmpty()) return;
        c.framer.feed(std::string_view(more.constData(), std::size_t(more.size())));
    }
}

void SharedLine::reply(Connection& c, const std::string& bytes) {
    if (c.ended) return;
    if (c.socket->bytesToWrite() + qint64(bytes.size()) > kMaxUnsentBytes) {
        end(c, "it does not take its replies");
        return;
    }
    c.socket->write(bytes.data(), qint64(bytes.size()));
}

void SharedLine::end(Connection& c, const std::string& why) {
    if (c.ended) return;
    c.ended = true;
    if (!why.empty()) log_(what_ + ": " + c.peer + " closed: " + why);
    // What it handed over still goes out in its turn; the answers go to no one.
    c.client.reset();
    closeWhenSent(*c.socket, this);
    eraseLater(this, connections_, c);
}

void SharedLine::lineChanged() {
    if (line_.state() != LineState::Down) return;
    // The projector's line is away: so is every client's.
    for (const auto& c : connections_) end(*c, {});
}

}  // namespace gateway
