#pragma once

#include <span>
#include <string_view>

#include "engine/status.h"

namespace models {

// Which programs have a control or a button: a bit per model.
using ModelMask = unsigned;
inline constexpr ModelMask kTR27KOnly = 1;
inline constexpr ModelMask kTR52Only = 2;
inline constexpr ModelMask kBothModels = kTR27KOnly | kTR52Only;

// A model's own geometry for a control of the shared layout; a negative field keeps the
// shared value. Twips.
struct GeometryOverride {
    std::string_view control;
    int left = -1;
    int top = -1;
    int width = -1;
    int height = -1;
};

struct Model {
    std::string_view name;     // "TR27K"
    std::string_view program;  // "TR27KRSC"
    std::string_view caption;  // the window caption
    ModelMask bit;
    engine::LampModeTexts lampMode;
    std::span<const GeometryOverride> overrides;

    bool has(ModelMask mask) const { return (mask & bit) != 0; }
};

extern const Model kTR27K;
extern const Model kTR52;

}  // namespace models
