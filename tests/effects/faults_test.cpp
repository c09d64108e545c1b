// Inputs the operations must survive with a sound result: each case once
// read outside a row, changed an image it should have left, or divided by
// zero.
#include <vector>

#include "effects/cg_operations.h"
#include "tests/effects/effects_test_support.h"

namespace zk::effects_test {
namespace {

class FaultTest : public EffectsTest {};

TEST_F(FaultTest, AnEmptyRectangleChangesNothing) {
    const Pixels source = RandomPixels(12, 9, 3);
    struct Case {
        int32_t op, x1, y1, x2, y2, sub;
    };
    const std::vector<Case> cases = {{1, 5, 0, 2, 8, 0},  {28, 0, 6, 11, 2, 0}, {2, 7, 1, 3, 5, 0},  {5, 5, 5, 4, 4, 0},
                                     {20, 9, 0, 0, 8, 0}, {40, 3, 0, 1, 8, 0},  {10, 6, 6, 1, 1, 0}, {19, 5, 0, 2, 8, 0},
                                     {24, 5, 0, 2, 8, 3}, {27, 0, 5, 11, 2, 0}, {21, 4, 0, 3, 8, 0}, {8, 4, 0, 3, 8, 0}};
    for (const Case& c : cases) {
        for (int32_t count : {0, 1}) {
            SCOPED_TRACE(::testing::Message() << "op " << c.op << " count " << count);
            NamedTreeNode* target = Layer("t", source, 0);
            const Pixels other_pixels = RandomPixels(2, 3, 1);
            NamedTreeNode* other = Layer("o", other_pixels, 0);
            EXPECT_EQ(RunCgFilter(c.op, target, other, c.x1, c.y1, c.x2, c.y2, 200, 0, count, c.sub), 0);
            EXPECT_TRUE(Read(target) == source);
            EXPECT_TRUE(Read(other) == other_pixels);
            EXPECT_EQ(Image(target).alpha_in_use, 0);
        }
    }
    ExpectClean();
}

TEST_F(FaultTest, AWaveOverColumnZeroReadsColumnZero) {
    // A shift to the right of a one-column rectangle at column 0 clamps to
    // x2 - 1 = -1, which would read the last pixel of the row above (or
    // before the block on the first row).
    const Pixels source = RandomPixels(4, 4, 5);
    for (int32_t op : {21, 23}) {
        NamedTreeNode* target = Layer("t", source);
        ASSERT_EQ(RunCgFilter(op, target, nullptr, 0, 0, 0, 3, 5, 90, 0, 0), 0);
        const Pixels got = Read(target);
        ASSERT_EQ(got.width, 1);
        for (int y = 0; y < 4; ++y) EXPECT_EQ(got.At(0, y), source.At(0, y)) << y;
    }
}

}  // namespace
}  // namespace zk::effects_test
