#include "link/device_address.h"

#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QRegularExpression>
#include <QString>

#include "link/serial_port.h"

namespace serial {

namespace {

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
    const qsizetype extra = digits.indexOf(QRegularExpression(QStringLiteral("[/?#]")));
    if (extra > 0) {
        malformed(text, QStringLiteral("unexpected \"%1\" after the port number").arg(digits.mid(extra)));
    }
    static const QRegularExpression decimal(QStringLiteral("^[0-9]+$"));
    if (!decimal.match(digits).hasMatch()) {
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
        const QHostAddress ip(host);
        if (host.isEmpty() || ip.isNull() || ip.protocol() != QAbstractSocket::IPv6Protocol) {
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
        static const QRegularExpression name(QStringLiteral("^[A-Za-z0-9._-]+$"));
        if (!name.match(host).hasMatch()) {
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
    // A scheme is letters, digits, "+", "-" and "." before "://"; a path never looks so.
    static const QRegularExpression scheme(QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]*)://"));
    const QRegularExpressionMatch match = scheme.match(all);
    if (!match.hasMatch()) {
        address.path = text;
        return address;
    }
    const QString name = match.captured(1).toLower();
    if (name == u"socket") {
        address.kind = DeviceAddress::Kind::Socket;
    } else if (name == u"rfc2217") {
        address.kind = DeviceAddress::Kind::Rfc2217;
    } else {
        malformed(text, QStringLiteral("unknown scheme \"%1\"; a network serial server is "
                                       "socket://HOST:PORT or rfc2217://HOST:PORT")
                            .arg(match.captured(1)));
    }
    parseHostAndPort(address, all.mid(match.capturedLength()));
    return address;
}

std::string deviceIdentity(const DeviceAddress& address) {
    if (!address.network()) {
        const QFileInfo file(QString::fromStdString(address.path));
        const QString canonical = file.canonicalFilePath();
        return (canonical.isEmpty() ? QDir::cleanPath(file.absoluteFilePath()) : canonical)
            .toStdString();
    }
    const QString host = QString::fromStdString(address.host);
    const QHostAddress ip(host);
    // "[::1]" and "[0:0::1]" are one address; names differ only in case.
    const QString name = ip.isNull() ? host.toLower() : ip.toString();
    return "tcp:" + name.toStdString() + ":" + std::to_string(address.port);
}

}  // namespace serial
