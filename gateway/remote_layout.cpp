#include "gateway/remote_layout.h"

#include <QJsonArray>
#include <algorithm>
#include <map>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

#include "tables/accessible_texts.h"
#include "tables/buttons.h"
#include "tables/layout.h"
#include "tables/names.h"

namespace gateway {

namespace {

// Controls this close (twips) are one block of the window, and edges this close one row or
// column of the grid: the window's gaps inside a block are at most 110 twips, between blocks
// at least 225.
constexpr int kNearTwips = 120;

QString text(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

QString colour(std::uint32_t rgb) {
    if (rgb == panel::kSystemButtonFace || rgb == panel::kSystemWindow) rgb = panel::kGrey;
    return QStringLiteral("#%1").arg(rgb, 6, 16, QLatin1Char('0'));
}

const panel::ControlRow& row(std::string_view name) {
    return *std::ranges::find(panel::layoutRows(), name, &panel::ControlRow::name);
}

// A control placed in the window's client area (twips).
struct Placed {
    const panel::ControlRow* row;
    int left, top, width, height;
};

Placed inWindow(std::string_view name, const models::Model& model) {
    const panel::PlacedControl p = *panel::place(name, model);
    Placed placed{p.row, p.left, p.top, p.width, p.height};
    for (std::string_view in = p.row->container; in != "Form1";) {
        const panel::PlacedControl frame = *panel::place(in, model);
        placed.left += frame.left;
        placed.top += frame.top;
        in = frame.row->container;
    }
    return placed;
}

bool near(const Placed& a, const Placed& b) {
    const int dx = std::max({0, a.left - (b.left + b.width), b.left - (a.left + a.width)});
    const int dy = std::max({0, a.top - (b.top + b.height), b.top - (a.top + a.height)});
    return std::max(dx, dy) <= kNearTwips;
}

struct Item {
    Placed placed;
    const panel::NamedButton* button = nullptr;  // null for a label
};

struct Section {
    QString title;
    std::vector<Item> items;
};

// Lines (rows or columns) from the items' start edges: each line begins at an edge more than
// kNearTwips beyond the line before.
std::vector<int> lines(std::vector<int> starts) {
    std::ranges::sort(starts);
    std::vector<int> out;
    for (int s : starts) {
        if (out.empty() || s - out.back() > kNearTwips) out.push_back(s);
    }
    return out;
}

// The 1-based line an edge starts on, and how many lines an extent covers.
int lineOf(const std::vector<int>& all, int start) {
    int index = 0;
    for (std::size_t i = 0; i < all.size(); ++i)
        if (all[i] <= start + kNearTwips) index = int(i);
    return index + 1;
}

int span(const std::vector<int>& all, int start, int length) {
    const int first = lineOf(all, start);
    int last = first;
    for (std::size_t i = std::size_t(first); i < all.size(); ++i)
        if (all[i] < start + length - kNearTwips) last = int(i) + 1;
    return last - first + 1;
}

QJsonObject itemObject(const Item& item, const std::vector<int>& rows,
                       const std::vector<int>& columns) {
    const panel::ControlRow& r = *item.placed.row;
    QJsonObject o{
        {QStringLiteral("caption"), text(r.caption)},
        {QStringLiteral("back"), colour(r.back)},
        {QStringLiteral("text"), colour(r.text)},
        {QStringLiteral("row"), lineOf(rows, item.placed.top)},
        {QStringLiteral("column"), lineOf(columns, item.placed.left)},
        {QStringLiteral("columns"), span(columns, item.placed.left, item.placed.width)},
    };
    if (!item.button) return o;
    const panel::NamedButton& b = *item.button;
    o.insert(QStringLiteral("name"), text(b.name));
    o.insert(QStringLiteral("code"), text(b.command()));
    const panel::AccessibleTextRow* accessible = panel::accessibleText(r.name);
    o.insert(QStringLiteral("description"), accessible ? text(accessible->description) : QString());
    if (b.holdKey) {
        o.insert(QStringLiteral("repeatMs"), panel::repeatPeriodMs(*b.holdKey));
        o.insert(QStringLiteral("holdMs"), panel::kDisplayHoldMs);
    } else {
        const panel::Timing t = b.button->timing;
        o.insert(QStringLiteral("holdMs"),
                 t == panel::Timing::Timed2000   ? panel::kTimed2000Periods.displayHoldMs
                 : t == panel::Timing::Timed5000 ? panel::kTimed5000Periods.displayHoldMs
                                                 : panel::kDisplayHoldMs);
    }
    return o;
}

}  // namespace

QJsonObject remoteLayout(const models::Model& model) {
    const std::vector<panel::NamedButton> named = panel::namedButtons(model);
    // Each button's section: its frame; on the window itself the label that titles its column;
    // otherwise the block of untitled keys it stands in.
    std::vector<Section> sections;
    std::map<std::string_view, std::size_t> byKey;
    std::vector<std::pair<Placed, std::size_t>> untitled;  // placed, section
    for (const panel::NamedButton& b : named) {
        const Placed placed = inWindow(b.control, model);
        const std::string_view group = b.button ? b.button->group : b.holdKey->group;
        std::string_view key = placed.row->container != "Form1" ? placed.row->container : group;
        std::optional<std::size_t> index;
        if (!key.empty()) {
            if (auto found = byKey.find(key); found != byKey.end()) index = found->second;
        } else {
            for (const auto& [other, section] : untitled)
                if (near(other, placed)) index = section;
        }
        if (!index) {
            index = sections.size();
            sections.push_back({});
            if (!key.empty()) byKey[key] = *index;
        }
        if (key.empty()) untitled.emplace_back(placed, *index);
        sections[*index].items.push_back(Item{placed, &b});
    }

    // A section's title: the label of all its buttons' group, else its frame's accessible name.
    // The labels of groups within it name its rows.
    for (auto& [key, index] : byKey) {
        Section& s = sections[index];
        std::vector<std::string_view> groups;
        for (const Item& item : s.items) {
            const std::string_view g =
                item.button->button ? item.button->button->group : item.button->holdKey->group;
            if (std::ranges::find(groups, g) == groups.end()) groups.push_back(g);
        }
        if (groups.size() == 1 && !groups.front().empty()) {
            s.title = text(row(groups.front()).caption);
            continue;
        }
        if (const panel::AccessibleTextRow* a = panel::accessibleText(key)) s.title = text(a->name);
        for (const std::string_view g : groups) {
            if (!g.empty()) s.items.push_back(Item{inWindow(g, model), nullptr});
        }
    }

    QJsonArray out;
    for (const Section& s : sections) {
        std::vector<int> tops, lefts;
        for (const Item& item : s.items) {
            tops.push_back(item.placed.top);
            lefts.push_back(item.placed.left);
        }
        const std::vector<int> rows = lines(tops), columns = lines(lefts);
        QJsonArray items;
        for (const Item& item : s.items) items.append(itemObject(item, rows, columns));
        out.append(QJsonObject{{QStringLiteral("title"), s.title},
                               {QStringLiteral("rows"), int(rows.size())},
                               {QStringLiteral("columns"), int(columns.size())},
                               {QStringLiteral("items"), items}});
    }
    return QJsonObject{{QStringLiteral("model"), text(model.name)},
                       {QStringLiteral("caption"), text(model.caption)},
                       {QStringLiteral("sections"), out}};
}

}  // namespace gateway
