#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "link/adapters.h"
#include "link/device_address.h"

namespace serial {

// Where the devices of COM1 and COM2 come from. The programs use system(); tests replace
// each part.
struct PortAssignment {
    // The value of an environment variable, "" when it is unset.
    std::function<std::string(const std::string& name)> environment;
    // The per-user settings file, INI: lines "COM1=DEVICE" and "COM2=DEVICE".
    std::string settingsFile;
    // The serial ports found now, in findAdapters() order.
    std::function<std::vector<Adapter>()> adapters;
    // Where the stable names of USB adapters are.
    std::string stableNameFolder = kStableNameFolder;

    static PortAssignment system();
};

// The per-user settings file: projector-panel/ports.ini in the user's configuration folder
// ($XDG_CONFIG_HOME, ~/.config by default). Shared by both programs, which reach the same
// wiring; the one thing the panel keeps between runs.
std::string settingsFilePath();

struct AssignedDevice {
    enum class Source { Environment, File, Default };
    std::string text;  // the device text: a path, a stable name or a network address
    Source source = Source::Default;
    std::string origin;  // the variable or the file it came from; "" by default
};

// The device of COMn, first match wins: PROJECTOR_COMn when set and not empty; COMn in the
// settings file (the key in any case, as the panel's own COM names); the platform default.
// The default is, on Windows, the Windows port COMn; elsewhere the n-th of the serial ports
// found (USB adapters first, each by its stable name when it has one, then on-board UARTs),
// or /dev/ttyS(n-1) where fewer than n are found; but never the device COM1 or COM2 already
// leads to, in which case it is the first of the ports found, then of /dev/ttyS0,
// /dev/ttyS1, ..., that neither leads to. Throws SerialError when the file cannot be read,
// assigns COMn an empty value or assigns it twice.
AssignedDevice assignDevice(int n, const PortAssignment& assignment);

// What the settings file holds that is never read: keys that name no port, and sections
// (whose lines are not read either). One text for a warning at start, naming the file and
// each such key and section; "" when there is none, or no file that can be read.
std::string unreadSettings(const PortAssignment& assignment);

// "COM1 is DEVICE, from ..." and how to assign another device to COMn, with an example taken
// from `adapters`; for the report of a port that cannot be opened, `program` being the
// program that reads the assignment ("... before starting the panel").
std::string explainAssignment(int n, const AssignedDevice& device, const PortAssignment& assignment,
                              const std::vector<Adapter>& adapters, const std::string& program);

// n when `text` is "COMn" (any case), else 0: a device text naming a panel port.
int panelPortNumber(const std::string& text);

// Where a device text leads: "COMn" to the device assigned to it, any other text as written.
struct ResolvedDevice {
    DeviceAddress address;
    int portNumber = 0;                      // n for "COMn", else 0
    std::optional<AssignedDevice> assigned;  // for "COMn"
};

// Throws SerialError when the assignment cannot be read or the text it leads to is malformed;
// a malformed assignment says where it was made.
ResolvedDevice resolveDevice(const std::string& text, const PortAssignment& assignment);

}  // namespace serial
