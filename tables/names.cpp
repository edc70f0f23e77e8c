#include "tables/names.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <stdexcept>

#include "tables/layout.h"

namespace panel {

namespace {

struct SymbolWord {
    std::string_view symbol;
    std::string_view word;
};

constexpr SymbolWord kSymbolWords[] = {
    {"+", "up"}, {"-", "down"}, {"↑", "up"}, {"↓", "down"}, {"←", "left"}, {"→", "right"},
};

// Groups the window leaves untitled whose buttons need a title all the same, by their frame.
// The logo keys' "OFF" shares its caption with the "OFF" of five titled groups; the logo keys
// send the "CF LOGO" commands.
struct UntitledGroup {
    std::string_view container;
    std::string_view title;
};

constexpr UntitledGroup kUntitledGroups[] = {
    {"Frame11", "LOGO"},
};

const ControlRow& layoutRow(std::string_view control) {
    const auto row = std::ranges::find(layoutRows(), control, &ControlRow::name);
    if (row == layoutRows().end())
        throw std::logic_error(std::string(control) + " is not in the layout");
    return *row;
}

std::string_view groupTitle(const ControlRow& control, std::string_view group) {
    if (!group.empty()) return layoutRow(group).caption;
    const auto untitled =
        std::ranges::find(kUntitledGroups, control.container, &UntitledGroup::container);
    return untitled == std::end(kUntitledGroups) ? std::string_view{} : untitled->title;
}

bool isWordCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

}  // namespace

std::string nameWords(std::string_view caption) {
    const auto symbol = std::ranges::find(kSymbolWords, caption, &SymbolWord::symbol);
    if (symbol != std::end(kSymbolWords)) return std::string(symbol->word);
    std::string words;
    bool gap = false;
    for (const char c : caption) {
        if (!isWordCharacter(c)) {
            gap = true;
            continue;
        }
        if (gap && !words.empty()) words.push_back('-');
        gap = false;
        words.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
    }
    return words;
}

std::vector<NamedButton> namedButtons(const models::Model& model) {
    struct Entry {
        const ControlRow* control;
        std::string_view group;
        NamedButton named;
    };
    std::vector<Entry> entries;
    std::map<std::string_view, int> captions;
    for (const ControlRow& row : layoutRows()) {
        if (row.kind != Kind::Button || !model.has(row.models)) continue;
        Entry entry{&row, {}, {}};
        entry.named.control = row.name;
        if (const auto b = std::ranges::find(buttonRows(), row.name, &ButtonRow::control);
            b != buttonRows().end()) {
            entry.named.button = &*b;
            entry.group = b->group;
        } else if (const auto k = std::ranges::find(holdKeyRows(), row.name, &HoldKeyRow::control);
                   k != holdKeyRows().end()) {
            entry.named.holdKey = &*k;
            entry.group = k->group;
        } else {
            continue;  // END, COM and the keys of the data views and the free text send no command
        }
        ++captions[row.caption];
        entries.push_back(std::move(entry));
    }
    std::vector<NamedButton> named;
    named.reserve(entries.size());
    for (Entry& entry : entries) {
        std::string name = nameWords(entry.control->caption);
        const std::string_view title = groupTitle(*entry.control, entry.group);
        entry.named.caption = entry.control->caption;
        entry.named.title = title;
        if (captions[entry.control->caption] > 1) {
            if (title.empty()) {
                throw std::logic_error(std::string(entry.control->name) +
                                       ": its caption is not unique and its group has no title");
            }
            name = nameWords(title) + "-" + name;
        }
        entry.named.name = std::move(name);
        named.push_back(std::move(entry.named));
    }
    return named;
}

}  // namespace panel
