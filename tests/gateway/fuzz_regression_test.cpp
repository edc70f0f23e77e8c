// Replays the inputs kept in fuzz/gateway-regressions (every input the fuzzer ever found to
// break a property, and a few chosen ones) through the fuzzer's own property checks.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "fuzz/gateway_properties.h"

TEST(GatewayFuzzRegressions, EveryKeptInputKeepsEveryProperty) {
    int replayed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(FUZZ_GATEWAY_REGRESSIONS_DIR)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string input((std::istreambuf_iterator<char>(in)), {});
        SCOPED_TRACE(entry.path().filename().string());
        checkGatewayProperties(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
        ++replayed;
    }
    EXPECT_GE(replayed, 4);
}
