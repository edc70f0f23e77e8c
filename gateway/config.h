#pragma once

#include <QHostAddress>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "models/model.h"

// projectord's configuration: /etc/projectord.conf (INI: daemon-wide keys before the first
// section, one section per projector), or for one projector the same keys as options. Every
// key is one row of the key table in config.cpp: its name, where it may stand, how it is given
// on the command line, and its check. A key a front-end adds is a field here and a row there.
namespace gateway {

inline constexpr auto kDefaultConfigFile = "/etc/projectord.conf";
inline constexpr int kExitUsage = 64;   // EX_USAGE: a command line that cannot be read
inline constexpr int kExitConfig = 78;  // EX_CONFIG: the configuration is wrong

struct ProjectorConfig {
    std::string id;    // the section's name ("hall"); names the projector in logs, paths, topics
    std::string name;  // what it is called (PJLink NAME); the id unless `name` says otherwise
    const models::Model* model = &models::kTR27K;
    std::string port;             // the device text, every form the panel opens
    std::string speed = "19200";  // 19200 or 9600
    std::optional<std::uint16_t> pjlink;
    std::string pjlinkPassword;  // empty: PJLink without authentication
    std::optional<std::uint16_t> raw;
    // The addresses its ports listen on; the daemon's `listen` when the section has none.
    std::optional<std::vector<QHostAddress>> listen;
    int pollSeconds = 10;
    // Where its MQTT topics go; empty: "projector/ID/".
    std::string mqttPrefix;

    std::string settings() const { return speed + ",N,8,1"; }
};

// The MQTT broker every projector is published on, and as whom.
struct MqttConfig {
    std::string url;  // as given: mqtt://HOST[:PORT] or mqtts://HOST[:PORT]; empty: no MQTT
    std::string host;
    std::uint16_t port = 0;
    bool tls = false;
    std::string user;
    std::string password;
    std::string caFile;    // mqtts: the certificates to trust; empty: the system's
    std::string clientId;  // names this daemon to the broker; empty: "projectord-" + host name
    std::string discoveryPrefix = "homeassistant";  // Home Assistant's; without its "/"

    bool enabled() const { return !host.empty(); }
};

struct Config {
    std::vector<QHostAddress> listen{QHostAddress(QHostAddress::LocalHost),
                                     QHostAddress(QHostAddress::LocalHostIPv6)};
    bool allowUnauthenticated = false;
    int maxConnections = 64;
    MqttConfig mqtt;
    std::vector<ProjectorConfig> projectors;
    // Where it came from, for messages: the file, or "the command line".
    std::string origin;
    // The `listen` left as it was by the file or the options: its loopback defaults may be
    // skipped where the system has no IPv6.
    bool defaultListen = true;

    const std::vector<QHostAddress>& listenOf(const ProjectorConfig& p) const {
        return p.listen ? *p.listen : listen;
    }
    // The projector's MQTT topics begin with this; it ends in "/".
    static std::string mqttPrefixOf(const ProjectorConfig& p) {
        return p.mqttPrefix.empty() ? "projector/" + p.id + "/" : p.mqttPrefix;
    }
};

// Everything found wrong with a configuration, one line each: where (file and line, section,
// key or option) and why.
class ConfigError : public std::runtime_error {
  public:
    explicit ConfigError(std::vector<std::string> problems);
    const std::vector<std::string>& problems() const { return problems_; }

  private:
    std::vector<std::string> problems_;
};

// A command line that cannot be read at all (an unknown option, a missing value).
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct Invocation {
    enum class Action { Run, Check, Help, Version };
    Action action = Action::Run;
    Config config;        // Run and Check
    std::string helpText;  // Help
};

// Reads the command line (the program's name first) and the configuration it names: the
// projector's options, or --config FILE, or /etc/projectord.conf. Throws UsageError, or
// ConfigError with every problem found; nothing is opened or listened on.
Invocation readInvocation(const QStringList& arguments);

// Reads a configuration file's text; `file` names it in messages. Throws ConfigError.
Config parseConfigText(std::string_view text, const std::string& file);

// The one rule for every port that lets a client drive the projector: beyond loopback it
// needs the client to prove it knows a secret, unless the administrator has allowed
// unauthenticated access on purpose (`allow-unauthenticated = true`). `key` is the port's
// key ("pjlink"), `secretKey` the key of its secret (empty where the port has none). Returns
// the problem, or nothing when the port may listen as configured.
std::optional<std::string> exposureProblem(const Config& config, const ProjectorConfig& projector,
                                           std::string_view key, bool hasSecret,
                                           std::string_view secretKey);

// Whether every address is on this machine only.
bool loopbackOnly(std::span<const QHostAddress> addresses);

// The projector's device as MQTT's readers know it, from its topic prefix: Home Assistant's
// node id, and the root of its entities' unique ids, stable while the prefix stays. Letters,
// digits, "_" and "-".
std::string mqttNodeId(std::string_view prefix);

// Reads a secret from a file: its first line, which must not be empty. Refused when the file
// can be read by others than its owner. Throws std::runtime_error saying why.
std::string readSecretFile(const std::string& path);

}  // namespace gateway
