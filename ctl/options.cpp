#include "ctl/options.h"

#include <QCommandLineParser>
#include <cmath>

#include "engine/shown_text.h"
#include "engine/status.h"
#include "link/device_address.h"
#include "link/port_assignment.h"
#include "link/reconnecting_port.h"
#include "link/serial_port.h"
#include "session/sends.h"
#include "tables/buttons.h"
#include "tables/names.h"

namespace ctl {

namespace {

constexpr int kMaxTimeoutMs = 3'600'000;
constexpr double kMaxWatchSeconds = 86'400;

constexpr auto kDescription =
    R"(Drives a TR27K or TR52 projector over its RS-232C line, with the panel's engine.

Commands:
  send CODE...             each code framed as the panel frames it (code + CR)
  press NAME [--times N]   a panel button by name; a hold key repeats N times at its own
                           repeat period
  status                   every status query the decoder knows, in its order
  watch [SECONDS]          status every SECONDS (default 5); prints what changed
  list                     the model's buttons: name, code, timing class
  ports                    serial adapters found: path, stable name, description, serial number

PORT: COM1 or COM2 (assigned as the panel assigns them), a device path,
socket://HOST:PORT or rfc2217://HOST:PORT. Several --port options drive several
projectors at once, each reached once.

Output: one line per command: the port (when several), the command and the reply as the
panel shows them, the decoded status; tab-separated. --json: one JSON object per line.

Exit status: 0 every command answered; 1 a reply missing or refused; 2 a port could not be
opened or was lost; 64 a usage error (nothing sent); 74 the output could not be written.)";

// The longest message of a usage error; what the user typed is in it, fit to be shown.
constexpr std::size_t kMessageLimit = 1000;

QString shown(const QString& text, std::size_t limit = 160) {
    return QString::fromStdString(engine::shownText(text.toStdString(), limit));
}

[[noreturn]] void usage(const QString& reason) {
    throw UsageError(reason.toStdString());
}

const models::Model& modelNamed(const QString& name) {
    for (const models::Model* model : {&models::kTR27K, &models::kTR52}) {
        if (name.compare(QString::fromUtf8(model->name.data(), qsizetype(model->name.size())),
                         Qt::CaseInsensitive) == 0) {
            return *model;
        }
    }
    usage(QStringLiteral("--model takes TR27K or TR52, not \"%1\"").arg(shown(name)));
}

int number(const QString& text, const QString& option, int low, int high) {
    bool ok = false;
    const int n = text.toInt(&ok);
    if (!ok || n < low || n > high) {
        usage(QStringLiteral("%1 takes a whole number from %2 to %3, not \"%4\"")
                  .arg(option)
                  .arg(low)
                  .arg(high)
                  .arg(shown(text)));
    }
    return n;
}

std::string code(const QString& text) {
    if (text.isEmpty()) usage(QStringLiteral("an empty code: a code has at least one character"));
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7e) {
            usage(QStringLiteral("the code \"%1\" holds a character outside printable ASCII")
                      .arg(shown(text)));
        }
    }
    return text.toStdString();
}

// The ports, each leading to a device of its own. A port whose assignment cannot be read is
// left to its open, which reports it.
void checkPorts(const Request& request, const serial::PortAssignment& assignment) {
    std::vector<std::pair<std::string, serial::DeviceAddress>> reached;  // identity, address
    for (const std::string& port : request.ports) {
        if (port.empty()) usage(QStringLiteral("--port takes a port, not an empty text"));
        serial::DeviceAddress address;
        try {
            address = serial::resolveDevice(port, assignment).address;
        } catch (const serial::SerialError& e) {
            if (serial::panelPortNumber(port) != 0) continue;
            // The address names itself in the reason.
            usage(QStringLiteral("--port ") +
                  shown(QString::fromStdString(e.what()), kMessageLimit));
        }
        if (request.speedChosen && address.kind == serial::DeviceAddress::Kind::Socket) {
            usage(QStringLiteral("--speed: ") +
                  shown(QString::fromStdString(serial::ReconnectingPort::fixedSettingsText(
                            address, {.program = "projectorctl"})),
                        kMessageLimit));
        }
        std::string identity = serial::deviceIdentity(address);
        const auto same =
            std::ranges::find(reached, identity, &decltype(reached)::value_type::first);
        if (same != reached.end()) {
            const std::string& first = request.ports[std::size_t(same - reached.begin())];
            usage(QStringLiteral("--port %1 and --port %2 reach the same device, %3: give each "
                                 "projector once")
                      .arg(shown(QString::fromStdString(first)),
                           shown(QString::fromStdString(port)),
                           shown(QString::fromStdString(same->second.text))));
        }
        reached.emplace_back(std::move(identity), std::move(address));
    }
}

void noArguments(const QStringList& positional) {
    if (positional.size() > 1) {
        usage(QStringLiteral("%1 takes no arguments, not \"%2\"")
                  .arg(positional[0], shown(positional[1])));
    }
}

}  // namespace

Request parseRequest(const QStringList& arguments, const serial::PortAssignment& assignment) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(kDescription));
    const QCommandLineOption model(QStringLiteral("model"),
                                   QStringLiteral("TR27K or TR52 (default TR27K)."),
                                   QStringLiteral("MODEL"), QStringLiteral("TR27K"));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("The port; may be repeated (default COM1)."),
                                  QStringLiteral("PORT"));
    const QCommandLineOption speed(
        QStringLiteral("speed"),
        QStringLiteral("19200 or 9600 baud (default 19200); not for socket://, "
                       "whose speed is the server's."),
        QStringLiteral("SPEED"), QStringLiteral("19200"));
    const QCommandLineOption timeout(
        QStringLiteral("timeout"),
        QStringLiteral("The reply window of every command, in ms, instead of "
                       "the panel's (500, or 2000/5000 for timed buttons)."),
        QStringLiteral("MS"));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("JSON Lines: one object per command, and one "
                                                 "for bytes of no command."));
    const QCommandLineOption times(QStringLiteral("times"),
                                   QStringLiteral("press: how often a hold key repeats."),
                                   QStringLiteral("N"), QStringLiteral("1"));
    parser.addOptions({model, port, speed, timeout, json, times});
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("send, press, status, watch, list or ports."),
                                 QStringLiteral("command [arguments]"));

    if (!parser.parse(arguments)) usage(shown(parser.errorText(), kMessageLimit));

    Request request;
    // Qt's help option comes with --help-all, which here says no more than --help.
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        request.command = Request::Command::Help;
        request.helpText = parser.helpText().toStdString();
        return request;
    }
    if (parser.isSet(version)) {
        request.command = Request::Command::Version;
        return request;
    }

    request.model = &modelNamed(parser.value(model));
    const QString baud = parser.value(speed);
    if (baud != QLatin1String("19200") && baud != QLatin1String("9600")) {
        usage(QStringLiteral("--speed takes 19200 or 9600, not \"%1\"").arg(shown(baud)));
    }
    request.settings = baud.toStdString() + ",N,8,1";
    request.speedChosen = parser.isSet(speed);
    if (parser.isSet(timeout))
        request.timeoutMs =
            number(parser.value(timeout), QStringLiteral("--timeout"), 1, kMaxTimeoutMs);
    request.json = parser.isSet(json);
    for (const QString& value : parser.values(port)) request.ports.push_back(value.toStdString());
    if (request.ports.empty()) request.ports.push_back("COM1");

    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        usage(QStringLiteral("a command is needed: send, press, status, watch, list or ports"));
    const QString& command = positional[0];
    if (command != QLatin1String("press") && parser.isSet(times))
        usage(QStringLiteral("--times goes with press only"));
    if (command == QLatin1String("send")) {
        request.command = Request::Command::Send;
        if (positional.size() < 2) usage(QStringLiteral("send needs at least one code"));
        for (qsizetype i = 1; i < positional.size(); ++i)
            request.sends.push_back(session::codeSend(code(positional[i]), request.timeoutMs));
    } else if (command == QLatin1String("press")) {
        request.command = Request::Command::Press;
        if (positional.size() != 2) usage(QStringLiteral("press takes one name"));
        const std::string name = positional[1].toStdString();
        const std::vector<panel::NamedButton> buttons = panel::namedButtons(*request.model);
        const auto found = std::ranges::find(buttons, name, &panel::NamedButton::name);
        if (found == buttons.end()) {
            // A name given without its group's title ("mute-on" for "sound-mute-on").
            QString guess;
            for (const panel::NamedButton& b : buttons) {
                if (b.name.size() > name.size() && b.name.ends_with("-" + name))
                    guess += QStringLiteral("%1\"%2\"").arg(guess.isEmpty() ? "" : " or ",
                                                            QString::fromStdString(b.name));
            }
            usage(QStringLiteral("%1 has no button named \"%2\"%3 (projectorctl --model %1 list "
                                 "names them)")
                      .arg(QString::fromUtf8(request.model->name.data(),
                                             qsizetype(request.model->name.size())),
                           shown(positional[1]),
                           guess.isEmpty() ? QString() : "; did you mean " + guess + "?"));
        }
        const int n = number(parser.value(times), QStringLiteral("--times"), 1, 1'000'000);
        if (found->button && n != 1)
            usage(QStringLiteral("%1 is not a hold key: --times repeats hold keys only")
                      .arg(shown(positional[1])));
        request.sends = session::pressSends(*found, n, request.timeoutMs);
    } else if (command == QLatin1String("status") || command == QLatin1String("watch")) {
        request.sends = session::statusSends(request.timeoutMs);
        if (command == QLatin1String("status")) {
            request.command = Request::Command::Status;
            noArguments(positional);
        } else {
            request.command = Request::Command::Watch;
            if (positional.size() > 2)
                usage(QStringLiteral("watch takes at most one argument, SECONDS"));
            if (positional.size() == 2) {
                bool ok = false;
                const double seconds = positional[1].toDouble(&ok);
                if (!ok || !(seconds > 0) || seconds > kMaxWatchSeconds) {
                    usage(QStringLiteral("watch takes SECONDS above 0 and at most %1, not \"%2\"")
                              .arg(kMaxWatchSeconds)
                              .arg(shown(positional[1])));
                }
                request.watchPeriodMs = std::max(1, static_cast<int>(std::lround(seconds * 1000)));
            }
        }
    } else if (command == QLatin1String("list")) {
        request.command = Request::Command::List;
        noArguments(positional);
    } else if (command == QLatin1String("ports")) {
        request.command = Request::Command::Ports;
        noArguments(positional);
    } else {
        usage(QStringLiteral("unknown command \"%1\": send, press, status, watch, list or ports")
                  .arg(shown(command)));
    }
    if (!request.sends.empty()) checkPorts(request, assignment);
    return request;
}

}  // namespace ctl
