// The task tree runner: one walk over the task tree per script pass, from
// the last child to the first, letting each ready task run commands until
// one of them yields. Also the pieces of runner state that commands reach:
// ending a task during a walk, the resume order key of a re-run pass, the
// file switch of a jump, call or task start, and command 104 (wait).
#pragma once

#include <cstdint>

#include "core/error_codes.h"

namespace zk {

struct NamedTreeNode;
struct ScriptTask;

// One walk over the node's children (recursing into group nodes). Always 0;
// the frame step takes QuitFlag as the pass's result.
int32_t RunTaskTree(NamedTreeNode* node);
// The run_task_tree hook: a walk from the task root.
int RunTaskTreeHook();

// Takes a task node out of the task tree at once, so that no walk meets it
// again. It is freed (with its subtree) only when the outermost walk returns,
// because the walk and the command that ended it still hold the task.
void EndTaskNode(NamedTreeNode* node);
// Frees the nodes that EndTaskNode took out (the walk does this itself; for
// commands run outside a walk, and tests). Clears the current task when it
// was among them.
void FreeEndedTasks();
// True when the node or one of its ancestors has been ended and awaits
// freeing.
bool TaskNodeEnded(const NamedTreeNode* node);

// Counts changes to the task tree's shape (start, end, re-ordering). The
// walk steps to the previous sibling directly while nothing changed; after
// a change it looks the position up afresh.
uint64_t& TaskTreeChanges();

// The order key at which a re-run pass resumes (0: none). Task start sets
// it together with the re-run request; a walk that ends without a new
// re-run request drops it, met or not.
int64_t& ResumeOrderKey();

// Points the task at a script file by number, loading it on first use, and
// copies its tables. Within the file it is bound to already, nothing
// happens. False after the loader's report (the task is unchanged).
bool SwitchTaskFile(ScriptTask& task, uint16_t file_number);

// The debug corner check reads the mouse in screen coordinates through
// this (the input module installs it); without it the check sees nothing.
using ScreenMouseReader = bool (*)(int32_t& x, int32_t& y);
void SetScreenMouseReader(ScreenMouseReader reader);
// What clears the text buffer when a task's text-clear request is set (the
// text module installs it).
void SetTaskTextClearer(void (*clear)());

// Back to the start-of-process state: resume key, step counter, corner
// mask, ended nodes freed (tests).
void ResetTaskRunnerState();
// The debug step counter and corner mask (tests).
uint64_t DebugStepCount();
uint8_t DebugCornerMask();

// Command 104.
int32_t CmdWait();

inline constexpr uint8_t kCmdWait = 104;
}  // namespace zk
