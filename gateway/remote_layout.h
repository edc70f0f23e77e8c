#pragma once

#include <QJsonObject>

#include "models/model.h"

namespace gateway {

// The web remote of a model, from the panel's tables alone: its sections in the window's
// order, each with its title and its buttons (and the labels that name rows of them), each
// placed on a grid of rows and columns that keeps the window's arrangement (the cursor pad a
// cross, the picture modes three by three). A button has the name projectorctl gives it, the
// panel's caption and colours, what a screen reader says besides the caption, and for a hold
// key its repeat period.
//
//   {"model": "TR27K", "caption": "ORVA   TR27K   CONTROL   Ver.1.40",
//    "sections": [{"title": "POWER", "items": [
//        {"name": "power-on", "caption": "ON", "description": "", "back": "#c0ffc0",
//         "text": "#000000", "row": 1, "column": 1, "columns": 1}, ...]}, ...]}
//
// A hold key has "repeatMs"; a label has no "name".
QJsonObject remoteLayout(const models::Model& model);

}  // namespace gateway
