#include "gateway/pjlink.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <array>
#include <optional>
#include <stdexcept>

#include "engine/shown_text.h"
#include "engine/status.h"
#include "gateway/line.h"
#include "gateway/line_framer.h"
#include "gateway/pjlink_protocol.h"
#include "link/timers.h"
#include "session/sends.h"
#include "tables/names.h"

namespace gateway {

namespace {

using pjlink::Error;

// Bytes taken from a connection at a time.
constexpr qint64 kReadChunk = 4 * 1024;
// Lines one connection may have handled in one pass of the event loop before the others'
// turn: a client that floods with questions the cache answers slows down only itself.
constexpr int kLinesPerPass = 16;
// PJLink's "other information" is at most 32 bytes.
constexpr std::size_t kMaxInformationBytes = 32;

// An answer: its text, or an error.
struct Reply {
    std::string value;
    std::optional<Error> error;
};
Reply is(std::string value) {
    return {std::move(value), std::nullopt};
}
Reply fails(Error error) {
    return {{}, error};
}

struct Facts {
    const StatusCache& status;
    const ProjectorConfig& projector;
};

// --- the mapping -------------------------------------------------------------------------

// The inputs PJLink selects (INPT), each by the panel's button for it: type and number as
// PJLink counts them, RGB 1, RGB 2 and VIDEO 1.
struct InputRow {
    std::string_view parameter;
    std::string_view control;
    Input input;
};
constexpr InputRow kInputs[] = {
    {"11", "Command27", Input::PC1},    // INPUT MODE SET "PC1": C05
    {"12", "Command28", Input::PC2},    // "PC2": C06
    {"21", "Command29", Input::Video},  // "Video": C07
};

// The other sets: the buttons pressed, in order, in one request. POWR waits for no
// transition: the projector counting down or cooling down takes no power command (ERR3).
struct SetRow {
    std::string_view body;
    std::string_view parameter;
    std::array<std::string_view, 2> controls;
    bool refusedInTransition = false;
};
constexpr SetRow kSets[] = {
    {"POWR", "1", {"Command17"}, true},          // POWER ON: C00
    {"POWR", "0", {"Command18"}, true},          // POWER OFF: C01
    {"AVMT", "11", {"Command21"}},               // NO SHOW ON: C0D
    {"AVMT", "10", {"Command22"}},               // NO SHOW OFF: C0E
    {"AVMT", "21", {"Command19"}},               // SOUND MUTE ON: C0B
    {"AVMT", "20", {"Command20"}},               // SOUND MUTE OFF: C0C
    {"AVMT", "31", {"Command21", "Command19"}},  // both on
    {"AVMT", "30", {"Command22", "Command20"}},  // both off
};

Reply powerState(const Facts& f) {
    switch (f.status.power()) {
        case Power::On:
            return is("1");
        case Power::Standby:
            return is("0");
        case Power::Cooling:
            return is("2");
        case Power::WarmUp:
            return is("3");
        case Power::Fail:
            break;
        case Power::Unknown:
            break;
    }
    return fails(Error::Failure);
}

// Input mode 4 is an input no button selects and PJLink has no name for in the list INST
// gives: it is answered as an input that cannot be told now (ERR3), never as one of the list.
Reply inputNow(const Facts& f) {
    const std::optional<Input> input = f.status.input();
    if (!input) return fails(Error::Failure);
    for (const InputRow& row : kInputs) {
        if (row.input == *input) return is(std::string(row.parameter));
    }
    return fails(Error::Unavailable);
}

// Stand-by ("FF") says nothing of the mute: not now. No signal ("80") mutes nothing.
Reply muteState(const Facts& f) {
    if (f.status.muteCode() == "FF") return fails(Error::Unavailable);
    const std::optional<Mute> mute = f.status.mute();
    if (!mute) return fails(Error::Failure);
    if (mute->picture && mute->sound) return is("31");
    if (mute->picture) return is("11");
    if (mute->sound) return is("21");
    return is("30");
}

// Fan, lamp, temperature, cover, filter, other: 0 no error, 1 warning, 2 error.
Reply errorStatus(const Facts& f) {
    const Power power = f.status.power();
    if (power == Power::Unknown) return fails(Error::Failure);
    std::string digits = "000000";
    if (f.status.lampFailure().value_or(false)) digits[1] = '2';
    if (f.status.temperatureWarning().value_or(false)) digits[2] = '1';
    if (power == Power::Fail) digits[5] = '2';
    return is(digits);
}

// The one lamp: its hours, and 1 while it is lit (the power on).
Reply lamps(const Facts& f) {
    const std::optional<long> hours = f.status.lampHours();
    if (!hours || f.status.power() == Power::Unknown) return fails(Error::Failure);
    return is(std::to_string(*hours) + (f.status.power() == Power::On ? " 1" : " 0"));
}

Reply inputList(const Facts&) {
    std::string list;
    for (const InputRow& row : kInputs) {
        if (!list.empty()) list += ' ';
        list += row.parameter;
    }
    return is(list);
}

Reply name(const Facts& f) {
    return is(f.projector.name);
}

// The maker's name as the window's caption begins with it.
Reply maker(const Facts& f) {
    const std::string_view caption = f.projector.model->caption;
    return is(std::string(caption.substr(0, caption.find(' '))));
}

Reply model(const Facts& f) {
    return is(std::string(f.projector.model->name));
}

// "CR9"'s text, as the panel shows it, in the bytes PJLink carries.
Reply otherInformation(const Facts& f) {
    const StatusEntry* entry = f.status.entry("CR9");
    if (!entry || !entry->outcome.ok) return fails(Error::Failure);
    std::string_view reply = entry->outcome.reply;
    if (!reply.empty() && reply.back() == '\r') reply.remove_suffix(1);
    return is(engine::shownBytes(reply, kMaxInformationBytes));
}

Reply classOne(const Facts&) {
    return is("1");
}

// The queries: the status queries an answer is made of (answered from the cache while fresh),
// and how.
struct QueryRow {
    std::string_view body;
    std::array<std::string_view, 2> queries;
    Reply (*answer)(const Facts&);
};
constexpr QueryRow kQueries[] = {
    {"POWR", {"CR0"}, powerState},
    {"INPT", {"CR1"}, inputNow},
    {"AVMT", {"CRA"}, muteState},
    {"ERST", {"CR0"}, errorStatus},
    {"LAMP", {"CR3", "CR0"}, lamps},
    {"INST", {}, inputList},
    {"NAME", {}, name},
    {"INF1", {}, maker},
    {"INF2", {}, model},
    {"INFO", {"CR9"}, otherInformation},
    {"CLSS", {}, classOne},
};

const QueryRow* queryRow(std::string_view body) {
    const auto row = std::ranges::find(kQueries, body, &QueryRow::body);
    return row == std::end(kQueries) ? nullptr : row;
}

}  // namespace

std::string pjlinkDigest(std::string_view random, std::string_view password) {
    QCryptographicHash md5(QCryptographicHash::Md5);
    md5.addData(QByteArrayView(random.data(), qsizetype(random.size())));
    md5.addData(QByteArrayView(password.data(), qsizetype(password.size())));
    return md5.result().toHex().toStdString();
}

// The sets of the projector's model: each PJLink set with the sends of its buttons.
class PjlinkServer::Mapping {
  public:
    struct Set {
        std::string_view body;
        std::string_view parameter;
        std::vector<session::Send> sends;
        bool refusedInTransition;
    };

    explicit Mapping(const models::Model& model) {
        const std::vector<panel::NamedButton> buttons = panel::namedButtons(model);
        const auto sends = [&](std::initializer_list<std::string_view> controls) {
            std::vector<session::Send> all;
            for (const std::string_view control : controls) {
                if (control.empty()) continue;
                const auto button =
                    std::ranges::find(buttons, control, &panel::NamedButton::control);
                if (button == buttons.end()) {
                    throw std::logic_error("PJLink maps to " + std::string(control) + ", which " +
                                           std::string(model.name) + " has not");
                }
                for (session::Send& s : session::pressSends(*button)) all.push_back(std::move(s));
            }
            return all;
        };
        for (const InputRow& row : kInputs) {
            sets_.push_back({"INPT", row.parameter, sends({row.control}), false});
        }
        for (const SetRow& row : kSets) {
            sets_.push_back({row.body, row.parameter, sends({row.controls[0], row.controls[1]}),
                             row.refusedInTransition});
        }
    }

    const Set* set(std::string_view body, std::string_view parameter) const {
        for (const Set& s : sets_) {
            if (s.body == body && s.parameter == parameter) return &s;
        }
        return nullptr;
    }
    bool known(std::string_view body) const {
        return queryRow(body) ||
               std::ranges::any_of(sets_, [&](const Set& s) { return s.body == body; });
    }

  private:
    std::vector<Set> sets_;
};

struct PjlinkServer::Connection {
    std::weak_ptr<Connection> self;
    QTcpSocket* socket = nullptr;  // a child of the server; deleted once closed
    std::unique_ptr<Client> client;
    std::string peer;
    LineFramer framer{pjlink::kMaxLineBytes};
    std::string digest;  // what the first command must carry; empty without a password
    bool authenticated = false;
    std::unique_ptr<PanelTimer> idle, answerBy;
    // The command waiting for its answer: its header and its number among the commands taken.
    bool awaiting = false;
    std::string header;
    std::uint64_t number = 0;
    bool hungUp = false;  // the peer has closed: what it sent is carried out, unanswered
    bool taking = false;
    bool toldFull = false;
    bool ended = false;
};

// Sends handed to the line for a command: what their answers become is the worst of them.
struct PjlinkServer::Request {
    std::uint64_t number;  // the command's among its connection's
    std::optional<Error> error;
    Then then;
};

PjlinkServer::PjlinkServer(Line& line, const Config& config, TimerSource& timers, Log log,
                           QObject* parent)
    : QObject(parent),
      line_(line),
      log_(log),
      what_("[" + line.projector().id + "] pjlink"),
      timers_(timers),
      listener_(what_, config.listenOf(line.projector()), *line.projector().pjlink,
                config.maxConnections, log, this),
      mapping_(std::make_unique<Mapping>(*line.projector().model)) {
    listener_.onConnection = [this](QTcpSocket* socket) { accepted(socket); };
    connect(&line_, &Line::commandSent, this, [this](const Command& command) {
        const auto queries = engine::statusQueries();
        if (std::ranges::find(queries, command.outcome.code) == queries.end())
            lastSetMs_ = line_.nowMs();
    });
}

PjlinkServer::~PjlinkServer() {
    // The clients leave the line before their sockets go.
    for (const auto& c : connections_) c->client.reset();
}

std::string PjlinkServer::randomChallenge() {
    std::array<quint32, 1> bits{};
    QRandomGenerator::system()->fillRange(bits.data(), bits.size());
    return QByteArray::number(bits[0], 16).rightJustified(pjlink::kRandomChars, '0').toStdString();
}

void PjlinkServer::accepted(QTcpSocket* socket) {
    socket->setParent(this);
    socket->setReadBufferSize(kReadChunk);
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    auto owned = std::make_shared<Connection>();
    Connection& c = *owned;
    c.self = owned;
    c.socket = socket;
    c.peer = peerOf(*socket);
    c.client = line_.join("pjlink " + c.peer);
    connections_.push_back(owned);

    const std::string& password = line_.projector().pjlinkPassword;
    std::string random;
    if (password.empty()) {
        c.authenticated = true;
    } else {
        random = randomChallenge();
        c.digest = pjlinkDigest(random, password);
    }
    c.idle = timers_.createTimer();
    c.idle->setInterval(kIdleMs);
    c.idle->onTick = [this, &c] { end(c, {}); };
    c.answerBy = timers_.createTimer();
    c.answerBy->setInterval(kAnswerByMs);
    c.answerBy->onTick = [this, &c] { answer(c, pjlink::answerLine(c.header, Error::Failure)); };

    const std::weak_ptr<Connection> weak = owned;
    const auto resume = [this, weak] {
        if (const auto c = weak.lock()) take(c);
    };
    c.client->onRoom = resume;
    connect(socket, &QTcpSocket::readyRead, this, resume);
    connect(socket, &QTcpSocket::disconnected, this, [this, weak] {
        const auto c = weak.lock();
        if (!c) return;
        c->hungUp = true;
        take(c);
    });
    const std::string hello = pjlink::greeting(random);
    socket->write(hello.data(), qint64(hello.size()));
    c.idle->setEnabled(true);
    take(owned);
}

void PjlinkServer::take(const std::shared_ptr<Connection>& owned) {
    Connection& c = *owned;
    if (c.taking) return;
    c.taking = true;
    int handled = 0;
    while (!c.ended && !c.awaiting) {
        if (c.client->full()) {
            if (!c.toldFull) {
                c.toldFull = true;
                log_(what_ + ": " + c.peer + " has " + std::to_string(c.client->waiting()) +
                     " commands waiting for the line: not read until they have gone out");
            }
            break;
        }
        if (std::optional<LineFramer::Line> line = c.framer.next()) {
            handle(c, line->text, line->overlong);
            if (++handled == kLinesPerPass) {
                const std::weak_ptr<Connection> weak = owned;
                QMetaObject::invokeMethod(
                    this,
                    [this, weak] {
                        if (const auto c = weak.lock()) take(c);
                    },
                    Qt::QueuedConnection);
                break;
            }
            continue;
        }
        const qint64 available = std::min(c.socket->bytesAvailable(), kReadChunk);
        if (available <= 0) {
            // A peer that has closed has had everything it sent carried out.
            if (c.hungUp) end(c, {});
            break;
        }
        const QByteArray more = c.socket->read(available);
        c.framer.feed(std::string_view(more.constData(), std::size_t(more.size())));
    }
    c.taking = false;
}

void PjlinkServer::handle(Connection& c, const std::string& line, bool overlong) {
    const pjlink::Digested digested = pjlink::splitDigest(line);
    if (digested.digest && !c.digest.empty() && !pjlink::sameDigest(*digested.digest, c.digest)) {
        answer(c, std::string(pjlink::kAuthenticationError));
        end(c, "authentication failed: wrong digest");
        return;
    }
    const pjlink::Parsed parsed = pjlink::parseLine(digested.command);
    if (parsed.kind == pjlink::Parsed::Kind::Empty) return;
    if (!c.authenticated) {
        if (!digested.digest) {
            answer(c, std::string(pjlink::kAuthenticationError));
            end(c, "authentication failed: no digest in front of the first command");
            return;
        }
        c.authenticated = true;
    }
    if (parsed.kind == pjlink::Parsed::Kind::Foreign) {
        end(c, "not a PJLink command: " + engine::shownBytes(line, 40));
        return;
    }
    c.idle->setEnabled(true);
    if (overlong) {
        answer(c, pjlink::answerLine(parsed.header, Error::Parameter));
        return;
    }
    if (parsed.kind == pjlink::Parsed::Kind::Invalid) {
        answer(c, pjlink::answerLine(parsed.header, parsed.error));
        return;
    }
    c.awaiting = true;
    c.header = parsed.header;
    ++c.number;
    execute(c, parsed.header, parsed.body, parsed.parameter);
}

void PjlinkServer::execute(Connection& c, const std::string& header, const std::string& body,
                           const std::string& parameter) {
    const auto replyWith = [this, header](Connection& c, const Reply& reply) {
        answer(c, reply.error ? pjlink::answerLine(header, *reply.error)
                              : pjlink::answerLine(header, reply.value));
    };
    const auto usable = [this](std::string_view query) {
        const StatusCache& status = line_.status();
        return status.fresh(query, line_.nowMs()) && status.entry(query)->atMs > lastSetMs_;
    };
    const auto facts = [this] { return Facts{line_.status(), line_.projector()}; };

    if (parameter == "?") {
        const QueryRow* row = queryRow(body);
        if (!row) {
            replyWith(c, fails(mapping_->known(body) ? Error::Parameter : Error::Undefined));
            return;
        }
        std::vector<session::Send> missing;
        for (const std::string_view query : row->queries) {
            if (!query.empty() && !usable(query))
                missing.push_back(session::codeSend(std::string(query)));
        }
        if (missing.empty()) {
            replyWith(c, row->answer(facts()));
            return;
        }
        ask(c, std::move(missing), [row, replyWith, facts](Connection& c, std::optional<Error> e) {
            replyWith(c, e ? fails(*e) : row->answer(facts()));
        });
        return;
    }

    const Mapping::Set* set = mapping_->set(body, parameter);
    if (!set) {
        replyWith(c, fails(mapping_->known(body) ? Error::Parameter : Error::Undefined));
        return;
    }
    const auto press = [this, set, replyWith](Connection& c) {
        ask(c, set->sends, [replyWith](Connection& c, std::optional<Error> e) {
            replyWith(c, e ? fails(*e) : is("OK"));
        });
    };
    const auto inTransition = [this] {
        const Power power = line_.status().power();
        return power == Power::WarmUp || power == Power::Cooling;
    };
    if (!set->refusedInTransition) {
        press(c);
    } else if (usable("CR0")) {
        if (inTransition()) {
            replyWith(c, fails(Error::Unavailable));
        } else {
            press(c);
        }
    } else {
        ask(c, {session::codeSend("CR0")},
            [press, inTransition, replyWith](Connection& c, std::optional<Error> e) {
                if (e) {
                    replyWith(c, fails(*e));
                } else if (inTransition()) {
                    replyWith(c, fails(Error::Unavailable));
                } else {
                    press(c);
                }
            });
    }
}

void PjlinkServer::ask(Connection& c, std::vector<session::Send> sends, Then then) {
    if (!c.answerBy->enabled()) c.answerBy->setEnabled(true);
    auto request = std::make_shared<Request>(Request{c.number, std::nullopt, std::move(then)});
    // Answers never come once the client has left, which it does with `c`.
    c.client->submit(std::move(sends), [&c, request](const Answer& a) {
        if (!a.failure.empty() || (!a.outcome.ok && !a.outcome.refused)) {
            request->error = Error::Failure;
        } else if (a.outcome.refused && !request->error) {
            request->error = Error::Unavailable;
        }
        // An answer after its command was given up on (ERR4 at the deadline) is no one's.
        if (!a.last || !c.awaiting || c.number != request->number) return;
        request->then(c, request->error);
    });
}

void PjlinkServer::answer(Connection& c, const std::string& text) {
    const bool wasAwaiting = c.awaiting;
    c.awaiting = false;
    c.answerBy->setEnabled(false);
    if (c.ended) return;
    if (!c.hungUp) {
        if (c.socket->bytesToWrite() + qint64(text.size()) > kMaxUnsentBytes) {
            end(c, "it does not take its answers");
            return;
        }
        c.socket->write(text.data(), qint64(text.size()));
        // Out now, not in a later pass of the event loop: the controller waits for it.
        c.socket->flush();
    }
    // An answer from the line or the clock: the lines after the command are taken now.
    if (wasAwaiting && !c.taking) {
        const std::weak_ptr<Connection> weak = c.self;
        QMetaObject::invokeMethod(
            this,
            [this, weak] {
                if (const auto c = weak.lock()) take(c);
            },
            Qt::QueuedConnection);
    }
}

void PjlinkServer::end(Connection& c, const std::string& why) {
    if (c.ended) return;
    c.ended = true;
    if (!why.empty()) log_(what_ + ": " + c.peer + " closed: " + why);
    // What it handed over still goes out in its turn; the answers go to no one.
    c.client.reset();
    c.idle->setEnabled(false);
    c.answerBy->setEnabled(false);
    closeWhenSent(*c.socket, this);
    eraseLater(this, connections_, c);
}

}  // namespace gateway
