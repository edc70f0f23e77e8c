#include "gateway/log.h"

#include <QAbstractSocket>
#include <QHostAddress>

#include "engine/shown_text.h"

namespace gateway {

std::string logText(std::string_view text) {
    std::string joined;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        if (end > 0) {
            if (!joined.empty()) joined += ' ';
            joined.append(text.substr(0, end));
        }
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    return engine::shownText(joined, 400);
}

std::string peerOf(const QAbstractSocket& socket) {
    const QHostAddress address = socket.peerAddress();
    bool mapped = false;
    const quint32 ipv4 = address.toIPv4Address(&mapped);
    const QString host = mapped ? QHostAddress(ipv4).toString()
                         : address.protocol() == QAbstractSocket::IPv6Protocol
                             ? QStringLiteral("[%1]").arg(address.toString())
                             : address.toString();
    return engine::shownText(host.toStdString()) + ":" + std::to_string(socket.peerPort());
}

}  // namespace gateway
