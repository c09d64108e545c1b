// platform/ui.h: the recording double, the shared button layout, the stderr
// and SDL back ends (headless), SplitCommandLine, FindTextEditor and
// LaunchProgram.
#include "platform/ui.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/platform/scoped_env.h"

namespace zk::platform {
namespace {

namespace fs = std::filesystem;
using EditButton = ErrorDialogRequest::EditButton;

// CP932 texts used below.
constexpr const char* kErrorCp932 = "\x83\x47\x83\x89\x81\x5B";  // エラー
constexpr const char* kEndCp932 = "\x8F\x49\x97\xB9";            // 終了

using test::OwnPid;
using test::ScopedEnv;

// A fresh folder under the temp folder, removed at the end of the test.
class TempDir {
public:
    TempDir() {
        static int counter = 0;
        path_ = fs::temp_directory_path() / ("zk_ui_test_" + OwnPid() + "_" + std::to_string(counter++));
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

bool WaitFor(const std::function<bool()>& condition) {
    for (int i = 0; i < 1000; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

// The children of this process that have ended and not been reaped.
int CountZombieChildren() {
    const std::string self = OwnPid();
    int zombies = 0;
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator("/proc", ec)) {
        std::ifstream in(entry.path() / "stat");
        std::string stat;
        if (!in || !std::getline(in, stat)) continue;
        // "pid (comm) state ppid ..."; comm may hold spaces and parentheses.
        size_t close = stat.rfind(')');
        if (close == std::string::npos || close + 4 >= stat.size()) continue;
        char state = stat[close + 2];
        std::string rest = stat.substr(close + 4);
        std::string ppid = rest.substr(0, rest.find(' '));
        if (ppid == self && state == 'Z') ++zombies;
    }
    return zombies;
}

// --- Buttons -----------------------------------------------------------------

TEST(MessageBoxButtons, LayoutsLabelsAndDefaults) {
    auto ok = MessageBoxButtons(MB_OK);
    ASSERT_EQ(ok.size(), 1u);
    EXPECT_EQ(ok[0].id, IDOK);
    EXPECT_STREQ(ok[0].label, "OK");
    EXPECT_TRUE(ok[0].is_default);
    EXPECT_TRUE(ok[0].is_escape);

    auto ok_cancel = MessageBoxButtons(MB_OKCANCEL | MB_ICONWARNING);
    ASSERT_EQ(ok_cancel.size(), 2u);
    EXPECT_EQ(ok_cancel[0].id, IDOK);
    EXPECT_EQ(ok_cancel[1].id, IDCANCEL);
    EXPECT_STREQ(ok_cancel[1].label, "キャンセル");
    EXPECT_TRUE(ok_cancel[0].is_default);
    EXPECT_FALSE(ok_cancel[0].is_escape);
    EXPECT_TRUE(ok_cancel[1].is_escape);

    auto yes_no = MessageBoxButtons(MB_YESNO | MB_ICONINFORMATION);
    ASSERT_EQ(yes_no.size(), 2u);
    EXPECT_EQ(yes_no[0].id, IDYES);
    EXPECT_STREQ(yes_no[0].label, "はい");
    EXPECT_EQ(yes_no[1].id, IDNO);
    EXPECT_STREQ(yes_no[1].label, "いいえ");
    EXPECT_FALSE(yes_no[0].is_escape);  // Windows ignores Esc in a Yes/No box
    EXPECT_FALSE(yes_no[1].is_escape);

    auto yes_no_cancel = MessageBoxButtons(MB_YESNOCANCEL | MB_DEFBUTTON3);
    ASSERT_EQ(yes_no_cancel.size(), 3u);
    EXPECT_EQ(yes_no_cancel[2].id, IDCANCEL);
    EXPECT_TRUE(yes_no_cancel[2].is_default);
    EXPECT_TRUE(yes_no_cancel[2].is_escape);
    EXPECT_FALSE(yes_no_cancel[0].is_default);
}

TEST(MessageBoxButtons, DefaultAnswer) {
    EXPECT_EQ(MessageBoxDefaultAnswer(MB_OK), IDOK);
    EXPECT_EQ(MessageBoxDefaultAnswer(MB_OK | MB_SYSTEMMODAL | MB_ICONERROR), IDOK);
    EXPECT_EQ(MessageBoxDefaultAnswer(MB_OKCANCEL), IDOK);
    EXPECT_EQ(MessageBoxDefaultAnswer(MB_OKCANCEL | MB_DEFBUTTON2), IDCANCEL);
    EXPECT_EQ(MessageBoxDefaultAnswer(MB_YESNO), IDYES);
    EXPECT_EQ(MessageBoxDefaultAnswer(MB_YESNO | MB_DEFBUTTON2), IDNO);
    EXPECT_EQ(MessageBoxDefaultAnswer(MB_YESNOCANCEL | MB_DEFBUTTON3), IDCANCEL);
    // A default button past the last one means the first, as on Windows.
    EXPECT_EQ(MessageBoxDefaultAnswer(MB_YESNO | MB_DEFBUTTON3), IDYES);
    EXPECT_EQ(MessageBoxDefaultAnswer(MB_OK | MB_DEFBUTTON2), IDOK);
    // Types the engine never uses are shown as MB_OK.
    EXPECT_EQ(MessageBoxDefaultAnswer(0x2), IDOK);
}

// --- RecordingUi ---------------------------------------------------------------

TEST(RecordingUi, AnswersDefaultsAndRecords) {
    RecordingUi ui;
    EXPECT_EQ(ui.MessageBox(kNoWindow, "text", nullptr, MB_OK | MB_SYSTEMMODAL), IDOK);
    EXPECT_EQ(ui.MessageBox(7, "quit?", "title", MB_YESNO | MB_ICONINFORMATION), IDYES);
    EXPECT_EQ(ui.MessageBox(7, "x", "", MB_YESNO | MB_DEFBUTTON2), IDNO);

    ASSERT_EQ(ui.boxes.size(), 3u);
    EXPECT_EQ(ui.boxes[0].owner, kNoWindow);
    EXPECT_EQ(ui.boxes[0].text, "text");
    EXPECT_FALSE(ui.boxes[0].caption.has_value());  // null caption
    EXPECT_EQ(ui.boxes[0].flags, uint32_t{MB_OK | MB_SYSTEMMODAL});
    EXPECT_EQ(ui.boxes[1].owner, 7u);
    EXPECT_EQ(ui.boxes[1].caption, std::optional<std::string>("title"));
    EXPECT_EQ(ui.boxes[2].caption, std::optional<std::string>(""));  // empty, not null
}

TEST(RecordingUi, QueuedAnswersComeFirstInOrder) {
    RecordingUi ui;
    ui.QueueAnswer(IDNO);
    ui.QueueAnswer(IDCANCEL);
    EXPECT_EQ(ui.MessageBox(kNoWindow, "a", nullptr, MB_YESNO), IDNO);
    EXPECT_EQ(ui.MessageBox(kNoWindow, "b", nullptr, MB_OKCANCEL), IDCANCEL);
    EXPECT_EQ(ui.MessageBox(kNoWindow, "c", nullptr, MB_YESNO), IDYES);  // queue used up
    EXPECT_EQ(ui.boxes.size(), 3u);
}

TEST(RecordingUi, ErrorDialogPressesEditWhenEnabled) {
    RecordingUi ui;
    ui.PressEditTimes(3);
    int edits = 0;
    ErrorDialogRequest request;
    request.caption = "ZORVEK Debug Info.";
    request.message = "line 1\nline 2";
    request.edit = EditButton::kEnabled;
    request.owner = 5;
    request.on_edit = [&] { ++edits; };

    EXPECT_EQ(ui.ErrorDialog(request), kErrorDialogExitButton);
    EXPECT_EQ(edits, 3);
    ASSERT_EQ(ui.dialogs.size(), 1u);
    EXPECT_EQ(ui.dialogs[0].caption, "ZORVEK Debug Info.");
    EXPECT_EQ(ui.dialogs[0].message, "line 1\nline 2");
    EXPECT_EQ(ui.dialogs[0].edit, EditButton::kEnabled);
    EXPECT_EQ(ui.dialogs[0].owner, 5u);

    // A disabled or absent edit button cannot be pressed.
    edits = 0;
    request.edit = EditButton::kDisabled;
    EXPECT_EQ(ui.ErrorDialog(request), kErrorDialogExitButton);
    request.edit = EditButton::kAbsent;
    EXPECT_EQ(ui.ErrorDialog(request), kErrorDialogExitButton);
    EXPECT_EQ(edits, 0);
    EXPECT_EQ(ui.dialogs.size(), 3u);

    // Without presses scripted the dialog just exits.
    RecordingUi quiet;
    request.edit = EditButton::kEnabled;
    EXPECT_EQ(quiet.ErrorDialog(request), kErrorDialogExitButton);
    EXPECT_EQ(edits, 0);
}

TEST(RecordingUi, EditPressesWithoutCallbackAreHarmless) {
    RecordingUi ui;
    ui.PressEditTimes(2);
    ErrorDialogRequest request;
    request.edit = EditButton::kEnabled;  // on_edit left empty
    EXPECT_EQ(ui.ErrorDialog(request), kErrorDialogExitButton);
}

TEST(Ui, InstallAndRestore) {
    RecordingUi recording;
    InstallUi(&recording);
    EXPECT_EQ(&GetUi(), &recording);
    GetUi().MessageBox(kNoWindow, "hello", nullptr, MB_OK);
    EXPECT_EQ(recording.boxes.size(), 1u);

    InstallUi(nullptr);
    EXPECT_NE(&GetUi(), &recording);
    testing::internal::CaptureStderr();
    EXPECT_EQ(GetUi().MessageBox(kNoWindow, "restored", "cap", MB_YESNO), IDYES);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "[cap]\nrestored\n");
    EXPECT_EQ(recording.boxes.size(), 1u);
}

// --- The stderr back end -----------------------------------------------------

TEST(StderrUi, PrintsAndAnswersTheDefault) {
    auto ui = CreateStderrUi();
    testing::internal::CaptureStderr();
    EXPECT_EQ(ui->MessageBox(kNoWindow, kEndCp932, kErrorCp932, MB_OK | MB_SYSTEMMODAL), IDOK);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "[エラー]\n終了\n");

    testing::internal::CaptureStderr();
    EXPECT_EQ(ui->MessageBox(3, "a\r\nb", nullptr, MB_YESNO | MB_ICONINFORMATION), IDYES);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "[エラー]\na\nb\n");  // null caption; CR LF -> LF

    testing::internal::CaptureStderr();
    EXPECT_EQ(ui->MessageBox(kNoWindow, "x\n", "", MB_OKCANCEL | MB_DEFBUTTON2), IDCANCEL);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "[]\nx\n");
}

TEST(StderrUi, ErrorDialogPrintsAndExits) {
    auto ui = CreateStderrUi();
    int edits = 0;
    ErrorDialogRequest request;
    request.caption = "ZORVEK Debug Info.";
    request.message = std::string("[") + kErrorCp932 + "]\n\nline";
    request.edit = EditButton::kEnabled;
    request.on_edit = [&] { ++edits; };
    testing::internal::CaptureStderr();
    EXPECT_EQ(ui->ErrorDialog(request), kErrorDialogExitButton);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "[ZORVEK Debug Info.]\n[エラー]\n\nline\n");
    EXPECT_EQ(edits, 0);
}

TEST(StderrUi, EveryErrorNumberIsALineOfItsOwn) {
    auto ui = CreateStderrUi();
    testing::internal::CaptureStderr();
    ui->ErrorNumber(104060);
    ui->ErrorNumber(7);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "error 104060\nerror 000007\n");
}

// --- The SDL back end without a display ----------------------------------------

TEST(SdlUi, FallsBackToStderrWithoutADisplay) {
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((display && *display) || (wayland && *wayland)) {
        GTEST_SKIP() << "a display is present: a real box would wait for a click";
    }
    ScopedEnv driver("SDL_VIDEODRIVER", "dummy");
    auto ui = CreateSdlUi();
    testing::internal::CaptureStderr();
    EXPECT_EQ(ui->MessageBox(kNoWindow, "no display", kErrorCp932, MB_YESNO), IDYES);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "[エラー]\nno display\n");

    int edits = 0;
    ErrorDialogRequest request;
    request.caption = "cap";
    request.message = "msg";
    request.edit = EditButton::kEnabled;
    request.on_edit = [&] { ++edits; };
    testing::internal::CaptureStderr();
    EXPECT_EQ(ui->ErrorDialog(request), kErrorDialogExitButton);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "[cap]\nmsg\n");
    EXPECT_EQ(edits, 0);
}

// --- SplitCommandLine ----------------------------------------------------------

struct SplitCase {
    const char* text;
    std::vector<std::string> args;
};

TEST(DialogText, BackToCp932) {
    struct Case {
        std::string utf8;
        bool crlf;
        std::string expected;
    };
    const Case cases[] = {
        {"abc", false, "abc"},
        {"エラー", false, kErrorCp932},
        {"a\nb", true, "a\r\nb"},
        {"a\nb", false, "a\nb"},
        {"x\xF0\x9F\x98\x80y", false, "x?y"},   // an emoji: no CP932 character
        {"\xE4\xB8", false, "??"},             // a cut sequence: each byte is no UTF-8
        {"\xC0\xAF", false, "??"},             // an overlong form
        {"\xE2\x82\xAC", false, "?"},          // € is not in CP932 either
    };
    for (const Case& c : cases) EXPECT_EQ(DialogTextFromUtf8(c.utf8, c.crlf), c.expected) << c.utf8;
}

TEST(DialogText, CharacterLimitCountsPairsAsOne) {
    const std::string a = "\x82\xA0";  // あ
    EXPECT_EQ(SjisCharacterCount("ab" + a + a), 4u);
    EXPECT_EQ(LimitCharacters("abcdef", 5), "abcde");
    EXPECT_EQ(LimitCharacters(a + a + a + "x", 2), a + a);
    EXPECT_EQ(LimitCharacters("abcdef", 0), "abcdef");
    EXPECT_EQ(LimitCharacters("abc", -3), "abc");
}

TEST(DialogText, MnemonicsForGtk) {
    EXPECT_EQ(MnemonicsToGtk("&File"), "_File");
    EXPECT_EQ(MnemonicsToGtk("Save && Quit"), "Save & Quit");
    EXPECT_EQ(MnemonicsToGtk("snake_case"), "snake__case");
    EXPECT_EQ(MnemonicsToGtk("end&"), "end");
    EXPECT_EQ(MnemonicsToGtk("保存(&S)"), "保存(_S)");
}

TEST(SplitCommandLine, WindowsRules) {
    const std::vector<SplitCase> cases = {
        {"", {}},
        {"   \t ", {}},
        {"a", {"a"}},
        {"  a  b\tc  ", {"a", "b", "c"}},
        // Quotes group and are removed; they may sit inside a word.
        {"\"a b\" c", {"a b", "c"}},
        {"x\"a b\"y z", {"xa by", "z"}},
        {"\"abc\" d e", {"abc", "d", "e"}},
        {"a\\\\b d\"e f\"g h", {"a\\\\b", "de fg", "h"}},
        // Empty quotes make an empty argument; inside a word they vanish.
        {"\"\"", {""}},
        {"a \"\" b", {"a", "", "b"}},
        {"a\"\"b", {"ab"}},
        // "" inside a quoted part is a literal quote (MSVC runtime since 2008).
        {"a\"b\"\" c d", {"ab\" c d"}},
        {"\"a\"\"b\"", {"a\"b"}},
        // An unclosed quote runs to the end.
        {"\"a b", {"a b"}},
        // Backslashes: 2n + quote -> n and the quote groups; 2n+1 + quote ->
        // n and a literal quote; otherwise literal.
        {"a\\\"b c d", {"a\"b", "c", "d"}},
        {"a\\\\\\\"b c d", {"a\\\"b", "c", "d"}},
        {"a\\\\\\\\\"b c\" d e", {"a\\\\b c", "d", "e"}},
        {"\"C:\\dir\\\\\" x", {"C:\\dir\\", "x"}},
        {"C:\\a\\b\\", {"C:\\a\\b\\"}},
        {"\\\\", {"\\\\"}},
        {"\\\"", {"\""}},
        // Double-byte characters are units: a trail byte 0x5C is no backslash.
        {"\"C:\\\x95\x5C\" x", {"C:\\\x95\x5C", "x"}},                    // "C:\表" x
        {"\"\x83\x5C\" \x95\x5C", {"\x83\x5C", "\x95\x5C"}},              // "ソ" 表
        {"\x8F\x49\x97\xB9 \"\x8F\xEE \x95\xF1\"", {"\x8F\x49\x97\xB9", "\x8F\xEE \x95\xF1"}},
        // A lead byte at the very end stands alone.
        {"a \x95", {"a", "\x95"}},
        // The editor table's shapes (Q = '"').
        {" \"C:\\game\\s.txt\" /l 12", {"C:\\game\\s.txt", "/l", "12"}},
        {" \"C:\\game\\s.txt+12\"", {"C:\\game\\s.txt+12"}},
        {" /j3 \"C:\\my game\\s.txt\"", {"/j3", "C:\\my game\\s.txt"}},
    };
    for (const SplitCase& c : cases) {
        EXPECT_EQ(SplitCommandLine(c.text), c.args) << "text: [" << c.text << "]";
    }
}

// --- FindTextEditor ------------------------------------------------------------

// A desktop without any association: the XDG folders point into an empty
// folder, so the machine's own settings never answer.
struct NoDesktop {
    TempDir dir;
    ScopedEnv config_home{"XDG_CONFIG_HOME", dir.path().string()};
    ScopedEnv config_dirs{"XDG_CONFIG_DIRS", dir.path().string()};
    ScopedEnv data_home{"XDG_DATA_HOME", dir.path().string()};
    ScopedEnv data_dirs{"XDG_DATA_DIRS", dir.path().string()};
};

TEST(FindTextEditor, VisualThenEditor) {
    NoDesktop desktop;
    {
        ScopedEnv visual("VISUAL", std::nullopt);
        ScopedEnv editor("EDITOR", std::nullopt);
        EXPECT_EQ(FindTextEditor(), "");
    }
    {
        ScopedEnv visual("VISUAL", std::nullopt);
        ScopedEnv editor("EDITOR", "nano");
        EXPECT_EQ(FindTextEditor(), "nano");
    }
    {
        ScopedEnv visual("VISUAL", "/usr/bin/vim");
        ScopedEnv editor("EDITOR", "nano");
        EXPECT_EQ(FindTextEditor(), "/usr/bin/vim");
    }
    {
        ScopedEnv visual("VISUAL", "  ");  // empty counts as unset
        ScopedEnv editor("EDITOR", "nano");
        EXPECT_EQ(FindTextEditor(), "nano");
    }
    {
        ScopedEnv visual("VISUAL", "");
        ScopedEnv editor("EDITOR", "");
        EXPECT_EQ(FindTextEditor(), "");
    }
}

TEST(FindTextEditor, KeepsOnlyTheProgram) {
    ScopedEnv visual("VISUAL", std::nullopt);
    {
        ScopedEnv editor("EDITOR", "code --wait");
        EXPECT_EQ(FindTextEditor(), "code");
    }
    {
        ScopedEnv editor("EDITOR", "  emacs\t-nw ");
        EXPECT_EQ(FindTextEditor(), "emacs");
    }
    {
        ScopedEnv editor("EDITOR", "'/opt/My Editor/ed' -w");
        EXPECT_EQ(FindTextEditor(), "/opt/My Editor/ed");
    }
    {
        ScopedEnv editor("EDITOR", "\"/opt/My Editor/ed\"");
        EXPECT_EQ(FindTextEditor(), "/opt/My Editor/ed");
    }
    {
        // An executable whose path has a space, named without quotes.
        TempDir dir;
        fs::path program = dir.path() / "my editor";
        std::ofstream(program) << "#!/bin/sh\n";
        fs::permissions(program, fs::perms::owner_all);
        ScopedEnv editor("EDITOR", program.string());
        EXPECT_EQ(FindTextEditor(), program.string());
    }
}

TEST(FindTextEditor, TheDesktopsProgramForTextWhenNoVariableNamesOne) {
    NoDesktop desktop;
    ScopedEnv visual("VISUAL", std::nullopt);
    ScopedEnv editor("EDITOR", std::nullopt);
    const fs::path root = desktop.dir.path();
    fs::create_directories(root / "applications");
    fs::create_directories(root / "system" / "applications");
    ScopedEnv data_dirs("XDG_DATA_DIRS", (root / "system").string() + ":relative/ignored");
    auto write = [](const fs::path& path, const std::string& text) { std::ofstream(path) << text; };
    write(root / "applications" / "org.kde.kate.desktop",
          "[Desktop Entry]\nName=Kate\nExec=kate -b %U\n[Desktop Action new]\nExec=other\n");
    write(root / "system" / "applications" / "my-editor.desktop",
          "# comment\n[Desktop Entry]\nExec=\"/opt/My Editor/bin/ed\" --new %f\n");

    struct Case {
        const char* what;
        std::string list;  // $XDG_CONFIG_HOME/mimeapps.list
        std::string program;
    };
    const Case cases[] = {
        {"no list", "", ""},
        {"the default application", "[Default Applications]\ntext/plain=org.kde.kate.desktop\n", "kate"},
        {"the first that exists", "[Default Applications]\ntext/plain=gone.desktop;my-editor.desktop;\n",
         "/opt/My Editor/bin/ed"},
        {"another type only", "[Default Applications]\ntext/html=org.kde.kate.desktop\n", ""},
        {"an added association", "[Added Associations]\ntext/plain=org.kde.kate.desktop;\n", "kate"},
        {"a default wins over an added one",
         "[Added Associations]\ntext/plain=org.kde.kate.desktop\n[Default Applications]\ntext/plain=my-editor.desktop\n",
         "/opt/My Editor/bin/ed"},
        {"a path as the id is refused", "[Default Applications]\ntext/plain=../applications/org.kde.kate.desktop\n", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(root / "mimeapps.list");
        if (!c.list.empty()) write(root / "mimeapps.list", c.list);
        EXPECT_EQ(FindTextEditor(), c.program);
    }
    // $EDITOR still comes first.
    write(root / "mimeapps.list", "[Default Applications]\ntext/plain=org.kde.kate.desktop\n");
    ScopedEnv nano("EDITOR", "nano");
    EXPECT_EQ(FindTextEditor(), "nano");
}

// --- LaunchProgram -------------------------------------------------------------

TEST(LaunchProgram, StartsAProgramFromPathWithoutAShell) {
    TempDir dir;
    // One argument with a space, a shell metacharacter and UTF-8: no shell
    // splits or expands it.
    const fs::path file = dir.path() / "a b;$x あ";
    ASSERT_TRUE(LaunchProgram("touch", {file.string()}));
    EXPECT_TRUE(WaitFor([&] { return fs::exists(file); }));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(LaunchProgram, LeavesNoZombies) {
    TempDir dir;
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(LaunchProgram("/usr/bin/touch", {(dir.path() / std::to_string(i)).string()}));
    }
    EXPECT_TRUE(WaitFor([&] {
        for (int i = 0; i < 5; ++i) {
            if (!fs::exists(dir.path() / std::to_string(i))) return false;
        }
        return true;
    }));
    EXPECT_TRUE(WaitFor([] { return CountZombieChildren() == 0; })) << CountZombieChildren() << " zombies";
}

TEST(LaunchProgram, ReportsWhatCannotStart) {
    EXPECT_FALSE(LaunchProgram("", {}));
    EXPECT_FALSE(LaunchProgram("zk-no-such-program-4711", {"x"}));
    EXPECT_FALSE(LaunchProgram("/nonexistent/dir/program", {}));
    TempDir dir;
    const fs::path plain = dir.path() / "not-executable";
    std::ofstream(plain) << "#!/bin/sh\n";
    fs::permissions(plain, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_FALSE(LaunchProgram(plain.string(), {}));
}

}  // namespace
}  // namespace zk::platform
