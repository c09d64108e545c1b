// The walk and the instruction loop. The loop is the script machine's one
// dispatch loop: the common path (a command inside the file, row 1, no
// debug switch) stays inline; everything rare sits in out-of-line helpers.
#include "script/task_runner.h"

#include <algorithm>
#include <string>
#include <vector>

#include "core/engine_hooks.h"
#include "core/engine_state.h"
#include "core/error_report.h"
#include "core/engine_hooks.h"
#include "core/game_thread.h"
#include "core/main_thread_calls.h"
#include "core/named_tree.h"
#include "core/root_trees.h"
#include "core/settings.h"
#include "core/system_facts.h"
#include "base/system_text.h"
#include "core/window_record.h"
#include "platform/clock.h"
#include "platform/ui.h"
#include "script/command_table.h"
#include "script/pause_clock.h"
#include "script/script_file.h"
#include "script/script_task.h"
#include "base/never.h"

namespace zk {

namespace {

constexpr uint64_t kCornerCheckPeriod = 1024;
constexpr uint8_t kAllCorners = 15;
constexpr uint32_t kPauseWaitMs = 10;

struct RunnerState {
    int walk_depth = 0;
    std::vector<TreeNodePtr> ended;  // unlinked during a walk, freed after it
    uint64_t changes = 0;
    int64_t resume_key = 0;
    uint64_t steps = 0;  // debug step counter, shared by all tasks
    uint8_t corner_mask = 0;
    ScreenMouseReader mouse_reader = nullptr;
    void (*clear_text)() = nullptr;
};
RunnerState state;

bool IsEnded(const NamedTreeNode* node) {
    return std::any_of(state.ended.begin(), state.ended.end(),
                       [node](const TreeNodePtr& ended) { return ended.get() == node; });
}

void AskToQuitAfterCorners() {
    const WindowRecord* main_window = MainWindowRecord();
    const platform::WindowHandle owner = main_window != nullptr ? main_window->window : platform::kNoWindow;
    const std::string text(Sjis("マウスによる画面四隅への移動を検出しました。\n\n強制的に終了します。よろしいですか？"));
    const std::string caption(Sjis("[デバッグ機能]"));
    int answer = 0;
    CallOnMainThread([&] {
        answer = platform::GetUi().MessageBox(owner, text, caption.c_str(),
                                              platform::MB_YESNO | platform::MB_ICONINFORMATION);
    });
    if (answer == platform::IDYES) QuitFlag = 1;
}

// A developer's escape hatch: the mouse pushed into all four screen corners
// (across checks and frames) offers to end the engine.
void CheckCorners() {
    int32_t x = 0, y = 0;
    if (state.mouse_reader == nullptr || !state.mouse_reader(x, y)) return;
    const int32_t width = TheSystemFacts().desktop_width;
    const int32_t height = TheSystemFacts().desktop_height;
    const bool left = x <= 8, top = y <= 8;
    const bool right = x >= width - 9, bottom = y >= height - 9;
    if (left && top) state.corner_mask |= 1;
    if (left && bottom) state.corner_mask |= 2;
    if (right && top) state.corner_mask |= 4;
    if (right && bottom) state.corner_mask |= 8;
    if (state.corner_mask != kAllCorners) return;
    state.corner_mask = 0;
    AskToQuitAfterCorners();
}

// The task's program counter left its file (it ran past the last command,
// or a target or position pointed nowhere): nothing there may run.
[[gnu::noinline]] void FinishOutsideIndex() { ReportScriptError(kErrMalformedCode, true); }

// The task ran on past its file's last command: an author's mistake, not
// damaged data. Reported at that last command, the line the author wrote.
[[gnu::noinline]] void FinishPastEnd(int32_t command_count) {
    OwnRunningCommand().index = command_count - 1;
    ReportScriptError(kErrRanPastEnd, true);
}

[[gnu::noinline]] void FinishDebugStep() {
    if (++state.steps % kCornerCheckPeriod == 0) CheckCorners();
}

// A file without prebuilt running-command records (one not loaded through
// LoadScriptFile, or one whose records could not be made): the record is
// filled in own storage from the tables. False when the index or the
// records lie outside the file (reported).
[[gnu::noinline]] bool FillRunningCommand(const ScriptFileRefs& file, int32_t i) {
    const size_t at = static_cast<size_t>(static_cast<uint32_t>(i));
    if (i < 0 || i >= file.command_count || at >= file.entries.size()) {
        if (i == file.command_count && i > 0) FinishPastEnd(i);
        else FinishOutsideIndex();
        return false;
    }
    // Loading checked every command's records against the section.
    const CommandEntry entry = file.entries[at];
    const uint8_t arg_count = entry.arg_count;
    const size_t first = entry.first_arg;
    if (first + arg_count > file.records.size()) {
        FinishOutsideIndex();
        return false;
    }
    RunningCommand& running = OwnRunningCommand();
    running.code = entry.code;
    running.index = i;
    running.command_count = file.command_count;
    running.arg_count = arg_count;
    running.info = entry.info;
    running.args = std::span<const uint8_t>(file.args.data() + first * kArgDescriptorSize,
                                            size_t{arg_count} * kArgDescriptorSize);
    running.data = file.data;
    running.records = std::span<const ArgDescriptor>(file.records.data() + first, arg_count);
    if (first + arg_count <= file.programs.size()) {
        running.programs = std::span<const IntExprProgram>(file.programs.data() + first, arg_count);
    } else {
        running.programs = {};
    }
    running.program_ops = file.program_ops;
    running.plan = file.PlanAt(i);
    FillLeadArguments(running);
    return true;
}

void RunInstructions(ScriptTask& task) {
    const bool debug = Settings().debug != 0;
    uint8_t yield = 0;
    while (yield == 0 && QuitFlag.load(std::memory_order_relaxed) == 0) {
        const int32_t i = task.next_index;
        // The file can change under any handler (jump, call, return), so
        // its tables are read afresh for every command.
        const ScriptFileRefs& file = task.file;
        const size_t at = static_cast<size_t>(static_cast<uint32_t>(i));
        // A loaded file holds every command's record: the running command
        // points at it, nothing is copied. The record count is the command
        // count, so this also keeps the index inside the file.
        if (at < file.running.size()) [[likely]] {
            PointRunningCommandAt(file.running[at]);
        } else if (!FillRunningCommand(file, i)) {
            return;
        }
        task.next_index = i + 1;
        const size_t row = ScriptHeldByInactivePause() ? 0 : 1;
        const std::span<const CommandHandler> handlers = file.rows[row];
        const CommandHandler handler = at < handlers.size() ? handlers[at] : CmdUndefined;
        yield = static_cast<uint8_t>(handler());
        if (debug) [[unlikely]] FinishDebugStep();
    }
}

void VisitChild(NamedTreeNode* child);

void Walk(NamedTreeNode* node) {
    NamedTreeNode* child = node->last_child;
    uint64_t seen = state.changes;
    bool look_up = false;
    for (int64_t k = node->child_count; k >= 1; --k) {
        // A task ended this node or an ancestor: its subtree left the tree.
        if (!state.ended.empty() && TaskNodeEnded(node)) return;
        // Starting or ending tasks shifts the positions still to be
        // visited; while nothing changed, the previous sibling is position
        // k (a speed-only shortcut: the lookup gives the same node).
        if (look_up || state.changes != seen) {
            seen = state.changes;
            child = FindNthChild(node, k);
        }
        look_up = child == nullptr;
        if (child == nullptr) continue;
        NamedTreeNode* previous = child->prev_sibling;
        VisitChild(child);
        child = previous;
    }
}

void VisitChild(NamedTreeNode* child) {
    if (TheFrameCounters.rerun_request == 0 && state.resume_key != 0) {
        if (child->order_key > state.resume_key) return;
        state.resume_key = 0;
    }
    ScriptTask* task = TaskOf(child);
    if (ZK_NEVER(task == nullptr)) {
        // Every task node gets its task; a bare folder still holds tasks.
        if (child->group != 0) Walk(child);
        return;
    }
    if ((task->enable_a & task->enable_b) == 0) return;
    if (child->group != 0) {
        Walk(child);
        return;
    }

    TheCurrentTask() = {task, child};
    task->pass_stamp = TheFrameCounters.script_pass_count;
    if (task->text_clear_request != 0) {
        task->text_clear_request = 0;
        if (state.clear_text != nullptr) state.clear_text();
    }
    if (task->frame_wait != 0) --task->frame_wait;
    if (task->wake_up_time != 0) {
        // Wrap-safe: a wait that spans the clock's wrap still waits.
        const uint32_t now = platform::TimeGetTime();
        if (static_cast<int32_t>(now - task->wake_up_time) >= 0) task->wake_up_time = 0;
    }
    if (task->frame_wait != 0 || task->wake_up_time != 0) return;
    RunInstructions(*task);
}

// The script is held while the main window is inactive. On the game-loop
// thread the main thread handles messages only while the frame paces, so the
// wait is a pacing section (left only once no window procedure runs);
// otherwise the wait drains the messages itself, and runs what other
// threads wait for the main thread to do (the sound thread's box).
void PumpDuringPause() {
    if (OnGameLoopThread()) {
        EnterPacingSection();
        platform::SleepMs(kPauseWaitMs);
        LeavePacingSection();
        return;
    }
    RunPendingMainThreadCalls();
    if (Hooks().drain_messages != nullptr) Hooks().drain_messages();
}

}  // namespace

int32_t RunTaskTree(NamedTreeNode* node) {
    if (node == nullptr) return 0;
    ++state.walk_depth;
    Walk(node);
    if (--state.walk_depth == 0) {
        if (!state.ended.empty()) FreeEndedTasks();
        // The resume key serves the re-run pass it was set for. When no task
        // at or below it was met there, it goes with that pass: kept, it
        // would skip every task above it in every later frame.
        if (TheFrameCounters.rerun_request == 0) state.resume_key = 0;
    }
    return 0;
}

int RunTaskTreeHook() { return RunTaskTree(TheRootTrees().tasks); }

void EndTaskNode(NamedTreeNode* node) {
    if (node == nullptr || TaskNodeEnded(node)) return;
    // Tasks ended earlier below this node go with it.
    std::erase_if(state.ended, [node](const TreeNodePtr& ended) { return IsInSubtree(ended.get(), node); });
    UnlinkTreeNode(node);
    state.ended.emplace_back(node);
    ++state.changes;
}

void FreeEndedTasks() {
    if (state.walk_depth != 0) return;  // the walk frees them when it returns
    const NamedTreeNode* current = TheCurrentTask().node;
    for (const TreeNodePtr& ended : state.ended) {
        if (IsInSubtree(current, ended.get())) TheCurrentTask() = {};
    }
    state.ended.clear();
}

bool TaskNodeEnded(const NamedTreeNode* node) {
    if (state.ended.empty()) return false;
    for (const NamedTreeNode* n = node; n != nullptr; n = n->parent) {
        if (IsEnded(n)) return true;
    }
    return false;
}

uint64_t& TaskTreeChanges() { return state.changes; }

int64_t& ResumeOrderKey() { return state.resume_key; }

bool SwitchTaskFile(ScriptTask& task, uint16_t file_number) {
    if (TaskInLoadedFile(task, file_number)) return true;
    if (LoadScriptFile(file_number) != 1) return false;
    const ScriptFile* file = LoadedScriptFile(file_number);
    if (ZK_NEVER(file == nullptr)) return false;  // loaded just above
    BindTaskToFile(task, file_number, *file);
    return true;
}

void SetScreenMouseReader(ScreenMouseReader reader) { state.mouse_reader = reader; }
void SetTaskTextClearer(void (*clear)()) { state.clear_text = clear; }

void ResetTaskRunnerState() {
    state.walk_depth = 0;
    FreeEndedTasks();
    state.changes = 0;
    state.resume_key = 0;
    state.steps = 0;
    state.corner_mask = 0;
}

uint64_t DebugStepCount() { return state.steps; }
uint8_t DebugCornerMask() { return state.corner_mask; }

int32_t DispatchWithPauseWait() {
    while (ThePauseClock().inactive_on.load() != 0) {
        UpdateInactivePause();
        // A run playing an input script: the player's next frame of input
        // comes while the script waits (it may bring the focus back).
        if (Hooks().take_scripted_input != nullptr) Hooks().take_scripted_input();
        PumpDuringPause();
        if (RunFlag.load() == 0 || QuitFlag.load() != 0) return 1;
        if (ThePauseClock().inactive_on.load() == 0) break;
        if (!OnGameLoopThread()) platform::SleepMs(kPauseWaitMs);
    }
    const ScriptTask* task = TheCurrentTask().task;
    const int32_t index = CurrentCommand().index;
    if (ZK_NEVER(task == nullptr || index < 0 || static_cast<size_t>(index) >= task->file.rows[1].size())) {
        return -1;  // the runner checked the index
    }
    return task->file.rows[1][static_cast<size_t>(index)]();
}

int32_t CmdWait() {
    if (DecodeCommandArgs(kCmdWait) != 0) return -1;
    ScriptTask* task = TheCurrentTask().task;
    if (ZK_NEVER(task == nullptr)) return -1;  // the runner sets it
    const CommandArgBlock& args = Args();
    if (const CommandArgSlot* frames = args.Find(0); frames != nullptr && frames->value != 0) {
        task->frame_wait = static_cast<uint32_t>(frames->value);
        return -1;
    }
    if (const CommandArgSlot* ms = args.Find(1); ms != nullptr && ms->value != 0) {
        // The low 32 bits, added on the wrapping clock. The walk compares
        // wrap-safe, so a wake-up time that lies behind the clock (a negative
        // wait, as "deadline - now" gives once the deadline has passed) ends
        // at the next pass; only waits below 2^31 ms lie ahead of it.
        const uint32_t wake = platform::TimeGetTime() + static_cast<uint32_t>(ms->value);
        task->wake_up_time = wake != 0 ? wake : 1;  // 0 means no wait
        return -1;
    }
    return 0;
}

}  // namespace zk
