// The network transports linked into the program.
#include "link/tcp_transport.h"
#include "link/transports.h"

namespace serial {

std::unique_ptr<Transport> openNetworkTransport(const DeviceAddress& address) {
    return std::make_unique<TcpTransport>(address);
}

}  // namespace serial
