#pragma once

#include <memory>

#include "link/device_address.h"
#include "link/program_words.h"
#include "link/transport.h"

namespace serial {

// The transport that reaches `address`: a local serial device, or a TCP connection raw or
// RFC 2217. Nothing is opened yet. Its messages name the program in `words`. Throws
// SerialError when a network address cannot be served (see openNetworkTransport).
std::unique_ptr<Transport> openTransport(const DeviceAddress& address, const ProgramWords& words);

// The TCP connection, raw or RFC 2217, that reaches a network address. A program links one
// of two definitions: the network transports linked in (serial_link), or loaded from the
// program's network module when the first network address is opened (serial_link_on_demand),
// so that a program whose ports are local never loads the network library. Throws
// SerialError saying what to do when the module cannot be loaded.
std::unique_ptr<Transport> openNetworkTransport(const DeviceAddress& address);

}  // namespace serial
