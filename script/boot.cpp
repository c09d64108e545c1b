#include "script/boot.h"

#include "core/error_report.h"
#include "core/named_tree.h"
#include "core/root_trees.h"
#include "script/compiled_tables.h"
#include "script/labels.h"
#include "script/script_file.h"
#include "script/script_task.h"
#include "storage/descramble.h"

namespace zk {

int32_t BootScriptSystem() {
    InstallScriptLocationProvider();
    BuildDescrambleTables();  // start-up has built them; this only makes sure

    // Fixed order; the first failure ends the boot (each has reported what
    // it reports).
    if (LoadErrorTexts() != 0) return 1;
    if (LoadCommandTable() != 0) return 1;
    if (LoadVariableTable() != 0) return 1;
    if (LoadScriptFileList() != 0) return 1;
    if (LoadVariableDefinitions() != 0) return 1;
    if (InitVariablesFromDefinitions(-1) != 0) return 1;
    if (LoadLabelTable() != 0) return 1;

    const int32_t start = FindLabel(kSystemStartLabel);
    NamedTreeNode* node = FindNodeByPath(TheRootTrees().tasks, kSystemTaskName, kFindLeaf);
    ScriptTask* task = TaskOf(node);
    if (task == nullptr) return -1;
    // The compiler always provides the label; without it there is nowhere
    // to start, and pointing the task at a missing label would run garbage.
    const LabelEntry* label = LabelAt(start);
    if (label == nullptr) return 1;

    task->file_number = label->file_number;
    // A file that cannot be loaded has been reported; the task must not run
    // in a file without commands.
    if (LoadScriptFile(label->file_number) != 1) return 1;
    const ScriptFile* file = LoadedScriptFile(label->file_number);
    if (file == nullptr) return 1;  // NEVER: loaded just above
    BindTaskToFile(*task, label->file_number, *file);
    task->next_index = static_cast<int32_t>(label->command_index);
    task->block_depth = static_cast<int8_t>(label->block_depth);  // at most 127, checked at load
    task->loop_depth = static_cast<int8_t>(label->loop_depth);    // at most 63
    if (!EnsureStackEntries(*task)) return 1;
    return 0;
}

}  // namespace zk
