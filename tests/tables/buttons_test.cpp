#include "tables/buttons.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <stdexcept>
#include <string>

#include "models/model.h"
#include "tables/layout.h"

namespace panel {
namespace {

// Buttons with handlers of their own: END, COM, the data-view key, SEND and CLS.
constexpr std::string_view kOtherButtons[] = {"Command16", "Command33", "Command34", "Command95",
                                              "Command96"};

const ControlRow& rowOf(std::string_view name) {
    const auto row = std::ranges::find(layoutRows(), name, &ControlRow::name);
    if (row == layoutRows().end())
        throw std::out_of_range(std::string(name) + " is not in the layout");
    return *row;
}

// Every button of a model has exactly one handler: a table row, a hold key or its own. This
// also ties each table entry to a button of the layout with the same models.
TEST(Buttons, HandlersCoverEveryButtonOnce) {
    for (const models::Model* model : {&models::kTR27K, &models::kTR52}) {
        std::multiset<std::string_view> handled(std::begin(kOtherButtons), std::end(kOtherButtons)),
            buttons;
        for (const HoldKeyRow& key : holdKeyRows()) handled.insert(key.control);
        std::size_t commandButtons = 0;
        for (const ButtonRow& b : buttonRows()) {
            if (!model->has(b.models)) continue;
            handled.insert(b.control);
            ++commandButtons;
        }
        EXPECT_EQ(commandButtons, model == &models::kTR27K ? 50u : 49u) << model->name;
        for (const ControlRow& row : layoutRows())
            if (row.kind == Kind::Button && model->has(row.models)) buttons.insert(row.name);
        EXPECT_EQ(handled, buttons) << model->name;
    }
}

// The command belongs to the control: no two keys send the same text.
TEST(Buttons, CommandsAreDistinctCodesOrTextCommands) {
    std::set<std::string_view> commands;
    auto check = [&](std::string_view control, std::string_view command) {
        EXPECT_TRUE(commands.insert(command).second) << control << " repeats " << command;
        EXPECT_TRUE((command.size() == 3 || command.find(' ') != command.npos) &&
                    command.back() != ' ' &&
                    std::ranges::all_of(command, [](char c) { return c >= ' ' && c <= '~'; }))
            << control;
    };
    for (const ButtonRow& b : buttonRows()) check(b.control, b.command);
    for (const HoldKeyRow& key : holdKeyRows()) check(key.control, key.command);
}

TEST(Buttons, TimingClassesFollowTheGroups) {
    std::set<std::string_view> menu;
    for (const ButtonRow& b : buttonRows()) {
        if (b.timing == Timing::Menu) menu.insert(b.control);
        EXPECT_EQ(b.timing == Timing::Timed5000, rowOf(b.control).container == "Frame14")
            << b.control << ": the input-source keys alone wait 5000 ms";
    }
    EXPECT_EQ(menu, (std::set<std::string_view>{"Command23", "Command13"}));
}

TEST(HoldKeys, FlagsAndPeriods) {
    std::set<std::uint8_t> codes;
    int dzoom = 0;
    for (const HoldKeyRow& key : holdKeyRows()) {
        EXPECT_TRUE(key.code != 0 && codes.insert(key.code).second) << key.control;
        const std::string_view caption = rowOf(key.control).caption;
        EXPECT_EQ(key.arrow, caption == "↑" || caption == "↓" || caption == "←" || caption == "→")
            << key.control;
        dzoom += key.dzoom;
        if (key.arrow) continue;
        // A send's reply wait and display hold end no later than the next repeat.
        EXPECT_TRUE(0 < key.timer2 && key.timer2 <= key.timer1 && 0 < key.timer4 &&
                    key.timer4 <= key.timer1)
            << key.control;
    }
    EXPECT_EQ(codes.size(), 13u);
    EXPECT_EQ(dzoom, 2);
}

TEST(HoldKeys, RepeatCommandIsThePressCommand) {
    std::map<int, std::string_view> byCode;
    for (const HoldKeyRow& key : holdKeyRows()) byCode[key.code] = key.command;
    for (int code = 0; code <= 255; ++code)
        EXPECT_EQ(repeatCommand(static_cast<std::uint8_t>(code)),
                  byCode.contains(code) ? byCode[code] : "")
            << code;
}

}  // namespace
}  // namespace panel

namespace panel {
namespace {

// A code sent by itself (the shared line, projectorctl send) waits as long as its button does.
TEST(Buttons, ReplyWindowOfACode) {
    const std::pair<std::string_view, int> cases[] = {
        {"C00", 500},  {"CR0", 500},  {"C11", 2000}, {"C19", 2000},     {"C50", 5000},
        {"C34", 5000}, {"C09", 500},  {"c11", 500},  {"C11 ", 500},     {"", 500},
        {"CF LOGO OFF", 500},
    };
    for (const auto& [code, window] : cases) EXPECT_EQ(replyWindowMs(code), window) << code;
}

}  // namespace
}  // namespace panel
