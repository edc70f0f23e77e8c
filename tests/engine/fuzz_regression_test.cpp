#include "fuzz/engine_properties.h"
#include "tests/support/kept_inputs.h"

TEST(FuzzRegressions, EveryKeptInputKeepsEveryProperty) {
    EXPECT_GE(replayKeptInputs(FUZZ_REGRESSIONS_DIR, checkEngineProperties), 5);
}
