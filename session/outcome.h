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
// display, status, ok and ms.
QJsonObject outcomeObject(const Outcome& outcome, const models::Model& model);

}  // namespace session
