#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "models/model.h"

namespace panel {

enum class Kind { Button, Label, Frame, Option, TextBox, Picture };

// Font codes of the layout: face, size and weight.
enum class FontCode { W, G9, G8, G8B, G10, G10B, P9, P9B, P10B };

enum class Align { Left, Center, Right };

// Colours are 0xRRGGBB; the two system colours are marked by values outside that range.
inline constexpr std::uint32_t kSystemButtonFace = 0x1000000;
inline constexpr std::uint32_t kSystemWindow = 0x1000001;
inline constexpr std::uint32_t kGrey = 0xC0C0C0;
inline constexpr std::uint32_t kBlack = 0x000000;

// One control of the window. Geometry in twips, relative to the container's top-left corner
// (the client area for "Form1", the frame's outer corner for a frame).
struct ControlRow {
    std::string_view name;
    Kind kind;
    std::string_view container;
    std::string_view caption;
    int left;
    int top;
    int width;
    int height;
    std::uint32_t back;
    std::uint32_t text = kBlack;
    FontCode font = FontCode::W;
    Align align = Align::Center;
    bool border = false;
    models::ModelMask models = models::kBothModels;
    bool hiddenAtStart = false;
    bool selectedAtStart = false;
};

// A line drawn on the window background beneath every control; twips.
struct LineRow {
    std::string_view name;
    int x1;
    int y1;
    int x2;
    int y2;
};

inline constexpr std::uint32_t kLineColour = 0x8080FF;
inline constexpr int kLineWidthPx = 2;

// The client area, in twips.
inline constexpr int kClientWidth = 9495;
inline constexpr int kClientHeight = 8730;
inline constexpr int kTwipsPerPixel = 15;

// The window's outer height at start, caption bar included: the operating area alone
// (twips). A control of the window whose top lies at or below it is not seen until the window
// grows.
inline constexpr int kStartOuterHeight = 5350;

// Every control of both models, containers before their children.
std::span<const ControlRow> layoutRows();

// The twelve lines around the cursor pad.
std::span<const LineRow> lineRows();

// The focusable controls of both models in tab order; a model skips the ones it lacks.
std::span<const std::string_view> tabOrder();

// The row of a control with the model's own geometry applied, or nullptr when the model
// lacks the control.
struct PlacedControl {
    const ControlRow* row;
    int left;
    int top;
    int width;
    int height;
};
std::optional<PlacedControl> place(std::string_view name, const models::Model& model);

}  // namespace panel
