#include "link/network_module.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QPluginLoader>

#include "link/serial_port.h"
#include "link/transports.h"

#ifndef PANEL_NETWORK_MODULE
#error "PANEL_NETWORK_MODULE is the network module's path relative to the program's folder"
#endif

namespace serial {

namespace {

// The module's transports, or nullptr with `why` saying what is wrong in a sentence that
// names the file.
NetworkTransports* load(const std::string& path, std::string& why) {
    const QString file = QString::fromStdString(path);
    if (!QFileInfo(file).isFile()) {
        why = "The network module " + path + " is missing.";
        return nullptr;
    }
    // Read from the file without loading it, so that a module of another version never runs.
    QPluginLoader loader(file);
    const QJsonObject meta = loader.metaData();
    if (meta.isEmpty()) {
        why = loader.errorString().toStdString();
        return nullptr;
    }
    const QString version = meta.value(QStringLiteral("MetaData"))
                                .toObject()
                                .value(QStringLiteral("version"))
                                .toString();
    if (version != QStringLiteral(PANEL_VERSION)) {
        why = "The network module " + path + " belongs to version " +
              (version.isEmpty() ? std::string("unknown") : version.toStdString()) +
              " of the programs; this program is version " PANEL_VERSION ".";
        return nullptr;
    }
    QObject* instance = loader.instance();
    if (!instance) {
        why = loader.errorString().toStdString();
        return nullptr;
    }
    auto* transports = qobject_cast<NetworkTransports*>(instance);
    if (!transports) why = "The file " + path + " is not the network module of these programs.";
    return transports;
}

}  // namespace

NetworkModule& NetworkModule::program() {
    static NetworkModule module(QDir::cleanPath(QCoreApplication::applicationDirPath() +
                                                QStringLiteral("/" PANEL_NETWORK_MODULE))
                                    .toStdString());
    return module;
}

std::unique_ptr<Transport> NetworkModule::open(const DeviceAddress& address) {
    // A failed load is tried again at the next open: the operator may have mended it since.
    if (!loaded_) {
        std::string why;
        loaded_ = load(path_, why);
        if (!loaded_) {
            throw SerialError(address.text +
                              ": network serial servers are reached through the network module, "
                              "which cannot be loaded.\n" +
                              why +
                              "\nReinstall the package " PANEL_PACKAGE_NAME
                              " to mend it; local serial devices work without it.");
        }
    }
    return loaded_->open(address);
}

std::unique_ptr<Transport> openNetworkTransport(const DeviceAddress& address) {
    return NetworkModule::program().open(address);
}

}  // namespace serial
