#include "link/port_assignment.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>
#include <algorithm>
#include <memory>
#include <optional>
#include <utility>

#include "engine/shown_text.h"
#include "link/serial_port.h"

namespace serial {

namespace {

std::string variableFor(int n) { return "PROJECTOR_COM" + std::to_string(n); }
std::string keyFor(int n) { return "COM" + std::to_string(n); }

// The panel's ports whose devices another port's default keeps clear of.
constexpr int kPanelPorts = 2;

std::string quoted(const QString& text) {
    return "\"" + engine::shownText(text.toStdString()) + "\"";
}

// The settings file as QSettings reads it; throws SerialError when it cannot be read.
std::unique_ptr<QSettings> readSettingsFile(const std::string& path) {
    auto settings = std::make_unique<QSettings>(QString::fromStdString(path), QSettings::IniFormat);
    if (settings->status() != QSettings::NoError) {
        throw SerialError(
            path + ": the settings file cannot be read" +
            (settings->status() == QSettings::FormatError ? " (it is not an INI file)" : ""));
    }
    return settings;
}

// The device the environment or the settings file gives COMn. The file's keys are matched as
// the panel's COM names are, in any case.
std::optional<AssignedDevice> assignedDevice(int n, const PortAssignment& assignment) {
    const std::string variable = variableFor(n);
    if (assignment.environment) {
        std::string fromEnvironment = assignment.environment(variable);
        if (!fromEnvironment.empty())
            return AssignedDevice{std::move(fromEnvironment), AssignedDevice::Source::Environment,
                                  variable};
    }
    if (assignment.settingsFile.empty()) return std::nullopt;
    const std::unique_ptr<QSettings> settings = readSettingsFile(assignment.settingsFile);
    QStringList keys;
    for (const QString& key : settings->childKeys()) {
        if (panelPortNumber(key.toStdString()) == n) keys.append(key);
    }
    if (keys.isEmpty()) return std::nullopt;
    if (keys.size() > 1) {
        std::string names;
        for (const QString& key : keys) names += (names.empty() ? "" : ", ") + quoted(key);
        throw SerialError(keyFor(n) + " is assigned more than once in " + assignment.settingsFile +
                          " (" + names + "): keep one of the lines.");
    }
    // A value with a comma reads as a list; a device text is taken as written.
    const QVariant value = settings->value(keys.front());
    const QString text = value.typeId() == QMetaType::QStringList ? value.toStringList().join(u',')
                                                                  : value.toString();
    if (text.trimmed().isEmpty()) {
        throw SerialError(keyFor(n) + " is assigned no device in " + assignment.settingsFile +
                          " (\"" + keyFor(n) +
                          "=\"): put a device after the \"=\", or remove the line.");
    }
    return AssignedDevice{text.toStdString(), AssignedDevice::Source::File,
                          assignment.settingsFile};
}

bool sameDevice(const std::string& a, const std::string& b) {
    if (a == b) return true;
    const QString canonical = QFileInfo(QString::fromStdString(a)).canonicalFilePath();
    return !canonical.isEmpty() &&
           canonical == QFileInfo(QString::fromStdString(b)).canonicalFilePath();
}

// The n-th of the ports found, or /dev/ttyS(n-1) where fewer are found; never a device that
// another of the panel's ports already leads to (the ports before n as assigned, those after
// it where they are assigned explicitly): then the first of the ports found, or of
// /dev/ttyS0, /dev/ttyS1, ..., that none leads to.
std::string platformDefault(int n, const PortAssignment& assignment,
                            const std::vector<Adapter>& found) {
#ifdef Q_OS_WIN
    (void)assignment;
    (void)found;
    return keyFor(n);
#else
    std::vector<std::string> taken;
    for (int other = 1; other <= kPanelPorts; ++other) {
        if (other == n) continue;
        try {
            if (std::optional<AssignedDevice> device = assignedDevice(other, assignment)) {
                taken.push_back(device->text);
            } else if (other < n) {
                taken.push_back(platformDefault(other, assignment, found));
            }
        } catch (const SerialError&) {
            // A port that cannot be assigned leads nowhere; its own open says why.
        }
    }
    const auto free = [&](const std::string& device) {
        return std::ranges::none_of(taken,
                                    [&](const std::string& t) { return sameDevice(t, device); });
    };
    const auto uart = [](std::size_t k) { return "/dev/ttyS" + std::to_string(k); };
    const std::string first = std::cmp_less_equal(n, found.size())
                                  ? deviceTextOf(found[std::size_t(n) - 1])
                                  : uart(std::size_t(n) - 1);
    if (free(first)) return first;
    for (const Adapter& adapter : found) {
        if (free(deviceTextOf(adapter))) return deviceTextOf(adapter);
    }
    for (std::size_t k = 0;; ++k) {
        if (free(uart(k))) return uart(k);
    }
#endif
}

}  // namespace

PortAssignment PortAssignment::system() {
    return {[](const std::string& name) { return qEnvironmentVariable(name.c_str()).toStdString(); },
            settingsFilePath(), findAdapters, kStableNameFolder};
}

std::string settingsFilePath() {
    return (QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
            QStringLiteral("/projector-panel/ports.ini"))
        .toStdString();
}

AssignedDevice assignDevice(int n, const PortAssignment& assignment) {
    if (std::optional<AssignedDevice> device = assignedDevice(n, assignment))
        return std::move(*device);
    const std::vector<Adapter> found =
        assignment.adapters ? assignment.adapters() : std::vector<Adapter>{};
    return {platformDefault(n, assignment, found), AssignedDevice::Source::Default, {}};
}

std::string unreadSettings(const PortAssignment& assignment) {
    if (assignment.settingsFile.empty()) return {};
    std::unique_ptr<QSettings> settings;
    try {
        settings = readSettingsFile(assignment.settingsFile);
    } catch (const SerialError&) {
        return {};  // the open of a port it assigns says so
    }
    std::string lines;
    for (const QString& key : settings->childKeys()) {
        if (panelPortNumber(key.toStdString()) == 0)
            lines += "\n  " + quoted(key) + ": not a port name";
    }
    for (const QString& group : settings->childGroups()) {
        settings->beginGroup(group);
        std::string keys;
        for (const QString& key : settings->allKeys())
            keys += (keys.empty() ? "" : ", ") + quoted(key);
        settings->endGroup();
        lines += "\n  [" + engine::shownText(group.toStdString()) +
                 "]: a section; the lines under it are not read (" + keys + ")";
    }
    if (lines.empty()) return {};
    return assignment.settingsFile + " has lines that are not read:" + lines +
           "\nThe file holds lines COM1=DEVICE and COM2=DEVICE, above any section; a port it does "
           "not "
           "assign leads to its default device.";
}

std::string explainAssignment(int n, const AssignedDevice& device, const PortAssignment& assignment,
                              const std::vector<Adapter>& adapters, const std::string& program) {
    const std::string port = keyFor(n);
    std::string text = port + " is " + device.text;
    switch (device.source) {
        case AssignedDevice::Source::Environment:
            text += ", from " + device.origin + ".";
            break;
        case AssignedDevice::Source::File:
            text += ", from " + device.origin + ".";
            break;
        case AssignedDevice::Source::Default:
            text += " by default: no device is assigned to it.";
            break;
    }
    text += "\n" + describeAdapters(adapters);
    const std::string example = adapters.empty() ? std::string("/dev/ttyUSB0") : deviceTextOf(adapters.front());
    if (device.source == AssignedDevice::Source::Environment) {
        text += "\n" + variableFor(n) + " wins over the settings file: change it (for instance " + variableFor(n) +
                "=" + example + ") or unset it.";
    } else {
        text += "\nTo assign a device to " + port + ", put a line such as\n  " + port + "=" +
                example + "\nin " + assignment.settingsFile + ", or set " + variableFor(n) +
                " before starting " + program + ".";
    }
    return text;
}

ResolvedDevice resolveDevice(const std::string& text, const PortAssignment& assignment) {
    ResolvedDevice resolved;
    resolved.portNumber = panelPortNumber(text);
    if (resolved.portNumber != 0) resolved.assigned = assignDevice(resolved.portNumber, assignment);
    try {
        resolved.address = parseDeviceAddress(resolved.assigned ? resolved.assigned->text : text);
    } catch (const SerialError& e) {
        if (!resolved.assigned || resolved.assigned->source == AssignedDevice::Source::Default)
            throw;
        throw SerialError(std::string(e.what()) + "\n" + keyFor(resolved.portNumber) +
                          " is set to it in " + resolved.assigned->origin + ".");
    }
    return resolved;
}

int panelPortNumber(const std::string& text) {
    static const QRegularExpression form(QStringLiteral("^COM([1-9][0-9]?)$"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = form.match(QString::fromStdString(text));
    return match.hasMatch() ? match.captured(1).toInt() : 0;
}

}  // namespace serial
