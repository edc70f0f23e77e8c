#pragma once

#include <QObject>
#include <functional>
#include <string>

#include "link/line_settings.h"

namespace serial {

// One connection to a device, as the port owns it: a local serial device, or a TCP
// connection to a network serial server. A transport is started once; after a failure it is
// closed and the port discards it. It is a QObject so that the port can discard it with
// deleteLater() from inside one of its own notifications.
class Transport : public QObject {
public:
    // A local device opens here or throws SerialError with a description an operator can act
    // on. A network connection starts here and is reported by onConnected or onFailed later;
    // opening never blocks.
    virtual void start(const LineSettings& settings) = 0;

    // Releases the device or the connection at once; nothing is raised after it.
    virtual void close() = 0;

    // Whether the device or the connection has gone. A call that meets the loss throws its
    // description, which is then the loss's report; onFailed follows all the same.
    virtual bool gone() const = 0;

    // Whether the failure would come again on every new connection, as when the server
    // refuses what the address asks of it: the port does not try again.
    virtual bool permanent() const { return false; }

    // Applies line settings; before onConnected they are kept for the connection. Throws
    // SerialError and keeps the settings as they were when the device refuses them.
    virtual void applySettings(const LineSettings& settings) = 0;

    // Writes the bytes; only after start() returned (local) or onConnected (network). Throws
    // SerialError when they cannot be taken; a lost device is reported through onFailed.
    virtual void write(const std::string& bytes) = 0;

    // Every byte of line data waiting, removed.
    virtual std::string readAll() = 0;

    // Raised from the event loop, never from inside start(), applySettings() or write().
    std::function<void()> onConnected;
    std::function<void()> onReadyRead;
    // The transport has closed itself: the device is lost, the connection failed or broke,
    // or the server broke the protocol. Raised once.
    std::function<void(const std::string& description)> onFailed;
};

}  // namespace serial
