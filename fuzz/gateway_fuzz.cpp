// Fuzzes the framing of the gateway's clients and PJLink's line parser through their
// properties.
#include "fuzz/gateway_properties.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    checkGatewayProperties(data, size);
    return 0;
}
