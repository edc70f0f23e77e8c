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

struct ButtonRow {
    std::string_view control;
    std::string_view command;
    Timing timing;
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
};

std::span<const HoldKeyRow> holdKeyRows();

// The command the Timer1 tick repeats for a repeatCode; empty for a code no key has.
std::string_view repeatCommand(std::uint8_t code);

}  // namespace panel
