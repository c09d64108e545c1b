// Commands 10, 5 and 6 on readable scripts with the recording double: the
// message box's button, default and icon table and its answers into each
// element type; the input box (its limit, its answers); the clipboard on
// SDL's dummy video driver.
#include <SDL.h>

#include "base/text_encoding.h"
#include "engine/dialog_commands.h"
#include "engine/input.h"
#include "platform/headless_window_system.h"
#include "platform/window_system.h"
#include "tests/script/script_run_once.h"

namespace zk {
namespace {

using namespace platform;

class DialogCommandsTest : public script_test::RunOnceTest {
protected:
    void SetUp() override {
        RunOnceTest::SetUp();
        ResetInputState();
        RegisterDialogCommands();
        InstallWindowSystem(&windows_);
    }
    void TearDown() override {
        InstallWindowSystem(nullptr);
        ResetInputState();
        RunOnceTest::TearDown();
    }
    static constexpr std::string_view kDecl = "int n = -7\nreal r = -7.0\nstr s = \"unset\"\nint arr[2] = -7\n";
    HeadlessWindowSystem windows_;
};

TEST_F(DialogCommandsTest, MessageBoxStyleTable) {
    struct Case {
        std::string keywords;
        uint32_t flags;
    };
    const Case cases[] = {
        {"", MB_OK},
        {", okcancel=0", MB_OKCANCEL},
        {", yesno=1", MB_YESNO},
        {", yesnocancel=1", MB_YESNOCANCEL},
        {", okcancel=1, yesno=1", MB_YESNO},                      // 14 over 13
        {", okcancel=1, yesno=1, yesnocancel=1", MB_YESNOCANCEL},  // 15 over 14
        {", yesnocancel=1, default=2", MB_YESNOCANCEL | MB_DEFBUTTON2},
        {", yesnocancel=1, default=3", MB_YESNOCANCEL | MB_DEFBUTTON3},
        {", default=1", MB_OK},
        {", default=7", MB_OK},
        {", icon=1", MB_ICONINFORMATION},
        {", icon=2", MB_ICONQUESTION},
        {", icon=3", MB_ICONWARNING},
        {", icon=4", MB_ICONERROR},
        {", icon=5", MB_OK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keywords);
        ui_.boxes.clear();
        ASSERT_EQ(Run(kDecl, "msgbox caption=\"c\", text=\"t\"" + c.keywords), 0);
        ASSERT_EQ(ui_.boxes.size(), 1u);
        EXPECT_EQ(ui_.boxes[0].flags, c.flags);
        EXPECT_EQ(ui_.boxes[0].caption, std::optional<std::string>("c"));
        EXPECT_EQ(ui_.boxes[0].text, "t");
    }
    // Keyword 20 skips the command whatever else it gives.
    ui_.boxes.clear();
    ASSERT_EQ(Run(kDecl, "msgbox text=\"t\", skip=0, result=n"), 0);
    EXPECT_TRUE(ui_.boxes.empty());
    EXPECT_EQ(Int("n"), -7);
}

TEST_F(DialogCommandsTest, AnswersByButtonPosition) {
    struct Case {
        std::string buttons;
        int answer;
        int64_t stored;
    };
    const Case cases[] = {
        {"", IDOK, 1},
        {", okcancel=1", IDOK, 1},
        {", okcancel=1", IDCANCEL, 2},
        {", yesno=1", IDYES, 1},
        {", yesno=1", IDNO, 2},
        {", yesnocancel=1", IDNO, 2},
        {", yesnocancel=1", IDCANCEL, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.buttons + " " + std::to_string(c.answer));
        ui_.QueueAnswer(c.answer);
        ASSERT_EQ(Run(kDecl, "msgbox text=\"t\", result=n" + c.buttons), 0);
        EXPECT_EQ(Int("n"), c.stored);
    }
}

TEST_F(DialogCommandsTest, AnswerIntoEachElementType) {
    ui_.QueueAnswer(IDCANCEL);
    ASSERT_EQ(Run(kDecl, "msgbox text=\"t\", okcancel=1, result=r"), 0);
    EXPECT_EQ(Real("r"), 2.0);
    ui_.QueueAnswer(IDNO);
    ASSERT_EQ(Run(kDecl, "msgbox text=\"t\", yesno=1, result=arr[1]"), 0);
    EXPECT_EQ(Int("arr", 1), 2);
    EXPECT_EQ(Int("arr", 0), -7);
    // A text element is the wrong type: fatal 101140.
    EXPECT_EQ(Run(kDecl, "msgbox text=\"t\", result=s"), 1);
    EXPECT_EQ(LastCode(), 101140u);
}

TEST_F(DialogCommandsTest, TheBoxShowsTheCursorFirst) {
    TheCursorControl().shown = 0;
    ASSERT_EQ(Run(kDecl, "msgbox text=\"t\""), 0);
    EXPECT_EQ(TheCursorControl().shown.load(), 1);
    EXPECT_EQ(windows_.CursorCount(), 1) << "shown at once, not at the next input step";
}

TEST_F(DialogCommandsTest, InputBox) {
    // The player types six characters into a box limited to five.
    ui_.QueueInputTyping(std::string("abcdef"));
    ASSERT_EQ(Run(kDecl, "msgbox caption=\"T\", text=\"P\", initial=\"init\", input=1, limit=5, textresult=s, "
                         "result=n"),
              0);
    ASSERT_EQ(ui_.input_boxes.size(), 1u);
    EXPECT_EQ(ui_.input_boxes[0].title, "T");
    EXPECT_EQ(ui_.input_boxes[0].prompt, "P");
    EXPECT_EQ(ui_.input_boxes[0].initial, "init");
    EXPECT_EQ(ui_.input_boxes[0].limit, 5);
    EXPECT_EQ(Text("s"), "abcde");
    EXPECT_EQ(Int("n"), 1);
    // The limit counts characters: five double-byte characters fit.
    const std::string a = Utf8ToCp932("あ");
    ui_.QueueInputTyping(a + a + a + a + a + a);
    ASSERT_EQ(Run(kDecl, "msgbox input=1, limit=5, textresult=s"), 0);
    EXPECT_EQ(Text("s"), a + a + a + a + a);
    // OK at once keeps the initial text; no message box is shown.
    ASSERT_EQ(Run(kDecl, "msgbox input=1, initial=\"keep\", textresult=s"), 0);
    EXPECT_EQ(Text("s"), "keep");
    EXPECT_TRUE(ui_.boxes.empty());
    // A box that cannot be shown: -1 and nothing stored.
    ui_.QueueInputTyping(std::nullopt);
    ASSERT_EQ(Run(kDecl, "msgbox input=1, initial=\"x\", textresult=s, result=n\nn = 5"), 0);
    EXPECT_EQ(Text("s"), "unset");
    EXPECT_EQ(Int("n"), -7) << "the command's -1 ends the pass before the next line";
}

TEST(PastedText, DropsControlsAndKeepsPairsWhole) {
    const std::string a = "\x82\xA0";  // あ
    EXPECT_EQ(PastedText("a\tb\r\nc"), "abc");
    EXPECT_EQ(PastedText(a + "\x1F" + a), a + a);
    // A pair across byte 1024 is left out; one ending at it is kept.
    EXPECT_EQ(PastedText(std::string(1023, 'x') + a), std::string(1023, 'x'));
    EXPECT_EQ(PastedText(std::string(1022, 'x') + a + "y"), std::string(1022, 'x') + a);
    EXPECT_EQ(PastedText(std::string(2000, 'z')).size(), 1024u);
    // A trail byte that is a control code stays with its lead byte.
    EXPECT_EQ(PastedText("\x81\x1Fq"), "\x81\x1Fq");
}

// The clipboard through SDL's own store (the dummy video driver has no
// system clipboard).
class ClipboardTest : public script_test::RunOnceTest {
protected:
    void SetUp() override {
        RunOnceTest::SetUp();
        RegisterDialogCommands();
        windows_ = CreateSdlWindowSystem();
        if (windows_ == nullptr) GTEST_SKIP() << "no SDL video";
        InstallWindowSystem(windows_.get());
    }
    void TearDown() override {
        InstallWindowSystem(nullptr);
        windows_.reset();
        RunOnceTest::TearDown();
    }
    std::unique_ptr<WindowSystem> windows_;
};

TEST_F(ClipboardTest, CopyAndPaste) {
    constexpr std::string_view decl = "str s = \"unset\"\nint n\n";
    ASSERT_EQ(Run(decl, "copyclip flag=1, text=\"a\\tb\""), 0);
    EXPECT_EQ(windows_->ClipboardText(), "a\tb");
    windows_->SetClipboardText("a\tb\r\nc");
    ASSERT_EQ(Run(decl, "pasteclip flag=1, result=s"), 0);
    EXPECT_EQ(Text("s"), "abc");
    // Japanese text both ways; what CP932 lacks pastes as '?'.
    ASSERT_EQ(Run(decl, "s = \"" + Utf8ToCp932("日本") + "\"\ncopyclip flag=0, text=s"), 0);
    EXPECT_EQ(windows_->ClipboardText(), "日本");
    windows_->SetClipboardText("x€y");
    ASSERT_EQ(Run(decl, "pasteclip flag=0, result=s"), 0);
    EXPECT_EQ(Text("s"), "x?y");
    // Copy needs both keywords; paste needs its flag.
    ASSERT_EQ(Run(decl, "copyclip text=\"lost\"\ncopyclip flag=1"), 0);
    EXPECT_EQ(windows_->ClipboardText(), "x€y");
    ASSERT_EQ(Run(decl, "s = \"kept\"\npasteclip result=s"), 0);
    EXPECT_EQ(Text("s"), "kept");
}

TEST_F(ClipboardTest, PasteWithoutTextEndsThePassAndStoresNothing) {
    SDL_SetClipboardText("");
    ASSERT_EQ(Run("str s = \"unset\"\nint n = 0\n", "pasteclip flag=1, result=s\nn = 1"), 0);
    EXPECT_EQ(Text("s"), "unset");
    EXPECT_EQ(Int("n"), 0) << "the command's -1 ends the pass";
}

}  // namespace
}  // namespace zk
