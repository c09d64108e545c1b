// The blend lookup tables against formulas written out here in floating
// point, over every source and destination value.
#include <gtest/gtest.h>

#include <algorithm>

#include "layers/blend_lookup_tables.h"
#include "layers/blend_modes.h"
#include "layers/blend_tables.h"
#include "tests/layers/blend_formulas.h"

namespace zk {
namespace {

using test::BlendFormula;
using test::Div;

class BlendTablesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        FillBlendLookupTables();
        BuildBlendTables();
    }
};

TEST_F(BlendTablesTest, EveryModeTableMatchesItsFormula) {
    for (int mode = 3; mode < kBlendModeCount; ++mode) {
        const uint8_t* table = ModeTable(static_cast<BlendMode>(mode));
        int mismatches = 0;
        for (int s = 0; s < 256; ++s) {
            for (int d = 0; d < 256; ++d) {
                int want = BlendFormula(mode, s, d);
                if (table[s * 256 + d] != want && ++mismatches <= 3)
                    ADD_FAILURE() << "mode " << mode << " s=" << s << " d=" << d << ": table "
                                  << int(table[s * 256 + d]) << ", formula " << want;
            }
        }
        EXPECT_EQ(mismatches, 0) << "mode " << mode;
    }
}

TEST_F(BlendTablesTest, AddAndSubtractTablesClampAtTheEnds) {
    const BlendLookupTables& t = TheBlendLookupTables();
    for (int s = 0; s < 256; ++s) {
        for (int d = 0; d < 256; ++d) {
            ASSERT_EQ(t.clamped_add[d + s], std::min(d + s, 255)) << s << " " << d;
            ASSERT_EQ(t.clamped_subtract[s - d + 255], std::max(s - d, 0)) << s << " " << d;
        }
    }
}

TEST_F(BlendTablesTest, AlphaRatioTable) {
    const BlendLookupTables& t = TheBlendLookupTables();
    for (int k = 0; k < 256; ++k) EXPECT_EQ(t.alpha_ratio[0][k], 0);
    for (int c = 1; c < 256; ++c)
        for (int k = 0; k < 256; ++k) ASSERT_EQ(t.alpha_ratio[c][k], Div(k * 256.0, c)) << c << " " << k;
}

TEST_F(BlendTablesTest, WorkedValues) {
    struct Case {
        BlendMode mode;
        int s, d, want;
    };
    const Case cases[] = {
        {BlendMode::kDivide, 1, 0, 255},       {BlendMode::kDivide, 200, 0, 255},
        {BlendMode::kDivide, 0, 0, 0},         {BlendMode::kDivide, 100, 200, 127},
        {BlendMode::kOverlay, 0, 255, 253},    {BlendMode::kOverlay, 255, 255, 255},
        {BlendMode::kColourDodge, 255, 0, 0},  {BlendMode::kColourDodge, 255, 1, 255},
        {BlendMode::kColourDodge, 255, 200, 255},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ModeTable(c.mode)[c.s * 256 + c.d], c.want)
            << "mode " << int(c.mode) << " s=" << c.s << " d=" << c.d;
    // Subtract has no square table: it reads the clamped-subtract table.
    const BlendLookupTables& t = TheBlendLookupTables();
    EXPECT_EQ(t.clamped_subtract[50 - 200 + 255], 0);
    EXPECT_EQ(t.clamped_subtract[200 - 50 + 255], 150);
}

TEST(BlendModeTest, BytesPastTheLastModeDrawAsNormal) {
    EXPECT_EQ(DrawnBlendMode(18), BlendMode::kPinLight);
    EXPECT_EQ(DrawnBlendMode(19), BlendMode::kNormal);
    EXPECT_EQ(DrawnBlendMode(255), BlendMode::kNormal);
}

}  // namespace
}  // namespace zk
