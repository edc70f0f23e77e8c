#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <utility>

#include "models/model.h"
#include "panel/layout.h"

namespace panel {
namespace {

using Names = std::set<std::string_view>;

const models::Model* const kModels[] = {&models::kTR27K, &models::kTR52};

class LayoutOfModel : public ::testing::TestWithParam<const models::Model*> {
protected:
    const models::Model& model() const { return *GetParam(); }
};

INSTANTIATE_TEST_SUITE_P(Models, LayoutOfModel, ::testing::ValuesIn(kModels),
                         [](const auto& info) { return std::string(info.param->name); });

bool focusable(Kind kind) {
    return kind == Kind::Button || kind == Kind::Option || kind == Kind::TextBox;
}

TEST(Layout, NamesAreUniqueAcrossBothModels) {
    Names names;
    for (const ControlRow& row : layoutRows()) EXPECT_TRUE(names.insert(row.name).second) << row.name;
}

TEST_P(LayoutOfModel, EveryControlFollowsAndFitsInsideItsContainer) {
    std::map<std::string_view, PlacedControl> placed{
        {"Form1", {nullptr, 0, 0, kClientWidth, kClientHeight}}};
    for (const ControlRow& row : layoutRows()) {
        const auto control = place(row.name, model());
        if (!control) continue;
        const auto container = placed.find(row.container);
        ASSERT_NE(container, placed.end()) << row.name << " before " << row.container;
        const PlacedControl& box = container->second;
        if (box.row != nullptr) {
            EXPECT_EQ(box.row->kind, Kind::Frame) << row.name;
        }
        EXPECT_GE(control->left, 0) << row.name;
        EXPECT_GE(control->top, 0) << row.name;
        EXPECT_LE(control->left + control->width, box.width) << row.name;
        EXPECT_LE(control->top + control->height, box.height) << row.name;
        placed.emplace(row.name, *control);
    }
}

// The window's height alone decides what is seen, so no control may straddle two areas.
TEST_P(LayoutOfModel, EveryWindowLevelControlLiesInOneArea) {
    constexpr std::pair<int, int> kAreas[] = {{120, 4815}, {4920, 6210}, {6735, 8655}};
    for (const ControlRow& row : layoutRows()) {
        const auto control = place(row.name, model());
        if (!control || row.container != "Form1") continue;
        const int bottom = control->top + control->height;
        EXPECT_TRUE(std::ranges::any_of(kAreas, [&](auto area) {
            return area.first <= control->top && bottom <= area.second;
        })) << row.name;
    }
}

TEST_P(LayoutOfModel, ShownSettingsFrameCoversComKey) {
    const auto frame = place("Frame8", model());
    const auto com = place("Command33", model());
    ASSERT_TRUE(frame && com);
    EXPECT_GT(frame->row, com->row) << "a later sibling is drawn above";
    EXPECT_LE(frame->left, com->left);
    EXPECT_LE(frame->top, com->top);
    EXPECT_GE(frame->left + frame->width, com->left + com->width);
    EXPECT_GE(frame->top + frame->height, com->top + com->height);
}

TEST_P(LayoutOfModel, TabOrderHoldsExactlyTheFocusableControls) {
    Names inOrder;
    for (std::string_view name : tabOrder()) {
        const auto control = place(name, model());
        if (!control) continue;
        EXPECT_TRUE(focusable(control->row->kind)) << name;
        EXPECT_TRUE(inOrder.insert(name).second) << name << " twice";
    }
    Names focusables;
    for (const ControlRow& row : layoutRows())
        if (focusable(row.kind) && model().has(row.models)) focusables.insert(row.name);
    EXPECT_EQ(inOrder, focusables);
    EXPECT_EQ(tabOrder().front(), "Command17") << "the focus starts here";
}

TEST(Layout, EveryTabOrderEntryIsAControl) {
    for (std::string_view name : tabOrder())
        EXPECT_TRUE(place(name, models::kTR27K) || place(name, models::kTR52)) << name;
}

TEST(Layout, StartStateAndDisplayBoxes) {
    Names hidden, selected;
    for (const ControlRow& row : layoutRows()) {
        if (row.hiddenAtStart) hidden.insert(row.name);
        if (row.selectedAtStart) selected.insert(row.name);
        // The display boxes are the bordered labels; every other label carries a title.
        if (row.kind == Kind::Label) {
            EXPECT_EQ(row.border, row.caption.empty()) << row.name;
        } else if (row.kind == Kind::Frame) {
            EXPECT_TRUE(row.caption.empty()) << row.name;
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
        if (a && b && (a->left != b->left || a->top != b->top || a->width != b->width ||
                       a->height != b->height))
            moved.insert(row.name);
    }
    EXPECT_EQ(tr27kOnly, (Names{"Frame10", "Label14", "Command37", "Command38", "Command52",
                                "Command65", "Command66"}));
    EXPECT_EQ(tr52Only, (Names{"Frame11", "Command60", "Command61", "Command63", "Command67"}));
    EXPECT_EQ(moved, (Names{"Frame2", "Command27", "Command28", "Command29", "Frame14"}));
    EXPECT_FALSE(place("Form1", models::kTR27K)) << "the window is no row";
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
