#pragma once

#include <QJsonObject>
#include <optional>
#include <string>

#include "models/model.h"
#include "session/session.h"

namespace session {

// What the panel's RXD shows for the reply: its display form, or " X X X X" when nothing came.
std::string receivedDisplay(const Outcome& outcome);

// What the panel's STATUS shows for the reply, decoded by the engine as the panel decodes it;
// nothing when the command is no status query, nothing came, or no table row matches.
std::optional<std::string> statusOf(const Outcome& outcome, const models::Model& model);

// The outcome as every program reports it to machines: the keys command, sent, reply,
// display, status, ok, refused and ms.
QJsonObject outcomeObject(const Outcome& outcome, const models::Model& model);

// Bytes of no command as every program reports them to machines: the keys unclaimed (the
// bytes), display (their display form), after (the command they followed, null when none)
// and ms (from that command's write to their first byte).
QJsonObject unclaimedObject(const Unclaimed& unclaimed);

}  // namespace session
