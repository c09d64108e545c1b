// Command 116: the codes that store results, the folder listing into the
// file-name list, the text lengths, files copied and written, the switches,
// the dialog codes answering as when no dialog can be shown, and the EDIT
// field's state.
#include <fstream>

#include "base/text_encoding.h"
#include "core/engine_state.h"
#include "core/window_record.h"
#include "core/window_requests.h"
#include "engine/window_proc.h"
#include "platform/headless_window_system.h"
#include "script/pause_clock.h"
#include "system/file_name_list.h"
#include "system/script_edit.h"
#include "system/system_command.h"
#include "tests/script/script_run_once.h"

namespace zk {
namespace {

namespace fs = std::filesystem;

class SystemCommandTest : public script_test::RunOnceTest {
protected:
    void SetUp() override {
        RunOnceTest::SetUp();
        RegisterSystemServices();
    }
    static constexpr std::string_view kDecl =
        "int n = -7\nreal r = -7.0\nstr s = \"unset\"\nint arr[3]\nstr texts[4]\nint lens[4] = -1\nint a\nint b\n";
};

TEST_F(SystemCommandTest, CodesThatStoreResults) {
    struct Case {
        std::string line;
        int64_t n;
    };
    const Case cases[] = {
        {"system code=1, result=n", 502},
        {"system code=20021, result=n", 0},
        {"system code=10201, result=n, text1=\"x\"", -1},  // no text-entry dialog
        {"system code=99999, result=n", -7},                // unknown: nothing
        {"system code=0x100000001, result=n", -7},          // high half set: nothing
        {"system code=25, result=n", -7},                   // save dialog: as cancelled
        {"system code=26, result=n", -7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        ASSERT_EQ(Run(kDecl, c.line), 0);
        EXPECT_EQ(Int("n"), c.n);
    }
    ASSERT_EQ(Run(kDecl, "system code=1, result=r\nsystem code=1, result=arr[2]"), 0);
    EXPECT_EQ(Real("r"), 502.0);
    EXPECT_EQ(Int("arr", 2), 502);
    ASSERT_EQ(Run(kDecl, "system code=21031, result=s"), 0);
    EXPECT_EQ(Text("s"), "") << "no Windows folder";
    ASSERT_EQ(Run(kDecl, "s = \"x\"\nsystem code=10205, result=s"), 0);
    EXPECT_EQ(Text("s"), "");
    ASSERT_EQ(Run(kDecl, "s = \"x\"\nsystem code=21000, result=s, text1=\"c:/\""), 0);
    EXPECT_EQ(Text("s"), "");
    EXPECT_EQ(Run(kDecl, "system code=1, result=s"), 1);
    EXPECT_EQ(LastCode(), kErrWrongVariableType);
    // Free space of the file system holding the game: some bytes.
    ASSERT_EQ(Run(kDecl, "system code=34, result=n, text1=\"C:/foo\""), 0);
    EXPECT_GT(Int("n"), 0);
}

TEST_F(SystemCommandTest, MessageBoxes) {
    ASSERT_EQ(Run(kDecl, "system code=2, text1=\"hi\"\nsystem code=10\nsystem code=30\nsystem code=31"), 0);
    ASSERT_EQ(ui_.boxes.size(), 4u);
    EXPECT_EQ(ui_.boxes[0].text, "= hi");
    EXPECT_EQ(ui_.boxes[0].caption, std::optional<std::string>(""));
    EXPECT_EQ(ui_.boxes[1].text, "COM:10 Deleted.");
    EXPECT_EQ(ui_.boxes[1].caption, std::nullopt);
    EXPECT_EQ(ui_.boxes[3].text, "COM:31 Deleted.");
}

TEST_F(SystemCommandTest, FolderListingFillsTheFileNameList) {
    const std::string kana = Utf8ToCp932("あ.txt");
    fs::create_directories(game_ / "list" / "s");
    fs::create_directories(game_ / "list" / "Sub");
    for (const char* name : {"b.TXT", "a.txt", "c.png", "_u.txt", "B2.txt"}) std::ofstream(game_ / "list" / name) << "x";
    std::ofstream(game_ / "list" / "あ.txt") << "x";
    ASSERT_EQ(Run(kDecl, "system code=21, text1=\"LIST\", text2=\"txt\""), 0);
    EXPECT_EQ(FileNameListSnapshot(), (std::vector<std::string>{"a.txt", "b.TXT", "B2.txt", "_u.txt", kana}));
    ASSERT_EQ(Run(kDecl, "system code=21, text1=\"list/\", int1=1"), 0);
    EXPECT_EQ(FileNameListSnapshot(), (std::vector<std::string>{"a.txt", "b.TXT", "B2.txt", "c.png", "s/", "Sub/",
                                                                "_u.txt", kana}));
    // A folder that cannot be opened, or one outside the game: empty.
    ASSERT_EQ(Run(kDecl, "system code=21, text1=\"nothing\""), 0);
    EXPECT_EQ(FileNameCount(), 0u);
    ASSERT_EQ(Run(kDecl, "system code=21, text1=\"/etc\""), 0);
    EXPECT_EQ(FileNameCount(), 0u);
    ASSERT_EQ(Run(kDecl, "system code=21, text1=\"\", int1=1"), 0);
    EXPECT_EQ(FileNameCount(), 0u) << "\\*.* is the root of the drive";
}

TEST_F(SystemCommandTest, ListingStopsAt8192Names) {
    fs::create_directories(game_ / "many");
    for (int i = 0; i < 8200; ++i) std::ofstream(game_ / "many" / ("f" + std::to_string(i)));
    ASSERT_EQ(Run(kDecl, "system code=21, text1=\"many\""), 0);
    EXPECT_EQ(FileNameCount(), 8192u);
    ASSERT_EQ(ui_.boxes.size(), 1u);
    EXPECT_EQ(ui_.boxes[0].text, Utf8ToCp932("リストが 8192 個に達しました. 取得を中断します。"));
}

TEST_F(SystemCommandTest, TextLengths) {
    ASSERT_EQ(Run(kDecl, "texts[0] = \"ab\"\ntexts[1] = \"c\"\na = #texts\nb = #lens\n"
                         "system code=23, result=n, int1=a, int2=b"),
              0);
    EXPECT_EQ(Int("n"), 2);
    EXPECT_EQ(Int("lens", 0), 2);
    EXPECT_EQ(Int("lens", 1), 1);
    EXPECT_EQ(Int("lens", 2), 0);
    EXPECT_EQ(Int("lens", 3), -1);
    // Every text non-empty: the walk stops at the end of the variable.
    ASSERT_EQ(Run(kDecl, "texts[1] = \"x\"\ntexts[2] = \"yy\"\ntexts[3] = \"z\"\na = #texts[1]\nb = #lens\nsystem code=23, result=n, int1=a, int2=b"), 0);
    EXPECT_EQ(Int("n"), 3);
    EXPECT_EQ(Int("lens", 1), 2);
    EXPECT_EQ(Int("lens", 3), -1);
    // A reference naming no variable stores nothing.
    ASSERT_EQ(Run(kDecl, "b = #lens\nsystem code=23, result=n, int1=0x7FFFFFFF00000000, int2=b"), 0);
    EXPECT_EQ(Int("n"), 0);
    EXPECT_EQ(Int("lens", 0), -1);
}

TEST_F(SystemCommandTest, FilesCopiedAndWritten) {
    Write("data\\Item.txt", {'h', 'i'});
    fs::create_directories(game_ / "Out");
    ASSERT_EQ(Run(kDecl, "system code=12, text1=\"DATA/item.txt\", text2=\"out/copy.txt\"\n"
                         "system code=15, text1=\"out/line.txt\", text2=\"abc\""),
              0);
    std::ifstream copy(game_ / "Out" / "copy.txt");
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(copy)), {}), "hi");
    std::ifstream line(game_ / "Out" / "line.txt", std::ios::binary);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(line)), {}), "abc\r\n");
    // A missing game file is a fatal 104060.
    EXPECT_EQ(Run(kDecl, "system code=12, text1=\"none.txt\", text2=\"out/x.txt\""), 1);
    EXPECT_EQ(LastMessage(), Missing("none.txt"));
    // Destinations outside the game folder are not written.
    ASSERT_EQ(Run(kDecl, "system code=15, text1=\"../escape.txt\", text2=\"abc\""), 0);
    EXPECT_FALSE(fs::exists(game_.parent_path() / "escape.txt"));
}

TEST_F(SystemCommandTest, SwitchesAndPauses) {
    ASSERT_EQ(Run(kDecl, "system code=27\nsystem code=80\nsystem code=20011\nsystem code=20013"), 0);
    EXPECT_TRUE(DrawDuringWindowMovie());
    EXPECT_TRUE(OffScreenModeRequested());
    EXPECT_EQ(CaptionDragPause.load(), 1);
    EXPECT_EQ(ThePauseClock().script_on, 1);
    ASSERT_EQ(Run(kDecl, "system code=28\nsystem code=81\nsystem code=20012\nsystem code=20014"), 0);
    EXPECT_FALSE(DrawDuringWindowMovie());
    EXPECT_FALSE(OffScreenModeRequested());
    EXPECT_EQ(CaptionDragPause.load(), 0);
    EXPECT_EQ(ThePauseClock().script_on, 0);
}

// Codes 100 and 110 hide and show the main window (on the main thread).
TEST_F(SystemCommandTest, HideAndShowTheMainWindow) {
    platform::HeadlessWindowSystem windows;
    platform::InstallWindowSystem(&windows);
    ASSERT_EQ(CreateWindowRecords(), 0);
    const std::string name = "zktest-sys-" + std::to_string(getpid());
    ASSERT_TRUE(windows.RegisterClass(name, EngineWindowProc));
    platform::WindowCreateParams params;
    params.class_name = name;
    params.width = 32;
    params.height = 32;
    GetWindowRecord(0)->window = windows.CreateWindow(params);
    const platform::WindowHandle window = GetWindowRecord(0)->window;
    windows.ShowWindow(window, platform::SW_SHOW);
    ASSERT_EQ(Run(kDecl, "system code=100"), 0);
    EXPECT_FALSE(windows.IsVisible(window));
    ASSERT_EQ(Run(kDecl, "system code=110"), 0);
    EXPECT_TRUE(windows.IsVisible(window));
    DestroyWindowRecords();
    platform::InstallWindowSystem(nullptr);
}

TEST_F(SystemCommandTest, EditFieldLifecycle) {
    const std::string long_text = std::string(300, 'x');
    ASSERT_EQ(Run(kDecl, "s = \"" + long_text + "\"\nsystem code=10102, text1=s, int1=10, int2=20, int3=100, int4=14\n"
                         "system code=10105, result=s"),
              0);
    EXPECT_EQ(Text("s").size(), kScriptEditMaxChars);
    ScriptEditField field = ScriptEditState();
    EXPECT_TRUE(field.exists);
    EXPECT_EQ(field.x, 10);
    EXPECT_EQ(field.height, 14);
    // Typing needs the focus; then the editing keys.
    ASSERT_EQ(Run(kDecl, "system code=10104, text1=\"ab\"\nsystem code=20005"), 0);
    ScriptEditKey(0x23);  // End
    ScriptEditInsert(Utf8ToCp932("漢") + "\r\nignored");
    ScriptEditKey(0x25);  // Left over the double-byte character
    ScriptEditKey(0x08);  // Backspace
    EXPECT_EQ(GetScriptEditText(), "a" + Utf8ToCp932("漢"));
    ASSERT_EQ(Run(kDecl, "system code=20006"), 0);
    ScriptEditInsert("zz");
    EXPECT_EQ(GetScriptEditText(), "a" + Utf8ToCp932("漢"));
    ASSERT_EQ(Run(kDecl, "system code=10103\nsystem code=10105, result=s"), 0);
    EXPECT_EQ(Text("s"), "");
    EXPECT_FALSE(ScriptEditState().exists);
}

}  // namespace
}  // namespace zk
