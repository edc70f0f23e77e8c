#include "gateway/config.h"

#include <sys/stat.h>

#include <QCommandLineParser>
#include <QFile>
#include <QStringDecoder>
#include <QUrl>
#include <algorithm>
#include <charconv>
#include <functional>
#include <map>
#include <set>

#include "engine/shown_text.h"
#include "link/device_address.h"
#include "link/port_assignment.h"
#include "link/serial_port.h"

namespace gateway {

namespace {

// A value that fails its key's check; what() says why, without the key.
class Invalid : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

constexpr std::size_t kMaxFileBytes = 1 << 20;
constexpr std::size_t kMaxNameBytes = 64;      // PJLink's NAME answer holds at most 64 bytes
constexpr std::size_t kMaxPasswordBytes = 32;  // PJLink's passwords are at most 32 bytes
constexpr int kMaxPollSeconds = 86'400;
constexpr int kMaxConnections = 10'000;
// Names of projectors (sections): they stand in log lines, URLs and topics as they are.
constexpr std::size_t kMaxIdBytes = 64;
constexpr std::size_t kMaxTopicPrefixBytes = 200;
constexpr std::uint16_t kMqttPort = 1883;
constexpr std::uint16_t kMqttsPort = 8883;

std::string inQuotes(std::string_view value) {
    return "\"" + engine::shownText(value) + "\"";
}

std::string trimmed(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return std::string(s);
}

// --- checks of values ---------------------------------------------------------------------

int wholeNumber(std::string_view v, int low, int high, std::string_view what) {
    int n = 0;
    const auto [end, error] = std::from_chars(v.data(), v.data() + v.size(), n);
    if (v.empty() || error != std::errc() || end != v.data() + v.size() || n < low || n > high) {
        throw Invalid(inQuotes(v) + " is not " + std::string(what) + " (a whole number from " +
                      std::to_string(low) + " to " + std::to_string(high) + ")");
    }
    return n;
}

std::uint16_t tcpPort(std::string_view v) {
    return static_cast<std::uint16_t>(wholeNumber(v, 1, 65535, "a TCP port"));
}

bool boolean(std::string_view v) {
    std::string lower(v);
    std::ranges::transform(lower, lower.begin(), [](unsigned char c) { return std::tolower(c); });
    for (const char* yes : {"true", "yes", "on", "1"})
        if (lower == yes) return true;
    for (const char* no : {"false", "no", "off", "0"})
        if (lower == no) return false;
    throw Invalid(inQuotes(v) + " is neither true nor false");
}

std::vector<QHostAddress> addresses(std::string_view v) {
    std::vector<QHostAddress> list;
    std::string word;
    const auto take = [&] {
        if (word.empty()) return;
        QHostAddress address;
        if (!address.setAddress(QString::fromStdString(word)) || !address.scopeId().isEmpty()) {
            throw Invalid(inQuotes(word) +
                          " is not an IP address (such as 127.0.0.1, ::1, 192.0.2.10, 0.0.0.0 or ::)");
        }
        if (std::ranges::find(list, address) == list.end()) list.push_back(address);
        word.clear();
    };
    for (const char c : v) {
        if (c == ' ' || c == ',' || c == '\t')
            take();
        else
            word.push_back(c);
    }
    take();
    if (list.empty()) throw Invalid("no address: give one or more, separated by spaces");
    return list;
}

const models::Model* model(std::string_view v) {
    for (const models::Model* m : {&models::kTR27K, &models::kTR52}) {
        if (QString::fromUtf8(v.data(), qsizetype(v.size()))
                .compare(QString::fromUtf8(m->name.data(), qsizetype(m->name.size())),
                         Qt::CaseInsensitive) == 0) {
            return m;
        }
    }
    throw Invalid(inQuotes(v) + " is no model: TR27K or TR52");
}

std::string devicePort(std::string_view v) {
    const std::string text(v);
    if (text.empty()) throw Invalid("empty: COM1, a device path, socket://HOST:PORT or rfc2217://HOST:PORT");
    if (serial::panelPortNumber(text) != 0) return text;
    try {
        serial::parseDeviceAddress(text);
    } catch (const serial::SerialError& e) {
        throw Invalid(engine::shownText(e.what()));
    }
    return text;
}

std::string projectorName(std::string_view v) {
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8(QByteArrayView(v.data(), qsizetype(v.size())));
    const bool control = std::ranges::any_of(text, [](QChar c) { return c.category() == QChar::Other_Control; });
    if (v.empty() || v.size() > kMaxNameBytes || utf8.hasError() || control) {
        throw Invalid(inQuotes(v) + " is no name: 1 to " + std::to_string(kMaxNameBytes) +
                      " bytes of UTF-8 text without control characters");
    }
    return std::string(v);
}

std::string password(std::string_view v) {
    if (v.empty() || v.size() > kMaxPasswordBytes ||
        !std::ranges::all_of(v, [](char c) { return c > ' ' && c < 0x7f; })) {
        throw Invalid("not a password PJLink can carry: 1 to " + std::to_string(kMaxPasswordBytes) +
                      " printable ASCII characters without spaces");
    }
    return std::string(v);
}

void mqttBroker(MqttConfig& mqtt, std::string_view v) {
    mqtt.url = std::string(v);
    const QUrl url(QString::fromUtf8(v.data(), qsizetype(v.size())), QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (!url.isValid() || (scheme != QLatin1String("mqtt") && scheme != QLatin1String("mqtts")) ||
        url.host().isEmpty() || !url.userInfo().isEmpty() || (!url.path().isEmpty() && url.path() != QLatin1String("/")) ||
        url.hasQuery() || url.hasFragment()) {
        throw Invalid(inQuotes(v) + " is no broker: mqtt://HOST[:PORT] or mqtts://HOST[:PORT] (the user "
                                    "and password go in mqtt-user and mqtt-password)");
    }
    mqtt.tls = scheme == QLatin1String("mqtts");
    mqtt.host = url.host().toStdString();
    mqtt.port = static_cast<std::uint16_t>(url.port(mqtt.tls ? kMqttsPort : kMqttPort));
}

// The levels of an MQTT topic that the daemon puts its own after: UTF-8 text without the
// wildcards "+" and "#", control characters, or the "$" the broker's own topics begin with.
std::string topicPrefix(std::string_view v, std::string_view example) {
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8(QByteArrayView(v.data(), qsizetype(v.size())));
    const bool bad = std::ranges::any_of(text, [](QChar c) {
        return c.category() == QChar::Other_Control || c == u'+' || c == u'#';
    });
    if (v.empty() || v.size() > kMaxTopicPrefixBytes || utf8.hasError() || bad || v.front() == '$' ||
        v.front() == '/') {
        throw Invalid(inQuotes(v) + " is no topic prefix: 1 to " + std::to_string(kMaxTopicPrefixBytes) +
                      " bytes of UTF-8 text without \"+\", \"#\" or control characters, not "
                      "beginning with \"$\" or \"/\" (such as " + std::string(example) + ")");
    }
    return std::string(v);
}

bool validId(std::string_view id);

// --- the key table ------------------------------------------------------------------------

enum class Scope {
    Daemon,     // before the first section, or as an option
    Projector,  // in a projector's section, or as an option for the one projector
    Both,       // daemon-wide before the first section, the projector's own in its section
};

enum class Form {
    Value,   // key = VALUE; --key VALUE
    Flag,    // key = true|false; --key alone means true
    Secret,  // key = VALUE in a file only others cannot read; --key-file FILE
};

// Where a value goes: the daemon's settings, and the projector's when inside a section (or
// the one projector of the options).
struct Target {
    Config& config;
    ProjectorConfig* projector;
};

struct Key {
    std::string_view name;
    Scope scope;
    Form form;
    std::string_view valueName;  // in --help
    std::string_view help;
    // Checks the value and stores it; throws Invalid with the reason.
    void (*store)(Target& target, std::string_view value);
};

const Key kKeys[] = {
    {"listen", Scope::Both, Form::Value, "ADDRESSES",
     "Addresses the ports listen on, separated by spaces (default 127.0.0.1 ::1).",
     [](Target& t, std::string_view v) {
         if (t.projector) {
             t.projector->listen = addresses(v);
         } else {
             t.config.listen = addresses(v);
             t.config.defaultListen = false;
         }
     }},
    {"allow-unauthenticated", Scope::Daemon, Form::Flag, "",
     "Let ports without a password listen beyond loopback, on purpose.",
     [](Target& t, std::string_view v) { t.config.allowUnauthenticated = boolean(v); }},
    {"max-connections", Scope::Daemon, Form::Value, "N",
     "Connections each port keeps open at once at most (default 64).",
     [](Target& t, std::string_view v) {
         t.config.maxConnections = wholeNumber(v, 1, kMaxConnections, "a number of connections");
     }},
    {"port", Scope::Projector, Form::Value, "PORT",
     "The projector's port: COM1, a device path, socket://HOST:PORT or rfc2217://HOST:PORT.",
     [](Target& t, std::string_view v) { t.projector->port = devicePort(v); }},
    {"model", Scope::Projector, Form::Value, "MODEL", "TR27K or TR52 (default TR27K).",
     [](Target& t, std::string_view v) { t.projector->model = model(v); }},
    {"speed", Scope::Projector, Form::Value, "SPEED", "19200 or 9600 baud (default 19200).",
     [](Target& t, std::string_view v) {
         if (v != "19200" && v != "9600") throw Invalid(inQuotes(v) + " is no speed: 19200 or 9600");
         t.projector->speed = std::string(v);
     }},
    {"name", Scope::Projector, Form::Value, "NAME",
     "What the projector is called (default: its section's name).",
     [](Target& t, std::string_view v) { t.projector->name = projectorName(v); }},
    {"pjlink", Scope::Projector, Form::Value, "PORT", "The PJLink port (4352 by convention).",
     [](Target& t, std::string_view v) { t.projector->pjlink = tcpPort(v); }},
    {"pjlink-password", Scope::Projector, Form::Secret, "FILE",
     "The PJLink password, read from FILE (first line).",
     [](Target& t, std::string_view v) { t.projector->pjlinkPassword = password(v); }},
    {"raw", Scope::Projector, Form::Value, "PORT",
     "The shared line's port: the projector's line for the panel and projectorctl.",
     [](Target& t, std::string_view v) { t.projector->raw = tcpPort(v); }},
    {"poll", Scope::Projector, Form::Value, "SECONDS",
     "How often the status queries refresh the status (default 10).",
     [](Target& t, std::string_view v) {
         t.projector->pollSeconds = wholeNumber(v, 1, kMaxPollSeconds, "a number of seconds");
     }},
    {"mqtt", Scope::Daemon, Form::Value, "URL",
     "The MQTT broker the projectors are published on: mqtt://HOST[:PORT] or mqtts://HOST[:PORT].",
     [](Target& t, std::string_view v) { mqttBroker(t.config.mqtt, v); }},
    {"mqtt-user", Scope::Daemon, Form::Value, "USER", "The user name at the MQTT broker.",
     [](Target& t, std::string_view v) {
         if (v.empty()) throw Invalid("empty: give the user name, or leave the key out");
         t.config.mqtt.user = std::string(v);
     }},
    {"mqtt-password", Scope::Daemon, Form::Secret, "FILE",
     "The password at the MQTT broker, read from FILE (first line).",
     [](Target& t, std::string_view v) { t.config.mqtt.password = std::string(v); }},
    {"mqtt-ca", Scope::Daemon, Form::Value, "FILE",
     "mqtts: the certificates to trust in a PEM file (default: the system's).",
     [](Target& t, std::string_view v) {
         if (v.empty()) throw Invalid("empty: give a PEM file, or leave the key out");
         t.config.mqtt.caFile = std::string(v);
     }},
    {"mqtt-client-id", Scope::Daemon, Form::Value, "ID",
     "What this daemon is called at the broker (default projectord-HOSTNAME).",
     [](Target& t, std::string_view v) {
         if (!validId(v)) {
             throw Invalid(inQuotes(v) + " is no client id: 1 to " + std::to_string(kMaxIdBytes) +
                           " letters, digits, \"-\", \"_\" or \".\", starting with a letter or digit");
         }
         t.config.mqtt.clientId = std::string(v);
     }},
    {"mqtt-discovery-prefix", Scope::Daemon, Form::Value, "PREFIX",
     "Home Assistant's discovery prefix (default homeassistant).",
     [](Target& t, std::string_view v) {
         std::string prefix = topicPrefix(v, "homeassistant");
         while (prefix.size() > 1 && prefix.back() == '/') prefix.pop_back();
         t.config.mqtt.discoveryPrefix = prefix;
     }},
    {"mqtt-prefix", Scope::Projector, Form::Value, "PREFIX",
     "Where the projector's MQTT topics go (default projector/NAME/).",
     [](Target& t, std::string_view v) {
         std::string prefix = topicPrefix(v, "building/hall/projector/");
         if (prefix.back() != '/') prefix.push_back('/');
         t.projector->mqttPrefix = prefix;
     }},
};

bool inDaemonScope(const Key& k) { return k.scope != Scope::Projector; }
bool inProjectorScope(const Key& k) { return k.scope != Scope::Daemon; }

const Key* keyNamed(std::string_view name) {
    const auto found = std::ranges::find(kKeys, name, &Key::name);
    return found == std::end(kKeys) ? nullptr : found;
}

std::string keyList(bool (*in)(const Key&)) {
    std::string list;
    for (const Key& k : kKeys) {
        if (!in(k)) continue;
        if (!list.empty()) list += ", ";
        list += k.name;
    }
    return list;
}

// The ports every front-end listens on, to find two on one port. A front-end with a port of
// its own adds it here.
struct Listening {
    const ProjectorConfig* projector;
    std::string_view key;
    std::uint16_t port;
    std::vector<QHostAddress> addresses;
};

std::vector<Listening> listeningPorts(const Config& config) {
    std::vector<Listening> all;
    for (const ProjectorConfig& p : config.projectors) {
        const std::vector<QHostAddress>& on = config.listenOf(p);
        if (p.pjlink) all.push_back({&p, "pjlink", *p.pjlink, on});
        if (p.raw) all.push_back({&p, "raw", *p.raw, on});
    }
    return all;
}

bool anyAddress(const QHostAddress& a) {
    return a == QHostAddress(QHostAddress::AnyIPv4) || a == QHostAddress(QHostAddress::AnyIPv6) ||
           a == QHostAddress(QHostAddress::Any);
}

bool overlap(const std::vector<QHostAddress>& a, const std::vector<QHostAddress>& b) {
    for (const QHostAddress& x : a) {
        for (const QHostAddress& y : b) {
            if (x == y || anyAddress(x) || anyAddress(y)) return true;
        }
    }
    return false;
}

// Names a key of a projector in a problem: "FILE: [hall] raw", or "--raw" on the command line.
using Locate = std::function<std::string(const ProjectorConfig&, std::string_view key)>;
// Whether the key was given for the projector, rightly or not: a wrong value is one problem,
// not also a missing key.
using Given = std::function<bool(const ProjectorConfig&, std::string_view key)>;

// The MQTT keys together: the broker's settings need a broker, and no two projectors share
// their topics or their entities' ids.
void checkMqtt(const Config& config, const Locate& locate, std::vector<std::string>& problems) {
    const MqttConfig& m = config.mqtt;
    const std::string daemon = config.origin == "the command line" ? "--" : config.origin + ": ";
    if (m.url.empty()) {
        for (const auto& [key, set] : {std::pair{"mqtt-user", !m.user.empty()}, {"mqtt-password", !m.password.empty()},
                                       {"mqtt-ca", !m.caFile.empty()}, {"mqtt-client-id", !m.clientId.empty()}}) {
            if (set) problems.push_back(daemon + key + ": no mqtt broker to use it on");
        }
        return;
    }
    if (!m.caFile.empty() && m.enabled() && !m.tls) {
        problems.push_back(daemon + "mqtt-ca: the broker " + inQuotes(m.url) + " is not mqtts://");
    }
    if (!m.password.empty() && m.user.empty()) {
        problems.push_back(daemon + "mqtt-password: no mqtt-user to go with it");
    }
    std::map<std::string, std::string> byPrefix;
    for (const ProjectorConfig& p : config.projectors) {
        const std::string prefix = Config::mqttPrefixOf(p);
        if (const auto [at, fresh] = byPrefix.emplace(mqttNodeId(prefix), p.id); !fresh) {
            problems.push_back(locate(p, "mqtt-prefix") + ": " + inQuotes(prefix) + " names the same device as [" +
                               at->second + "]'s topics: give each projector a prefix of its own");
        }
    }
}

// The checks over the whole configuration once every key is read.
void checkWhole(const Config& config, const Locate& locate, const Given& given,
                std::vector<std::string>& problems) {
    std::map<std::string, std::string> byPort;
    for (const ProjectorConfig& p : config.projectors) {
        if (!given(p, "port")) {
            problems.push_back(locate(p, "port") + ": missing: the projector's port (COM1, a device "
                                                   "path, socket://HOST:PORT or rfc2217://HOST:PORT)");
        } else if (const auto [at, fresh] = byPort.emplace(p.port, p.id); !fresh && !p.port.empty()) {
            problems.push_back(locate(p, "port") + ": " + inQuotes(p.port) + " is the port of [" +
                               at->second + "] already: one line has one owner");
        }
        if (!given(p, "pjlink") && !given(p, "raw") && config.mqtt.url.empty()) {
            problems.push_back(locate(p, "") +
                               "no port to reach the projector by: give pjlink, raw or mqtt");
        }
        if (given(p, "mqtt-prefix") && config.mqtt.url.empty()) {
            problems.push_back(locate(p, "mqtt-prefix") + ": no mqtt broker to use it on");
        }
        if (p.pjlink) {
            if (auto problem = exposureProblem(config, p, "pjlink", !p.pjlinkPassword.empty(),
                                               "pjlink-password")) {
                problems.push_back(locate(p, "pjlink") + ": " + *problem);
            }
        } else if (given(p, "pjlink-password") && !given(p, "pjlink")) {
            problems.push_back(locate(p, "pjlink-password") + ": no pjlink port to use it on");
        }
        if (p.raw) {
            if (auto problem = exposureProblem(config, p, "raw", false, "")) {
                problems.push_back(locate(p, "raw") + ": " + *problem);
            }
        }
    }
    checkMqtt(config, locate, problems);
    const std::vector<Listening> ports = listeningPorts(config);
    for (std::size_t i = 0; i < ports.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (ports[i].port == ports[j].port && overlap(ports[i].addresses, ports[j].addresses)) {
                problems.push_back(locate(*ports[i].projector, ports[i].key) + ": port " +
                                   std::to_string(ports[i].port) + " is taken by " +
                                   locate(*ports[j].projector, ports[j].key) + " already");
            }
        }
    }
}

bool validId(std::string_view id) {
    if (id.empty() || id.size() > kMaxIdBytes) return false;
    const auto plain = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; };
    return plain(id.front()) && std::ranges::all_of(id, [&](char c) {
               return plain(c) || c == '-' || c == '_' || c == '.';
           });
}

std::string permissionsProblem(const std::string& path, const struct stat& st) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return path + " holds a secret and can be read by others than its owner (mode " + mode +
           "): chmod go-rwx " + engine::shownText(path);
}

}  // namespace

ConfigError::ConfigError(std::vector<std::string> problems)
    : std::runtime_error(problems.empty() ? std::string() : problems.front()),
      problems_(std::move(problems)) {}

bool loopbackOnly(std::span<const QHostAddress> addresses) {
    return std::ranges::all_of(addresses, [](const QHostAddress& a) { return a.isLoopback(); });
}

std::optional<std::string> exposureProblem(const Config& config, const ProjectorConfig& projector,
                                           std::string_view key, bool hasSecret,
                                           std::string_view secretKey) {
    const std::vector<QHostAddress>& on = config.listenOf(projector);
    if (hasSecret || config.allowUnauthenticated || loopbackOnly(on)) return std::nullopt;
    std::string beyond;
    for (const QHostAddress& a : on) {
        if (a.isLoopback()) continue;
        if (!beyond.empty()) beyond += " ";
        beyond += a.toString().toStdString();
    }
    std::string problem = "listens beyond loopback (" + beyond + ") ";
    problem += secretKey.empty() ? "and " + std::string(key) + " has no authentication; set"
                                 : "without a password; set " + std::string(secretKey) + ", or set";
    problem += " allow-unauthenticated = true to let anyone who reaches it in on purpose, or listen "
               "on loopback only";
    return problem;
}

std::string mqttNodeId(std::string_view prefix) {
    std::string id = "projectord";
    bool gap = true;
    for (const char c : prefix) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-') {
            if (gap) id.push_back('_');
            gap = false;
            id.push_back(c);
        } else {
            gap = true;
        }
    }
    return id;
}

std::string readSecretFile(const std::string& path) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        throw std::runtime_error(engine::shownText(path) + ": " + file.errorString().toStdString());
    }
    struct stat st {};
    if (::fstat(file.handle(), &st) != 0 || !S_ISREG(st.st_mode)) {
        throw std::runtime_error(engine::shownText(path) + ": not a file");
    }
    if (st.st_mode & (S_IRGRP | S_IROTH)) throw std::runtime_error(permissionsProblem(path, st));
    std::string first = file.readLine(kMaxFileBytes).toStdString();
    while (!first.empty() && (first.back() == '\n' || first.back() == '\r')) first.pop_back();
    if (first.empty()) throw std::runtime_error(engine::shownText(path) + ": empty first line");
    return first;
}

Config parseConfigText(std::string_view text, const std::string& file) {
    Config config;
    config.origin = file;
    std::vector<std::string> problems;
    ProjectorConfig* section = nullptr;
    bool skipping = false;  // under a heading that cannot be read
    std::set<std::string> seenKeys;  // "id/key" or "/key" for daemon-wide keys
    int lineNumber = 0;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string line = trimmed(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
        ++lineNumber;
        const std::string at = file + ":" + std::to_string(lineNumber) + ": ";
        if (line.empty() || line.front() == '#' || line.front() == ';') continue;

        if (line.front() == '[') {
            const std::string id =
                line.back() == ']' ? trimmed(std::string_view(line).substr(1, line.size() - 2)) : "";
            section = nullptr;
            // The keys under a heading that cannot be read belong to no one: they are skipped.
            skipping = line.back() != ']' || !validId(id);
            if (skipping) {
                problems.push_back(at + inQuotes(line) + " is no section heading: [NAME], NAME 1 to " +
                                   std::to_string(kMaxIdBytes) +
                                   " letters, digits, \"-\", \"_\" or \".\", starting with a "
                                   "letter or digit");
                continue;
            }
            if (std::ranges::any_of(config.projectors,
                                    [&](const ProjectorConfig& p) { return p.id == id; })) {
                problems.push_back(at + "[" + id + "] is given twice");
                skipping = true;
                continue;
            }
            config.projectors.push_back({});
            section = &config.projectors.back();
            section->id = section->name = id;
            continue;
        }

        const std::size_t equals = line.find('=');
        if (equals == std::string::npos) {
            problems.push_back(at + inQuotes(line) + " is neither KEY = VALUE nor [NAME]");
            continue;
        }
        const std::string name = trimmed(std::string_view(line).substr(0, equals));
        const std::string value = trimmed(std::string_view(line).substr(equals + 1));
        if (skipping) continue;
        const std::string where = at + (section ? "[" + section->id + "] " : "") + engine::shownText(name);
        const Key* key = keyNamed(name);
        if (!key) {
            problems.push_back(at + (section ? "[" + section->id + "] " : "") + inQuotes(name) + " is no key " +
                               (section ? "of a projector (" + keyList(inProjectorScope) + ")"
                                        : "before the first section (" + keyList(inDaemonScope) +
                                              "; a projector's keys go in its [NAME] section)"));
            continue;
        }
        if (section && !inProjectorScope(*key)) {
            problems.push_back(where + ": daemon-wide: put it before the first section");
            continue;
        }
        if (!section && !inDaemonScope(*key)) {
            problems.push_back(where + ": a projector's key: put it in the projector's [NAME] section");
            continue;
        }
        if (!seenKeys.insert((section ? section->id : "") + "/" + name).second) {
            problems.push_back(where + ": given twice");
            continue;
        }
        Target target{config, section};
        try {
            key->store(target, value);
        } catch (const Invalid& e) {
            problems.push_back(where + ": " + e.what());
        }
    }
    if (config.projectors.empty() && problems.empty()) {
        problems.push_back(file + ": no projector: add a section [NAME] with at least port = PORT");
    }
    checkWhole(
        config,
        [&](const ProjectorConfig& p, std::string_view key) {
            return file + ": [" + p.id + "]" + (key.empty() ? " " : " " + std::string(key));
        },
        [&](const ProjectorConfig& p, std::string_view key) {
            return seenKeys.contains(p.id + "/" + std::string(key));
        },
        problems);
    if (!problems.empty()) throw ConfigError(std::move(problems));
    return config;
}

namespace {

Config readConfigFile(const std::string& path) {
    const std::string shown = engine::shownText(path);
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        throw ConfigError({shown + ": cannot be read: " + file.errorString().toStdString()});
    }
    struct stat st {};
    if (::fstat(file.handle(), &st) != 0 || !S_ISREG(st.st_mode)) {
        throw ConfigError({shown + ": not a file"});
    }
    if (static_cast<std::size_t>(st.st_size) > kMaxFileBytes) {
        throw ConfigError({shown + ": larger than " + std::to_string(kMaxFileBytes) + " bytes"});
    }
    const QByteArray bytes = file.readAll();
    Config config = parseConfigText(std::string_view(bytes.constData(), std::size_t(bytes.size())), shown);
    const bool secret = !config.mqtt.password.empty() ||
                        std::ranges::any_of(config.projectors,
                                            [](const ProjectorConfig& p) { return !p.pjlinkPassword.empty(); });
    if (secret && (st.st_mode & (S_IRGRP | S_IROTH))) {
        throw ConfigError({permissionsProblem(shown, st)});
    }
    return config;
}

constexpr auto kDescription = R"(Shares projectors' RS-232C lines on the network: each line has one owner, the
daemon, and every client (the panel and projectorctl on the shared line, PJLink
controllers) takes its turn on it.

Configuration: /etc/projectord.conf, or --config FILE, or for one projector its
keys as options (--port PORT --model TR27K --raw 4001). Secrets are never option
values: --pjlink-password-file FILE.

Exit status: 0 ended by SIGTERM or SIGINT (--check: the configuration is sound);
64 a command line that cannot be read; 78 a wrong configuration, each problem
on a line of its own.)";

QString optionName(const Key& k) {
    const QString name = QString::fromUtf8(k.name.data(), qsizetype(k.name.size()));
    return k.form == Form::Secret ? name + QStringLiteral("-file") : name;
}

}  // namespace

Invocation readInvocation(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(kDescription));
    const QCommandLineOption configOption(QStringLiteral("config"),
                                          QStringLiteral("Read FILE instead of /etc/projectord.conf."),
                                          QStringLiteral("FILE"));
    const QCommandLineOption check(QStringLiteral("check"),
                                   QStringLiteral("Check the configuration and exit: 0 sound, 78 wrong."));
    parser.addOption(configOption);
    parser.addOption(check);
    std::vector<std::pair<const Key*, QCommandLineOption>> keyOptions;
    for (const Key& k : kKeys) {
        QCommandLineOption option(optionName(k), QString::fromUtf8(k.help.data(), qsizetype(k.help.size())));
        if (k.form != Form::Flag) option.setValueName(QString::fromUtf8(k.valueName.data(), qsizetype(k.valueName.size())));
        parser.addOption(option);
        keyOptions.emplace_back(&k, option);
    }
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    if (!parser.parse(arguments)) throw UsageError(parser.errorText().toStdString());
    if (!parser.positionalArguments().isEmpty()) {
        throw UsageError("no arguments are taken, only options: not " +
                         inQuotes(parser.positionalArguments().front().toStdString()));
    }

    Invocation invocation;
    if (parser.isSet(help)) {
        invocation.action = Invocation::Action::Help;
        invocation.helpText = parser.helpText().toStdString();
        return invocation;
    }
    if (parser.isSet(version)) {
        invocation.action = Invocation::Action::Version;
        return invocation;
    }
    invocation.action = parser.isSet(check) ? Invocation::Action::Check : Invocation::Action::Run;

    const bool anyKey = std::ranges::any_of(keyOptions, [&](const auto& o) { return parser.isSet(o.second); });
    if (!anyKey) {
        invocation.config = readConfigFile(parser.isSet(configOption) ? parser.value(configOption).toStdString()
                                                                      : kDefaultConfigFile);
        return invocation;
    }
    if (parser.isSet(configOption)) {
        throw UsageError("--config and the projector's options exclude each other: give either");
    }

    Config& config = invocation.config;
    config.origin = "the command line";
    config.projectors.push_back({});
    ProjectorConfig& one = config.projectors.back();
    one.id = one.name = "projector";
    std::vector<std::string> problems;
    for (const auto& [key, option] : keyOptions) {
        if (!parser.isSet(option)) continue;
        const QStringList values = parser.values(option);
        const std::string where = "--" + optionName(*key).toStdString();
        if (values.size() > 1) {
            problems.push_back(where + ": given twice");
            continue;
        }
        Target target{config, inDaemonScope(*key) ? nullptr : &one};
        try {
            std::string value = key->form == Form::Flag ? "true" : values.front().toStdString();
            if (key->form == Form::Secret) value = readSecretFile(value);
            key->store(target, value);
        } catch (const std::runtime_error& e) {
            problems.push_back(where + ": " + e.what());
        }
    }
    checkWhole(
        config,
        [&](const ProjectorConfig&, std::string_view key) {
            return key.empty() ? std::string() : "--" + std::string(key);
        },
        [&](const ProjectorConfig&, std::string_view key) {
            const auto option = std::ranges::find_if(keyOptions, [&](const auto& o) { return o.first->name == key; });
            return option != keyOptions.end() && parser.isSet(option->second);
        },
        problems);
    if (!problems.empty()) throw ConfigError(std::move(problems));
    return invocation;
}

}  // namespace gateway
