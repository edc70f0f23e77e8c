#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "gateway/config.h"
#include "gateway/listener.h"
#include "gateway/log.h"
#include "gateway/pjlink_protocol.h"

class QTcpSocket;
class TimerSource;

namespace session {
struct Send;
}

namespace gateway {

class Line;

// What a client proves it knows the password with: the MD5 digest of the random characters
// the connection was greeted with and the password, as 32 lower-case hex digits.
std::string pjlinkDigest(std::string_view random, std::string_view password);

// The PJLink Class 1 port (`pjlink`): the projector as the building's controllers know
// projectors on the network. Each command maps to the projector's commands and status
// queries (the table in pjlink.cpp); a query is answered from the status cache while its
// entry is fresh and no command has gone out since, otherwise through the line's queue like
// every other client's. Every answer is on its way within two seconds: one the line has not
// given by then is ERR4.
//
// With a password, a connection is greeted with 8 random characters and its first command
// must carry the MD5 digest of them and the password; a missing or wrong digest gets
// "PJLINK ERRA" and the end of the connection. A connection that sends no command for 30 s is
// closed; a line that is no PJLink command ends the connection with a log line.
class PjlinkServer final : public QObject {
    Q_OBJECT
  public:
    static constexpr int kIdleMs = 30'000;
    // An answer the line has not given by then is ERR4, so that it reaches the client within
    // the two seconds PJLink allows.
    static constexpr int kAnswerByMs = 1'900;
    // Answers a client has not taken beyond this end its connection.
    static constexpr qint64 kMaxUnsentBytes = 64 * 1024;

    // `timers` runs the idle and answer timers (the line's own source).
    PjlinkServer(Line& line, const Config& config, TimerSource& timers, Log log,
                 QObject* parent = nullptr);
    ~PjlinkServer() override;

    Listener& listener() { return listener_; }

  private:
    struct Connection;
    struct Request;
    class Mapping;
    // What becomes of a command once the line has answered its sends: the worst error among
    // the answers, or none.
    using Then = std::function<void(Connection&, std::optional<pjlink::Error>)>;

    void accepted(QTcpSocket* socket);
    // Handles the lines received, one command at a time: the next waits for the answer to
    // the one before.
    void take(const std::shared_ptr<Connection>& c);
    void handle(Connection& c, const std::string& line, bool overlong);
    void execute(Connection& c, const std::string& header, const std::string& body,
                 const std::string& parameter);
    // Hands sends to the line for the command awaited; `then` runs once every one is answered,
    // unless the command has been answered by then (at its deadline).
    void ask(Connection& c, std::vector<session::Send> sends, Then then);
    void answer(Connection& c, const std::string& text);
    void end(Connection& c, const std::string& why);
    std::string randomChallenge();

    Line& line_;
    Log log_;
    std::string what_;  // "[hall] pjlink"
    TimerSource& timers_;
    Listener listener_;
    std::unique_ptr<Mapping> mapping_;
    std::list<std::shared_ptr<Connection>> connections_;
    // When the last command that was no status query went out on the line: cache entries
    // older than that may no longer say what the projector does.
    double lastSetMs_ = -1;
};

}  // namespace gateway
