// System variables: every group read from one prepared engine state, the
// writes and their refusals, the pausable timers on a manual clock, and
// readable scripts that reach calls, loops, references and the task tree
// through the records zkv.zbn declares for the numbers.
#include <cmath>
#include <numbers>
#include <string>
#include <variant>

#include "engine/input.h"
#include "core/root_trees.h"
#include "core/settings.h"
#include "core/startup_paths.h"
#include "core/system_facts.h"
#include "engine/window_proc.h"
#include "core/window_record.h"
#include "layers/text_buffer.h"
#include "platform/memory_status.h"
#include "script/assign.h"
#include "script/expr_eval.h"
#include "script/system_variable_hooks.h"
#include "engine/system_variables.h"
#include "system/file_name_list.h"
#include "base/text_encoding.h"
#include "tests/script/runner_test_support.h"

namespace zk {
namespace {

constexpr uint32_t kReadOnlyCode = 101150;
constexpr uint32_t kReferenceCode = 108230;

int64_t Ref(uint32_t variable, uint32_t element) { return static_cast<int64_t>(uint64_t{variable} << 32 | element); }

std::string ReadText(uint32_t number, int64_t element) {
    char out[kTextBufferSize];
    return std::string(out, ReadSystemText(number, std::span<char>(out), element));
}

class SystemVariablesTest : public script_test::ScriptRunTest {
protected:
    void SetUp() override {
        ScriptRunTest::SetUp();
        InstallSystemVariables();
        Paths() = StartupPaths{};
        ResetInputState();
        ResetWindowRequests();
        ResetFileNameList();
        CreateWindowRecords();
        CreateTextBuffer();
        std::vector<tools::ZkeRecord> texts = script_test::RunnerErrorTexts();
        for (uint32_t code : {kReadOnlyCode, kReferenceCode}) texts.push_back({code, "E" + std::to_string(code)});
        ErrorTextTable table;
        ASSERT_TRUE(ParseErrorTextTable(tools::BuildZke(texts), table));
        ErrorReporter().table = std::move(table);
    }
    void TearDown() override {
        SystemVariableAccess() = SystemVariableHooks{};
        TheCurrentTask() = {};
        ResetInputState();
        ResetWindowRequests();
        ResetFileNameList();
        DestroyWindowRecords();
        CreateTextBuffer();
        Paths() = StartupPaths{};
        TheCommandLine() = CommandLineArgs{};
        TheStartupTime() = StartupTime{};
        TheSystemFacts() = SystemFacts{};
        TheFrameCounters = FrameCounters{};
        RootTrees& trees = TheRootTrees();
        trees.layer_folder.clear();
        trees.task_folder.clear();
        trees.sound_folder.clear();
        trees.menu_folder.clear();
        ScriptRunTest::TearDown();
    }

    // A task at call depth 1 inside a loop, with arguments, return values
    // and parameters, made current as the runner makes it.
    void MakeCurrentTask() {
        task_.call_depth = 1;
        task_.calls[1] = std::make_unique<CallFrame>();
        CallFrame& frame = *task_.calls[1];
        frame.arg_counts = {2, 1, 1};        // two integers declared, neither given
        frame.int_args = {0, 7, 8, 99};      // slot 3 lies beyond the count
        frame.real_args[1] = 2.5;
        frame.real_arg_given[1] = 1;
        frame.text_args[1] = "x";
        frame.text_arg_given[1] = 1;
        frame.text_args[2] = "stale";        // beyond the text count
        frame.return_counts = {1, 0, 0};
        frame.int_returns[1] = 42;
        frame.int_return_given[1] = 1;
        frame.real_returns[1] = 9.5;         // left by an earlier return: the count is 0
        task_.loop_depth = 2;
        task_.loops[1] = std::make_unique<LoopFrame>();
        task_.loops[1]->counter = 6;
        task_.int_params[16] = 5;
        task_.real_params[3] = 1.25;
        task_.text_params[2] = "p";
        node_.name = "worker";
        TheCurrentTask() = {&task_, &node_};
    }

    // The script key map: key 3 is 'B' (66), key 5 is 'A' (65), key 128 is 'Z' (90).
    static void MapKeys() {
        auto& map = TheCompiledTables().commands.key_number_map;
        map[3] = 66;
        map[5] = 65;
        map[128] = 90;
    }

    ScriptTask task_;
    NamedTreeNode node_;
};

using Expected = std::variant<int64_t, double, std::string>;
struct Row {
    const char* what;
    uint32_t number;
    int64_t element;
    Expected expected;
};

TEST_F(SystemVariablesTest, EveryGroupReadsItsSource) {
    // Date and time.
    clock.Set(5000);
    clock.SetLocalTime({2024, 2, 4, 29, 13, 45, 30, 250});
    TheStartupTime() = {2024, 2, 4, 29, 13, 0, 0, 125};
    // Timers: started at 1000, timer 3 stopped at 3000.
    ResetPauseClock(1000);
    ThePauseClock().timer_enabled[3] = 0;
    ThePauseClock().stop_time[3] = 3000;
    // Inputs.
    MapKeys();
    KeyStateArrays& keys = TheKeyStates();
    keys.counter[0] = 7;  // the any-key input: number 144 never reads it
    keys.counter[65] = 3;
    keys.presses[65] = 2;
    keys.counter[90] = -4;
    keys.presses[90] = 11;
    keys.counter[JoystickInput(2, kJoystickUp)] = 4;
    keys.counter[JoystickInput(2, kJoystickRight)] = -2;
    keys.counter[JoystickInput(2, kJoystickButton1 + 5)] = 8;
    keys.presses[JoystickInput(2, kJoystickDown)] = 3;
    keys.presses[JoystickInput(2, kJoystickButton1 + 5)] = 6;
    // Inputs that a computed index must not reach: joystick 0's right (what
    // button -1 would name) and the unused inputs past joystick 15.
    keys.counter[JoystickInput(0, kJoystickRight)] = 9;
    keys.counter[JoystickInput(16, kJoystickUp)] = 11;
    keys.counter[JoystickInput(16, kJoystickButton1)] = 12;
    keys.presses[JoystickInput(16, kJoystickUp)] = 13;
    // Calls, loops, parameters.
    MakeCurrentTask();
    // Variables a reference names.
    ASSERT_EQ(CreateVariableTable(1010), 0);
    VariableShape three;
    three.dimension_count = 1;
    three.sizes[0] = 3;
    ASSERT_EQ(FillIntegerVariable(*FindVariable(1000), three, 12), 0);
    ASSERT_EQ(FillRealVariable(*FindVariable(1001), -2.75), 0);
    ASSERT_EQ(FillStringVariable(*FindVariable(1002), "abc"), 0);
    // Windows.
    GetWindowRecord(0)->mouse_x = 10;
    GetWindowRecord(0)->mouse_y = 20;
    GetWindowRecord(3)->mouse_x = 30;
    GetWindowRecord(3)->mouse_y = 40;
    WindowRequests& requests = TheWindowRequests();
    requests.maximize_request = 2;
    requests.minimize_request = 3;
    requests.close_request = 1;
    requests.caption_double_click_request = 4;
    requests.menu_command = 30001;
    requests.last_key_code = 0x41;
    requests.last_mouse_button = 4;
    // Folders: the documents folder ends in a character whose trail byte is '\'.
    const std::string hyou = "\x95\x5C";
    Paths().game_folder = "\\games\\demo\\";
    Paths().app_data_folder = "\\home\\u\\.local\\share";
    Paths().documents_folder = "\\home\\u\\" + hyou;
    Settings().save_folder_mode = 1;
    Settings().save_folder_root = platform::PathRoot::kAppData;
    Settings().save_folder = "PALVOR_SaveData\\ubeko\\save\\";
    // Engine-wide values.
    CopyCommandLine({"\\games\\demo\\zorvek", "-a", "b"});
    TheSystemFacts().os_level = 255;
    TheSystemFacts().directx_version = 0;
    TheSystemFacts().desktop_width = 2560;
    TheSystemFacts().desktop_height = 1440;
    TheSystemFacts().desktop_bits_per_pixel = 32;
    Settings().sound = 1;
    Settings().read_only_folder = 1;
    Settings().debug = 1;
    Settings().entry10 = 1;
    TheCompiledTables().variable_table.system_value_124 = 77;
    TheFrameCounters.frame_count = 1234;
    TheFrameCounters.script_pass_count = 1240;
    // The text buffer and the file-name list.
    ReplaceTextBufferText("abc");
    ReplaceTextBufferKinds("111E");
    ReplaceFileNameList({"a.png", "b.png"}, kMaxDroppedFileNames);
    // The trees' base folders, as start-up sets them.
    TheRootTrees().layer_folder = "W0";
    TheRootTrees().task_folder = "";
    TheRootTrees().sound_folder = "S0";
    TheRootTrees().menu_folder = "M0";

    const int64_t kTimer = 5000 - 1000;
    const Row rows[] = {
        {"year", kSysDateTime, 0, int64_t{2024}},
        {"day", kSysDateTime, 2, int64_t{29}},
        {"day of week", kSysDateTime, 3, int64_t{4}},
        {"milliseconds", kSysDateTime, 7, int64_t{250}},
        {"start-up hour", kSysDateTime, 12, int64_t{13}},
        {"start-up milliseconds", kSysDateTime, 15, int64_t{125}},
        {"past the start-up fields", kSysDateTime, 16, int64_t{0}},
        {"before the fields", kSysDateTime, -1, int64_t{0}},

        {"raw clock", kSysTimer, 0, int64_t{5000}},
        {"timer 1", kSysTimer, 1, kTimer},
        {"timer 4", kSysTimer, 4, kTimer},
        {"stopped timer 3", kSysTimer, 3, int64_t{3000 - 1000}},
        {"no timer 5", kSysTimer, 5, int64_t{0}},
        {"timer 1 alone", kSysTimer1, 0, kTimer},

        {"script key 5 held", kSysKeyCounterFirst + 5, 0, int64_t{3}},
        {"script key 128 released", kSysKeyCounterLast, 0, int64_t{-4}},
        {"script key 5 presses", kSysKeyPressesFirst + 5, 0, int64_t{2}},
        {"script key 128 presses", kSysKeyPressesLast, 0, int64_t{11}},
        {"script key 5's input", kSysKeyInputFirst + 5, 0, int64_t{65}},
        {"input 65", kSysInputCounter, 65, int64_t{3}},
        {"input 0 is never read", kSysInputCounter, 0, int64_t{0}},
        {"input -1", kSysInputCounter, -1, int64_t{0}},
        {"input 1024", kSysInputCounter, 1024, int64_t{0}},

        // Joystick directions follow the input arrays: up, down, left, right.
        {"joystick 2's first direction", kSysJoystickCounterFirst, 2, int64_t{4}},
        {"joystick 2's fourth direction", kSysJoystickCounterLast, 2, int64_t{-2}},
        {"joystick 2 button 5", kSysJoystickButtonCounter, 2 * 32 + 5, int64_t{8}},
        {"joystick 2's second direction presses", kSysJoystickPressesFirst + 1, 2, int64_t{3}},
        {"joystick 2 button 5 presses", kSysJoystickButtonPresses, 2 * 32 + 5, int64_t{6}},
        {"joystick 16", kSysJoystickCounterFirst, 16, int64_t{0}},
        {"joystick 16 presses", kSysJoystickPressesFirst, 16, int64_t{0}},
        {"joystick -1", kSysJoystickCounterFirst, -1, int64_t{0}},
        {"button -1 names no input", kSysJoystickButtonCounter, -1, int64_t{0}},
        {"button 512 is joystick 16's", kSysJoystickButtonCounter, 512, int64_t{0}},
        {"joystick 2's first input", kSysJoystickInputFirst, 2, int64_t{384 + 72}},
        {"joystick 15's last direction input", kSysJoystickInputLast, 15, int64_t{384 + 540 + 3}},
        {"joystick 15's button 31 input", kSysJoystickButtonInput, 511, int64_t{384 + 540 + 4 + 31}},
        {"joystick 16's input", kSysJoystickInputFirst, 16, int64_t{0}},
        {"button -1's input", kSysJoystickButtonInput, -1, int64_t{0}},

        {"argument at the count", kSysCallInteger, 2, int64_t{8}},
        {"argument past the count", kSysCallInteger, 3, int64_t{0}},
        {"argument -1", kSysCallInteger, -1, int64_t{0}},
        {"integers declared", kSysCallIntegerGiven, 0, int64_t{1}},
        {"integer 1 not given", kSysCallIntegerGiven, 1, int64_t{0}},
        {"argument 1 given as some kind", kSysCallGiven, 1, int64_t{1}},
        {"argument 2 given as no kind", kSysCallGiven, 2, int64_t{0}},
        {"real 1 given", kSysCallRealGiven, 1, int64_t{1}},
        {"texts declared", kSysCallTextGiven, 0, int64_t{1}},
        {"real argument 1", kSysCallReal, 1, 2.5},
        {"text argument 1", kSysCallText, 1, std::string("x")},
        {"text argument past the count", kSysCallText, 2, std::string()},
        {"return value 1", kSysReturnInteger, 1, int64_t{42}},
        {"return value 1 present", kSysReturnGiven, 1, int64_t{1}},
        {"integer returns present", kSysReturnIntegerGiven, 0, int64_t{1}},
        {"no real returns", kSysReturnRealGiven, 0, int64_t{0}},
        {"real return past the count", kSysReturnReal, 1, 0.0},
        {"loop counter", kSysLoopCounter, 0, int64_t{6}},
        {"integer parameter 16", kSysTaskInteger, 16, int64_t{5}},
        {"integer parameter 17", kSysTaskInteger, 17, int64_t{0}},
        {"integer parameter -1", kSysTaskInteger, -1, int64_t{0}},
        {"real parameter 3", kSysTaskReal, 3, 1.25},
        {"real parameter 17", kSysTaskReal, 17, 0.0},
        {"text parameter 2", kSysTaskText, 2, std::string("p")},
        {"text parameter -1", kSysTaskText, -1, std::string()},
        {"task name", kSysTaskName, 0, std::string("worker")},

        {"integer through a reference", kSysReferenceInteger, Ref(1000, 2), int64_t{12}},
        {"real through an integer reference", kSysReferenceInteger, Ref(1001, 0), int64_t{-2}},
        {"text through an integer reference", kSysReferenceInteger, Ref(1002, 0), int64_t{0}},
        {"reference past the elements", kSysReferenceInteger, Ref(1000, 3), int64_t{0}},
        {"reference to a system variable", kSysReferenceInteger, Ref(5, 0), int64_t{0}},
        {"integer through a real reference", kSysReferenceReal, Ref(1000, 1), 12.0},
        {"text through a text reference", kSysReferenceText, Ref(1002, 0), std::string("abc")},
        {"integer through a text reference", kSysReferenceText, Ref(1000, 0), std::string()},
        {"type of a real variable", kSysReferenceType, Ref(1001, 0), int64_t{2}},
        {"type of an undeclared variable", kSysReferenceType, Ref(1005, 0), int64_t{0}},
        {"type of a system variable", kSysReferenceType, Ref(12, 0), int64_t{0}},

        {"main window x", kSysMouseX, 0, int64_t{10}},
        {"window 0 x", kSysMouseX0, 0, int64_t{10}},
        {"window 3 x", kSysMouseX0 + 3, 0, int64_t{30}},
        {"main window y", kSysMouseY, 0, int64_t{20}},
        {"window 3 y", kSysMouseY0 + 3, 0, int64_t{40}},
        {"maximize request", kSysMaximizeRequest, 0, int64_t{2}},
        {"minimize request", kSysMinimizeRequest, 0, int64_t{3}},
        {"close request", kSysCloseRequest, 0, int64_t{1}},
        {"caption double-click", kSysCaptionDoubleClick, 0, int64_t{4}},
        {"menu command", kSysMenuCommand, 0, int64_t{30001}},
        {"last key", kSysLastKey, 0, int64_t{0x41}},
        {"last mouse button", kSysLastMouseButton, 0, int64_t{4}},

        {"game folder", kSysGameFolder, 0, std::string("\\games\\demo\\")},
        {"project folder (release)", kSysProjectFolder, 0, std::string("\\games\\demo\\")},
        {"save folder", kSysSaveFolder, 0, std::string("\\home\\u\\.local\\share\\PALVOR_SaveData\\ubeko\\save\\")},
        {"application-data folder", kSysAppDataFolder, 0, std::string("\\home\\u\\.local\\share\\")},
        {"documents folder", kSysDocumentsFolder, 0, "\\home\\u\\" + hyou + "\\"},

        {"text stream", kSysTextBufferText, 0, std::string("abc")},
        {"kind stream", kSysTextBufferKinds, 0, std::string("111E")},
        {"file names", kSysFileNameCount, 0, int64_t{2}},
        {"file name 1", kSysFileName, 1, std::string("b.png")},
        {"layer folder", kSysLayerFolder, 0, std::string("W0")},
        {"sound folder", kSysSoundFolder, 0, std::string("S0")},
        {"task folder", kSysTaskFolder, 0, std::string()},
        {"menu folder", kSysMenuFolder, 0, std::string("M0")},

        {"program", kSysArgumentWord, 0, std::string("\\games\\demo\\zorvek")},
        {"argument word 2", kSysArgumentWord, 2, std::string("b")},
        {"argument word 8", kSysArgumentWord, 8, std::string()},
        {"argument word 9", kSysArgumentWord, 9, std::string()},
        {"argument word -1", kSysArgumentWord, -1, std::string()},
        {"argument count", kSysArgumentCount, 0, int64_t{2}},
        {"os level", kSysOsLevel, 0, int64_t{255}},
        {"directx version", kSysDirectXVersion, 0, int64_t{0}},
        {"sound on", kSysSoundOn, 0, int64_t{1}},
        {"folder read-only", kSysFolderReadOnly, 0, int64_t{1}},
        {"debug switch", kSysDebugSwitch, 0, int64_t{1}},
        {"save-folder mode", kSysSaveFolderMode, 0, int64_t{1}},
        {"gpu path", kSysGpuPath, 0, int64_t{0}},
        {"display depth", kSysDisplayDepth, 0, int64_t{32}},
        {"display width", kSysDisplayWidth, 0, int64_t{2560}},
        {"display height", kSysDisplayHeight, 0, int64_t{1440}},
        {"user entry 10", kSysUserEntry10, 0, int64_t{1}},
        {"value 124", kSysTableValue124, 0, int64_t{77}},
        {"frames", kSysFrameCount, 0, int64_t{1234}},
        {"passes", kSysPassCount, 0, int64_t{1240}},
        {"999", kSysConstant999, 0, int64_t{999}},
        {"table version", kSysTableVersion, 0, int64_t{555}},
        {"pi", kSysPi, 0, std::numbers::pi},
        {"character 65", kSysCharacter, 65, std::string("A")},
        {"character of the low byte", kSysCharacter, 0x141, std::string("A")},
        {"a number without a value", 8, 0, int64_t{0}},
        {"a real number without a value", 11, 0, 0.0},
        {"a text number without a value", 100, 0, std::string()},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (const int64_t* integer = std::get_if<int64_t>(&row.expected)) {
            EXPECT_EQ(ReadSystemInteger(row.number, row.element), *integer);
        } else if (const double* real = std::get_if<double>(&row.expected)) {
            EXPECT_EQ(ReadSystemReal(row.number, row.element), *real);
        } else {
            EXPECT_EQ(ReadText(row.number, row.element), std::get<std::string>(row.expected));
        }
    }
    EXPECT_EQ(Reports(), 0u);

    // In development the project folder, and save-folder mode 0, are the
    // folder the script compiler chose.
    Paths().working_folder = "\\dev\\work";
    Settings().save_folder_root = platform::PathRoot::kGame;
    Settings().save_folder = "save\\";
    EXPECT_EQ(ReadText(kSysProjectFolder, 0), "\\dev\\work\\");
    EXPECT_EQ(ReadText(kSysSaveFolder, 0), "\\dev\\work\\save\\");
    EXPECT_EQ(ReadText(kSysGameFolder, 0), "\\games\\demo\\");
}

TEST_F(SystemVariablesTest, ReferenceReadsRecordTheElementTheyNamed) {
    ASSERT_EQ(CreateVariableTable(1010), 0);
    ASSERT_EQ(FillStringVariable(*FindVariable(1002), "abc"), 0);
    SetExprReference(1, 0);
    // A type that does not match reads 0 and still names the element.
    EXPECT_EQ(ReadSystemInteger(kSysReferenceInteger, Ref(1002, 0)), 0);
    EXPECT_EQ(LastExprReference().variable, 1002u);
    EXPECT_EQ(LastExprReference().element, 0);
    // A system variable's number records nothing.
    EXPECT_EQ(ReadSystemReal(kSysReferenceReal, Ref(7, 3)), 0.0);
    EXPECT_EQ(LastExprReference().variable, 1002u);
}

TEST_F(SystemVariablesTest, FileNameOutsideTheListIsAnError) {
    EXPECT_EQ(ReadText(kSysFileName, 0), "");
    EXPECT_EQ(LastCode(), 107010u);
    ReplaceFileNameList({"a.png"}, kMaxDroppedFileNames);
    for (int64_t index : {int64_t{1}, int64_t{-1}}) {
        const uint32_t reports = Reports();
        EXPECT_EQ(ReadText(kSysFileName, index), "");
        EXPECT_EQ(Reports(), reports + 1);
        EXPECT_EQ(LastCode(), 107010u);
    }
    EXPECT_EQ(ReadText(kSysFileName, 0), "a.png");
}

TEST_F(SystemVariablesTest, MemoryStatusIsSaturatedTo32Bits) {
    const int64_t total = ReadSystemInteger(kSysMemoryTotal, 0);
    const int64_t available = ReadSystemInteger(kSysMemoryAvailable, 0);
    const int64_t load = ReadSystemInteger(kSysMemoryLoad, 0);
    EXPECT_GT(total, 0);
    EXPECT_LE(total, int64_t{UINT32_MAX});
    EXPECT_GE(available, 0);
    EXPECT_LE(available, total);
    EXPECT_GE(load, 0);
    EXPECT_LE(load, 100);
    EXPECT_EQ(platform::MemoryLoadPercent(400, 100), 75u);
    EXPECT_EQ(platform::MemoryLoadPercent(0, 0), 0u);
    EXPECT_EQ(platform::MemoryLoadPercent(100, 200), 0u);
    EXPECT_EQ(platform::MemoryLoadPercent(UINT64_MAX, 0), 100u);
}

TEST_F(SystemVariablesTest, PausableTimersSkipPausesAndStoppedSpans) {
    clock.Set(1000);
    ResetPauseClock(1000);
    clock.Set(1300);
    EXPECT_EQ(ReadSystemInteger(kSysTimer, 1), 300);
    // During a pause the timers still read the clock; the interval leaves
    // them when the pause ends.
    BeginInactivePause();
    clock.Set(1500);
    EndInactivePause();
    EXPECT_EQ(ReadSystemInteger(kSysTimer, 1), 300);
    EXPECT_EQ(ReadSystemInteger(kSysTimer1, 0), 300);
    EXPECT_EQ(ReadSystemInteger(kSysTimer, 0), 1500);
    // Overlapping pauses both count.
    BeginScriptPause();
    BeginInactivePause();
    clock.Set(1600);
    EndInactivePause();
    EndScriptPause();
    EXPECT_EQ(ReadSystemInteger(kSysTimer, 4), 200);
    // A stopped timer reads the same however the clock moves.
    ThePauseClock().timer_enabled[2] = 0;
    ThePauseClock().stop_time[2] = 1600;
    clock.Set(9000);
    EXPECT_EQ(ReadSystemInteger(kSysTimer, 2), 200);
    clock.Set(9500);
    EXPECT_EQ(ReadSystemInteger(kSysTimer, 2), 200);
    // A timer is an unsigned 32-bit count, zero-extended: across the
    // clock's wrap it goes on counting up, and never reads negative.
    ResetPauseClock(0xFFFFFF00u);
    clock.Set(0x100);
    EXPECT_EQ(ReadSystemInteger(kSysTimer, 1), 0x200);
    ResetPauseClock(1000);
    clock.Set(999);
    EXPECT_EQ(ReadSystemInteger(kSysTimer, 1), int64_t{UINT32_MAX});
}

// What a write leaves: the value read back, or a check of its own.
struct WriteRow {
    const char* what;
    uint32_t number;
    int64_t element;
    uint8_t op;
    int64_t value;
    int32_t result;
    uint32_t code;  // the report, or 0
};

TEST_F(SystemVariablesTest, IntegerWritesAndRefusals) {
    MapKeys();
    MakeCurrentTask();
    KeyStateArrays& keys = TheKeyStates();
    keys.state[65] = kStateDown;
    keys.counter[65] = 4;
    keys.counter[66] = -3;  // key 3 ('B') is up
    keys.counter[JoystickInput(0, kJoystickRight)] = 9;
    keys.counter[JoystickInput(16, kJoystickUp)] = 11;
    keys.presses[JoystickInput(16, kJoystickButton1)] = 13;
    ReplaceFileNameList({"a", "b", "c"}, kMaxDroppedFileNames);

    struct Case {
        WriteRow write;
        uint32_t read_number;
        int64_t read_element;
        int64_t expected;
    };
    const Case cases[] = {
        // Counters keep the sign of the input's state.
        {{"up key, held count", kSysKeyCounterFirst + 3, 0, kAssignSet, 5, 0, 0}, kSysInputCounter, 66, 0},
        {{"up key, released count", kSysKeyCounterFirst + 3, 0, kAssignSet, -5, 0, 0}, kSysInputCounter, 66, -5},
        {{"down key, held count", kSysInputCounter, 65, kAssignSet, 9, 0, 0}, kSysKeyCounterFirst + 5, 0, 9},
        {{"down key, released count", kSysInputCounter, 65, kAssignSet, -1, 0, 0}, kSysInputCounter, 65, 0},
        {{"press count", kSysKeyPressesFirst + 5, 0, kAssignSet, 17, 0, 0}, kSysKeyPressesFirst + 5, 0, 17},
        {{"joystick button presses", kSysJoystickButtonPresses, 69, kAssignSet, 9, 0, 0},
         kSysJoystickButtonPresses, 69, 9},
        // Indexes that name no input write nothing.
        {{"input 0", kSysInputCounter, 0, kAssignSet, -8, 0, 0}, kSysInputCounter, 65, 0},
        {{"button -1", kSysJoystickButtonCounter, -1, kAssignSet, -1, 0, 0}, kSysJoystickCounterLast, 0, 9},
        {{"joystick 16", kSysJoystickCounterFirst, 16, kAssignSet, -1, 0, 0}, kSysInputCounter,
         JoystickInput(16, kJoystickUp), 11},
        {{"button 512 presses", kSysJoystickButtonPresses, 512, kAssignSet, 0, 0, 0}, kSysInputCounter, 0, 0},
        // The current call's integer arguments, with every operator.
        {{"argument 1 +=", kSysCallInteger, 1, kAssignAdd, 5, 0, 0}, kSysCallInteger, 1, 12},
        {{"argument 2 %=", kSysCallInteger, 2, kAssignRemainder, 3, 0, 0}, kSysCallInteger, 2, 2},
        {{"argument 2 /= 0", kSysCallInteger, 2, kAssignDivide, 0, 0, 0}, kSysCallInteger, 2, 2},
        {{"argument past the count", kSysCallInteger, 3, kAssignSet, 1, 0, 0}, kSysCallInteger, 2, 2},
        {{"argument -1", kSysCallInteger, -1, kAssignSet, 1, 0, 0}, kSysCallInteger, 0, 0},
        // Requests take the low byte, key and button the low 32 bits.
        {{"maximize request", kSysMaximizeRequest, 0, kAssignSet, 0x1FF, 0, 0}, kSysMaximizeRequest, 0, 0xFF},
        {{"caption double-click ignores +=", kSysCaptionDoubleClick, 0, kAssignAdd, 0x102, 0, 0},
         kSysCaptionDoubleClick, 0, 2},
        {{"menu command", kSysMenuCommand, 0, kAssignSet, int64_t{1} << 40, 0, 0}, kSysMenuCommand, 0,
         int64_t{1} << 40},
        {{"last key", kSysLastKey, 0, kAssignSet, (int64_t{1} << 32) + 13, 0, 0}, kSysLastKey, 0, 13},
        {{"last button", kSysLastMouseButton, 0, kAssignSet, 2, 0, 0}, kSysLastMouseButton, 0, 2},
        // The file-name count only goes down.
        {{"fewer file names", kSysFileNameCount, 0, kAssignSet, 2, 0, 0}, kSysFileNameCount, 0, 2},
        {{"more file names", kSysFileNameCount, 0, kAssignSet, 3, 0, 0}, kSysFileNameCount, 0, 2},
        // Read-only numbers.
        {{"os level", kSysOsLevel, 0, kAssignSet, 1, -1, kReadOnlyCode}, kSysOsLevel, 0, 255},
        {{"script key's input", kSysKeyInputFirst, 0, kAssignSet, 1, -1, kReadOnlyCode}, kSysKeyInputFirst, 0, 0},
        {{"timer", kSysTimer, 1, kAssignSet, 1, -1, kReadOnlyCode}, kSysConstant999, 0, 999},
        {{"integer through a reference to a system variable", kSysReferenceInteger, Ref(5, 0), kAssignSet, 1, -1,
          kReferenceCode},
         kSysConstant999, 0, 999},
    };
    TheSystemFacts().os_level = 255;
    TheWindowRequests().caption_double_click_request = 5;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.write.what);
        const uint32_t reports = Reports();
        EXPECT_EQ(WriteSystemInteger(c.write.number, c.write.element, c.write.op, c.write.value), c.write.result);
        if (c.write.code != 0) {
            EXPECT_EQ(LastCode(), c.write.code);
        } else {
            EXPECT_EQ(Reports(), reports);
        }
        EXPECT_EQ(ReadSystemInteger(c.read_number, c.read_element), c.expected);
    }
    // The names beyond the lowered count are gone for good.
    EXPECT_EQ(FileNameAt(2), std::nullopt);
    // Nothing reached the inputs and slots that no element names.
    EXPECT_EQ(keys.counter[0], 0);
    EXPECT_EQ(keys.counter[JoystickInput(16, kJoystickUp)], 11);
    EXPECT_EQ(keys.presses[JoystickInput(16, kJoystickButton1)], 13u);
    EXPECT_EQ(task_.calls[1]->int_args[3], 99);
}

TEST_F(SystemVariablesTest, RealAndTextWritesAndRefusals) {
    MakeCurrentTask();
    ASSERT_EQ(CreateVariableTable(1010), 0);
    ASSERT_EQ(FillIntegerVariable(*FindVariable(1000), 4), 0);
    ASSERT_EQ(FillRealVariable(*FindVariable(1001), 1.5), 0);
    ASSERT_EQ(FillStringVariable(*FindVariable(1002), "abc"), 0);

    // Real argument slots take = += -= *= /= only.
    EXPECT_EQ(WriteSystemReal(kSysCallReal, 1, kAssignMultiply, 4.0), 0);
    EXPECT_EQ(WriteSystemReal(kSysCallReal, 1, kAssignRemainder, 3.0), 0);
    EXPECT_EQ(WriteSystemReal(kSysCallReal, 2, kAssignSet, 3.0), 0);  // past the count
    EXPECT_EQ(ReadSystemReal(kSysCallReal, 1), 10.0);
    // Writes through a reference store the value, whatever the operator.
    EXPECT_EQ(WriteSystemReal(kSysReferenceReal, Ref(1001, 0), kAssignAdd, 7.25), 0);
    EXPECT_EQ(FindVariable(1001)->reals[0], 7.25);
    EXPECT_EQ(WriteSystemText(kSysReferenceText, Ref(1002, 0), "def"), 0);
    EXPECT_EQ(FindVariable(1002)->texts[0], "def");
    EXPECT_EQ(WriteSystemInteger(kSysReferenceInteger, Ref(1000, 0), kAssignAdd, 3), 0);
    EXPECT_EQ(FindVariable(1000)->integers[0], 7);
    // A read-only real number accepts a write and changes nothing.
    EXPECT_EQ(WriteSystemReal(kSysPi, 0, kAssignSet, 3.0), 0);
    EXPECT_EQ(ReadSystemReal(kSysPi, 0), std::numbers::pi);
    EXPECT_EQ(Reports(), 0u);

    EXPECT_EQ(WriteSystemReal(kSysReferenceReal, Ref(1000, 0), kAssignSet, 1.0), -1);
    EXPECT_EQ(LastCode(), kReferenceCode);
    EXPECT_EQ(WriteSystemText(kSysReferenceText, Ref(1001, 0), "x"), -1);
    EXPECT_EQ(LastCode(), kReferenceCode);
    EXPECT_EQ(WriteSystemInteger(kSysReferenceInteger, Ref(1002, 0), kAssignSet, 1), -1);
    EXPECT_EQ(LastCode(), kReferenceCode);
    EXPECT_EQ(FindVariable(1000)->integers[0], 7);

    // The text buffer's streams.
    EXPECT_EQ(WriteSystemText(kSysTextBufferText, 0, "hello"), 0);
    EXPECT_EQ(WriteSystemText(kSysTextBufferKinds, 0, "11111E"), 0);
    EXPECT_EQ(ReadText(kSysTextBufferText, 0), "hello");
    EXPECT_EQ(ReadText(kSysTextBufferKinds, 0), "11111E");
    EXPECT_EQ(TheTextBuffer().text_length, 5);

    // Base folders: the layer and menu trees' up to 255 bytes; a longer text
    // is refused and the folder kept.
    TheRootTrees().sound_folder = "S0";
    const std::string longest(255, 'a');
    EXPECT_EQ(WriteSystemText(kSysLayerFolder, 0, "W1/ui"), 0);
    EXPECT_EQ(ReadText(kSysLayerFolder, 0), "W1/ui");
    EXPECT_EQ(WriteSystemText(kSysMenuFolder, 0, longest), 0);
    EXPECT_EQ(TheRootTrees().menu_folder, longest);
    const std::string too_deep = Utf8ToCp932("フォルダの階層が深すぎます。");
    for (uint32_t number : {uint32_t{kSysLayerFolder}, uint32_t{kSysMenuFolder}}) {
        SCOPED_TRACE(number);
        const uint32_t reports = Reports();
        EXPECT_EQ(WriteSystemText(number, 0, longest + "b"), -1);
        EXPECT_EQ(Reports(), reports + 1);
        EXPECT_NE(LastMessage().find(too_deep), std::string::npos) << LastMessage();
    }
    EXPECT_EQ(TheRootTrees().layer_folder, "W1/ui");
    EXPECT_EQ(TheRootTrees().menu_folder, longest);
    // The sound and task trees' folders, and other texts, are read-only.
    for (uint32_t number : {uint32_t{kSysSoundFolder}, uint32_t{kSysTaskFolder}, uint32_t{kSysGameFolder}}) {
        SCOPED_TRACE(number);
        EXPECT_EQ(WriteSystemText(number, 0, "x"), -1);
        EXPECT_EQ(LastCode(), kReadOnlyCode);
    }
    EXPECT_EQ(TheRootTrees().sound_folder, "S0");
}

// The numbers reached from a script: records declared by zkv.zbn, read and
// assigned by ordinary commands.
TEST_F(SystemVariablesTest, ScriptsReachCallsLoopsTasksAndReferences) {
    ASSERT_TRUE(Boot(R"(
int args[17] at 53
int declared[17] at 57
int returned[17] at 60
int loop_count at 48
int root_tasks at 126
str task_name at 125
int by_ref[1] at 50
int key150 at 150
int x[3]
int got[12]
str name
label SYSTEM_START
call SUB(7, 2.5)
got[3] = returned[1]
loop 3
got[4] = loop_count
end
got[5] = root_tasks
name = task_name
x[2] = 12
got[6] = by_ref[#x[2]]
by_ref[#x[2]] += 30
key150 = -5
got[7] = key150
label IDLE
wait 1
jump IDLE
label SUB
got[0] = args[1]
got[1] = declared[0]
args[1] *= 6
got[2] = args[1]
return(args[1])
)"));
    TheCompiledTables().commands.key_number_map[3] = 66;
    TheKeyStates().counter[66] = -1;
    ASSERT_EQ(Pass(), 0);
    EXPECT_EQ(Reports(), 0u) << LastMessage();
    EXPECT_EQ(Int("got", 0), 7);
    EXPECT_EQ(Int("got", 1), 1);
    EXPECT_EQ(Int("got", 2), 42);
    EXPECT_EQ(Int("got", 3), 42);
    EXPECT_EQ(Int("got", 4), 3);
    EXPECT_EQ(Int("got", 5), 2);   // the empty-named group and SYSTEM
    EXPECT_EQ(Text("name"), "SYSTEM");
    EXPECT_EQ(Int("got", 6), 12);
    // The read through the reference named x[2]: the assignment wrote there.
    EXPECT_EQ(Int("x", 2), 42);
    EXPECT_EQ(Int("got", 7), -5);
}

}  // namespace
}  // namespace zk
