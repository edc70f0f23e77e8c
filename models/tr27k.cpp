#include "models/model.h"

namespace models {

// The shared layout is TR27K's own, so this model changes no geometry.
const Model kTR27K{
    .name = "TR27K",
    .program = "TR27KRSC",
    .caption = "ORVA   TR27K   CONTROL   Ver.1.40",
    .bit = kTR27KOnly,
    .lampMode = {.reply00 = " OFF", .reply01 = " ON"},
    .overrides = {},
};

}  // namespace models
