// Error reporting: the zke.zbn table and the built-in texts,
// the reporters, the location prefix, the error dialog and its edit button,
// and the plain message box.
#include "core/error_report.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/engine_state.h"
#include "core/main_thread_calls.h"
#include "core/run_summary.h"
#include "platform/game_path.h"
#include "platform/ui.h"
#include "tools/lib/byte_writer.h"
#include "tools/lib/zke_writer.h"
#include "base/text_encoding.h"
#include "tests/platform/scoped_env.h"
#include "storage/startup_files.h"

namespace zk {
namespace {

namespace fs = std::filesystem;
using EditButton = platform::ErrorDialogRequest::EditButton;
using tools::ZkeRawOptions;
using tools::ZkeRecord;
using Records = std::vector<ZkeRecord>;

// Engine texts are CP932; the expectations are written in UTF-8.
std::string Sjis(std::string_view utf8) { return Utf8ToCp932(utf8); }

using test::OwnPid;
using test::ScopedEnv;

// Each test runs in a fresh game folder (the current folder, where the loose
// file "zkbin\zke.zbn" resolves), with the recording UI installed and the
// reporter and engine flags at their start-of-run state.
class ErrorReportTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int counter = 0;
        old_cwd_ = fs::current_path();
        game_ = fs::temp_directory_path() / ("zk_error_report_test_" + OwnPid() + "_" + std::to_string(counter++));
        fs::remove_all(game_);
        fs::create_directories(game_);
        fs::current_path(game_);
        platform::ClearPathCache();
        ResetErrorReporter();
        ResetEngineState();
        platform::InstallUi(&ui_);
    }
    void TearDown() override {
        platform::InstallUi(nullptr);
        ResetErrorReporter();
        ResetEngineState();
        fs::current_path(old_cwd_);
        std::error_code ec;
        fs::remove_all(game_, ec);
    }

    void WriteZke(const Records& records, const ZkeRawOptions& options = {}) {
        ASSERT_TRUE(tools::WriteFile((game_ / "zkbin" / "zke.zbn").string(), tools::BuildZke(records, options)));
    }

    // Resets the once-per-run dialog between the cases of one test.
    void NextRun() {
        ResetErrorReporter();
        ResetEngineState();
        ui_.dialogs.clear();
    }

    platform::RecordingUi ui_;
    fs::path game_;
    fs::path old_cwd_;
};

// Raw overrides for damaged files.
ZkeRawOptions TruncatedTo(size_t size) {
    ZkeRawOptions options;
    options.truncate_to = size;
    return options;
}
ZkeRawOptions WithCount(uint32_t count) {
    ZkeRawOptions options;
    options.count = count;
    return options;
}
ZkeRawOptions WithoutLastTerminator() {
    ZkeRawOptions options;
    options.omit_last_terminator = true;
    return options;
}

std::string NameText(int code) { return "text of " + std::to_string(code); }

// --- LoadErrorTexts ---------------------------------------------------------

TEST_F(ErrorReportTest, LoadsTheTable) {
    WriteZke({{200000, "first %d"},
              {200000, "second"},
              {200001, "\x83\x65\x83\x58\x83\x67"},  // テスト
              {200002, ""}});
    ASSERT_EQ(LoadErrorTexts(), 0);

    const ErrorTextTable& table = ErrorReporter().table;
    EXPECT_EQ(table.count, 4);
    EXPECT_EQ(table.codes[0], 200000u);
    EXPECT_EQ(table.codes[3], 200002u);
    EXPECT_EQ(LookupErrorText(200000), "first %d");  // the first equal code wins
    EXPECT_EQ(LookupErrorText(200001), Sjis("テスト"));
    EXPECT_EQ(LookupErrorText(200002), "");  // present with an empty text
    EXPECT_TRUE(ui_.dialogs.empty());
    EXPECT_EQ(QuitFlag.load(), 0);
    EXPECT_EQ(ErrorReporter().reports, 0u);
}

TEST_F(ErrorReportTest, TableTextIsTheFormatOfItsReport) {
    WriteZke({{200000, "value %d, name %s"}});
    ASSERT_EQ(LoadErrorTexts(), 0);
    ReportEngineErrorF(200000, false, {int64_t{12}, std::string_view("abc")});
    ASSERT_EQ(ui_.dialogs.size(), 1u);
    EXPECT_EQ(ui_.dialogs[0].message, "value 12, name abc");
}

TEST_F(ErrorReportTest, LoadsExactly256Records) {
    Records records;
    for (uint32_t i = 0; i < 256; ++i) records.push_back({300000 + i, NameText(static_cast<int>(i))});
    WriteZke(records);
    ASSERT_EQ(LoadErrorTexts(), 0);
    EXPECT_EQ(ErrorReporter().table.count, 256);
    EXPECT_EQ(LookupErrorText(300255), NameText(255));
}

TEST_F(ErrorReportTest, MissingFileIsReportedWithItsName) {
    EXPECT_EQ(LoadErrorTexts(), -1);
    ASSERT_EQ(ui_.dialogs.size(), 1u);
    EXPECT_EQ(ui_.dialogs[0].message, Sjis("[zkbin\\zke.zbn]ファイルが\n存在しません。"));
    EXPECT_EQ(ui_.dialogs[0].caption, "ZORVEK Debug Info.");
    EXPECT_EQ(QuitFlag.load(), 1);
    EXPECT_EQ(ErrorReporter().table.count, 0);
}

// A damaged file is reported as unreadable (104010, fatal, with its name)
// and the table stays as it was.
class DamagedFileTest : public ErrorReportTest {
protected:
    void ExpectDamaged() {
        EXPECT_EQ(LoadErrorTexts(), -1);
        ASSERT_EQ(ui_.dialogs.size(), 1u);
        EXPECT_EQ(ui_.dialogs[0].message, Sjis("[zkbin\\zke.zbn]ファイルを\n読み込めませんでした。"));
        EXPECT_EQ(QuitFlag.load(), 1);
        EXPECT_EQ(ErrorReporter().table.count, 0);
        EXPECT_EQ(LookupErrorText(200000), Sjis("[内部エラー]\n\nエラー文字列の指定ミスです。\nシステム開発者までお問い合わせください。"));
    }
};

TEST_F(DamagedFileTest, TruncatedRecordText) {
    WriteZke({{200000, "whole"}, {200001, "cut short"}}, TruncatedTo(16 + 10 + 4 + 3));
    ExpectDamaged();
}

TEST_F(DamagedFileTest, TruncatedRecordCode) {
    WriteZke({{200000, "whole"}, {200001, "x"}}, TruncatedTo(16 + 10 + 2));
    ExpectDamaged();
}

TEST_F(DamagedFileTest, TextWithoutTerminator) {
    WriteZke({{200000, "whole"}, {200001, "no end"}}, WithoutLastTerminator());
    ExpectDamaged();
}

TEST_F(DamagedFileTest, CountAbove256) {
    Records records;
    for (uint32_t i = 0; i < 300; ++i) records.push_back({300000 + i, NameText(static_cast<int>(i))});
    WriteZke(records);
    ExpectDamaged();
}

TEST_F(DamagedFileTest, CountBeyondTheRecords) {
    WriteZke({{200000, "a"}, {200001, "b"}}, WithCount(3));
    ExpectDamaged();
}

TEST_F(DamagedFileTest, HugeCount) {
    WriteZke({{200000, "a"}}, WithCount(0xFFFFFFFFu));
    ExpectDamaged();
}

TEST_F(DamagedFileTest, ShortHeader) {
    WriteZke({}, TruncatedTo(14));
    ExpectDamaged();
}

TEST_F(ErrorReportTest, DamagedReloadKeepsTheLoadedTable) {
    WriteZke({{200000, "kept"}});
    ASSERT_EQ(LoadErrorTexts(), 0);
    WriteZke({{200000, "new"}}, WithCount(9));
    platform::ClearPathCache();
    EXPECT_EQ(LoadErrorTexts(), -1);
    EXPECT_EQ(ErrorReporter().table.count, 1);
    EXPECT_EQ(LookupErrorText(200000), "kept");
}

TEST(ParseErrorTextTableTest, DamagedBytesLeaveTheTableAlone) {
    ErrorTextTable table;
    ASSERT_TRUE(ParseErrorTextTable(tools::BuildZke({{1, "one"}, {2, "two"}}), table));
    EXPECT_EQ(table.count, 2);
    EXPECT_EQ(table.texts[1], "two");

    for (size_t cut = 0; cut < 16 + 8 + 8; ++cut) {
        EXPECT_FALSE(ParseErrorTextTable(tools::BuildZke({{1, "one"}, {2, "two"}}, TruncatedTo(cut)), table)) << cut;
    }
    EXPECT_FALSE(ParseErrorTextTable(tools::BuildZke({}, WithCount(257)), table));
    EXPECT_EQ(table.count, 2);
    EXPECT_EQ(table.texts[0], "one");
}

// --- LookupErrorText ----------------------------------------------------------

TEST_F(ErrorReportTest, BuiltInTextWinsOverTheTable) {
    WriteZke({{104060, "table text for 104060"}, {100010, "table text for 100010"}});
    ASSERT_EQ(LoadErrorTexts(), 0);
    EXPECT_EQ(LookupErrorText(104060), Sjis("[%s]ファイルが\n存在しません。"));
    EXPECT_EQ(LookupErrorText(100010), Sjis("メモリ不足です。"));
}

TEST_F(ErrorReportTest, BuiltInTexts) {
    EXPECT_EQ(LookupErrorText(104100), Sjis("パックファイル中に破損ファイルが見つかりました。\n\nPacFile = %s\nFile = %s"));
    EXPECT_EQ(LookupErrorText(104130), Sjis("パックファイルを同時に扱えるのは %d 個までです。"));
    EXPECT_EQ(LookupErrorText(901040), Sjis("[内部エラー]\n\nパックファイル[%s]が\nオープンできませんでした。"));
}

TEST_F(ErrorReportTest, UnknownCodeGivesTheInternalErrorText) {
    EXPECT_EQ(LookupErrorText(123456),
              Sjis("[内部エラー]\n\nエラー文字列の指定ミスです。\nシステム開発者までお問い合わせください。"));
    EXPECT_EQ(LookupErrorText(0), LookupErrorText(123456));  // unused slots hold code 0 but do not count
}

TEST_F(ErrorReportTest, CreditsNotice) {
    std::string_view credits = LookupErrorText(100000);
    EXPECT_TRUE(credits.starts_with(Sjis("■ライセンスについて")));
    EXPECT_NE(credits.find(Sjis("●Ogg Vorbis")), std::string_view::npos);
    EXPECT_NE(credits.find(Sjis("●libpng")), std::string_view::npos);
    EXPECT_NE(credits.find(Sjis("●zlib 1.2.3")), std::string_view::npos);
    EXPECT_NE(credits.find("http://www.zlib.net/"), std::string_view::npos);
    EXPECT_EQ(credits.find('%'), std::string_view::npos);  // it is used as a format
    EXPECT_GT(credits.size(), kErrorTextLimit);

    // Shown whole, under the license caption.
    ErrorReporter().caption = kLicenseCaption;
    ReportEngineError(100000, false);
    ASSERT_EQ(ui_.dialogs.size(), 1u);
    EXPECT_EQ(ui_.dialogs[0].message, credits);
    EXPECT_EQ(ui_.dialogs[0].caption, "License Information");
    EXPECT_EQ(QuitFlag.load(), 0);
}

// --- Reports --------------------------------------------------------------------

TEST_F(ErrorReportTest, OnlyTheFirstReportIsShown) {
    ReportEngineErrorF(104060, true, {std::string_view("a.png")});
    ASSERT_EQ(ui_.dialogs.size(), 1u);
    EXPECT_EQ(ui_.dialogs[0].message, Sjis("[a.png]ファイルが\n存在しません。"));
    EXPECT_EQ(QuitFlag.load(), 1);

    // The second report shows nothing but still raises the QuitFlag.
    QuitFlag = 0;
    ReportEngineError(100010, true);
    EXPECT_EQ(ui_.dialogs.size(), 1u);
    EXPECT_EQ(QuitFlag.load(), 1);
    EXPECT_EQ(ErrorReporter().message, Sjis("メモリ不足です。"));
    EXPECT_EQ(ErrorReporter().reports, 2u);
    EXPECT_EQ(ErrorReporter().fatal_reports, 2u);
    EXPECT_TRUE(ErrorReporter().dialog_shown);
}

// Every error tells the UI its number (a headless run prints it), whatever
// text it has and whether its dialog is shown; the first fatal one is what
// stopped the run. The credits notice is no error.
TEST_F(ErrorReportTest, EveryErrorNumberReachesTheUiAndTheFirstFatalStopsTheRun) {
    ResetStopCause();
    WriteZke({{200000, "from the table %s"}});
    ASSERT_EQ(LoadErrorTexts(), 0);
    ErrorReporter().caption = kLicenseCaption;
    ReportEngineError(kErrLicenseNotice, true);         // shown; no number
    ReportEngineErrorF(104150, false, {std::string_view("x.ogg")});  // built-in text, not fatal
    ReportScriptErrorF(200000, true, {std::string_view("a")});     // the table's text
    ReportEngineError(123456, true);                     // the internal-error text
    EXPECT_EQ(ui_.ErrorNumbers(), (std::vector<uint32_t>{104150, 200000, 123456}));
    EXPECT_EQ(ui_.dialogs.size(), 1u);  // the credits; no later report is shown
    EXPECT_EQ(TheStopCause(), StopCause::kFatalError);
    EXPECT_EQ(StopErrorCode(), 200000u);
    ResetStopCause();
}

TEST_F(ErrorReportTest, NonFatalReportLeavesTheQuitFlag) {
    ReportEngineErrorF(104150, false, {std::string_view("x.ogg")});
    ASSERT_EQ(ui_.dialogs.size(), 1u);
    EXPECT_EQ(ui_.dialogs[0].message, Sjis("パックファイル内のファイル\n[x.ogg]が\n重複しています。"));
    EXPECT_EQ(QuitFlag.load(), 0);
    EXPECT_EQ(ErrorReporter().reports, 1u);
    EXPECT_EQ(ErrorReporter().fatal_reports, 0u);
}

TEST_F(ErrorReportTest, ReportWithoutArgumentsUsesTheTextAsTheFormat) {
    // No arguments: "%s" prints nothing (a printf would have read whatever
    // was on the stack).
    ReportEngineError(104060, true);
    ASSERT_EQ(ui_.dialogs.size(), 1u);
    EXPECT_EQ(ui_.dialogs[0].message, Sjis("[]ファイルが\n存在しません。"));
}

TEST_F(ErrorReportTest, HostileTableTextIsBounded) {
    std::string attack;
    for (int i = 0; i < 400; ++i) attack += "%s%n%x%*d";
    WriteZke({{200000, attack}, {200001, std::string(3000, 'a') + "%s"}});
    ASSERT_EQ(LoadErrorTexts(), 0);

    ReportEngineError(200000, true);
    ASSERT_EQ(ui_.dialogs.size(), 1u);
    // The text is cut to 1023 bytes first; each "%n" then prints as written.
    EXPECT_EQ(ErrorReporter().error_text.size(), kErrorTextLimit);
    EXPECT_LE(ui_.dialogs[0].message.size(), kErrorTextLimit);
    EXPECT_TRUE(ui_.dialogs[0].message.starts_with("%n%n"));

    // A long text is cut before its "%s" is reached.
    EXPECT_EQ(BuildErrorText(200001, false).size(), kErrorTextLimit);
    ReportEngineErrorF(200001, false, {std::string_view("zzz")});
    EXPECT_EQ(ErrorReporter().message, std::string(1023, 'a'));
}

TEST_F(ErrorReportTest, BuildErrorTextHasNoLocation) {
    ErrorReporter().location = ErrorLocation{true, "old.txt", 5};
    const std::string& text = BuildErrorText(100010, true);
    EXPECT_EQ(text, Sjis("メモリ不足です。"));
    EXPECT_FALSE(ErrorReporter().location.has_file);
    EXPECT_EQ(ErrorReporter().location.line, 1);
    EXPECT_EQ(QuitFlag.load(), 1);
    EXPECT_TRUE(ui_.dialogs.empty());  // building shows nothing
}

// --- The location prefix ------------------------------------------------------------

ScriptLocation g_where;
bool g_has_task = true;
bool TestLocation(ScriptLocation& out) {
    if (!g_has_task) return false;
    out = g_where;
    return true;
}

TEST_F(ErrorReportTest, ScriptReportBeginsWithTheLocation) {
    // The script "script\main.txt" fails at line 12 while loading "x.png".
    g_where = {Sjis("script\\main.txt"), 12};
    g_has_task = true;
    SetScriptLocationProvider(&TestLocation);

    ReportScriptErrorF(104060, true, {std::string_view("x.png")});
    ASSERT_EQ(ui_.dialogs.size(), 1u);
    EXPECT_EQ(ui_.dialogs[0].message, Sjis("[対象ファイル]\nscript\\main.txt\n\n[場所]\n12 行目\n\n[内容]\n\n"
                                           "[x.png]ファイルが\n存在しません。"));
    const ErrorLocation& location = ErrorReporter().location;
    EXPECT_TRUE(location.has_file);
    EXPECT_EQ(location.file, "script\\main.txt");
    EXPECT_EQ(location.line, 12);
    EXPECT_EQ(QuitFlag.load(), 1);

    // An engine report ignores the script's place.
    ReportEngineError(100010, false);
    EXPECT_FALSE(ErrorReporter().location.has_file);
    EXPECT_EQ(ErrorReporter().message, Sjis("メモリ不足です。"));
}

TEST_F(ErrorReportTest, ScriptReportWithoutTaskHasNoPrefix) {
    g_has_task = false;
    SetScriptLocationProvider(&TestLocation);
    ReportScriptError(100010, false);
    ASSERT_EQ(ui_.dialogs.size(), 1u);
    EXPECT_EQ(ui_.dialogs[0].message, Sjis("メモリ不足です。"));
    EXPECT_FALSE(ErrorReporter().location.has_file);

    NextRun();  // no provider at all
    ReportScriptError(100010, false);
    EXPECT_EQ(ui_.dialogs.at(0).message, Sjis("メモリ不足です。"));
}

TEST_F(ErrorReportTest, PercentInTheFileNamePrintsAsWritten) {
    g_where = {"a%sb%d.txt", 3};
    g_has_task = true;
    SetScriptLocationProvider(&TestLocation);
    ReportScriptErrorF(104060, true, {std::string_view("x.png")});
    ASSERT_EQ(ui_.dialogs.size(), 1u);
    EXPECT_TRUE(ui_.dialogs[0].message.starts_with(Sjis("[対象ファイル]\na%sb%d.txt\n\n[場所]\n3 行目")));
    EXPECT_TRUE(ui_.dialogs[0].message.ends_with(Sjis("[x.png]ファイルが\n存在しません。")));
}

// --- The dialog -----------------------------------------------------------------------

TEST_F(ErrorReportTest, EditButton) {
    g_where = {"script\\main.txt", 4};
    g_has_task = true;
    SetScriptLocationProvider(&TestLocation);

    // Switch 1 and a script location: enabled.
    SetErrorEditSwitch(1);
    ReportScriptError(100010, true);
    ASSERT_EQ(ui_.dialogs.size(), 1u);
    EXPECT_EQ(ui_.dialogs[0].edit, EditButton::kEnabled);

    // Switch 1 without a location: disabled.
    NextRun();
    SetErrorEditSwitch(1);
    ReportEngineError(100010, true);
    ASSERT_EQ(ui_.dialogs.size(), 1u);
    EXPECT_EQ(ui_.dialogs[0].edit, EditButton::kDisabled);

    // Switch 0 or any value but 1: absent, location or not.
    for (uint8_t value : {0, 2}) {
        NextRun();
        SetScriptLocationProvider(&TestLocation);
        SetErrorEditSwitch(value);
        ReportScriptError(100010, true);
        ASSERT_EQ(ui_.dialogs.size(), 1u);
        EXPECT_EQ(ui_.dialogs[0].edit, EditButton::kAbsent);
    }
}

TEST_F(ErrorReportTest, DialogOwnerAndCursor) {
    static int cursor_requests = 0;
    cursor_requests = 0;
    SetErrorDialogOwner(7);
    SetErrorCursorHook([] { ++cursor_requests; });
    ReportEngineError(100010, false);
    ReportEngineError(100010, false);
    ASSERT_EQ(ui_.dialogs.size(), 1u);
    EXPECT_EQ(ui_.dialogs[0].owner, 7u);
    EXPECT_EQ(cursor_requests, 1);
}

TEST_F(ErrorReportTest, EditButtonOpensTheLineInTheEditor) {
    // A stand-in editor named sakura.exe that writes its arguments to a file.
    fs::path editor = game_ / "bin" / "sakura.exe";
    fs::path out = game_ / "editor-args.txt";
    fs::create_directories(editor.parent_path());
    {
        std::ofstream script(editor);
        script << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" << out.string()
               << ".tmp' && mv '" << out.string() << ".tmp' '" << out.string() << "'\n";
    }
    fs::permissions(editor, fs::perms::owner_all);
    ScopedEnv visual("VISUAL", editor.string());

    // The script file exists on disk in another case.
    fs::create_directories(game_ / "Script");
    std::ofstream(game_ / "Script" / "Main.txt") << "text\n";

    SetErrorGameFolder(platform::CurrentDirectory());
    SetErrorEditSwitch(1);
    g_where = {"script\\main.txt", 12};
    g_has_task = true;
    SetScriptLocationProvider(&TestLocation);
    ui_.PressEditTimes(1);
    ReportScriptError(100010, true);
    ASSERT_EQ(ui_.dialogs.size(), 1u);

    bool written = false;
    for (int i = 0; i < 500 && !written; ++i) {
        written = fs::exists(out);
        if (!written) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(written);
    std::ifstream in(out);
    std::stringstream args;
    args << in.rdbuf();
    EXPECT_EQ(args.str(), (game_ / "Script" / "Main.txt").string() + "\n-Y=12\n");
}

TEST_F(ErrorReportTest, EditButtonWithoutAnEditorSaysSo) {
    // No variable and no desktop association (the XDG folders are empty).
    ScopedEnv visual("VISUAL", std::nullopt);
    ScopedEnv editor("EDITOR", std::nullopt);
    ScopedEnv config_home("XDG_CONFIG_HOME", game_.string());
    ScopedEnv config_dirs("XDG_CONFIG_DIRS", game_.string());
    ScopedEnv data_home("XDG_DATA_HOME", game_.string());
    ScopedEnv data_dirs("XDG_DATA_DIRS", game_.string());
    std::ofstream(game_ / "main.txt") << "text\n";
    SetErrorGameFolder(platform::CurrentDirectory());
    SetErrorEditSwitch(1);
    g_where = {"main.txt", 3};
    g_has_task = true;
    SetScriptLocationProvider(&TestLocation);
    ui_.PressEditTimes(1);
    ReportScriptError(100010, true);
    ASSERT_EQ(ui_.dialogs.size(), 1u);
    ASSERT_EQ(ui_.boxes.size(), 1u);
    EXPECT_NE(Cp932ToUtf8(ui_.boxes[0].text).find("エディタが見つかりません"), std::string::npos);

    // An editor named that cannot be started: the box names it.
    ResetErrorReporter();
    ui_.boxes.clear();
    ScopedEnv missing("VISUAL", (game_ / "no-such-editor").string());
    SetErrorGameFolder(platform::CurrentDirectory());
    SetErrorEditSwitch(1);
    SetScriptLocationProvider(&TestLocation);
    ReportScriptError(100010, true);
    ASSERT_EQ(ui_.boxes.size(), 1u);
    EXPECT_NE(Cp932ToUtf8(ui_.boxes[0].text).find("no-such-editor]を起動できませんでした"), std::string::npos);
}

TEST_F(ErrorReportTest, EditorParameters) {
    EXPECT_EQ(EditorParameters("sakura.exe", "P", 12), " \"P\" -Y=12");
    EXPECT_EQ(EditorParameters("C:\\Program Files\\sakura\\SAKURA.EXE", "P", 12), " \"P\" -Y=12");
    EXPECT_EQ(EditorParameters("/opt/editors/terapad.EXE", "P", 12), " /jl=12 P");
    EXPECT_EQ(EditorParameters("TeraPad.exe", "P", 12), " /jl=12 P");
    EXPECT_EQ(EditorParameters("MIW.exe", "P", 3), " \"P+3\"");
    EXPECT_EQ(EditorParameters("apsaly.exe", "P", 3), " /j3 P");
    EXPECT_EQ(EditorParameters("EmEditor.exe", "P", 3), " \"P\" /l 3");
    EXPECT_EQ(EditorParameters("QXW32.exe", "P", 3), " -J3 \"P\"");
    EXPECT_EQ(EditorParameters("whinny.exe", "P", 3), " \"P/3\"");
    EXPECT_EQ(EditorParameters("hidemaru.exe", "P", 3), " /j3 \"P\"");
    EXPECT_EQ(EditorParameters("/usr/bin/vim", "P", 12), " P");
    EXPECT_EQ(EditorParameters("sakura.exe.bak", "P", 12), " P");
    // A path full of conversions is only a path.
    EXPECT_EQ(EditorParameters("sakura.exe", "%s%d%n", 1), " \"%s%d%n\" -Y=1");
}

TEST_F(ErrorReportTest, EditorArguments) {
    using Args = std::vector<std::string>;
    EXPECT_EQ(EditorArguments("sakura.exe", "/my game/a.txt", 12), (Args{"/my game/a.txt", "-Y=12"}));
    EXPECT_EQ(EditorArguments("TeraPad.exe", "/g/a.txt", 2), (Args{"/jl=2", "/g/a.txt"}));
    EXPECT_EQ(EditorArguments("/usr/bin/mousepad", "/my game/a.txt", 12), (Args{"/my game/a.txt"}));
    // Every row of the Linux editors, by its shape; a path holding % stays as written.
    struct Row {
        const char* program;
        Args args;
    };
    const Row rows[] = {
        {"vi", {"+7", "/g/%d.txt"}},       {"/usr/bin/vim", {"+7", "/g/%d.txt"}}, {"nvim", {"+7", "/g/%d.txt"}},
        {"gvim", {"+7", "/g/%d.txt"}},     {"nano", {"+7", "/g/%d.txt"}},         {"pico", {"+7", "/g/%d.txt"}},
        {"emacs", {"+7", "/g/%d.txt"}},    {"emacsclient", {"+7", "/g/%d.txt"}},  {"micro", {"+7", "/g/%d.txt"}},
        {"/usr/bin/gedit", {"+7", "/g/%d.txt"}}, {"xed", {"+7", "/g/%d.txt"}},    {"pluma", {"+7", "/g/%d.txt"}},
        {"joe", {"+7", "/g/%d.txt"}},      {"mcedit", {"+7", "/g/%d.txt"}},       {"kak", {"+7", "/g/%d.txt"}},
        {"code", {"--goto", "/g/%d.txt:7"}}, {"/snap/bin/codium", {"--goto", "/g/%d.txt:7"}},
        {"code-oss", {"--goto", "/g/%d.txt:7"}},
        {"kate", {"/g/%d.txt:7"}},         {"subl", {"/g/%d.txt:7"}},             {"sublime_text", {"/g/%d.txt:7"}},
        {"geany", {"/g/%d.txt:7"}},
    };
    for (const Row& row : rows) EXPECT_EQ(EditorArguments(row.program, "/g/%d.txt", 7), row.args) << row.program;
}

// --- ShowMessageBox ---------------------------------------------------------------

TEST_F(ErrorReportTest, MessageBox) {
    int result = ShowMessageBox("caption", "n=%d %s [%s]", {int64_t{5}, std::string_view("x")});
    EXPECT_EQ(result, platform::IDOK);
    ASSERT_EQ(ui_.boxes.size(), 1u);
    EXPECT_EQ(ui_.boxes[0].text, "n=5 x []");
    EXPECT_EQ(ui_.boxes[0].caption, std::optional<std::string>("caption"));
    EXPECT_EQ(ui_.boxes[0].owner, platform::kNoWindow);
    EXPECT_EQ(ui_.boxes[0].flags, platform::MB_SYSTEMMODAL);

    ShowMessageBox(nullptr, std::string(5000, 'm'));
    ASSERT_EQ(ui_.boxes.size(), 2u);
    EXPECT_EQ(ui_.boxes[1].caption, std::nullopt);
    EXPECT_EQ(ui_.boxes[1].text.size(), 1023u);

    // No number, no dialog, no QuitFlag.
    EXPECT_EQ(QuitFlag.load(), 0);
    EXPECT_FALSE(ErrorReporter().dialog_shown);
    EXPECT_TRUE(ui_.dialogs.empty());
}

// --- Threads ----------------------------------------------------------------------

// A thread other than the main thread that reports while it holds the
// engine lock does not wait for the main thread there (the main thread may
// be waiting for the lock): the report counts and stops the run at once,
// and its dialog and boxes follow, in order, once the lock is let go, shown
// by the main thread with the lock free. Should the reporter wait under the
// lock, the main thread (which serves it here without taking the lock)
// sees the lock taken.
TEST_F(ErrorReportTest, ReportsUnderTheEngineLockAreShownOnceTheLockIsLetGo) {
    struct ProbeUi final : platform::Ui {
        static bool LockFree() {
            if (!EngineLock.try_lock()) return false;
            EngineLock.unlock();
            return true;
        }
        int MessageBox(platform::WindowHandle, std::string_view text, const char*, uint32_t) override {
            shown.push_back({std::string(text), LockFree()});
            return platform::IDCANCEL;  // not what the box put off answers
        }
        int ErrorDialog(const platform::ErrorDialogRequest& request) override {
            shown.push_back({request.message, LockFree()});
            return platform::kErrorDialogExitButton;
        }
        struct Shown {
            std::string text;
            bool lock_free;
        };
        std::vector<Shown> shown;  // main thread only
    } ui;
    platform::InstallUi(&ui);
    ResetStopCause();
    std::atomic<bool> finished{false};
    std::atomic<bool> stopped_at_once{false};
    std::atomic<int> answer{0};
    std::thread reporter([&] {
        {
            std::lock_guard lock(EngineLock);
            std::lock_guard again(EngineLock);  // held twice: shown after the outer release
            ReportEngineError(100010, true);
            stopped_at_once = QuitFlag.load() == 1 && TheStopCause() == StopCause::kFatalError;
            answer = ShowMessageBox("caption", "a box");
        }
        finished = true;
    });
    while (!finished.load()) {
        RunPendingMainThreadCalls();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    reporter.join();
    platform::InstallUi(&ui_);
    EXPECT_TRUE(stopped_at_once.load());
    EXPECT_EQ(answer.load(), platform::IDOK);
    ASSERT_EQ(ui.shown.size(), 2u);
    EXPECT_EQ(ui.shown[0].text, Sjis("メモリ不足です。"));
    EXPECT_EQ(ui.shown[1].text, "a box");
    EXPECT_TRUE(ui.shown[0].lock_free);
    EXPECT_TRUE(ui.shown[1].lock_free);
    ResetStopCause();
}

}  // namespace
}  // namespace zk
