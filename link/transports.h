#pragma once

#include <memory>

#include "link/device_address.h"
#include "link/program_words.h"
#include "link/transport.h"

namespace serial {

// The transport that reaches `address`: a local serial device, or a TCP connection raw or
// RFC 2217. Nothing is opened yet. Its messages name the program in `words`.
std::unique_ptr<Transport> openTransport(const DeviceAddress& address, const ProgramWords& words);

}  // namespace serial
