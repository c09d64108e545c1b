#include "engine/system_variables.h"

#include <algorithm>
#include <cstring>
#include <numbers>
#include <optional>
#include <string>

#include "base/nul_text.h"
#include "base/sjis.h"
#include "core/engine_state.h"
#include "core/error_report.h"
#include "engine/input.h"
#include "core/named_tree.h"
#include "core/root_trees.h"
#include "core/settings.h"
#include "core/startup_paths.h"
#include "core/system_facts.h"
#include "engine/window_proc.h"
#include "core/window_record.h"
#include "layers/text_buffer.h"
#include "platform/clock.h"
#include "platform/memory_status.h"
#include "script/assign.h"
#include "script/compiled_tables.h"
#include "script/expr_eval.h"
#include "script/int_arithmetic.h"
#include "script/pause_clock.h"
#include "script/script_task.h"
#include "script/system_variable_hooks.h"
#include "script/variables.h"
#include "system/file_name_list.h"

namespace zk {

namespace {

// ---- Where the values come from ---------------------------------------------

// The current task's frame at its call depth: the running subroutine's
// arguments, and the return values of the call it made last.
CallFrame* CurrentCallFrame() {
    ScriptTask* task = TheCurrentTask().task;
    if (task == nullptr || task->call_depth < 0 || task->call_depth >= kCallStackSize) return nullptr;
    return task->calls[static_cast<size_t>(task->call_depth)].get();
}

// A slot index 0..count of a call value kind (slot 0 exists but no call
// fills it), or nullopt.
std::optional<size_t> CallSlot(int64_t element, uint8_t count) {
    if (element < 0 || element > count || element >= kCallValueSlots) return std::nullopt;
    return static_cast<size_t>(element);
}

// Whether value i of one kind was given: i 0 asks whether the kind has any
// slot; otherwise the slot must lie within the kind's count and be marked.
int64_t GivenAsKind(int64_t element, uint8_t count, const std::array<uint8_t, kCallValueSlots>& given,
                    bool zero_asks_count) {
    if (element == 0 && zero_asks_count) return count > 0 ? 1 : 0;
    std::optional<size_t> slot = CallSlot(element, count);
    return slot && given[*slot] != 0 ? 1 : 0;
}

// A task parameter slot 0..16, or nullopt.
std::optional<size_t> ParameterSlot(int64_t element) {
    if (element < 0 || element >= kTaskParameterSlots) return std::nullopt;
    return static_cast<size_t>(element);
}

// A variable reference as the evaluator builds it: the variable number in
// the high 32 bits, a flat element index in the low 32.
struct Reference {
    uint32_t variable;
    int64_t element;
};
Reference SplitReference(int64_t reference) {
    const uint64_t bits = static_cast<uint64_t>(reference);
    return {static_cast<uint32_t>(bits >> 32), static_cast<int64_t>(static_cast<uint32_t>(bits))};
}

// The script variable a reference names, or null for a number below 1000.
// A read records it as the evaluator's last reference, as if the script had
// named the element itself (an assignment to the read then writes there);
// a number below 1000 records nothing.
enum class Record : bool { kNo, kYes };
ScriptVariable* ReferencedVariable(int64_t reference, Reference& named, Record record) {
    named = SplitReference(reference);
    if (named.variable < kFirstScriptVariable) return nullptr;
    if (record == Record::kYes) SetExprReference(named.variable, named.element);
    return FindVariable(named.variable);
}

// Joystick inputs. The directions of joystick j are the four inputs from
// 384 + 36 j in the order the input arrays keep them (up, down, left,
// right), so number 276 (and 410, 543) reads the first of them: the input
// index arithmetic decides, whatever name a direction is given elsewhere.
int64_t JoystickDirectionInput(int64_t joystick, uint32_t part) {
    if (joystick < 0 || joystick >= kJoystickCount) return -1;
    return JoystickInput(static_cast<int>(joystick), static_cast<int>(part));
}
// Button input i = 32 j + b (b = 0..31) of joystick j. A negative i would
// give a negative b, which names the previous joystick's directions: no
// button at all.
int64_t JoystickButtonInput(int64_t element) {
    if (element < 0 || element >= int64_t{kJoystickCount} * 32) return -1;
    return JoystickInput(static_cast<int>(element / 32), kJoystickButton1 + static_cast<int>(element % 32));
}
// Script key k through the KeyNumberMap (256 entries; k never passes 128).
int64_t ScriptKeyInput(uint32_t key) { return KeyNumberMap()[key]; }

WindowRecord* Window(int number) { return GetWindowRecord(number); }

// A folder as scripts see it: ending in a single-byte '\'. The empty text
// stays empty (the folder is not known).
std::string FolderText(std::string folder) {
    if (folder.empty()) return folder;
    const size_t last = SjisFindLast(folder, '\\');
    if (last == std::string::npos || last != folder.size() - 1) folder += '\\';
    return folder;
}

// The folder the game's files resolve against: the working folder (the
// game folder, or in development the folder the script compiler chose).
std::string ProjectFolder() {
    const StartupPaths& paths = Paths();
    return FolderText(paths.working_folder.empty() ? paths.game_folder : paths.working_folder);
}

std::string SaveFolderText() {
    const EngineSettings& settings = Settings();
    std::string root;
    switch (settings.save_folder_root) {
        case platform::PathRoot::kGame: root = ProjectFolder(); break;
        case platform::PathRoot::kAppData: root = FolderText(Paths().app_data_folder); break;
        case platform::PathRoot::kDocuments: root = FolderText(Paths().documents_folder); break;
    }
    if (root.empty()) return root;
    return FolderText(root + settings.save_folder);
}

// A 32-bit byte count as the memory status reports it: a larger one
// saturates rather than wrapping to a small number.
int64_t MemoryBytes32(uint64_t bytes) { return static_cast<int64_t>(std::min<uint64_t>(bytes, UINT32_MAX)); }

int64_t DateTimeField(int64_t element) {
    if (element < 0 || element > 15) return 0;
    uint16_t fields[8];
    if (element < 8) {
        const platform::LocalTime now = platform::GetLocalTime();
        const uint16_t values[8] = {now.year, now.month, now.day, now.day_of_week,
                                    now.hour, now.minute, now.second, now.milliseconds};
        std::copy(values, values + 8, fields);
    } else {
        const StartupTime& start = TheStartupTime();
        const uint16_t values[8] = {start.year, start.month, start.day, start.day_of_week,
                                    start.hour, start.minute, start.second, start.milliseconds};
        std::copy(values, values + 8, fields);
    }
    return fields[element % 8];
}

int64_t TimerValue(int64_t element) {
    const uint32_t now = platform::TimeGetTime();
    if (element == 0) return now;
    if (element < 1 || element > kPauseTimerCount) return 0;
    // Zero-extended: a timer is an unsigned count of milliseconds.
    return PauseTimerValue(static_cast<int>(element), now);
}

int64_t CounterOf(int64_t input) { return input < 0 ? 0 : ReadKeyCounter(input); }
int64_t PressesOf(int64_t input) { return input < 0 ? 0 : static_cast<int64_t>(ReadKeyPressCount(input)); }

int64_t ReadReferenceInteger(int64_t reference) {
    Reference named{};
    const ScriptVariable* variable = ReferencedVariable(reference, named, Record::kYes);
    if (variable == nullptr || !ElementInRange(*variable, named.element)) return 0;
    const size_t e = static_cast<size_t>(named.element);
    if (variable->type == kVariableInteger) return variable->integers[e];
    if (variable->type == kVariableReal) return TruncateToInt64(variable->reals[e]);
    return 0;
}

double ReadReferenceReal(int64_t reference) {
    Reference named{};
    const ScriptVariable* variable = ReferencedVariable(reference, named, Record::kYes);
    if (variable == nullptr || !ElementInRange(*variable, named.element)) return 0.0;
    const size_t e = static_cast<size_t>(named.element);
    if (variable->type == kVariableInteger) return static_cast<double>(variable->integers[e]);
    if (variable->type == kVariableReal) return variable->reals[e];
    return 0.0;
}

std::string_view ReadReferenceText(int64_t reference) {
    Reference named{};
    const ScriptVariable* variable = ReferencedVariable(reference, named, Record::kYes);
    if (variable == nullptr || variable->type != kVariableText || !ElementInRange(*variable, named.element)) return {};
    return variable->texts[static_cast<size_t>(named.element)];
}

int64_t ReferenceType(int64_t reference) {
    const Reference named = SplitReference(reference);
    if (named.variable < kFirstScriptVariable) return 0;
    const ScriptVariable* variable = FindVariable(named.variable);
    return variable != nullptr ? variable->type : 0;
}

// Copies a text into the reader's slot with its NUL, cut before the first
// character that does not fit.
size_t EmitText(std::span<char> out, std::string_view text) {
    if (out.empty()) return 0;
    text = UpToNul(text);
    const size_t room = out.size() - 1;
    size_t length = 0;
    while (length < text.size()) {
        const size_t step = SjisCharLength(text, length);
        if (length + step > room) break;
        length += step;
    }
    if (length > 0) std::memcpy(out.data(), text.data(), length);
    out[length] = '\0';
    return length;
}

// ---- Writing --------------------------------------------------------------

int32_t ReadOnly() {
    ReportScriptError(kErrSystemVariableReadOnly, true);
    return -1;
}

int32_t ReferenceMismatch() {
    ReportScriptError(kErrReferenceTypeMismatch, true);
    return -1;
}

// A tree's base folder takes at most 255 bytes, as every tree path does.
int32_t ReplaceTreeFolder(std::string& folder, std::string_view text) {
    if (text.size() > kMaxTreePathBytes) {
        ReportScriptError(kErrTreePathTooLong, true);
        return -1;
    }
    folder.assign(text);
    return 0;
}

}  // namespace

int64_t SystemVariableInput(uint32_t number, int64_t element) {
    if (number == kSysInputCounter) return element > 0 && element < kInputCount ? element : -1;
    if (number >= kSysKeyCounterFirst && number <= kSysKeyCounterLast) return ScriptKeyInput(number - kSysKeyCounterFirst);
    if (number >= kSysJoystickCounterFirst && number <= kSysJoystickCounterLast) {
        return JoystickDirectionInput(element, number - kSysJoystickCounterFirst);
    }
    if (number == kSysJoystickButtonCounter) return JoystickButtonInput(element);
    if (number >= kSysKeyPressesFirst && number <= kSysKeyPressesLast) return ScriptKeyInput(number - kSysKeyPressesFirst);
    if (number >= kSysJoystickPressesFirst && number <= kSysJoystickPressesLast) {
        return JoystickDirectionInput(element, number - kSysJoystickPressesFirst);
    }
    if (number == kSysJoystickButtonPresses) return JoystickButtonInput(element);
    return -1;
}

int64_t ReadSystemIntegerVariable(uint32_t number, int64_t element) {
    // The input ranges first: they hold most of the numbers.
    if (number >= kSysInputCounter && number <= kSysJoystickButtonCounter && number != kSysLastKey &&
        number != kSysLastMouseButton) {
        return CounterOf(SystemVariableInput(number, element));
    }
    if (number >= kSysKeyPressesFirst && number <= kSysJoystickButtonPresses) {
        return PressesOf(SystemVariableInput(number, element));
    }
    if (number >= kSysKeyInputFirst && number <= kSysKeyInputLast) return ScriptKeyInput(number - kSysKeyInputFirst);
    if (number >= kSysJoystickInputFirst && number <= kSysJoystickInputLast) {
        return std::max<int64_t>(JoystickDirectionInput(element, number - kSysJoystickInputFirst), 0);
    }
    if (number == kSysJoystickButtonInput) return std::max<int64_t>(JoystickButtonInput(element), 0);
    if (number >= kSysMouseX0 && number < kSysMouseX0 + kWindowCount) {
        const WindowRecord* window = Window(static_cast<int>(number - kSysMouseX0));
        return window != nullptr ? window->mouse_x : 0;
    }
    if (number >= kSysMouseY0 && number < kSysMouseY0 + kWindowCount) {
        const WindowRecord* window = Window(static_cast<int>(number - kSysMouseY0));
        return window != nullptr ? window->mouse_y : 0;
    }

    const CallFrame* frame = nullptr;
    switch (number) {
        case kSysCallInteger: case kSysCallGiven: case kSysCallIntegerGiven: case kSysCallRealGiven:
        case kSysCallTextGiven: case kSysReturnInteger: case kSysReturnGiven: case kSysReturnIntegerGiven:
        case kSysReturnRealGiven: case kSysReturnTextGiven:
            frame = CurrentCallFrame();
            if (frame == nullptr) return 0;
            break;
        default: break;
    }

    switch (number) {
        case kSysDateTime: return DateTimeField(element);
        case kSysTimer: return TimerValue(element);
        case kSysTimer1: return TimerValue(1);
        case kSysOsLevel: return TheSystemFacts().os_level;
        case kSysDirectXVersion: return TheSystemFacts().directx_version;
        case kSysSoundOn: return Settings().sound != 0 ? 1 : 0;
        case kSysMemoryAvailable: return MemoryBytes32(platform::ReadMemoryStatus().available_bytes);
        case kSysMemoryLoad: return platform::ReadMemoryStatus().load_percent;
        case kSysMemoryTotal: return MemoryBytes32(platform::ReadMemoryStatus().total_bytes);
        case kSysFolderReadOnly: return Settings().read_only_folder != 0 ? 1 : 0;
        case kSysDebugSwitch: return Settings().debug;
        case kSysArgumentCount: return std::clamp(TheCommandLine().count, 0, 8);
        case kSysFileNameCount: return FileNameCount();
        case kSysLoopCounter: {
            const ScriptTask* task = TheCurrentTask().task;
            if (task == nullptr || task->loop_depth <= 0 || task->loop_depth > kLoopStackSize) return 0;
            const LoopFrame* loop = task->loops[static_cast<size_t>(task->loop_depth - 1)].get();
            return loop != nullptr ? static_cast<int64_t>(loop->counter) : 0;
        }
        case kSysConstant999: return 999;
        case kSysReferenceInteger: return ReadReferenceInteger(element);
        case kSysCallInteger: {
            std::optional<size_t> slot = CallSlot(element, frame->arg_counts.integers);
            return slot ? frame->int_args[*slot] : 0;
        }
        case kSysCallGiven:
            return (GivenAsKind(element, frame->arg_counts.integers, frame->int_arg_given, false) |
                    GivenAsKind(element, frame->arg_counts.reals, frame->real_arg_given, false) |
                    GivenAsKind(element, frame->arg_counts.texts, frame->text_arg_given, false));
        case kSysCallIntegerGiven: return GivenAsKind(element, frame->arg_counts.integers, frame->int_arg_given, true);
        case kSysCallRealGiven: return GivenAsKind(element, frame->arg_counts.reals, frame->real_arg_given, true);
        case kSysCallTextGiven: return GivenAsKind(element, frame->arg_counts.texts, frame->text_arg_given, true);
        case kSysReturnInteger: {
            std::optional<size_t> slot = CallSlot(element, frame->return_counts.integers);
            return slot ? frame->int_returns[*slot] : 0;
        }
        case kSysReturnGiven:
            return (GivenAsKind(element, frame->return_counts.integers, frame->int_return_given, false) |
                    GivenAsKind(element, frame->return_counts.reals, frame->real_return_given, false) |
                    GivenAsKind(element, frame->return_counts.texts, frame->text_return_given, false));
        case kSysReturnIntegerGiven:
            return GivenAsKind(element, frame->return_counts.integers, frame->int_return_given, true);
        case kSysReturnRealGiven: return GivenAsKind(element, frame->return_counts.reals, frame->real_return_given, true);
        case kSysReturnTextGiven: return GivenAsKind(element, frame->return_counts.texts, frame->text_return_given, true);
        case kSysTaskInteger: {
            const ScriptTask* task = TheCurrentTask().task;
            std::optional<size_t> slot = ParameterSlot(element);
            return task != nullptr && slot ? task->int_params[*slot] : 0;
        }
        case kSysReferenceType: return ReferenceType(element);
        case kSysTableVersion: return kVariableTableVersion;
        case kSysFrameCount: return static_cast<int64_t>(TheFrameCounters.frame_count);
        case kSysPassCount: return static_cast<int64_t>(TheFrameCounters.script_pass_count);
        case kSysSaveFolderMode: return Settings().save_folder_mode;
        case kSysGpuPath: return GpuLayerDrawing() ? 1 : 0;
        case kSysDisplayDepth: return TheSystemFacts().desktop_bits_per_pixel;
        case kSysDisplayWidth: return TheSystemFacts().desktop_width;
        case kSysDisplayHeight: return TheSystemFacts().desktop_height;
        case kSysMaximizeRequest: return TheWindowRequests().maximize_request;
        case kSysMinimizeRequest: return TheWindowRequests().minimize_request;
        case kSysCloseRequest: return TheWindowRequests().close_request;
        case kSysCaptionDoubleClick: return TheWindowRequests().caption_double_click_request;
        case kSysUserEntry10: return Settings().entry10;
        case kSysTableValue124: return TheCompiledTables().variable_table.system_value_124;
        case kSysRootTaskCount: {
            const NamedTreeNode* root = TheRootTrees().tasks;
            return root != nullptr ? root->child_count : 0;
        }
        case kSysMenuCommand: return TheWindowRequests().menu_command;
        case kSysMouseX: return ReadSystemIntegerVariable(kSysMouseX0, element);
        case kSysMouseY: return ReadSystemIntegerVariable(kSysMouseY0, element);
        case kSysLastKey: return TheWindowRequests().last_key_code;
        case kSysLastMouseButton: return TheWindowRequests().last_mouse_button;
        default: return 0;
    }
}

double ReadSystemRealVariable(uint32_t number, int64_t element) {
    switch (number) {
        case kSysPi: return std::numbers::pi;
        case kSysReferenceReal: return ReadReferenceReal(element);
        case kSysCallReal: case kSysReturnReal: {
            const CallFrame* frame = CurrentCallFrame();
            if (frame == nullptr) return 0.0;
            const bool call = number == kSysCallReal;
            std::optional<size_t> slot = CallSlot(element, call ? frame->arg_counts.reals : frame->return_counts.reals);
            if (!slot) return 0.0;
            return call ? frame->real_args[*slot] : frame->real_returns[*slot];
        }
        case kSysTaskReal: {
            const ScriptTask* task = TheCurrentTask().task;
            std::optional<size_t> slot = ParameterSlot(element);
            return task != nullptr && slot ? task->real_params[*slot] : 0.0;
        }
        default: return 0.0;
    }
}

size_t ReadSystemTextVariable(uint32_t number, std::span<char> out, int64_t element) {
    switch (number) {
        case kSysArgumentWord: {
            if (element < 0 || element > 8) return EmitText(out, {});
            return EmitText(out, TheCommandLine().texts[static_cast<size_t>(element)]);
        }
        case kSysFileName: {
            std::optional<std::string> name = FileNameAt(element);
            if (!name) {
                ReportScriptError(kErrSubscriptRange, true);
                return EmitText(out, {});
            }
            return EmitText(out, *name);
        }
        case kSysReferenceText: return EmitText(out, ReadReferenceText(element));
        case kSysCallText: case kSysReturnText: {
            const CallFrame* frame = CurrentCallFrame();
            if (frame == nullptr) return EmitText(out, {});
            const bool call = number == kSysCallText;
            std::optional<size_t> slot = CallSlot(element, call ? frame->arg_counts.texts : frame->return_counts.texts);
            // A slot the call left unset reads empty, whatever an earlier call left there.
            if (!slot || (*slot > 0 && (call ? frame->text_arg_given : frame->text_return_given)[*slot] == 0)) {
                return EmitText(out, {});
            }
            return EmitText(out, call ? frame->text_args[*slot] : frame->text_returns[*slot]);
        }
        case kSysTaskText: {
            const ScriptTask* task = TheCurrentTask().task;
            std::optional<size_t> slot = ParameterSlot(element);
            return EmitText(out, task != nullptr && slot ? std::string_view(task->text_params[*slot]) : "");
        }
        case kSysGameFolder: return EmitText(out, FolderText(Paths().game_folder));
        case kSysProjectFolder: return EmitText(out, ProjectFolder());
        case kSysSaveFolder: return EmitText(out, SaveFolderText());
        case kSysAppDataFolder: return EmitText(out, FolderText(Paths().app_data_folder));
        case kSysDocumentsFolder: return EmitText(out, FolderText(Paths().documents_folder));
        case kSysTextBufferText: return EmitText(out, TextBufferText());
        case kSysTextBufferKinds: return EmitText(out, TextBufferKinds());
        case kSysTaskName: {
            const NamedTreeNode* node = TheCurrentTask().node;
            return EmitText(out, node != nullptr ? std::string_view(node->name) : "");
        }
        case kSysCharacter: {
            const char byte = static_cast<char>(static_cast<uint8_t>(element & 0xFF));
            return EmitText(out, std::string_view(&byte, 1));
        }
        case kSysLayerFolder: return EmitText(out, TheRootTrees().layer_folder);
        case kSysSoundFolder: return EmitText(out, TheRootTrees().sound_folder);
        case kSysTaskFolder: return EmitText(out, TheRootTrees().task_folder);
        case kSysMenuFolder: return EmitText(out, TheRootTrees().menu_folder);
        default: return EmitText(out, {});
    }
}

int32_t WriteSystemIntegerVariable(uint32_t number, int64_t element, uint8_t op, int64_t value) {
    const bool counter = number == kSysInputCounter ||
                         (number >= kSysKeyCounterFirst && number <= kSysJoystickButtonCounter);
    if (counter) {
        // An element that names no input writes nothing.
        WriteKeyCounter(SystemVariableInput(number, element), value);
        return 0;
    }
    if (number >= kSysKeyPressesFirst && number <= kSysJoystickButtonPresses) {
        WriteKeyPressCount(SystemVariableInput(number, element), static_cast<uint64_t>(value));
        return 0;
    }
    WindowRequests& requests = TheWindowRequests();
    switch (number) {
        case kSysFileNameCount:
            // The names beyond the count are gone: a larger count cannot
            // bring back names the list does not hold.
            LowerFileNameCount(static_cast<uint32_t>(value));
            return 0;
        case kSysReferenceInteger: {
            Reference named{};
            ScriptVariable* variable = ReferencedVariable(element, named, Record::kNo);
            if (variable == nullptr || variable->type != kVariableInteger) return ReferenceMismatch();
            ApplyAssignOperator(*variable, named.element, op, value);  // out of range: nothing
            return 0;
        }
        case kSysCallInteger: {
            CallFrame* frame = CurrentCallFrame();
            if (frame == nullptr) return 0;
            std::optional<size_t> slot = CallSlot(element, frame->arg_counts.integers);
            if (slot) ApplyAssignOperator(frame->int_args[*slot], op, value);
            return 0;
        }
        case kSysMaximizeRequest: requests.maximize_request = static_cast<uint8_t>(value); return 0;
        case kSysMinimizeRequest: requests.minimize_request = static_cast<uint8_t>(value); return 0;
        case kSysCloseRequest: requests.close_request = static_cast<uint8_t>(value); return 0;
        case kSysCaptionDoubleClick: requests.caption_double_click_request = static_cast<uint8_t>(value); return 0;
        case kSysMenuCommand: requests.menu_command = value; return 0;
        case kSysLastKey: requests.last_key_code = static_cast<int32_t>(value); return 0;
        case kSysLastMouseButton: requests.last_mouse_button = static_cast<int32_t>(value); return 0;
        default: return ReadOnly();
    }
}

int32_t WriteSystemRealVariable(uint32_t number, int64_t element, uint8_t op, double value) {
    switch (number) {
        case kSysReferenceReal: {
            Reference named{};
            ScriptVariable* variable = ReferencedVariable(element, named, Record::kNo);
            if (variable == nullptr || variable->type != kVariableReal) return ReferenceMismatch();
            ApplyAssignOperator(*variable, named.element, kAssignSet, value);
            return 0;
        }
        case kSysCallReal: {
            // Only = += -= *= /= reach a real argument.
            CallFrame* frame = CurrentCallFrame();
            if (frame == nullptr || op > kAssignDivide) return 0;
            std::optional<size_t> slot = CallSlot(element, frame->arg_counts.reals);
            if (slot) ApplyAssignOperator(frame->real_args[*slot], op, value);
            return 0;
        }
        default: return 0;  // read-only: nothing changes, nothing is reported
    }
}

int32_t WriteSystemTextVariable(uint32_t number, int64_t element, std::string_view text) {
    text = UpToNul(text);
    switch (number) {
        case kSysReferenceText: {
            Reference named{};
            ScriptVariable* variable = ReferencedVariable(element, named, Record::kNo);
            if (variable == nullptr || variable->type != kVariableText) return ReferenceMismatch();
            SetStringElementFromBuffer(*variable, named.element, text);  // out of range: nothing
            return 0;
        }
        case kSysTextBufferText: ReplaceTextBufferText(text); return 0;
        case kSysTextBufferKinds: ReplaceTextBufferKinds(text); return 0;
        case kSysLayerFolder: return ReplaceTreeFolder(TheRootTrees().layer_folder, text);
        case kSysMenuFolder: return ReplaceTreeFolder(TheRootTrees().menu_folder, text);
        default: return ReadOnly();
    }
}

void InstallSystemVariables() {
    SystemVariableHooks& hooks = SystemVariableAccess();
    hooks.read_integer = ReadSystemIntegerVariable;
    hooks.read_real = ReadSystemRealVariable;
    hooks.read_text = ReadSystemTextVariable;
    hooks.write_integer = WriteSystemIntegerVariable;
    hooks.write_real = WriteSystemRealVariable;
    hooks.write_text = WriteSystemTextVariable;
}

}  // namespace zk
