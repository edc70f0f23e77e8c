#pragma once

#include <QObject>
#include <QPointer>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "gateway/config.h"
#include "gateway/status_cache.h"
#include "session/session.h"

namespace gateway {

enum class LineState {
    Connecting,  // a network port's server has not answered yet; requests wait
    Up,          // commands go out
    Down,        // not open, or lost: requests are answered at once as failed
};
std::string_view stateName(LineState state);

// One answer to one send of a request. Every send of a request is answered exactly once, in
// order; the last answer says so.
struct Answer {
    // For a send not made: code and sent set, no reply, ok false, ms 0.
    session::Outcome outcome;
    // Why the send was not made, or why its reply was cut short: the line is down or was lost,
    // in the panel's words. Empty when the send went out and its reply window ran its course
    // (outcome.ok then says whether the reply came).
    std::string failure;
    bool last = false;
};

// A command on the line, as observers see it.
struct Command {
    std::uint64_t client = 0;     // Client::id() of the client that asked
    std::string_view clientName;  // Client::name()
    // commandSent: code and sent. commandAnswered: the whole outcome.
    session::Outcome outcome;
    std::string failure;  // as in Answer
};

// At most this many sends in one request (a hold key pressed this many times).
inline constexpr std::size_t kMaxSendsPerRequest = 100;
// Requests a client may have waiting before it counts as full.
inline constexpr std::size_t kDefaultClientBound = 8;

class Line;

// A front-end's place on a line: one per connection (or per source of commands). Got from
// Line::join(); it must not outlive its line. Destroying it leaves the line: what it handed
// over is still carried out, in its turn, but answered to no one.
class Client {
  public:
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    std::uint64_t id() const;
    const std::string& name() const;

    // Hands a request to the line: its sends go out one after another, in this client's turn,
    // with nothing of another client's between them. `answered` is called once per send, from
    // the event loop, never from inside submit(). submit() never refuses and drops nothing:
    // a client over its bound is still taken, and it is up to the front-end to stop reading
    // its peer while full() (see onRoom). Requires 1 to kMaxSendsPerRequest sends; throws
    // std::invalid_argument otherwise.
    void submit(std::vector<session::Send> sends, std::function<void(const Answer&)> answered);

    // Requests handed over and not yet on the line.
    std::size_t waiting() const;
    // At or over the bound: the front-end stops reading its peer until onRoom.
    bool full() const;
    // Raised once a full client has room again (from the event loop).
    std::function<void()> onRoom;

  private:
    friend class Line;
    struct Slot;
    Client(Line& line, std::shared_ptr<Slot> slot);

    QPointer<Line> line_;
    std::shared_ptr<Slot> slot_;
};

// The owner of one projector's line: it alone holds the port, through a PortSession, opened
// and reopened as the panel opens it. Every front-end is a Client of it. One command is on the
// line at a time; clients are served in turn, one request each (round robin); the status
// queries run every `poll` seconds as a client of the line's own and keep the status cache.
// Observers connect to its signals (directly; they are raised from the event loop).
class Line final : public QObject {
    Q_OBJECT
  public:
    struct Context {
        session::Surroundings surroundings;  // timers, the clock, how the port is built
        std::function<std::int64_t()> wallMs;  // ms since 1970 UTC; the system's when empty
    };

    Line(ProjectorConfig projector, Context context);
    ~Line() override;

    // Opens the line. A port that cannot be opened is not fatal: the line is down, with the
    // panel's words for why, and is tried again about once a second.
    void start();
    // Releases the port at once; waiting requests are answered as failed.
    void stop();

    // A new client of the line; `name` says who it is in events ("raw 192.0.2.7:50112").
    std::unique_ptr<Client> join(std::string name, std::size_t bound = kDefaultClientBound);

    const ProjectorConfig& projector() const { return projector_; }
    LineState state() const { return state_; }
    // Why the line is down, in the panel's words; empty while it is not.
    const std::string& reason() const { return reason_; }
    const StatusCache& status() const { return status_; }
    // The line's clock (ms), against which StatusCache::fresh() is asked.
    double nowMs() const { return context_.surroundings.nowMs(); }

  signals:
    void stateChanged(gateway::LineState state, const std::string& reason);
    void commandSent(const gateway::Command& command);
    // Only for sends made: a send answered as not made raised no commandSent either.
    void commandAnswered(const gateway::Command& command);
    // Bytes that belong to no command: they came after the reply they followed was complete
    // or its window had ended, or while no command was out.
    void unclaimed(const session::Unclaimed& bytes);
    // A status query's entry now holds another reply (or its reply came or went missing).
    void statusChanged(const std::string& query);
    // The status queries of one poll have all been answered while the line was up.
    void statusRoundDone();

  private:
    friend class Client;
    struct Pending {
        std::vector<session::Send> sends;
        std::function<void(const Answer&)> answered;
    };
    struct Running {
        std::shared_ptr<Client::Slot> slot;
        Pending request;
        std::size_t answered = 0;
    };

    void submit(const std::shared_ptr<Client::Slot>& slot, Pending request);
    void leave(Client::Slot& slot);
    void serveSoon();
    void serve();
    void answer(Running& running, const session::Outcome& outcome, const std::string& failure);
    void answerNotMade(const std::shared_ptr<Client::Slot>& slot, Pending& request, std::size_t from,
                       const std::string& failure);
    void failWaiting();
    void roomMade(Client::Slot& slot, bool wasFull);
    void tryOpen();
    void goUp();
    void goDown(const std::string& reason);
    void poll();

    void sent(const session::Outcome& outcome);
    void outcome(const session::Outcome& outcome);
    void lost(const std::string& description);
    void done();

    ProjectorConfig projector_;
    Context context_;
    std::unique_ptr<session::PortSession> session_;
    std::unique_ptr<PanelTimer> retry_, poll_;
    LineState state_ = LineState::Down;
    std::string reason_;
    StatusCache status_;

    std::vector<std::shared_ptr<Client::Slot>> slots_;  // in the order they joined
    std::size_t turn_ = 0;                              // the slot whose turn is next
    std::uint64_t nextId_ = 1;
    std::unique_ptr<Running> running_;
    std::unique_ptr<session::Outcome> cutShort_;  // a reply the loss ended, until its reason comes
    bool servePosted_ = false;
    bool opened_ = false;  // the port has been opened (a lost one reopens by itself)

    std::unique_ptr<Client> poller_;
    std::size_t pollAnswers_ = 0;  // of the current poll, still to come
    bool pollComplete_ = true;     // every answer of the current poll was made
    QObject posted_;               // what posted calls run in; they go with the line
};

}  // namespace gateway
