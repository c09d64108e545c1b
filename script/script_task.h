// ScriptTask: the payload of a task-tree node. Each task has its own program
// counter into a ScriptFile, its own block, call and loop stacks, waits and
// parameters. Also the current-command state that every handler reads.
//
// Stack convention (all three stacks): with depth d, entries 0..d-1 are the
// open blocks, calls or loops and entry d exists already as the next free
// one. Entries are made on first use and kept while the task lives.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "script/script_file.h"

namespace zk {

struct NamedTreeNode;

inline constexpr int kBlockStackSize = 128;
inline constexpr int kCallStackSize = 64;
inline constexpr int kLoopStackSize = 64;
inline constexpr int kTaskParameterSlots = 17;  // 1..16 used, 0 not
inline constexpr int kCallValueSlots = 17;      // 1..16 used, 0 not

struct BlockFrame {
    int8_t loop_depth = 0;     // loop depth at the block's begin
    int32_t begin_index = 0;   // the block-begin command
    int32_t end_target = 0;    // the command index that ends the block
};

struct LoopFrame {
    int8_t block_depth = 0;    // block depth at the loop's begin
    int32_t begin_index = 0;   // first command of the body
    int32_t end_target = 0;    // the loop-end command
    uint64_t counter = 0;
    uint64_t count = 0;        // all ones: endless
};

// Entry k of the call stack is both the frame of the subroutine running at
// depth k (its arguments) and the return record of a call made from depth k.
struct CallFrame {
    uint8_t saved_block_depth = 0;
    uint8_t saved_loop_depth = 0;
    int32_t return_index = 0;
    uint16_t return_file = 0;
    int32_t caller_line = 0;
    std::array<int64_t, kCallValueSlots> int_args{};
    std::array<double, kCallValueSlots> real_args{};
    std::array<std::string, kCallValueSlots> text_args;  // CP932, reused
    std::array<int64_t, kCallValueSlots> int_returns{};
    std::array<double, kCallValueSlots> real_returns{};
    std::array<std::string, kCallValueSlots> text_returns;
    // Argument counts and return-value counts per kind, each with 16
    // presence bytes (1 = the slot was given); index 0 of each is unused.
    CallValueCounts arg_counts;
    CallValueCounts return_counts;
    std::array<uint8_t, kCallValueSlots> int_arg_given{};
    std::array<uint8_t, kCallValueSlots> real_arg_given{};
    std::array<uint8_t, kCallValueSlots> text_arg_given{};
    std::array<uint8_t, kCallValueSlots> int_return_given{};
    std::array<uint8_t, kCallValueSlots> real_return_given{};
    std::array<uint8_t, kCallValueSlots> text_return_given{};
};

struct ScriptTask {
    uint64_t pass_stamp = 0;
    uint8_t system_flag = 0;        // 1 only for the task "SYSTEM", which cannot end
    uint8_t text_clear_request = 0;
    uint32_t message_tag = 0;
    uint32_t message_length_word = 0;
    uint8_t enable_a = 1;           // the task runs while enable_a & enable_b != 0
    uint8_t enable_b = 1;
    uint32_t frame_wait = 0;        // passes still to wait
    uint32_t wake_up_time = 0;      // milliseconds; 0 = none
    int32_t next_index = 0;         // program counter
    // The current file's tables, copied whenever the task changes file.
    ScriptFileRefs file;
    uint16_t file_number = 0;
    int8_t block_depth = 0;
    std::array<std::unique_ptr<BlockFrame>, kBlockStackSize> blocks;
    int8_t call_depth = 0;
    std::array<std::unique_ptr<CallFrame>, kCallStackSize> calls;
    int8_t loop_depth = 0;
    std::array<std::unique_ptr<LoopFrame>, kLoopStackSize> loops;
    std::array<int64_t, kTaskParameterSlots> int_params{};
    std::array<double, kTaskParameterSlots> real_params{};
    std::array<std::string, kTaskParameterSlots> text_params;
};

// Makes a task (both enable bytes 1, entry 0 of each stack) and attaches it
// as the node's payload, freed with the node. Null for a null node, or after
// reporting 100010 (fatal) when memory runs out.
ScriptTask* CreateScriptTask(NamedTreeNode* node);
// The create_script_task hook: a task for a root-tree node; `system` marks
// the task "SYSTEM".
bool CreateScriptTaskHook(NamedTreeNode* node, bool system);
// The task carried by a task node, or null.
ScriptTask* TaskOf(NamedTreeNode* node);

// True when the task is bound to loaded file `file_number` already, so that
// a switch to it changes nothing.
inline bool TaskInLoadedFile(const ScriptTask& task, uint16_t file_number) {
    const ScriptFile* file = LoadedScriptFile(file_number);
    return file != nullptr && task.file_number == file_number && task.file.rows[1].data() == file->rows[1].data() &&
           task.file.command_count == file->command_count;
}

// Points the task at a loaded file: its number and table references.
void BindTaskToFile(ScriptTask& task, uint16_t file_number, const ScriptFile& file);

// Makes the stack entries 0..depth of each stack that do not exist yet, for
// a task whose depths were set from a label rather than grown one by one.
// False after reporting 100010 (fatal), or when a depth lies outside its
// stack.
bool EnsureStackEntries(ScriptTask& task);

// Entry `index` of a stack, made when it does not exist yet: null after
// reporting 100010 (fatal), or for an index outside the stack. Commands
// reach frames only through these, so a depth raised by a jump, a label or
// a decoded position never meets a missing frame.
namespace detail {
BlockFrame* MakeBlockAt(ScriptTask& task, int index);
CallFrame* MakeCallAt(ScriptTask& task, int index);
LoopFrame* MakeLoopAt(ScriptTask& task, int index);
}  // namespace detail
inline BlockFrame* BlockAt(ScriptTask& task, int index) {
    const size_t i = static_cast<size_t>(static_cast<unsigned>(index));
    if (i < task.blocks.size() && task.blocks[i] != nullptr) [[likely]] return task.blocks[i].get();
    return detail::MakeBlockAt(task, index);
}
inline CallFrame* CallAt(ScriptTask& task, int index) {
    const size_t i = static_cast<size_t>(static_cast<unsigned>(index));
    if (i < task.calls.size() && task.calls[i] != nullptr) [[likely]] return task.calls[i].get();
    return detail::MakeCallAt(task, index);
}
inline LoopFrame* LoopAt(ScriptTask& task, int index) {
    const size_t i = static_cast<size_t>(static_cast<unsigned>(index));
    if (i < task.loops.size() && task.loops[i] != nullptr) [[likely]] return task.loops[i].get();
    return detail::MakeLoopAt(task, index);
}

// The task being run and its node: set by the runner before it runs the
// task's commands (the command itself is the RunningCommand of
// script/command_table.h).
struct CurrentTask {
    ScriptTask* task = nullptr;
    NamedTreeNode* node = nullptr;
};
namespace detail {
extern CurrentTask current_task;
}  // namespace detail
inline CurrentTask& TheCurrentTask() { return detail::current_task; }

// Row 0 of every dispatch row (script/task_runner.cpp): while the main
// window is inactive and the script is not to keep running, waits for the
// window to come back (pumping messages every 10 ms), then runs the
// command's row-1 handler. 1 when the engine is quitting meanwhile.
int32_t DispatchWithPauseWait();

// Error locations name the current task's file and the current command's
// source line.
void InstallScriptLocationProvider();

}  // namespace zk
