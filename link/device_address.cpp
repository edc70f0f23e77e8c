#include "link/device_address.h"

#ifdef _WIN32
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#endif

#include <QString>
#include <algorithm>

#include "link/serial_port.h"

namespace serial {

namespace {

// Read by hand: a regular-expression engine, or Qt Network for QHostAddress, would be loaded
// for these few characters by every program that opens a port.

bool isLetter(QChar c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }
bool isDigit(QChar c) { return c >= u'0' && c <= u'9'; }
bool isNameCharacter(QChar c) {
    return isLetter(c) || isDigit(c) || c == u'.' || c == u'_' || c == u'-';
}

// An IPv6 address as QHostAddress reads one: the address, then "%" and a scope id.
bool isIpv6(const QString& host) {
    const QByteArray address = host.left(host.lastIndexOf(u'%')).toLatin1();
    unsigned char bytes[16];
    return !address.isEmpty() && inet_pton(AF_INET6, address.constData(), bytes) == 1;
}

[[noreturn]] void malformed(const std::string& text, const QString& what) {
    throw SerialError((text.empty() ? std::string("The device") : "\"" + text + "\"") + ": " +
                      what.toStdString());
}

QString formOf(DeviceAddress::Kind kind) {
    return kind == DeviceAddress::Kind::Rfc2217 ? QStringLiteral("rfc2217://HOST:PORT")
                                                : QStringLiteral("socket://HOST:PORT");
}

std::uint16_t parsePort(const std::string& text, const QString& digits, DeviceAddress::Kind kind) {
    if (digits.isEmpty()) malformed(text, QStringLiteral("no port number (%1)").arg(formOf(kind)));
    const auto stop = std::find_if(digits.begin(), digits.end(),
                                   [](QChar c) { return c == u'/' || c == u'?' || c == u'#'; });
    const qsizetype extra = stop == digits.end() ? -1 : stop - digits.begin();
    if (extra > 0) {
        malformed(text, QStringLiteral("unexpected \"%1\" after the port number").arg(digits.mid(extra)));
    }
    if (!std::all_of(digits.begin(), digits.end(), isDigit)) {
        malformed(text, QStringLiteral("the port \"%1\" is not a number").arg(digits));
    }
    bool ok = false;
    const uint value = digits.size() <= 5 ? digits.toUInt(&ok) : 0;
    if (!ok || value < 1 || value > 65535) {
        malformed(text, QStringLiteral("the port %1 is out of range 1..65535").arg(digits));
    }
    return static_cast<std::uint16_t>(value);
}

void parseHostAndPort(DeviceAddress& address, const QString& rest) {
    const std::string& text = address.text;
    if (rest.isEmpty()) malformed(text, QStringLiteral("no host and port (%1)").arg(formOf(address.kind)));
    QString host;
    QString port;
    if (rest.startsWith(u'[')) {
        const qsizetype close = rest.indexOf(u']');
        if (close < 0) malformed(text, QStringLiteral("no \"]\" after the IPv6 address"));
        host = rest.mid(1, close - 1);
        if (!isIpv6(host)) {
            malformed(text, QStringLiteral("\"%1\" is not an IPv6 address").arg(host));
        }
        const QString after = rest.mid(close + 1);
        if (!after.isEmpty() && !after.startsWith(u':')) {
            malformed(text, QStringLiteral("unexpected \"%1\" after the IPv6 address").arg(after));
        }
        port = after.mid(1);
    } else {
        const qsizetype colon = rest.lastIndexOf(u':');
        if (colon < 0) malformed(text, QStringLiteral("no port number (%1)").arg(formOf(address.kind)));
        host = rest.left(colon);
        port = rest.mid(colon + 1);
        if (host.contains(u':')) {
            malformed(text, QStringLiteral("an IPv6 address goes in brackets, as in %1")
                                .arg(address.kind == DeviceAddress::Kind::Rfc2217
                                         ? QStringLiteral("rfc2217://[::1]:4001")
                                         : QStringLiteral("socket://[::1]:4001")));
        }
        if (host.isEmpty()) malformed(text, QStringLiteral("no host before the port number"));
        if (!std::all_of(host.begin(), host.end(), isNameCharacter)) {
            malformed(text, QStringLiteral("\"%1\" is not a host name or an IP address").arg(host));
        }
    }
    address.host = host.toStdString();
    address.port = parsePort(text, port, address.kind);
}

}  // namespace

DeviceAddress parseDeviceAddress(const std::string& text) {
    DeviceAddress address;
    address.text = text;
    if (text.empty()) malformed(text, QStringLiteral("no device given"));
    const QString all = QString::fromStdString(text);
    // A scheme is a letter, then letters, digits, "+", "-" and "." before "://"; a path never
    // looks so.
    const qsizetype end = all.indexOf(QStringLiteral("://"));
    const QString scheme = all.left(end);
    const bool isScheme = end > 0 && isLetter(scheme.front()) &&
                          std::all_of(scheme.begin(), scheme.end(), [](QChar c) {
                              return isLetter(c) || isDigit(c) || c == u'+' || c == u'-' ||
                                     c == u'.';
                          });
    if (!isScheme) {
        address.path = text;
        return address;
    }
    const QString name = scheme.toLower();
    if (name == u"socket") {
        address.kind = DeviceAddress::Kind::Socket;
    } else if (name == u"rfc2217") {
        address.kind = DeviceAddress::Kind::Rfc2217;
    } else {
        malformed(text, QStringLiteral("unknown scheme \"%1\"; a network serial server is "
                                       "socket://HOST:PORT or rfc2217://HOST:PORT")
                            .arg(scheme));
    }
    parseHostAndPort(address, all.mid(end + 3));
    return address;
}

}  // namespace serial
