// Command 49 on readable scripts: the input sources, and the cursor hidden
// and shown once as the mouse goes off and on.
#include "engine/input.h"
#include "platform/headless_window_system.h"
#include "platform/window_system.h"
#include "tests/script/runner_test_support.h"

namespace zk {
namespace {

class InputCommandTest : public script_test::ScriptRunTest {
protected:
    void SetUp() override {
        ScriptRunTest::SetUp();
        ResetInputState();
        RegisterCommandHandler(kCmdSetInputSources, CmdSetInputSources);
        platform::InstallWindowSystem(&windows_);
    }
    void TearDown() override {
        platform::InstallWindowSystem(nullptr);
        ResetInputState();
        ScriptRunTest::TearDown();
    }
    // One frame's script passes, then the cursor request as the input step applies it.
    void Frame() {
        ASSERT_EQ(Pass(), 0);
        ApplyCursorRequest();
    }

    platform::HeadlessWindowSystem windows_;
};

TEST_F(InputCommandTest, MouseOffHidesTheCursorOnceAndOnShowsIt) {
    ASSERT_TRUE(Boot("label SYSTEM_START\n"
                     "input mouse=0\nwait 1\n"
                     "input mouse=0\nwait 1\n"
                     "input mouse=1\nwait 1\n"
                     "input mouse=1\nwait 1\n"
                     "label IDLE\nwait 1\njump IDLE\n"));
    const int counts[] = {-1, -1, 0, 0};
    for (int expected : counts) {
        Frame();
        EXPECT_EQ(windows_.CursorCount(), expected);
    }
    EXPECT_EQ(TheInputSources().mouse.load(), 1);
    EXPECT_EQ(TheCursorControl().shown.load(), 1);
    EXPECT_EQ(Reports(), 0u);
}

TEST_F(InputCommandTest, SourcesTakeTheLowByte) {
    ASSERT_TRUE(Boot("label SYSTEM_START\n"
                     "input keyboard=0, gamepad=1\n"
                     // 256 is not 0, so the cursor stays; its low byte switches the mouse off.
                     "input mouse=256\n"
                     "label IDLE\nwait 1\njump IDLE\n"));
    Frame();
    EXPECT_EQ(TheInputSources().keyboard.load(), 0);
    EXPECT_EQ(TheInputSources().gamepad.load(), 1);
    EXPECT_EQ(TheInputSources().mouse.load(), 0);
    EXPECT_EQ(windows_.CursorCount(), 0);
    EXPECT_EQ(Reports(), 0u);
}

}  // namespace
}  // namespace zk
