#pragma once

#include <span>
#include <string_view>

namespace panel {

// What assistive technology tells a listener about a control besides its caption. A button's
// name is always its caption and a label's name always its text; the table names only the
// controls that have neither (the untitled frames, the picture, the text box) and describes
// what a control does where its caption alone says little ("+", "R/C", "RGB" twice, ...).
struct AccessibleTextRow {
    std::string_view control;
    std::string_view name;         // empty: the control's own caption, text or title
    std::string_view description;  // empty: none
};

std::span<const AccessibleTextRow> accessibleTextRows();

// The row of a control, or nullptr when the table has none.
const AccessibleTextRow* accessibleText(std::string_view control);

}  // namespace panel
