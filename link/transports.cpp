#include "link/transports.h"

#include "link/serial_device.h"

namespace serial {

std::unique_ptr<Transport> openTransport(const DeviceAddress& address, const ProgramWords& words) {
    if (address.network()) return openNetworkTransport(address);
    return std::make_unique<SerialDevice>(address.path, words.program);
}

}  // namespace serial
