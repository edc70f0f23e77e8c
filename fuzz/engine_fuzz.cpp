// Fuzzes the command engine through its properties.
#include "fuzz/engine_properties.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    checkEngineProperties(data, size);
    return 0;
}
