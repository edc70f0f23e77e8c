#include "tables/layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <utility>

#include "models/model.h"

namespace panel {
namespace {

using Names = std::set<std::string_view>;

class LayoutOfModel : public ::testing::TestWithParam<const models::Model*> {
  protected:
    std::optional<PlacedControl> at(std::string_view name) const {
        return place(name, *GetParam());
    }
};

INSTANTIATE_TEST_SUITE_P(Models, LayoutOfModel, ::testing::Values(&models::kTR27K, &models::kTR52),
                         [](const auto& info) { return std::string(info.param->name); });

bool isListed(std::string_view name) {
    return std::ranges::count(layoutRows(), name, &ControlRow::name) == 1;
}

TEST_P(LayoutOfModel, EveryControlFollowsAndFitsInsideItsContainer) {
    std::map<std::string_view, PlacedControl> placed{
        {"Form1", {nullptr, 0, 0, kClientWidth, kClientHeight}}};
    for (const ControlRow& row : layoutRows()) {
        const auto control = at(row.name);
        if (!control) continue;
        EXPECT_TRUE(isListed(row.name)) << row.name << " is not unique";
        const auto box = placed.find(row.container);
        ASSERT_NE(box, placed.end()) << row.name << " before " << row.container;
        EXPECT_TRUE(!box->second.row || box->second.row->kind == Kind::Frame) << row.name;
        EXPECT_TRUE(control->left >= 0 && control->left + control->width <= box->second.width &&
                    control->top >= 0 && control->top + control->height <= box->second.height)
            << row.name << " sticks out of " << row.container;
        placed.emplace(row.name, *control);
    }
}

// The window's height alone decides what is seen, so no control may straddle two areas.
TEST_P(LayoutOfModel, EveryWindowLevelControlLiesInOneArea) {
    constexpr std::pair<int, int> kAreas[] = {{120, 4815}, {4920, 6210}, {6735, 8655}};
    for (const ControlRow& row : layoutRows()) {
        const auto c = at(row.name);
        if (!c || row.container != "Form1") continue;
        EXPECT_TRUE(std::ranges::any_of(kAreas, [&](auto area) {
            return area.first <= c->top && c->top + c->height <= area.second;
        })) << row.name;
    }
}

TEST_P(LayoutOfModel, ShownSettingsFrameLiesOverComKey) {
    const auto frame = at("Frame8");
    const auto com = at("Command33");
    ASSERT_TRUE(frame && com);
    EXPECT_GT(frame->row, com->row) << "a later sibling is drawn above";
    EXPECT_TRUE(frame->left <= com->left && frame->top <= com->top &&
                frame->left + frame->width >= com->left + com->width &&
                frame->top + frame->height >= com->top + com->height);
}

TEST_P(LayoutOfModel, TabOrderHoldsExactlyTheFocusableControls) {
    const auto focusable = [](Kind k) {
        return k == Kind::Button || k == Kind::Option || k == Kind::TextBox;
    };
    Names inOrder, focusables;
    for (std::string_view name : tabOrder()) {
        EXPECT_TRUE(isListed(name)) << name;
        if (const auto c = at(name)) {
            EXPECT_TRUE(focusable(c->row->kind) && inOrder.insert(name).second) << name;
        }
    }
    for (const ControlRow& row : layoutRows())
        if (focusable(row.kind) && at(row.name)) focusables.insert(row.name);
    EXPECT_EQ(inOrder, focusables);
    EXPECT_EQ(tabOrder().front(), "Command17") << "the focus starts here";
}

TEST(Layout, StartStateAndDisplayBoxes) {
    Names hidden, selected;
    for (const ControlRow& row : layoutRows()) {
        if (row.hiddenAtStart) hidden.insert(row.name);
        if (row.selectedAtStart) selected.insert(row.name);
        // The display boxes are the bordered labels; every other label carries a title.
        if (row.kind == Kind::Label) {
            EXPECT_EQ(row.border, row.caption.empty()) << row.name;
        }
    }
    EXPECT_EQ(hidden, (Names{"Frame8", "Command34"})) << "Frame8's children hide with it";
    EXPECT_EQ(selected, (Names{"Option9"})) << "the port is chosen at load, not here";
}

TEST(Layout, ModelsDifferOnlyWhereTheyShould) {
    Names tr27kOnly, tr52Only, moved;
    for (const ControlRow& row : layoutRows()) {
        const auto a = place(row.name, models::kTR27K);
        const auto b = place(row.name, models::kTR52);
        if (a && !b) tr27kOnly.insert(row.name);
        if (b && !a) tr52Only.insert(row.name);
        if (a && b &&
            std::tie(a->left, a->top, a->width, a->height) !=
                std::tie(b->left, b->top, b->width, b->height))
            moved.insert(row.name);
    }
    EXPECT_EQ(tr27kOnly, (Names{"Frame10", "Label14", "Command37", "Command38", "Command52",
                                "Command65", "Command66"}));
    EXPECT_EQ(tr52Only, (Names{"Frame11", "Command60", "Command61", "Command63", "Command67"}));
    EXPECT_EQ(moved, (Names{"Frame2", "Command27", "Command28", "Command29", "Frame14"}));
    EXPECT_EQ(models::kTR52.overrides.size(), moved.size()) << "one override per control";
    EXPECT_TRUE(models::kTR27K.overrides.empty()) << "the shared geometry is TR27K's";
    for (const models::Model* m : {&models::kTR27K, &models::kTR52})
        EXPECT_EQ(m->caption, "ORVA   " + std::string(m->name) + "   CONTROL   Ver.1.40");
}

// The twelve lines are one closed outline: every corner joins exactly two of them.
TEST(Layout, LinesFormOneClosedOutline) {
    ASSERT_EQ(lineRows().size(), 12u);
    std::map<std::pair<int, int>, int> ends;
    for (const LineRow& line : lineRows()) {
        EXPECT_TRUE((line.x1 == line.x2) != (line.y1 == line.y2)) << line.name;
        ++ends[{line.x1, line.y1}];
        ++ends[{line.x2, line.y2}];
    }
    for (const auto& [point, count] : ends)
        EXPECT_EQ(count, 2) << point.first << "," << point.second;
}

}  // namespace
}  // namespace panel
