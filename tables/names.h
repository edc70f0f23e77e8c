#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "models/model.h"
#include "tables/buttons.h"

namespace panel {

// A button of a model as scripts name it ("power-on", "vol-up"). Exactly one of `button` and
// `holdKey` is set.
struct NamedButton {
    std::string name;
    std::string_view control;
    // What the window shows: the button's caption, and the title of its group ("" where the
    // group has none), as in "VOL" "+" or "FAN SPEED" "MAX".
    std::string_view caption;
    std::string_view title;
    const ButtonRow* button = nullptr;
    const HoldKeyRow* holdKey = nullptr;

    std::string_view command() const { return button ? button->command : holdKey->command; }
};

// The model's command buttons and hold keys in the window's layout order, each named after its
// caption: the caption's words in lower case joined by "-", with the words of its group's
// title in front where another of the model's buttons has the same caption. A caption that is
// a symbol is a word: "+" "up", "-" "down", the arrows "up", "down", "left", "right".
std::vector<NamedButton> namedButtons(const models::Model& model);

// The words of a caption or title as a name has them: "DVI(PC Digital)" gives
// "dvi-pc-digital", "+" gives "up"; "" when it has none.
std::string nameWords(std::string_view caption);

}  // namespace panel
