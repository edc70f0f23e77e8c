// Fuzzes the HTTP port's request framing, routes and bodies through their properties.
#include "fuzz/http_properties.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    checkHttpProperties(data, size);
    return 0;
}
