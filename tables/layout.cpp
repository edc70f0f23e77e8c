#include "tables/layout.h"

#include <algorithm>
#include <iterator>

namespace panel {

namespace {

using models::kTR27KOnly;
using models::kTR52Only;

constexpr std::uint32_t kCyan = 0xC0FFFF;
constexpr std::uint32_t kGreen = 0xC0FFC0;
constexpr std::uint32_t kRed = 0xFFC0C0;
constexpr std::uint32_t kYellow = 0xFFFFC0;
constexpr std::uint32_t kBlue = 0xC0C0FF;
constexpr std::uint32_t kTeal = 0x00C0C0;
constexpr std::uint32_t kArrowOrange = 0xFFE0C0;
constexpr std::uint32_t kSelectOrange = 0xFF8000;
constexpr std::uint32_t kApricot = 0xFFC080;
constexpr std::uint32_t kWhite = 0xFFFFFF;

constexpr ControlRow control(std::string_view name, Kind kind, std::string_view in,
                             std::string_view caption, int left, int top, int width, int height,
                             std::uint32_t back, FontCode font, Align align) {
    ControlRow row{name, kind, in, caption, left, top, width, height, back};
    row.font = font;
    row.align = align;
    return row;
}

constexpr ControlRow frame(std::string_view name, std::string_view in, int left, int top, int width,
                           int height) {
    return control(name, Kind::Frame, in, "", left, top, width, height, kGrey, FontCode::W,
                   Align::Center);
}

constexpr ControlRow label(std::string_view name, std::string_view in, std::string_view caption,
                           int left, int top, int width, int height, FontCode font, Align align) {
    return control(name, Kind::Label, in, caption, left, top, width, height, kGrey, font, align);
}

constexpr ControlRow button(std::string_view name, std::string_view in, std::string_view caption,
                            int left, int top, int width, int height, std::uint32_t back,
                            FontCode font) {
    return control(name, Kind::Button, in, caption, left, top, width, height, back, font,
                   Align::Center);
}

constexpr ControlRow option(std::string_view name, std::string_view in, std::string_view caption,
                            int left, int top, int width, int height) {
    return control(name, Kind::Option, in, caption, left, top, width, height, kGrey, FontCode::W,
                   Align::Left);
}

// The three display boxes: white, bordered, empty until the engine writes them.
constexpr ControlRow display(std::string_view name, int left, int top, int width, int height,
                             FontCode font, std::uint32_t text) {
    ControlRow row = control(name, Kind::Label, "Frame9", "", left, top, width, height, kWhite,
                             font, Align::Left);
    row.text = text;
    row.border = true;
    return row;
}

constexpr ControlRow only(models::ModelMask mask, ControlRow row) {
    row.models = mask;
    return row;
}

constexpr ControlRow hidden(ControlRow row) {
    row.hiddenAtStart = true;
    return row;
}

constexpr ControlRow selected(ControlRow row) {
    row.selectedAtStart = true;
    return row;
}

constexpr ControlRow inColour(std::uint32_t text, ControlRow row) {
    row.text = text;
    return row;
}

using enum FontCode;
constexpr Align kCentre = Align::Center;
constexpr Align kLeft = Align::Left;
constexpr Align kRight = Align::Right;

// The shared geometry is TR27K's; TR52's differences are its model overrides.
constexpr ControlRow kRows[] = {
    // Operating area: group frames.
    frame("Frame1", "Form1", 120, 240, 1695, 975),
    inColour(0xC00000, label("Label1", "Frame1", "POWER", 240, 240, 1095, 255, W, kCentre)),
    button("Command17", "Frame1", "ON", 120, 600, 615, 300, kGreen, P9B),
    button("Command18", "Frame1", "OFF", 960, 600, 615, 300, kRed, P9B),

    frame("Frame2", "Form1", 1920, 240, 2895, 975),
    label("Label2", "Frame2", "INPUT MODE SET", 480, 240, 1935, 255, W, kCentre),
    button("Command27", "Frame2", "PC1", 240, 600, 735, 300, kCyan, P9B),
    button("Command28", "Frame2", "PC2", 1200, 600, 495, 300, kCyan, P9B),
    button("Command29", "Frame2", "Video", 1920, 600, 735, 300, kCyan, P9B),

    only(kTR27KOnly, frame("Frame10", "Form1", 4920, 360, 2535, 855)),
    only(kTR27KOnly, label("Label14", "Frame10", "INPUT SIGNAL", 360, 240, 1935, 255, W, kCentre)),
    only(kTR27KOnly, button("Command37", "Frame10", "WIRED", 240, 480, 855, 255, kYellow, G9)),
    only(kTR27KOnly, button("Command38", "Frame10", "WIRELESS", 1320, 480, 975, 255, kYellow, G9)),

    frame("Frame3", "Form1", 120, 1440, 1695, 855),
    label("Label4", "Frame3", "SOUND MUTE", 120, 195, 1455, 300, W, kCentre),
    button("Command19", "Frame3", "ON", 120, 480, 615, 300, kGreen, P9B),
    button("Command20", "Frame3", "OFF", 960, 480, 615, 300, kRed, P9B),

    frame("Frame4", "Form1", 1920, 1440, 1695, 855),
    label("Label5", "Frame4", "NO SHOW", 360, 210, 1095, 285, W, kCentre),
    button("Command21", "Frame4", "ON", 120, 480, 615, 300, kGreen, P9B),
    button("Command22", "Frame4", "OFF", 960, 480, 615, 300, kRed, P9B),

    frame("Frame7", "Form1", 3720, 1440, 1695, 855),
    label("Label8", "Frame7", "FREEZE", 240, 210, 1215, 285, W, kCentre),
    button("Command25", "Frame7", "ON", 120, 480, 615, 300, kGreen, P9B),
    button("Command26", "Frame7", "OFF", 960, 480, 615, 300, kRed, P9B),

    frame("Frame6", "Form1", 5640, 1440, 1695, 855),
    label("Label7", "Frame6", "MENU", 360, 240, 975, 255, W, kCentre),
    button("Command23", "Frame6", "ON", 120, 480, 615, 300, kGreen, P9B),
    button("Command24", "Frame6", "OFF", 960, 480, 615, 300, kRed, P9B),

    frame("Frame5", "Form1", 7440, 1440, 1815, 855),
    label("Label6", "Frame5", "AV Size", 240, 210, 1335, 285, W, kCentre),
    button("Command31", "Frame5", "Regular", 120, 480, 855, 300, kCyan, P9),
    button("Command32", "Frame5", "Wide", 1080, 480, 615, 300, kCyan, P9),

    // Operating area: cursor pad.
    button("Command5", "Form1", "↑", 1200, 2520, 855, 375, kArrowOrange, P9B),
    button("Command9", "Form1", "←", 240, 3000, 855, 375, kArrowOrange, P9B),
    button("Command6", "Form1", "SELECT", 1200, 3000, 855, 375, kSelectOrange, G9),
    button("Command8", "Form1", "→", 2160, 3000, 855, 375, kArrowOrange, P9B),
    button("Command7", "Form1", "↓", 1200, 3480, 855, 375, kArrowOrange, P9B),

    // Operating area: adjustment keys.
    label("Label3", "Form1", "VOL", 3600, 2520, 495, 255, W, kCentre),
    button("Command1", "Form1", "+", 3600, 2880, 375, 255, kApricot, W),
    button("Command2", "Form1", "-", 3600, 3240, 375, 255, kApricot, W),
    label("Label13", "Form1", "Brightness", 4560, 2520, 975, 255, G9, kLeft),
    button("Command15", "Form1", "+", 4800, 2880, 375, 255, kCyan, G9),
    button("Command35", "Form1", "-", 4800, 3240, 375, 255, kCyan, G9),
    label("Label17", "Form1", "D.Zoom", 6360, 2520, 735, 255, G9, kLeft),
    button("Command48", "Form1", "+", 6480, 2880, 375, 255, kCyan, P9),
    button("Command49", "Form1", "-", 6480, 3240, 375, 255, kCyan, G9),
    label("Label18", "Form1", "Keystone", 7320, 2520, 855, 255, G9, kLeft),
    button("Command50", "Form1", "+", 7440, 2880, 375, 255, kCyan, G9),
    button("Command51", "Form1", "-", 7440, 3240, 375, 255, kCyan, G9),

    // Operating area: right-hand key column.
    button("Command13", "Form1", "A-IMAGE", 8400, 2760, 975, 250, kTeal, G9),
    button("Command30", "Form1", "IMAGE", 8400, 3120, 975, 255, kBlue, G9),
    button("Command14", "Form1", "P-TIMER", 8400, 3360, 975, 250, kBlue, G9),
    button("Command3", "Form1", "DISPLAY CLEAR", 8400, 3600, 975, 492, kBlue, G9),
    button("Command16", "Form1", "END", 8400, 4320, 975, 375, kGrey, W),

    // Operating area: picture-mode keys.
    button("Command4", "Form1", "STAND", 240, 4080, 975, 255, kCyan, G9),
    button("Command10", "Form1", "REAL", 1200, 4080, 975, 255, kCyan, G9),
    button("Command11", "Form1", "CINEMA", 2160, 4080, 975, 255, kCyan, G9),
    button("Command39", "Form1", "IMAGE1", 240, 4320, 975, 255, kCyan, G9),
    button("Command40", "Form1", "IMAGE2", 1200, 4320, 975, 255, kCyan, G9),
    button("Command41", "Form1", "IMAGE3", 2160, 4320, 975, 255, kCyan, G9),
    button("Command42", "Form1", "IMAGE4", 240, 4560, 975, 255, kCyan, G9),
    button("Command12", "Form1", "B.Board", 1200, 4560, 975, 255, kCyan, G9),
    button("Command36", "Form1", "Dynamic", 2160, 4560, 975, 255, kCyan, G9),

    // Operating area: remote-control lock keys.
    label("Label19", "Form1", "R/C KEY OFF", 6600, 3720, 1332, 252, G9, kLeft),
    button("Command56", "Form1", "NONE", 6600, 3960, 1200, 372, kCyan, G9),
    button("Command57", "Form1", "R/C", 6600, 4320, 606, 372, kCyan, G9),
    button("Command58", "Form1", "KEY", 7200, 4320, 606, 372, kCyan, G9),

    // Operating area: port and speed. Frame8 comes after "COM" so that it lies over it.
    button("Command33", "Form1", "COM", 4080, 4200, 1815, 375, kSystemButtonFace, P9),
    hidden(frame("Frame8", "Form1", 3480, 3600, 2775, 1185)),
    option("Option1", "Frame8", "COM1", 240, 240, 1215, 255),
    option("Option2", "Frame8", "COM2", 1560, 240, 1095, 255),
    frame("Frame13", "Frame8", 120, 480, 2535, 615),
    selected(option("Option9", "Frame13", "19200", 120, 240, 1095, 255)),
    option("Option10", "Frame13", "9600", 1440, 240, 975, 300),

    control("Image1", Kind::Picture, "Form1", "", 8160, 120, 1200, 390, kGrey, W, kLeft),

    // Data area.
    frame("Frame9", "Form1", 45, 4920, 6312, 1290),
    label("Label9", "Frame9", "TXD", 105, 210, 390, 285, G9, kRight),
    display("Label11", 600, 180, 5610, 300, P10B, kBlack),
    label("Label10", "Frame9", "RXD", 75, 555, 450, 300, G9, kRight),
    display("Label12", 600, 540, 5616, 300, P10B, kBlack),
    label("Label23", "Frame9", "STATUS", 120, 960, 735, 225, G8, kLeft),
    display("Label22", 930, 915, 5295, 300, P9B, 0xFF0000),
    hidden(button("Command34", "Form1", "データを表示する", 6600, 5040, 1200, 375, kGrey, P9)),
    button("Command44", "Form1", "STATUS", 6480, 5640, 975, 255, kCyan, G8B),
    button("Command45", "Form1", "MODE", 6480, 5880, 975, 255, kCyan, G8B),
    button("Command46", "Form1", "L-TIME", 7440, 5640, 975, 255, kCyan, G8B),
    button("Command47", "Form1", "SETTING", 7440, 5880, 975, 255, kCyan, G8B),
    button("Command54", "Form1", "TEMP", 8400, 5640, 975, 252, kCyan, G8B),
    only(kTR27KOnly, button("Command52", "Form1", "L-Mode", 8400, 5880, 975, 255, kCyan, W)),

    // Service area.
    frame("Frame14", "Form1", 120, 6735, 7215, 1320),
    label("Label15", "Frame14", "PC1", 120, 240, 735, 255, W, kLeft),
    button("Command64", "Frame14", "RGB", 960, 240, 975, 255, kCyan, G9),
    only(kTR27KOnly,
         button("Command65", "Frame14", "DVI(PC Digital)", 1920, 240, 1815, 255, kCyan, G9)),
    only(kTR27KOnly,
         button("Command66", "Frame14", "DVI(AV HDCP)", 3720, 240, 1815, 255, kCyan, G9)),
    label("Label16", "Frame14", "PC2", 120, 480, 735, 255, W, kLeft),
    button("Command72", "Frame14", "RGB", 960, 480, 975, 255, kCyan, G9),
    button("Command74", "Frame14", "Component", 1920, 480, 1450, 255, kCyan, G9),
    button("Command73", "Frame14", "Scart", 3360, 480, 975, 255, kCyan, G9),
    label("Label24", "Frame14", "Video", 120, 720, 855, 255, W, kLeft),
    button("Command81", "Frame14", "Auto", 960, 720, 975, 255, kCyan, G9),
    button("Command82", "Frame14", "Video", 1920, 720, 975, 255, kCyan, G9),
    button("Command69", "Frame14", "S-Video", 2880, 720, 1095, 255, kCyan, G9),

    frame("Frame16", "Form1", 7440, 6750, 1935, 945),
    label("Label27", "Frame16", "FAN SPEED", 345, 240, 1215, 255, W, kLeft),
    button("Command97", "Frame16", "MAX", 120, 600, 855, 255, kGreen, W),
    button("Command98", "Frame16", "NOR", 960, 600, 855, 255, kGreen, W),

    frame("Frame15", "Form1", 120, 8040, 7215, 570),
    label("Label26", "Frame15", "CMD", 120, 240, 495, 255, G10, kLeft),
    control("Text1", Kind::TextBox, "Frame15", "", 600, 165, 5055, 345, kSystemWindow, G10B, kLeft),
    button("Command95", "Frame15", "SEND", 5760, 240, 735, 255, kGreen, W),
    button("Command96", "Frame15", "CLS", 6480, 240, 615, 255, kRed, W),

    only(kTR52Only, frame("Frame11", "Form1", 7440, 7680, 1935, 975)),
    only(kTR52Only, button("Command60", "Frame11", "Capture", 240, 240, 1455, 255, kRed, G9)),
    only(kTR52Only, button("Command61", "Frame11", "OFF", 120, 600, 495, 255, kRed, G9)),
    only(kTR52Only, button("Command63", "Frame11", "DEF", 600, 600, 495, 255, kGreen, G9)),
    only(kTR52Only, button("Command67", "Frame11", "User", 1080, 600, 735, 255, kCyan, G9)),
};

constexpr LineRow kLines[] = {
    {"Line1", 1080, 2400, 1080, 2880},  {"Line2", 2160, 2400, 2160, 2880},
    {"Line3", 3120, 2880, 3120, 3480},  {"Line4", 2160, 3480, 2160, 3960},
    {"Line5", 1080, 3480, 1080, 3960},  {"Line6", 120, 2880, 120, 3480},
    {"Line7", 1080, 2400, 2160, 2400},  {"Line8", 120, 2880, 1080, 2880},
    {"Line9", 2160, 2880, 3120, 2880},  {"Line10", 120, 3480, 1080, 3480},
    {"Line11", 1080, 3960, 2160, 3960}, {"Line12", 2160, 3480, 3120, 3480},
};

constexpr std::string_view kTabOrder[] = {
    "Command17", "Command1",  "Command2",  "Command3",  "Command5",  "Command6",  "Command7",
    "Command8",  "Command9",  "Command13", "Command14", "Command16", "Command18", "Command19",
    "Command20", "Command21", "Command22", "Command23", "Command24", "Command25", "Command26",
    "Command27", "Command28", "Command29", "Command31", "Command32", "Command33", "Option1",
    "Option2",   "Command34", "Command15", "Command35", "Command44", "Command45", "Command46",
    "Command47", "Command48", "Command49", "Command50", "Command51", "Command54", "Command56",
    "Command57", "Command58", "Command30", "Option9",   "Option10",  "Command4",  "Command10",
    "Command11", "Command39", "Command40", "Command41", "Command42", "Command64", "Command65",
    "Command66", "Command69", "Command72", "Command73", "Command74", "Command81", "Command82",
    "Text1",     "Command95", "Command96", "Command97", "Command98", "Command60", "Command61",
    "Command63", "Command67", "Command12", "Command36", "Command37", "Command38", "Command52",
};

}  // namespace

std::span<const ControlRow> layoutRows() {
    return kRows;
}

std::span<const LineRow> lineRows() {
    return kLines;
}

std::span<const std::string_view> tabOrder() {
    return kTabOrder;
}

std::optional<PlacedControl> place(std::string_view name, const models::Model& model) {
    const auto row = std::ranges::find(kRows, name, &ControlRow::name);
    if (row == std::end(kRows) || !model.has(row->models)) return std::nullopt;
    PlacedControl placed{&*row, row->left, row->top, row->width, row->height};
    for (const models::GeometryOverride& change : model.overrides) {
        if (change.control != name) continue;
        if (change.left >= 0) placed.left = change.left;
        if (change.top >= 0) placed.top = change.top;
        if (change.width >= 0) placed.width = change.width;
        if (change.height >= 0) placed.height = change.height;
    }
    return placed;
}

}  // namespace panel
