#include "link/device_address.h"

#ifdef _WIN32
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#endif

#include <algorithm>
#include <string_view>

#include "link/serial_port.h"

namespace serial {

namespace {

// Read by hand: a regular-expression engine or Qt Network would be loaded for these few
// characters by every program that opens a local device.

bool isAsciiLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool isAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}

[[noreturn]] void malformed(const std::string& text, const std::string& what) {
    throw SerialError((text.empty() ? std::string("The device") : "\"" + text + "\"") + ": " +
                      what);
}

std::string formOf(DeviceAddress::Kind kind) {
    return kind == DeviceAddress::Kind::Rfc2217 ? "rfc2217://HOST:PORT" : "socket://HOST:PORT";
}

// An IPv6 address as QHostAddress reads one: the address, then "%" and a scope id.
bool isIpv6(std::string_view host) {
    const std::string address(host.substr(0, host.rfind('%')));
    unsigned char bytes[16];
    return !address.empty() && inet_pton(AF_INET6, address.c_str(), bytes) == 1;
}

std::uint16_t parsePort(const std::string& text, std::string_view digits,
                        DeviceAddress::Kind kind) {
    if (digits.empty()) malformed(text, "no port number (" + formOf(kind) + ")");
    const std::size_t extra = digits.find_first_of("/?#");
    if (extra != std::string_view::npos && extra > 0) {
        malformed(text,
                  "unexpected \"" + std::string(digits.substr(extra)) + "\" after the port number");
    }
    if (!std::all_of(digits.begin(), digits.end(), isAsciiDigit)) {
        malformed(text, "the port \"" + std::string(digits) + "\" is not a number");
    }
    unsigned value = 0;
    if (digits.size() <= 5) {
        for (const char c : digits) value = value * 10 + unsigned(c - '0');
    }
    if (digits.size() > 5 || value < 1 || value > 65535) {
        malformed(text, "the port " + std::string(digits) + " is out of range 1..65535");
    }
    return static_cast<std::uint16_t>(value);
}

void parseHostAndPort(DeviceAddress& address, std::string_view rest) {
    const std::string& text = address.text;
    if (rest.empty()) malformed(text, "no host and port (" + formOf(address.kind) + ")");
    std::string_view host;
    std::string_view port;
    if (rest.front() == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string_view::npos) malformed(text, "no \"]\" after the IPv6 address");
        host = rest.substr(1, close - 1);
        if (!isIpv6(host)) malformed(text, "\"" + std::string(host) + "\" is not an IPv6 address");
        const std::string_view after = rest.substr(close + 1);
        if (!after.empty() && after.front() != ':') {
            malformed(text, "unexpected \"" + std::string(after) + "\" after the IPv6 address");
        }
        port = after.empty() ? after : after.substr(1);
    } else {
        const std::size_t colon = rest.rfind(':');
        if (colon == std::string_view::npos)
            malformed(text, "no port number (" + formOf(address.kind) + ")");
        host = rest.substr(0, colon);
        port = rest.substr(colon + 1);
        if (host.find(':') != std::string_view::npos) {
            malformed(text,
                      std::string("an IPv6 address goes in brackets, as in ") +
                          (address.kind == DeviceAddress::Kind::Rfc2217 ? "rfc2217://[::1]:4001"
                                                                        : "socket://[::1]:4001"));
        }
        if (host.empty()) malformed(text, "no host before the port number");
        const auto nameCharacter = [](char c) {
            return isAsciiLetter(c) || isAsciiDigit(c) || c == '.' || c == '_' || c == '-';
        };
        if (!std::all_of(host.begin(), host.end(), nameCharacter)) {
            malformed(text, "\"" + std::string(host) + "\" is not a host name or an IP address");
        }
    }
    address.host = std::string(host);
    address.port = parsePort(text, port, address.kind);
}

}  // namespace

DeviceAddress parseDeviceAddress(const std::string& text) {
    DeviceAddress address;
    address.text = text;
    if (text.empty()) malformed(text, "no device given");
    // A scheme is a letter, then letters, digits, "+", "-" and "." before "://"; a path never
    // looks so.
    const std::size_t end = text.find("://");
    const std::string_view scheme = std::string_view(text).substr(0, end);
    const bool isScheme =
        end != std::string::npos && end > 0 && isAsciiLetter(scheme.front()) &&
        std::all_of(scheme.begin(), scheme.end(), [](char c) {
            return isAsciiLetter(c) || isAsciiDigit(c) || c == '+' || c == '-' || c == '.';
        });
    if (!isScheme) {
        address.path = text;
        return address;
    }
    std::string name(scheme);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; });
    if (name == "socket") {
        address.kind = DeviceAddress::Kind::Socket;
    } else if (name == "rfc2217") {
        address.kind = DeviceAddress::Kind::Rfc2217;
    } else {
        malformed(text,
                  "unknown scheme \"" + std::string(scheme) +
                      "\"; a network serial server is socket://HOST:PORT or rfc2217://HOST:PORT");
    }
    parseHostAndPort(address, std::string_view(text).substr(end + 3));
    return address;
}

}  // namespace serial
