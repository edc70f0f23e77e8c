// In serial_link alone: it reads IP addresses with Qt Network, which the panels load only
// for a network address (see transports.h).
#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QString>

#include "link/device_address.h"

namespace serial {

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
