#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "models/model.h"

namespace panel {

// How a command button handles the timers around its send.
enum class Timing {
    Plain,       // send; the periods stay as they are
    Timed2000,   // Timer2 2000, Timer4 2500, then send
    Timed5000,   // Timer2 5000, Timer4 5500, then send
    Menu,        // send, then Timer1 200 and arrowMode 1
};

// The form timers' design periods (ms): the repeat tick (Timer1), the reply window (Timer2) and
// the display hold (Timer4), in force from start-up until a handler sets others.
inline constexpr int kRepeatPeriodMs = 200;
inline constexpr int kReplyWindowMs = 500;
inline constexpr int kDisplayHoldMs = 1000;

// The reply window (Timer2) and display hold (Timer4) a timed class sets before its send.
struct TimedPeriods {
    int replyWindowMs;
    int displayHoldMs;
};
inline constexpr TimedPeriods kTimed2000Periods{2000, 2500};
inline constexpr TimedPeriods kTimed5000Periods{5000, 5500};

// The reply window a button's send opens when the periods are the design ones: the timed
// classes' own, the design period for the others, which leave the periods as they are.
int replyWindowMs(Timing timing);

// The reply window the panel opens for a code sent at rest: that of the button that sends it
// (2000 ms for the picture modes, 5000 ms for the input sources), the design period for every
// other code, typed ones included.
int replyWindowMs(std::string_view code);

struct ButtonRow {
    std::string_view control;
    std::string_view command;
    Timing timing;
    // The label that titles the button's group on the window ("Label1", "POWER"); empty where
    // the window gives the group no title.
    std::string_view group;
    models::ModelMask models = models::kBothModels;
};

// Every fixed-command button of both models.
std::span<const ButtonRow> buttonRows();

// A key that repeats its command while a mouse button is held on it.
struct HoldKeyRow {
    std::string_view control;
    std::uint8_t code;         // repeatCode while held
    std::string_view command;
    bool arrow;                // periods by the arrow rule instead of the three below
    int timer1;                // periods set at the press (ms)
    int timer2;
    int timer4;
    bool dzoom;                // the release also sets Timer1 5 and arrowMode 3
    std::string_view group;    // the title label of its column, as for ButtonRow
};

std::span<const HoldKeyRow> holdKeyRows();

// How often a held key repeats right after start-up: its own Timer1 period, or for an arrow
// the one in force, the design period.
int repeatPeriodMs(const HoldKeyRow& key);

// The command the Timer1 tick repeats for a repeatCode; empty for a code no key has.
std::string_view repeatCommand(std::uint8_t code);

}  // namespace panel
