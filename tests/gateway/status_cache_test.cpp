// The fields every front-end shows, derived from the projector's last replies: each value
// from its reply, and absent where the projector has not given it.
#include <gtest/gtest.h>

#include "engine/command.h"
#include "engine/status.h"
#include "gateway/status_cache.h"

namespace {

using gateway::Power;
using gateway::StatusCache;

session::Outcome answered(std::string code, std::string reply, bool ok = true) {
    session::Outcome o;
    o.code = std::move(code);
    o.sent = engine::commandText("", o.code);
    o.reply = std::move(reply);
    o.ok = ok;
    o.refused = o.reply == engine::kErrorMark;
    if (o.refused) o.ok = false;
    return o;
}

TEST(StatusCache, OperatingStateOfEveryRowOfThePanelsTable) {
    const struct {
        const char* reply;
        Power power;
        std::optional<bool> temperatureWarning, lampFailure;
    } cases[] = {
        {"00\r", Power::On, false, false},      {"08\r", Power::On, true, false},
        {"02\r", Power::On, false, false},      {"80\r", Power::Standby, false, false},
        {"04\r", Power::Standby, false, false}, {"88\r", Power::Standby, true, false},
        {"40\r", Power::WarmUp, false, false},  {"20\r", Power::Cooling, false, false},
        {"28\r", Power::Cooling, true, false},  {"24\r", Power::Cooling, false, false},
        {"21\r", Power::Cooling, false, true},  {"81\r", Power::Cooling, false, true},
        {"10\r", Power::Fail, false, false},    {"99\r", Power::Unknown, {}, {}},
        {"0\r", Power::Unknown, {}, {}},        {"?\r", Power::Unknown, {}, {}},
    };
    for (const auto& c : cases) {
        StatusCache cache(models::kTR27K, 10'000);
        cache.record(answered("CR0", c.reply), 0, 0);
        EXPECT_EQ(cache.power(), c.power) << c.reply;
        EXPECT_EQ(cache.temperatureWarning(), c.temperatureWarning) << c.reply;
        EXPECT_EQ(cache.lampFailure(), c.lampFailure) << c.reply;
    }
    // Every reply the panel's decoder has a row for has a state here.
    for (const char a : std::string("0123456789ABCDEF")) {
        for (const char b : std::string("0123456789ABCDEF")) {
            const std::string reply{a, b, '\r'};
            StatusCache cache(models::kTR27K, 10'000);
            cache.record(answered("CR0", reply), 0, 0);
            EXPECT_EQ(cache.statusText("CR0").has_value(), cache.power() != Power::Unknown) << reply;
        }
    }
}

TEST(StatusCache, EachFieldFromItsReplyAndAbsentWhereNotGiven) {
    StatusCache cache(models::kTR52, 10'000);
    EXPECT_EQ(cache.power(), Power::Unknown);
    EXPECT_FALSE(cache.lampHours() || cache.input() || cache.mute() || cache.pressureHpa());
    EXPECT_FALSE(cache.temperatures()[0] || cache.temperatures()[1] || cache.temperatures()[2]);

    cache.record(answered("CR1", "3\r"), 0, 0);
    cache.record(answered("CR3", "01234\r"), 0, 0);
    cache.record(answered("CR6", "035.0  -8.5 0x1.2\r"), 0, 0);
    cache.record(answered("CRA", "02\r"), 0, 0);
    cache.record(answered("CR PRESSURE", "512\r"), 0, 0);
    cache.record(answered("CR7", "00\r"), 0, 0);
    EXPECT_EQ(cache.input(), gateway::Input::Video);
    EXPECT_EQ(cache.inputCode(), "3");
    EXPECT_EQ(cache.lampHours(), 1234);
    EXPECT_EQ(cache.temperatures()[0], 35.0);
    EXPECT_EQ(cache.temperatures()[1], -8.5);
    EXPECT_EQ(cache.temperatures()[2], std::nullopt) << "not a reading";
    ASSERT_TRUE(cache.mute());
    EXPECT_TRUE(cache.mute()->sound);
    EXPECT_FALSE(cache.mute()->picture);
    EXPECT_EQ(cache.muteCode(), "02");
    EXPECT_EQ(cache.pressureHpa(), 650);
    EXPECT_EQ(cache.statusText("CR7"), " All OFF : 2 Lamp mode");
    EXPECT_EQ(cache.statusText("CR1"), " Video");

    // What is no value: the error mark, a reply that never came, a stand-by mute, no number.
    cache.record(answered("CR1", "?\r"), 0, 0);
    cache.record(answered("CR3", "", false), 0, 0);
    cache.record(answered("CRA", "FF\r"), 0, 0);
    cache.record(answered("CR PRESSURE", "?\r"), 0, 0);
    cache.record(answered("CR6", "03\r"), 0, 0);
    EXPECT_FALSE(cache.input() || cache.lampHours() || cache.mute() || cache.pressureHpa());
    EXPECT_EQ(cache.muteCode(), "FF");
    EXPECT_FALSE(cache.temperatures()[0] || cache.temperatures()[1]);
    EXPECT_EQ(cache.statusText("CR3"), std::nullopt);

    // Not a status query: not kept.
    EXPECT_FALSE(cache.record(answered("C00", "\x06\r"), 0, 0));
    EXPECT_EQ(cache.entry("C00"), nullptr);
}

TEST(StatusCache, FreshWhileYoungerThanThePeriodAndOnlySinceTheLineCameUp) {
    StatusCache cache(models::kTR27K, 10'000);
    EXPECT_TRUE(cache.record(answered("CR0", "80\r"), 1000, 5));
    EXPECT_FALSE(cache.record(answered("CR0", "80\r"), 2000, 6)) << "the same reply is no change";
    EXPECT_TRUE(cache.fresh("CR0", 11'999));
    EXPECT_FALSE(cache.fresh("CR0", 12'000));
    cache.lineLost();
    EXPECT_FALSE(cache.fresh("CR0", 2001));
    EXPECT_EQ(cache.power(), Power::Standby) << "kept for reading";
    cache.record(answered("CR0", "", false), 3000, 7);
    EXPECT_FALSE(cache.fresh("CR0", 3001)) << "a missing reply";
    EXPECT_EQ(cache.entry("CR0")->wallMs, 7);
}

}  // namespace
