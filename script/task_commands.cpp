#include "script/task_commands.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "core/engine_state.h"
#include "core/error_report.h"
#include "core/named_tree.h"
#include "core/root_trees.h"
#include "script/arg_decoder.h"
#include "script/command_table.h"
#include "script/compiled_tables.h"
#include "script/control_flow.h"
#include "script/labels.h"
#include "script/position_string.h"
#include "script/script_file.h"
#include "script/script_task.h"
#include "script/task_runner.h"
#include "script/variables.h"
#include "base/never.h"

namespace zk {

namespace {

constexpr int kStartParameters = 10;

// A node's path from its tree's root, as NormaliseNodePath writes it (an
// ended node keeps its parent link, so its path is still known).
std::string TreePath(const NamedTreeNode* node) {
    std::string path;
    for (const NamedTreeNode* n = node; n != nullptr && n->parent != nullptr; n = n->parent) {
        if (n != node) path.insert(0, "/");
        path.insert(0, n->name);
    }
    return path;
}

// The name keyword's text, or empty when not given.
std::string NameArgument() {
    const CommandArgSlot* slot = Args().Find(0);
    return std::string(slot != nullptr ? slot->Text() : std::string_view());
}

// The named task's node (null when there is none); false when the path was
// refused (reported).
bool FindNamedTask(std::string_view name, std::string& path, NamedTreeNode*& node) {
    if (NormaliseNodePath(path, name, TheRootTrees().task_folder, false) < 0) return false;
    node = FindNodeByPath(TheRootTrees().tasks, path, kFindLeaf);
    return true;
}

// The order key after keyword 3's operator: a subtract, multiply or divide
// whose 64-bit result lies below 1 gives 1, and the result is kept as a
// signed 32-bit value.
int32_t NewOrderKey(int64_t current, const CommandArgSlot& order) {
    const uint8_t op = static_cast<uint8_t>(order.op);
    int64_t key = ApplyArgOperator(op, current, order.value);
    if ((op == kArgSubtract || op == kArgMultiply || op == kArgDivide) && key < 1) key = 1;
    return static_cast<int32_t>(key);
}

void ClearParameters(ScriptTask& task) {
    task.int_params.fill(0);
    task.real_params.fill(0.0);
    for (std::string& text : task.text_params) text.clear();
}

}  // namespace

int32_t CmdStartTask() {
    if (DecodeCommandArgs(kCmdStartTask) != 0) return -1;
    const CommandArgBlock& args = Args();
    const std::string name = NameArgument();
    std::string path;
    NamedTreeNode* node = nullptr;
    if (name.empty()) {
        node = TheCurrentTask().node;
        if (ZK_NEVER(node == nullptr)) return -1;  // commands run inside a task
        path = node->name;
    } else {
        const int32_t kind = NormaliseNodePath(path, name, TheRootTrees().task_folder, false);
        if (kind < 0) return -1;
        if (kind != 0) {
            ReportScriptErrorF(kErrTaskPathRefused, true, {CommandName(kCmdStartTask), std::string_view(path)});
            return -1;
        }
        node = FindNodeByPath(TheRootTrees().tasks, path, kFindLeaf);
    }

    const CommandArgSlot* order = args.Find(3);
    const bool rerun = args.Given(37);
    int32_t order_key = 1;
    if (order != nullptr && !rerun) {
        order_key = NewOrderKey(node != nullptr ? static_cast<int32_t>(node->order_key) : 1, *order);
        if (node != nullptr) {
            SetNodePriority(node, order_key);
            ++TaskTreeChanges();
        }
    }
    if (node == nullptr && !args.Given(34)) {
        ReportScriptErrorF(kErrTaskMissing, true, {CommandName(kCmdStartTask), std::string_view(path)});
        return -1;
    }

    ScriptTask* task = TaskOf(node);
    if (const CommandArgSlot* label_slot = args.Find(34)) {
        const LabelEntry* label = FindLabelReported(std::string(label_slot->Text()));
        if (label == nullptr) return -1;
        // The file first: a task must not come into being without one.
        if (LoadScriptFile(label->file_number) != 1) return -1;
        if (node == nullptr) {
            node = CreateTreeNode(TheRootTrees().tasks, path, false, order_key);
            if (node == nullptr) return -1;
            task = CreateScriptTask(node);
            if (task == nullptr) {
                FreeTreeNode(node);
                return -1;
            }
            ++TaskTreeChanges();
        }
        if (ZK_NEVER(task == nullptr)) return -1;  // every task node has its task
        if (!SwitchTaskFile(*task, label->file_number)) return -1;
        task->next_index = static_cast<int32_t>(label->command_index);
        ClearParameters(*task);
        for (int i = 1; i <= kStartParameters; ++i) {
            if (const CommandArgSlot* slot = args.Find(static_cast<uint32_t>(3 + i))) task->int_params[i] = slot->value;
            if (const CommandArgSlot* slot = args.Find(static_cast<uint32_t>(13 + i))) {
                task->real_params[i] = static_cast<double>(slot->value);
            }
        }
    }
    if (ZK_NEVER(task == nullptr)) return -1;  // every task node has its task

    if (const CommandArgSlot* slot = args.Find(1)) task->enable_a = static_cast<uint8_t>(slot->value);
    if (const CommandArgSlot* slot = args.Find(2)) task->enable_b = static_cast<uint8_t>(slot->value);
    if (const CommandArgSlot* slot = args.Find(35)) {
        const std::string position(slot->Text());
        if (DecodePositionString(position, task) < 0) return -1;
    }
    if (rerun) {
        TheFrameCounters.rerun_request = 1;
        if (order != nullptr) ResumeOrderKey() = order->value;
    }
    return 0;
}

int32_t CmdEndTask() {
    if (DecodeCommandArgs(kCmdEndTask) != 0) return -1;
    const std::string name = NameArgument();
    const CurrentTask current = TheCurrentTask();
    if (name.empty()) {
        if (current.task != nullptr && current.task->system_flag != 0) {
            ReportScriptErrorF(kErrSystemTaskEnd, true, {CommandName(kCmdEndTask)});
            return -1;
        }
        EndTaskNode(current.node);
        return -1;
    }
    std::string path;
    NamedTreeNode* node = nullptr;
    if (!FindNamedTask(name, path, node)) return -1;
    const ScriptTask* task = TaskOf(node);
    if (path == "SYSTEM" || (task != nullptr && task->system_flag != 0)) {
        ReportScriptErrorF(kErrSystemTaskEnd, true, {CommandName(kCmdEndTask)});
        return -1;
    }
    if (node == nullptr) {
        ReportScriptErrorF(kErrTaskMissing, true, {CommandName(kCmdEndTask), std::string_view(path)});
        return -1;
    }
    // A task that ends itself, by its own name, stops at once; so does one
    // whose folder is ended, since its node is gone with the folder.
    const bool ends_current = current.node != nullptr &&
                              (path == TreePath(current.node) || IsInSubtree(current.node, node));
    EndTaskNode(node);
    return ends_current ? -1 : 0;
}

namespace {

bool IsTextVariable(uint32_t number) {
    const ScriptVariable* variable = FindVariable(number);
    return variable != nullptr && variable->type == kVariableText;
}

void StoreNumber(const CommandArgSlot& result, int64_t value) {
    SetNumberElement(result.var_number, result.var_element, value);  // out of range: left alone
}

// A text result goes only into a text variable.
void StoreText(const CommandArgSlot& result, std::string_view text) {
    if (IsTextVariable(result.var_number)) StoreStringElement(result.var_number, result.var_element, text);
}

}  // namespace

int32_t CmdQueryTask() {
    if (DecodeCommandArgs(kCmdQueryTask) != 0) return -1;
    const CommandArgBlock& args = Args();
    const CommandArgSlot* result = args.Find(1);
    const std::string name = NameArgument();
    const CurrentTask current = TheCurrentTask();
    NamedTreeNode* node = current.node;
    if (!name.empty()) {
        std::string path;
        if (!FindNamedTask(name, path, node)) return -1;
    }
    const ScriptTask* task = TaskOf(node);
    if (result == nullptr) return 0;
    if (task == nullptr) {
        if (IsTextVariable(result->var_number)) {
            StoreText(*result, {});
        } else {
            const ScriptVariable* variable = FindVariable(result->var_number);
            if (variable != nullptr && (variable->type == kVariableInteger || variable->type == kVariableReal)) {
                StoreNumber(*result, 0);
            }
        }
        return 0;
    }

    // A task that has not run a command yet has no command before its next
    // one: its line is that of command 0.
    const int32_t line = node == current.node ? task->file.Line(CurrentCommand().index)
                                              : task->file.Line(std::max(task->next_index - 1, 0));
    const CallFrame* outermost = task->call_depth > 0 ? task->calls[0].get() : nullptr;
    const int32_t caller_line = outermost != nullptr ? outermost->caller_line : line;
    const uint16_t caller_file = outermost != nullptr ? outermost->return_file : task->file_number;

    if (args.Given(2)) StoreNumber(*result, 1);
    else if (args.Given(3)) StoreNumber(*result, task->enable_a);
    else if (args.Given(4)) StoreNumber(*result, task->enable_b);
    else if (args.Given(5)) StoreNumber(*result, node->order_key);
    else if (args.Given(6)) StoreText(*result, ScriptFileName(task->file_number));
    else if (args.Given(9)) StoreText(*result, ScriptFileName(caller_file));
    else if (args.Given(8)) StoreNumber(*result, line);
    else if (args.Given(11)) StoreNumber(*result, caller_line);
    else if (args.Given(12)) StoreNumber(*result, task->message_tag);
    else if (args.Given(13)) StoreNumber(*result, task->message_length_word);
    else if (args.Given(16)) StoreNumber(*result, task->block_depth);
    else if (args.Given(17)) StoreNumber(*result, task->call_depth);
    else if (args.Given(18)) StoreNumber(*result, task->loop_depth);
    else if (args.Given(7)) StoreNumber(*result, task->file_number);
    else if (args.Given(10)) StoreNumber(*result, caller_file);
    else if (args.Given(19)) {
        std::string position;
        if (EncodePositionString(position, task) < 0) return -1;
        StoreText(*result, position);
    }
    return 0;
}

void InstallTaskCommands() {
    RegisterCommandHandler(kCmdStartTask, CmdStartTask);
    RegisterCommandHandler(kCmdEndTask, CmdEndTask);
    RegisterCommandHandler(kCmdQueryTask, CmdQueryTask);
}

}  // namespace zk
