#include "fuzz/gateway_properties.h"
#include "fuzz/http_properties.h"
#include "tests/support/kept_inputs.h"

TEST(GatewayFuzzRegressions, EveryKeptInputKeepsEveryProperty) {
    EXPECT_GE(replayKeptInputs(FUZZ_GATEWAY_REGRESSIONS_DIR, checkGatewayProperties), 4);
}

TEST(HttpFuzzRegressions, EveryKeptInputKeepsEveryProperty) {
    EXPECT_GE(replayKeptInputs(FUZZ_HTTP_REGRESSIONS_DIR, checkHttpProperties), 3);
}
