#pragma once

#include <cstdint>
#include <string>

namespace serial {

// Where a device text leads: a local serial device, or a network serial server reached over
// TCP, raw ("socket://HOST:PORT") or with the COM-PORT-OPTION of RFC 2217
// ("rfc2217://HOST:PORT"), in the forms pyserial made common.
struct DeviceAddress {
    enum class Kind { Local, Socket, Rfc2217 };
    Kind kind = Kind::Local;
    std::string text;  // as given; names the device in messages
    std::string path;  // Local: the device path (on Windows a port name such as COM3)
    std::string host;  // network: a host name or an IP address, without brackets
    std::uint16_t port = 0;

    bool network() const { return kind != Kind::Local; }
};

// Reads a device text: a path (a /dev/serial/by-id name among them), socket://HOST:PORT or
// rfc2217://HOST:PORT, HOST a name, an IPv4 address or a bracketed IPv6 address. Throws
// SerialError saying what is wrong with a malformed text (empty, unknown scheme, no port
// number, a port out of range 1..65535, an unbracketed or bad IPv6 address, ...). Whether a
// local path exists, or is a folder, is learned when it is opened.
DeviceAddress parseDeviceAddress(const std::string& text);

// What the addresses of one device have in common, so that two texts that reach the same
// device are known as such: a local device by its path with symbolic links (stable names
// among them) followed, a network serial server by its host and port, whichever protocol is
// spoken to it. Host names are not looked up. In serial_link, with the network transports.
std::string deviceIdentity(const DeviceAddress& address);

}  // namespace serial
