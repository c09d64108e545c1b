#include "script/boot.h"

#include <string>

#include "core/error_report.h"
#include "core/named_tree.h"
#include "core/root_trees.h"
#include "core/startup_notes.h"
#include "script/compiled_tables.h"
#include "script/labels.h"
#include "script/script_file.h"
#include "script/script_task.h"
#include "storage/descramble.h"
#include "storage/startup_files.h"
#include "base/never.h"

namespace zk {

int32_t BootScriptSystem() {
    InstallScriptLocationProvider();
    BuildDescrambleTables();  // start-up has built them; this only makes sure

    // Fixed order; the first failure ends the boot (each has reported what
    // it reports). What failed is also noted for start-up's summary, since
    // a missing label table or start label has no report of its own.
    auto table_failed = [](std::string_view file) {
        NoteStartupFailure("the script table " + std::string(file) + " did not load");
        return 1;
    };
    if (LoadErrorTexts() != 0) return table_failed(kErrorTextFile);
    if (LoadCommandTable() != 0) return table_failed(kCommandDefinitionFile);
    if (LoadVariableTable() != 0) return table_failed(kVariableTableFile);
    if (LoadScriptFileList() != 0) return table_failed(kScriptFileListFile);
    if (LoadVariableDefinitions() != 0) return table_failed(kVariableDefinitionFile);
    if (InitVariablesFromDefinitions(-1) != 0) {
        NoteStartupFailure("the global variables of " + std::string(kVariableDefinitionFile) +
                           " could not be set up");
        return 1;
    }
    if (LoadLabelTable() != 0) return table_failed(kLabelTableFile);

    const int32_t start = FindLabel(kSystemStartLabel);
    NamedTreeNode* node = FindNodeByPath(TheRootTrees().tasks, kSystemTaskName, kFindLeaf);
    ScriptTask* task = TaskOf(node);
    if (task == nullptr) {
        NoteStartupFailure("the task " + std::string(kSystemTaskName) + " does not exist");
        return -1;
    }
    // The compiler always provides the label; without it there is nowhere
    // to start, and pointing the task at a missing label would run garbage.
    const LabelEntry* label = LabelAt(start);
    if (label == nullptr) {
        NoteStartupFailure("the label " + std::string(kSystemStartLabel) + " is not in " +
                           std::string(kLabelTableFile));
        return 1;
    }

    task->file_number = label->file_number;
    // A file that cannot be loaded has been reported; the task must not run
    // in a file without commands.
    if (LoadScriptFile(label->file_number) != 1) {
        NoteStartupFailure("the script file " + ScriptFileGamePath(label->file_number) + " of the label " +
                           std::string(kSystemStartLabel) + " did not load");
        return 1;
    }
    const ScriptFile* file = LoadedScriptFile(label->file_number);
    if (ZK_NEVER(file == nullptr)) return 1;  // loaded just above
    BindTaskToFile(*task, label->file_number, *file);
    task->next_index = static_cast<int32_t>(label->command_index);
    task->block_depth = static_cast<int8_t>(label->block_depth);  // at most 127, checked at load
    task->loop_depth = static_cast<int8_t>(label->loop_depth);    // at most 63
    if (!EnsureStackEntries(*task)) {
        NoteStartupFailure("the task " + std::string(kSystemTaskName) + " has no room for its stacks");
        return 1;
    }
    return 0;
}

}  // namespace zk
