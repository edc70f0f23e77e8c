// Fuzzes the Telnet / RFC 2217 codec through its properties.
#include "fuzz/rfc2217_properties.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    checkRfc2217Properties(data, size);
    return 0;
}
