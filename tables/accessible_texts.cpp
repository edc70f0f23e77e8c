#include "tables/accessible_texts.h"

#include <algorithm>
#include <iterator>

namespace panel {

namespace {

// Descriptions are short phrases a screen reader speaks after the caption, in the panel's
// own words: "VOL" is the volume, "R/C" the remote control, "KEY" the projector's own keys.
constexpr AccessibleTextRow kRows[] = {
    // Frames without a title label; a titled frame is named by its label ("POWER", ...).
    {"Frame8", "COM port and speed", ""},
    {"Frame13", "speed", ""},
    {"Frame9", "data", ""},
    {"Frame14", "input sources", ""},
    {"Frame11", "logo", ""},
    {"Image1", "ORVA projector", ""},
    {"Text1", "CMD", "free command, sent as typed by SEND"},

    // Adjustment keys and cursor pad: a "+" or an arrow says nothing of what it adjusts.
    {"Command1", "", "volume up"},
    {"Command2", "", "volume down"},
    {"Command15", "", "brightness up"},
    {"Command35", "", "brightness down"},
    {"Command48", "", "digital zoom in"},
    {"Command49", "", "digital zoom out"},
    {"Command50", "", "keystone up"},
    {"Command51", "", "keystone down"},
    {"Command5", "", "cursor up"},
    {"Command7", "", "cursor down"},
    {"Command9", "", "cursor left"},
    {"Command8", "", "cursor right"},
    {"Command6", "", "cursor select"},

    // Remote-control lock keys, under the label "R/C KEY OFF".
    {"Command56", "", "remote control and projector keys on"},
    {"Command57", "", "remote control keys off"},
    {"Command58", "", "projector keys off"},

    // Picture-mode keys: a block without a title.
    {"Command4", "", "picture mode"},
    {"Command10", "", "picture mode"},
    {"Command11", "", "picture mode"},
    {"Command39", "", "picture mode"},
    {"Command40", "", "picture mode"},
    {"Command41", "", "picture mode"},
    {"Command42", "", "picture mode"},
    {"Command12", "", "picture mode"},
    {"Command36", "", "picture mode"},

    // Right-hand column and the keys of the data and settings views.
    {"Command3", "", "clears the projector's display, not the panel's"},
    {"Command33", "", "shows the COM port and speed settings"},
    {"Command34", "", "opens or closes the data view"},
    {"Option9", "", "19200 baud"},
    {"Option10", "", "9600 baud"},

    // The three displays and the queries whose replies STATUS decodes.
    {"Label11", "", "TXD, the command sent"},
    {"Label12", "", "RXD, the reply received"},
    {"Label22", "", "STATUS, the decoded reply"},
    {"Command44", "", "operating state query"},
    {"Command45", "", "selected input query"},
    {"Command46", "", "lamp hours query"},
    {"Command47", "", "picture reversal query"},
    {"Command54", "", "temperatures query"},
    {"Command52", "", "lamp mode query"},

    // Input sources: rows "PC1", "PC2" and "Video" in one untitled frame.
    {"Command64", "", "PC1 input RGB"},
    {"Command65", "", "PC1 input DVI, PC digital"},
    {"Command66", "", "PC1 input DVI, AV HDCP"},
    {"Command72", "", "PC2 input RGB"},
    {"Command74", "", "PC2 input component"},
    {"Command73", "", "PC2 input Scart"},
    {"Command81", "", "Video input auto"},
    {"Command82", "", "Video input video"},
    {"Command69", "", "Video input S-Video"},

    // Fan speed, the free command's keys and the logo keys.
    {"Command97", "", "fan speed maximum"},
    {"Command98", "", "fan speed normal"},
    {"Command95", "", "sends the free command"},
    {"Command96", "", "empties the free command"},
    {"Command60", "", "logo capture"},
    {"Command61", "", "logo off"},
    {"Command63", "", "logo default"},
    {"Command67", "", "logo user"},
};

}  // namespace

std::span<const AccessibleTextRow> accessibleTextRows() { return kRows; }

const AccessibleTextRow* accessibleText(std::string_view control) {
    const auto row = std::ranges::find(kRows, control, &AccessibleTextRow::control);
    return row == std::end(kRows) ? nullptr : row;
}

}  // namespace panel
