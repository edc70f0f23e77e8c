#include "fuzz/rfc2217_properties.h"
#include "tests/support/kept_inputs.h"

TEST(Rfc2217FuzzRegressions, EveryKeptInputKeepsEveryProperty) {
    EXPECT_GE(replayKeptInputs(FUZZ_RFC2217_REGRESSIONS_DIR, checkRfc2217Properties), 4);
}
