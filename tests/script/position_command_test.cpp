// Command 61: the position and scale factors from an integer and a real
// parameter array, and where its four results go.
#include "script/position_command.h"
#include "tests/script/script_run_once.h"

namespace zk {
namespace {

TEST(ComputePositionTest, FormulaCases) {
    PositionParameters zero;
    PositionResult r = ComputePosition(zero);
    EXPECT_EQ(r.x, 0.0);
    EXPECT_EQ(r.y, 0.0);
    EXPECT_EQ(r.p, 0.0);
    EXPECT_EQ(r.q, 0.0);

    PositionParameters direct;
    direct.integers[7] = 1;
    direct.reals[13] = 100;
    direct.reals[18] = 50;
    direct.reals[16] = 100;
    r = ComputePosition(direct);
    EXPECT_EQ(r.x, 50.0);
    EXPECT_EQ(r.p, 100.0);

    PositionParameters centre;
    centre.integers[5] = 640;
    centre.integers[6] = 480;
    r = ComputePosition(centre);
    EXPECT_EQ(r.x, 320.0);
    EXPECT_EQ(r.y, 240.0);

    // K = 2^((R27 - R8 + R5 + R30) / 100) scales R6.
    for (const auto& [depth, factor] : {std::pair{100.0, 2.0}, std::pair{-100.0, 0.5}}) {
        PositionParameters scaled;
        scaled.reals[27] = depth;
        scaled.reals[6] = 10;
        EXPECT_DOUBLE_EQ(ComputePosition(scaled).x, 10 * factor) << depth;
    }

    // I1 != I2 with I4 set: L comes from R24, and R22/R25 move X.
    PositionParameters moving;
    moving.integers[1] = 1;
    moving.integers[4] = 1;
    moving.reals[20] = 100;  // sx = 1
    moving.reals[16] = 100;
    moving.reals[13] = 10;
    moving.reals[22] = 5;
    moving.reals[25] = 3;
    moving.reals[24] = -100;  // L = 2
    r = ComputePosition(moving);
    EXPECT_DOUBLE_EQ(r.x, ((10 + 5) * 1.0 - 0 - 3) * 2);
    EXPECT_DOUBLE_EQ(r.p, 200.0);
}

class PositionCommandTest : public script_test::RunOnceTest {};

TEST_F(PositionCommandTest, ResultsGoOnlyWhereTheRealArrayHasElements) {
    const std::string setup = "I[5] = 640\nI[6] = 480\nR32[16] = 100.0\nR34[16] = 100.0\nR35[16] = 100.0\nR35[17] = 50.0\n";
    ASSERT_EQ(Run("int I[8]\nreal R32[32]\nreal R34[34]\nreal R35[40]\n",
                  setup + "position ints=@I, reals=@R32\nposition ints=@I, reals=@R34\nposition ints=@I, reals=@R35"),
              0);
    EXPECT_EQ(Real("R32", 31), 320.0);
    EXPECT_EQ(Real("R34", 31), 320.0);
    EXPECT_EQ(Real("R34", 32), 240.0);
    EXPECT_EQ(Real("R34", 33), 100.0);
    EXPECT_EQ(Real("R35", 34), 50.0);
    EXPECT_EQ(Reports(), 0u);
}

TEST_F(PositionCommandTest, MissingArraysAndOtherTypes) {
    // Without the real array nothing is computed or stored.
    ASSERT_EQ(Run("int I[8]\nreal R[35]\n", "I[5] = 640\nR[31] = 7.0\nposition ints=@I"), 0);
    EXPECT_EQ(Real("R", 31), 7.0);
    // An integer array given as the reals takes the results truncated.
    ASSERT_EQ(Run("int I[8]\nint J[35]\n", "I[5] = 641\nposition ints=@I, reals=@J"), 0);
    EXPECT_EQ(Int("J", 31), 320);
    // A real array given as the integers reads as zeros, never as integers
    // it does not hold.
    ASSERT_EQ(Run("real W[8]\nreal R[35]\n", "W[5] = 640.0\nW[7] = 1.0\nposition ints=@W, reals=@R"), 0);
    EXPECT_EQ(Real("R", 31), 0.0);
    EXPECT_EQ(Reports(), 0u);
    // A text array of 35 elements cannot take the results.
    EXPECT_EQ(Run("int I[8]\nstr T[35]\n", "position ints=@I, reals=@T"), 1);
    EXPECT_EQ(LastCode(), kErrWrongVariableType);
}

}  // namespace
}  // namespace zk
