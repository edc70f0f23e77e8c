#pragma once

#include <string>
#include <vector>

namespace serial {

// A serial port the system reports: a USB adapter or an on-board UART. Pseudo-terminals are
// never among them.
struct Adapter {
    std::string path;          // /dev/ttyUSB0; COM3 on Windows
    std::string stableName;    // its /dev/serial/by-id name, empty when it has none
    std::string description;   // as the driver names it, possibly empty
    std::string serialNumber;  // possibly empty
    bool usb = false;          // on USB (it has a vendor identifier)
};

// Where Linux keeps the stable names of serial adapters, links named after the adapter's make
// and serial number.
inline constexpr const char* kStableNameFolder = "/dev/serial/by-id";

// The name in `folder` that leads to the same device as `device`, or "" when none does.
std::string stableNameOf(const std::string& device, const std::string& folder = kStableNameFolder);

// The serial ports found now: USB adapters first in the order of their stable names (their
// paths where they have none), then the others in the order of their numbers.
std::vector<Adapter> findAdapters();

// Puts adapters into the order findAdapters() returns them in.
void sortAdapters(std::vector<Adapter>& adapters);

// The text that reaches the adapter: its stable name when it has one, so that a renumbered
// ttyUSB is still the same adapter; otherwise its path.
std::string deviceTextOf(const Adapter& adapter);

// One line per adapter ("  /dev/ttyUSB0  FT232R USB UART, serial number A1B2  (stable name
// ...)"), or a line saying that none was found; for warning boxes and the command-line tool.
std::string describeAdapters(const std::vector<Adapter>& adapters);

}  // namespace serial
