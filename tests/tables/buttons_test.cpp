#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>

#include "models/model.h"
#include "panel/buttons.h"
#include "panel/layout.h"

namespace panel {
namespace {

using Names = std::set<std::string_view>;

// Buttons with handlers of their own: END, COM, the data-view key, SEND and CLS.
constexpr std::string_view kOtherButtons[] = {"Command16", "Command33", "Command34",
                                              "Command95", "Command96"};

const ControlRow* rowOf(std::string_view name) {
    const auto rows = layoutRows();
    const auto row = std::ranges::find(rows, name, &ControlRow::name);
    return row == rows.end() ? nullptr : &*row;
}

TEST(Buttons, EveryTableEntryIsAButtonOfTheLayout) {
    for (const ButtonRow& button : buttonRows()) {
        const ControlRow* row = rowOf(button.control);
        ASSERT_NE(row, nullptr) << button.control;
        EXPECT_EQ(row->kind, Kind::Button) << button.control;
        EXPECT_EQ(row->models, button.models) << button.control;
    }
    for (const HoldKeyRow& key : holdKeyRows()) {
        const ControlRow* row = rowOf(key.control);
        ASSERT_NE(row, nullptr) << key.control;
        EXPECT_EQ(row->kind, Kind::Button) << key.control;
        EXPECT_EQ(row->models, models::kBothModels) << key.control;
    }
}

// Every button of a model has exactly one handler: a table row, a hold key or its own.
TEST(Buttons, HandlersCoverEveryButtonOnce) {
    for (const models::Model* model : {&models::kTR27K, &models::kTR52}) {
        std::multiset<std::string_view> handled(std::begin(kOtherButtons), std::end(kOtherButtons));
        for (const HoldKeyRow& key : holdKeyRows()) handled.insert(key.control);
        std::size_t commandButtons = 0;
        for (const ButtonRow& button : buttonRows()) {
            if (!model->has(button.models)) continue;
            handled.insert(button.control);
            ++commandButtons;
        }
        std::multiset<std::string_view> buttons;
        for (const ControlRow& row : layoutRows())
            if (row.kind == Kind::Button && model->has(row.models)) buttons.insert(row.name);
        EXPECT_EQ(handled, buttons) << model->name;
        EXPECT_EQ(commandButtons, model == &models::kTR27K ? 50u : 49u);
    }
    EXPECT_EQ(buttonRows().size(), 54u) << "45 common, 5 TR27K only, 4 TR52 only";
}

// The command belongs to the control: no two keys send the same text.
TEST(Buttons, CommandsAreDistinctCodesOrTextCommands) {
    Names commands;
    auto check = [&](std::string_view control, std::string_view command) {
        EXPECT_TRUE(commands.insert(command).second) << control << " repeats " << command;
        EXPECT_TRUE(command.size() == 3 || command.find(' ') != command.npos) << control;
        EXPECT_TRUE(std::ranges::all_of(command, [](char c) { return c >= ' ' && c <= '~'; }))
            << control;
        EXPECT_EQ(command.front(), 'C') << control;
        EXPECT_NE(command.back(), ' ') << control;
    };
    for (const ButtonRow& button : buttonRows()) check(button.control, button.command);
    for (const HoldKeyRow& key : holdKeyRows()) check(key.control, key.command);
}

TEST(Buttons, TimingClassesFollowTheGroups) {
    Names menu, inputSources;
    for (const ButtonRow& button : buttonRows()) {
        if (button.timing == Timing::Menu) menu.insert(button.control);
        EXPECT_EQ(button.timing == Timing::Timed5000, rowOf(button.control)->container == "Frame14")
            << button.control << ": the input-source keys alone wait 5000 ms";
    }
    EXPECT_EQ(menu, (Names{"Command23", "Command13"})) << "\"ON\" in \"MENU\" and \"A-IMAGE\"";
}

TEST(HoldKeys, KeysCodesAndPeriods) {
    Names controls;
    std::set<std::uint8_t> codes;
    int dzoom = 0;
    for (const HoldKeyRow& key : holdKeyRows()) {
        EXPECT_TRUE(controls.insert(key.control).second) << key.control;
        EXPECT_TRUE(codes.insert(key.code).second) << key.control;
        EXPECT_NE(key.code, 0) << "0 means no key is held";
        const std::string_view caption = rowOf(key.control)->caption;
        EXPECT_EQ(key.arrow, caption == "↑" || caption == "↓" || caption == "←" || caption == "→")
            << key.control;
        if (key.dzoom) ++dzoom;
        EXPECT_FALSE(key.arrow && key.dzoom) << key.control;
        if (key.arrow) continue;
        // A send's reply wait and display hold end no later than the next repeat.
        EXPECT_GT(key.timer2, 0) << key.control;
        EXPECT_GT(key.timer4, 0) << key.control;
        EXPECT_LE(key.timer2, key.timer1) << key.control;
        EXPECT_LE(key.timer4, key.timer1) << key.control;
    }
    EXPECT_EQ(controls.size(), 13u);
    EXPECT_EQ(dzoom, 2);
}

TEST(HoldKeys, RepeatCommandIsThePressCommand) {
    std::map<int, std::string_view> byCode;
    for (const HoldKeyRow& key : holdKeyRows()) byCode[key.code] = key.command;
    for (int code = 0; code <= 255; ++code) {
        const auto key = byCode.find(code);
        EXPECT_EQ(repeatCommand(static_cast<std::uint8_t>(code)),
                  key == byCode.end() ? std::string_view{} : key->second)
            << code;
    }
}

}  // namespace
}  // namespace panel
