#include "tables/buttons.h"

#include <algorithm>
#include <iterator>

namespace panel {

namespace {

using models::kTR27KOnly;
using models::kTR52Only;
using enum Timing;

constexpr ButtonRow kButtons[] = {
    // Operating area: the titled groups.
    {"Command17", "C00", Plain, "Label1"},               // "POWER" ON
    {"Command18", "C01", Plain, "Label1"},               // "POWER" OFF
    {"Command27", "C05", Plain, "Label2"},               // "INPUT MODE SET" PC1
    {"Command28", "C06", Plain, "Label2"},               // "INPUT MODE SET" PC2
    {"Command29", "C07", Plain, "Label2"},               // "INPUT MODE SET" Video
    {"Command37", "C81", Plain, "Label14", kTR27KOnly},  // "INPUT SIGNAL" WIRED
    {"Command38", "C82", Plain, "Label14", kTR27KOnly},  // "INPUT SIGNAL" WIRELESS
    {"Command19", "C0B", Plain, "Label4"},               // "SOUND MUTE" ON
    {"Command20", "C0C", Plain, "Label4"},               // "SOUND MUTE" OFF
    {"Command21", "C0D", Plain, "Label5"},               // "NO SHOW" ON
    {"Command22", "C0E", Plain, "Label5"},               // "NO SHOW" OFF
    {"Command25", "C43", Plain, "Label8"},               // "FREEZE" ON
    {"Command26", "C44", Plain, "Label8"},               // "FREEZE" OFF
    {"Command23", "C1C", Menu, "Label7"},                // "MENU" ON
    {"Command24", "C1D", Plain, "Label7"},  // "MENU" OFF: leaves the arrow settings alone
    {"Command31", "C0F", Plain, "Label6"},  // "AV Size" Regular
    {"Command32", "C10", Plain, "Label6"},  // "AV Size" Wide

    // Operating area: right-hand column and remote-control lock.
    {"Command13", "C89", Menu, ""},   // A-IMAGE
    {"Command30", "C27", Plain, ""},  // IMAGE
    {"Command14", "C8A", Plain, ""},  // P-TIMER
    {"Command3", "C1E", Plain, ""},   // DISPLAY CLEAR: the projector's, not the panel's displays
    {"Command56", "CF KEYDIS NONE", Plain, "Label19"},
    {"Command57", "CF KEYDIS RC", Plain, "Label19"},
    {"Command58", "CF KEYDIS KEY", Plain, "Label19"},

    // Operating area: picture modes.
    {"Command4", "C11", Timed2000, ""},   // STAND
    {"Command10", "C12", Timed2000, ""},  // REAL
    {"Command11", "C13", Timed2000, ""},  // CINEMA
    {"Command39", "C14", Timed2000, ""},  // IMAGE1
    {"Command40", "C15", Timed2000, ""},  // IMAGE2
    {"Command41", "C16", Timed2000, ""},  // IMAGE3
    {"Command42", "C17", Timed2000, ""},  // IMAGE4
    {"Command12", "C18", Timed2000, ""},  // B.Board
    {"Command36", "C19", Timed2000, ""},  // Dynamic

    // Data area: the status queries the reply decoder knows.
    {"Command44", "CR0", Plain, ""},              // STATUS
    {"Command45", "CR1", Plain, ""},              // MODE
    {"Command46", "CR3", Plain, ""},              // L-TIME
    {"Command47", "CR4", Plain, ""},              // SETTING
    {"Command54", "CR6", Plain, ""},              // TEMP
    {"Command52", "CR7", Plain, "", kTR27KOnly},  // L-Mode

    // Service area: input sources.
    {"Command64", "C50", Timed5000, "Label15"},              // PC1 RGB
    {"Command65", "C52", Timed5000, "Label15", kTR27KOnly},  // PC1 DVI(PC Digital)
    {"Command66", "C53", Timed5000, "Label15", kTR27KOnly},  // PC1 DVI(AV HDCP)
    {"Command72", "C25", Timed5000, "Label16"},              // PC2 RGB
    {"Command74", "C24", Timed5000, "Label16"},              // PC2 Component
    {"Command73", "C26", Timed5000, "Label16"},              // PC2 Scart
    {"Command81", "C32", Timed5000, "Label24"},              // Video Auto
    {"Command82", "C33", Timed5000, "Label24"},              // Video Video
    {"Command69", "C34", Timed5000, "Label24"},              // Video S-Video

    // Service area: fan speed and the logo keys.
    {"Command97", "CF FANSPEED MAX", Plain, "Label27"},
    {"Command98", "CF FANSPEED NOR", Plain, "Label27"},
    {"Command60", "CF LOGOCAPTURE START", Plain, "", kTR52Only},  // the projector's spelling
    {"Command61", "CF LOGO OFF", Plain, "", kTR52Only},
    {"Command63", "CF LOGO DEFAULT", Plain, "", kTR52Only},
    {"Command67", "CF LOGO USER", Plain, "", kTR52Only},
};

// Arrows take their periods from arrowMode; their three period fields are unused.
constexpr HoldKeyRow kHoldKeys[] = {
    {"Command1", 1, "C09", false, 250, 200, 245, false, "Label3"},     // "VOL" +
    {"Command2", 2, "C0A", false, 250, 200, 245, false, "Label3"},     // "VOL" -
    {"Command15", 7, "C20", false, 50, 25, 25, false, "Label13"},      // "Brightness" +
    {"Command35", 8, "C21", false, 50, 25, 25, false, "Label13"},      // "Brightness" -
    {"Command48", 17, "C30", false, 250, 200, 245, true, "Label17"},   // "D.Zoom" +
    {"Command49", 18, "C31", false, 250, 200, 245, true, "Label17"},   // "D.Zoom" -
    {"Command50", 19, "C8E", false, 250, 200, 245, false, "Label18"},  // "Keystone" +
    {"Command51", 20, "C8F", false, 250, 200, 245, false, "Label18"},  // "Keystone" -
    {"Command6", 13, "C3F", false, 500, 200, 245, false, ""},          // SELECT
    {"Command5", 3, "C3C", true, 0, 0, 0, false, ""},                  // up
    {"Command7", 4, "C3D", true, 0, 0, 0, false, ""},                  // down
    {"Command9", 5, "C3B", true, 0, 0, 0, false, ""},                  // left
    {"Command8", 6, "C3A", true, 0, 0, 0, false, ""},                  // right
};

}  // namespace

int replyWindowMs(Timing timing) {
    switch (timing) {
        case Timed2000:
            return kTimed2000Periods.replyWindowMs;
        case Timed5000:
            return kTimed5000Periods.replyWindowMs;
        case Plain:
        case Menu:
            break;
    }
    return kReplyWindowMs;
}

int replyWindowMs(std::string_view code) {
    // No two buttons send the same code (the tables' tests hold it).
    const auto row = std::ranges::find(kButtons, code, &ButtonRow::command);
    return row == std::end(kButtons) ? kReplyWindowMs : replyWindowMs(row->timing);
}

int repeatPeriodMs(const HoldKeyRow& key) {
    return key.arrow ? kRepeatPeriodMs : key.timer1;
}

std::span<const ButtonRow> buttonRows() {
    return kButtons;
}

std::span<const HoldKeyRow> holdKeyRows() {
    return kHoldKeys;
}

std::string_view repeatCommand(std::uint8_t code) {
    const auto key = std::ranges::find(kHoldKeys, code, &HoldKeyRow::code);
    return key == std::end(kHoldKeys) ? std::string_view{} : key->command;
}

}  // namespace panel
