#include "link/port_assignment.h"

#include <QSettings>
#include <QStandardPaths>
#include <QStringList>

#include "link/serial_port.h"

namespace serial {

namespace {

std::string variableFor(int n) { return "PROJECTOR_COM" + std::to_string(n); }
std::string keyFor(int n) { return "COM" + std::to_string(n); }

std::string platformDefault(int n, const PortAssignment& assignment) {
#ifdef Q_OS_WIN
    (void)assignment;
    return keyFor(n);
#else
    const std::vector<Adapter> found = assignment.adapters ? assignment.adapters() : std::vector<Adapter>{};
    if (n >= 1 && static_cast<std::size_t>(n) <= found.size()) return deviceTextOf(found[static_cast<std::size_t>(n) - 1]);
    return "/dev/ttyS" + std::to_string(n - 1);
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
    const std::string variable = variableFor(n);
    if (assignment.environment) {
        std::string fromEnvironment = assignment.environment(variable);
        if (!fromEnvironment.empty()) return {std::move(fromEnvironment), AssignedDevice::Source::Environment, variable};
    }
    if (!assignment.settingsFile.empty()) {
        const QString file = QString::fromStdString(assignment.settingsFile);
        const QSettings settings(file, QSettings::IniFormat);
        if (settings.status() != QSettings::NoError) {
            throw SerialError(assignment.settingsFile + ": the settings file cannot be read" +
                              (settings.status() == QSettings::FormatError ? " (it is not an INI file)" : ""));
        }
        const QString key = QString::fromStdString(keyFor(n));
        if (settings.contains(key)) {
            // A value with a comma reads as a list; a device text is taken as written.
            const QVariant value = settings.value(key);
            const QString text = value.typeId() == QMetaType::QStringList ? value.toStringList().join(u',')
                                                                          : value.toString();
            if (text.trimmed().isEmpty()) {
                throw SerialError(keyFor(n) + " is assigned no device in " + assignment.settingsFile + " (\"" +
                                  keyFor(n) + "=\"): put a device after the \"=\", or remove the line.");
            }
            return {text.toStdString(), AssignedDevice::Source::File, assignment.settingsFile};
        }
    }
    return {platformDefault(n, assignment), AssignedDevice::Source::Default, {}};
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
    // "COM", then 1 to 99 without a leading zero; read by hand, so that opening a port loads
    // no regular-expression engine.
    if (text.size() < 4 || text.size() > 5) return 0;
    for (std::size_t i = 0; i < 3; ++i) {
        const char c = text[i];
        if ((c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c) != "COM"[i]) return 0;
    }
    int n = 0;
    for (std::size_t i = 3; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return 0;
        n = n * 10 + (text[i] - '0');
    }
    return text[3] == '0' ? 0 : n;
}

}  // namespace serial
