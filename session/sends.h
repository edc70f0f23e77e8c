#pragma once

#include <optional>
#include <string>
#include <vector>

#include "session/session.h"
#include "tables/names.h"

// What goes on the line for a request, as the panel sends it: every program builds its sends
// here. Each send waits for its reply as long as the panel's button for the code does
// (panel::replyWindowMs), or `windowMs` when one is given.
namespace session {

Send codeSend(std::string code, std::optional<int> windowMs = {});

// A button pressed: a command button's one send; a hold key's command `times` times, each
// repeat due the key's repeat period after the one before, as holding it on the panel does.
// Throws std::invalid_argument for times below 1, or above 1 for a command button.
std::vector<Send> pressSends(const panel::NamedButton& button, int times = 1,
                             std::optional<int> windowMs = {});

// The status queries, in the decoder's order.
std::vector<Send> statusSends(std::optional<int> windowMs = {});

}  // namespace session
