#include "models/model.h"

namespace models {

namespace {

// "INPUT MODE SET" sits further right with a narrower "PC1" key; the input-source frame, which
// lacks the two DVI keys here, is narrower.
constexpr GeometryOverride kOverrides[] = {
    {.control = "Frame2", .left = 2400, .width = 2655},
    {.control = "Command27", .width = 495},
    {.control = "Command28", .left = 960},
    {.control = "Command29", .left = 1680},
    {.control = "Frame14", .width = 4695},
};

}  // namespace

const Model kTR52{
    .name = "TR52",
    .program = "TR52",
    .caption = "ORVA   TR52   CONTROL   Ver.1.40",
    .bit = kTR52Only,
    .lampMode = {.reply00 = " All OFF : 2 Lamp mode", .reply01 = " No1 ON  : 2 Lamp mode"},
    .overrides = kOverrides,
};

}  // namespace models
