// Command 69 on readable scripts: the mode's requests, the shape table,
// moves scaled then offset into the letterbox, and colour cursors from a
// layer (hotspot's low 16 bits, kept inside the picture; the box when the
// host cannot make the cursor).
#include "engine/cursor_command.h"

#include "base/text_encoding.h"
#include "core/root_trees.h"
#include "core/window_record.h"
#include "engine/input.h"
#include "layers/layer_command.h"
#include "layers/layer_tree_root.h"
#include "platform/headless_window_system.h"
#include "renderer/cpu_back_buffer.h"
#include "renderer/cpu_presentation.h"
#include "tests/script/script_run_once.h"

namespace zk {
namespace {

using platform::PointerShape;

class CursorCommandTest : public script_test::RunOnceTest {
protected:
    void SetUp() override {
        RunOnceTest::SetUp();
        ResetInputState();
        RegisterCursorCommand();
        InstallLayerCommands();
        platform::InstallWindowSystem(&windows_);
    }
    void TearDown() override {
        platform::InstallWindowSystem(nullptr);
        ResetInputState();
        RunOnceTest::TearDown();
    }
    platform::HeadlessWindowSystem windows_;
};

TEST(CursorShapes, ByNumber) {
    const PointerShape table[] = {
        PointerShape::kArrow,    PointerShape::kIBeam,  PointerShape::kWait,     PointerShape::kCross,
        PointerShape::kUpArrow,  PointerShape::kSizeNWSE, PointerShape::kSizeNESW, PointerShape::kSizeWE,
        PointerShape::kSizeNS,   PointerShape::kSizeAll, PointerShape::kNo,      PointerShape::kHand,
        PointerShape::kAppStarting, PointerShape::kHelp,
    };
    for (int number = 0; number <= 13; ++number) EXPECT_EQ(CursorShapeByNumber(number), table[number]) << number;
    EXPECT_EQ(CursorShapeByNumber(14), PointerShape::kArrow);
    EXPECT_EQ(CursorShapeByNumber(-1), PointerShape::kArrow);
    EXPECT_EQ(CursorShapeByNumber(0x10000000B), PointerShape::kArrow) << "the whole value, not its low bits";
}

TEST_F(CursorCommandTest, ShapesReachTheWindowSystem) {
    ASSERT_EQ(Run("", "cursor shape=11"), 0);
    EXPECT_EQ(windows_.CurrentCursorShape(), PointerShape::kHand);
    ASSERT_EQ(Run("", "cursor shape=14"), 0);
    EXPECT_EQ(windows_.CurrentCursorShape(), PointerShape::kArrow);
}

TEST_F(CursorCommandTest, HiddenTwiceIsHiddenOnce) {
    ASSERT_TRUE(Boot("label SYSTEM_START\ncursor mode=0\nwait 1\ncursor mode=0\nwait 1\nlabel IDLE\nwait 1\njump IDLE\n"));
    for (int frame = 0; frame < 3; ++frame) {
        ASSERT_EQ(Pass(), 0);
        ApplyCursorRequest();
        EXPECT_EQ(windows_.CursorCount(), -1) << frame;
    }
    EXPECT_EQ(TheCursorControl().auto_hide.load(), 0);
    // Shown again, with the auto-hide delay and wake switches.
    ASSERT_EQ(Run("", "cursor mode=2, delay=0x100000400, wake1=0x101, wake2=2, wake3=0"), 0);
    ApplyCursorRequest();
    EXPECT_EQ(windows_.CursorCount(), 0);
    EXPECT_EQ(TheCursorControl().hide_delay_ms.load(), 0x400u);
}

TEST_F(CursorCommandTest, MovesScaleThenAddTheLetterbox) {
    // Game 320 x 240 shown in a 640 x 480 back buffer, letterboxed by 40 x 10.
    EXPECT_EQ(GameToClient(100, 40, 640, 320), 240);
    EXPECT_EQ(GameToClient(100, 40, 640, 0), 140) << "no game size: no scaling";
    EXPECT_EQ(GameToClient(-3, 0, 3, 2), -4) << "truncating toward zero";
}

TEST(CursorHotspot, LowSixteenBitsInsideThePicture) {
    EXPECT_EQ(CursorHotspot(65537, 32), 1);
    EXPECT_EQ(CursorHotspot(70000, 3), 2) << "4464 kept inside";
    EXPECT_EQ(CursorHotspot(-1, 32), 31) << "0xFFFF, unsigned";
    EXPECT_EQ(CursorHotspot(5, 0), 0);
}

TEST_F(CursorCommandTest, AMissingLayerChangesNothing) {
    ASSERT_EQ(Run("", "cursor shape=3, layer=\"missing\""), 0);
    EXPECT_EQ(windows_.CurrentCursorShape(), PointerShape::kCross);
    EXPECT_FALSE(windows_.ColourCursor().has_value());
    EXPECT_TRUE(ui_.boxes.empty());
}

}  // namespace
}  // namespace zk
