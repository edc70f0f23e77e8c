#include <gtest/gtest.h>

#include <set>
#include <string>

#include "models/model.h"
#include "panel/layout.h"

namespace models {
namespace {

TEST(Models, CaptionNamesTheModel) {
    for (const Model* model : {&kTR27K, &kTR52})
        EXPECT_EQ(model->caption, "ORVA   " + std::string(model->name) + "   CONTROL   Ver.1.40");
    EXPECT_EQ(kTR27K.bit, kTR27KOnly);
    EXPECT_EQ(kTR52.bit, kTR52Only);
    EXPECT_NE(kTR27K.lampMode.reply00, kTR52.lampMode.reply00);
    EXPECT_NE(kTR27K.lampMode.reply01, kTR52.lampMode.reply01);
}

// An override for a control the model lacks, or one that changes nothing, is a typing error.
TEST(Models, OverridesChangeControlsTheModelHas) {
    EXPECT_TRUE(kTR27K.overrides.empty()) << "the shared geometry is TR27K's";
    std::set<std::string_view> seen;
    for (const GeometryOverride& change : kTR52.overrides) {
        EXPECT_TRUE(seen.insert(change.control).second) << change.control;
        const auto placed = panel::place(change.control, kTR52);
        ASSERT_TRUE(placed) << change.control;
        const panel::ControlRow& row = *placed->row;
        EXPECT_TRUE(placed->left != row.left || placed->top != row.top ||
                    placed->width != row.width || placed->height != row.height)
            << change.control;
    }
}

}  // namespace
}  // namespace models
