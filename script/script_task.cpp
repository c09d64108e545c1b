#include "script/script_task.h"

#include "core/error_report.h"
#include "core/named_tree.h"
#include "script/command_table.h"
#include "script/compiled_tables.h"

namespace zk {

namespace detail {
CurrentTask current_task;
}  // namespace detail

namespace {

using detail::current_task;

void FreeScriptTask(void* payload) { delete static_cast<ScriptTask*>(payload); }

template <class Frame, size_t N>
bool EnsureEntries(std::array<std::unique_ptr<Frame>, N>& stack, int8_t depth) {
    if (depth < 0 || static_cast<size_t>(depth) >= N) return false;
    for (int i = 0; i <= depth; ++i) {
        if (stack[i] != nullptr) continue;
        stack[i] = AllocZeroed<Frame>();
        if (stack[i] == nullptr) {
            ReportEngineError(kErrOutOfMemory, true);
            return false;
        }
    }
    return true;
}

bool ProvideScriptLocation(ScriptLocation& out) {
    const ScriptTask* task = current_task.task;
    if (task == nullptr) return false;
    out.file = std::string(ScriptFileName(task->file_number));
    out.line = task->file.Line(CurrentCommand().index);
    return true;
}

}  // namespace

ScriptTask* CreateScriptTask(NamedTreeNode* node) {
    if (node == nullptr) return nullptr;
    std::unique_ptr<ScriptTask> task = AllocZeroed<ScriptTask>();
    if (task == nullptr || !EnsureStackEntries(*task)) {
        if (task == nullptr) ReportEngineError(kErrOutOfMemory, true);
        return nullptr;
    }
    if (node->payload != nullptr && node->payload_free != nullptr) node->payload_free(node->payload);
    node->payload = task.release();
    node->payload_free = FreeScriptTask;
    return static_cast<ScriptTask*>(node->payload);
}

bool CreateScriptTaskHook(NamedTreeNode* node, bool system) {
    ScriptTask* task = CreateScriptTask(node);
    if (task == nullptr) return false;
    task->system_flag = system ? 1 : 0;
    return true;
}

ScriptTask* TaskOf(NamedTreeNode* node) {
    // A payload freed by our own function is a task; anything else is not.
    if (node == nullptr || node->payload == nullptr || node->payload_free != FreeScriptTask) return nullptr;
    return static_cast<ScriptTask*>(node->payload);
}

void BindTaskToFile(ScriptTask& task, uint16_t file_number, const ScriptFile& file) {
    task.file_number = file_number;
    task.file = file.Refs();
}

bool EnsureStackEntries(ScriptTask& task) {
    return EnsureEntries(task.blocks, task.block_depth) && EnsureEntries(task.calls, task.call_depth) &&
           EnsureEntries(task.loops, task.loop_depth);
}

namespace {
template <class Frame, size_t N>
Frame* EntryAt(std::array<std::unique_ptr<Frame>, N>& stack, int index) {
    if (index < 0 || static_cast<size_t>(index) >= N) return nullptr;
    std::unique_ptr<Frame>& entry = stack[static_cast<size_t>(index)];
    if (entry == nullptr) {
        entry = AllocZeroed<Frame>();
        if (entry == nullptr) ReportEngineError(kErrOutOfMemory, true);
    }
    return entry.get();
}
}  // namespace

namespace detail {
BlockFrame* MakeBlockAt(ScriptTask& task, int index) { return EntryAt(task.blocks, index); }
CallFrame* MakeCallAt(ScriptTask& task, int index) { return EntryAt(task.calls, index); }
LoopFrame* MakeLoopAt(ScriptTask& task, int index) { return EntryAt(task.loops, index); }
}  // namespace detail


void InstallScriptLocationProvider() { SetScriptLocationProvider(ProvideScriptLocation); }

}  // namespace zk
