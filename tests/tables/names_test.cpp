#include "tables/names.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <set>

#include "tables/layout.h"

namespace panel {
namespace {

std::map<std::string, std::string_view> byName(const models::Model& model) {
    std::map<std::string, std::string_view> controls;
    for (const NamedButton& b : namedButtons(model)) {
        EXPECT_TRUE(controls.emplace(b.name, b.control).second)
            << model.name << ": " << b.name << " twice";
        EXPECT_TRUE(std::regex_match(b.name, std::regex("[a-z0-9]+(-[a-z0-9]+)*"))) << b.name;
    }
    return controls;
}

// Every command button and hold key of the model, once, by a name no other has.
TEST(Names, EachModelNamesItsOwnButtonsOnceAndUniquely) {
    for (const models::Model* model : {&models::kTR27K, &models::kTR52}) {
        std::set<std::string_view> expected, named;
        for (const ButtonRow& b : buttonRows())
            if (model->has(b.models)) expected.insert(b.control);
        for (const HoldKeyRow& k : holdKeyRows()) expected.insert(k.control);
        for (const auto& [name, control] : byName(*model)) named.insert(control);
        EXPECT_EQ(named, expected) << model->name;
    }
}

TEST(Names, CaptionsAndTitlesGiveTheNames) {
    struct Case {
        std::string name;
        std::string_view tr27k, tr52;  // the control, "" where the model has no such name
    };
    const Case cases[] = {
        {"power-on", "Command17", "Command17"},
        {"power-off", "Command18", "Command18"},
        {"sound-mute-on", "Command19", "Command19"},  // "ON" is in six groups
        {"no-show-off", "Command22", "Command22"},
        {"vol-up", "Command1", "Command1"},
        {"d-zoom-down", "Command49", "Command49"},
        {"up", "Command5", "Command5"},  // the arrow's caption is unique; "+" is not
        {"left", "Command9", "Command9"},
        {"select", "Command6", "Command6"},
        {"pc1", "Command27", "Command27"},
        {"input-mode-set-video", "Command29", "Command29"},
        {"video-video", "Command82", "Command82"},  // the "Video" row of the input sources
        {"pc1-rgb", "Command64", "Command64"},
        {"pc2-rgb", "Command72", "Command72"},
        {"dvi-pc-digital", "Command65", ""},
        {"wireless", "Command38", ""},
        {"l-mode", "Command52", ""},
        {"a-image", "Command13", "Command13"},
        {"b-board", "Command12", "Command12"},
        {"r-c", "Command57", "Command57"},
        {"status", "Command44", "Command44"},
        {"logo-off", "", "Command61"},  // the logo keys' frame has no label
        {"capture", "", "Command60"},
    };
    const auto tr27k = byName(models::kTR27K), tr52 = byName(models::kTR52);
    for (const Case& c : cases) {
        const auto look = [&](const auto& names) {
            const auto found = names.find(c.name);
            return found == names.end() ? std::string_view{} : found->second;
        };
        EXPECT_EQ(look(tr27k), c.tr27k) << c.name;
        EXPECT_EQ(look(tr52), c.tr52) << c.name;
    }
}

// A group's title is a label of the layout beside its buttons: in the same container.
TEST(Names, GroupTitlesAreLabelsOfTheButtonsContainer) {
    const auto container = [](std::string_view name) {
        const auto row = std::ranges::find(layoutRows(), name, &ControlRow::name);
        return row == layoutRows().end() ? std::pair<Kind, std::string_view>{Kind::Frame, "?"}
                                         : std::pair{row->kind, row->container};
    };
    auto check = [&](std::string_view control, std::string_view group) {
        if (group.empty()) return;
        EXPECT_EQ(container(group).first, Kind::Label) << control << " " << group;
        EXPECT_EQ(container(group).second, container(control).second) << control << " " << group;
    };
    for (const ButtonRow& b : buttonRows()) check(b.control, b.group);
    for (const HoldKeyRow& k : holdKeyRows()) check(k.control, k.group);
}

}  // namespace
}  // namespace panel
