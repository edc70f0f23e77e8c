// The network module: the network transports as a Qt plugin, loaded by programs that link
// serial_link_on_demand when they first open a network address.
#include <QObject>

#include "link/network_module.h"
#include "link/tcp_transport.h"

namespace serial {

class NetworkTransportsPlugin final : public QObject, public NetworkTransports {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID PANEL_NETWORK_TRANSPORTS_IID FILE "network_module.json")
    Q_INTERFACES(serial::NetworkTransports)

  public:
    std::unique_ptr<Transport> open(const DeviceAddress& address) override {
        return std::make_unique<TcpTransport>(address);
    }
};

}  // namespace serial

#include "network_plugin.moc"
