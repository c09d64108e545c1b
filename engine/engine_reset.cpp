#include "engine/engine_reset.h"

#include "core/engine_hooks.h"
#include "core/engine_state.h"
#include "core/error_report.h"
#include "core/root_trees.h"
#include "core/settings.h"
#include "core/startup_notes.h"
#include "core/window_record.h"
#include "core/window_requests.h"
#include "engine/engine_commands.h"
#include "engine/input.h"
#include "engine/main_loop.h"
#include "engine/startup.h"
#include "engine/window_proc.h"
#include "layers/cg_image.h"
#include "renderer/cpu_back_buffer.h"
#include "renderer/cpu_presentation.h"
#include "renderer/display_state.h"
#include "script/command_table.h"
#include "script/compiled_tables.h"
#include "script/pause_clock.h"
#include "script/system_variable_hooks.h"
#include "script/task_runner.h"
#include "script/variables.h"
#include "storage/save_rows.h"
#include "system/file_name_list.h"

namespace zk {

void ResetEngine() {
    // The game-loop thread is joined first: nothing runs a frame while the
    // state below goes back to its start.
    ResetStartupState();  // also the main loop's state, the guards released
    ResetEngineState();
    ResetSettings();
    ResetErrorReporter();
    ClearStartupFailureNote();
    // Windows, their requests and the input they saw.
    ResetWindowRequests();
    ResetInputState();
    FreeRootTrees();
    DestroyWindowRecords();
    TheLetterboxOffset() = {};
    TheDisplayState() = {};
    TheCpuBackBuffer() = {};
    // The script machine.
    ResetPauseClockState();
    ResetTaskRunnerState();
    ResetVariableTable();
    ResetCompiledTables();
    ResetCommandTable();
    ResetCommandSwitches();
    ResetEngineCommandState();
    SystemVariableAccess() = {};
    // Subsystems.
    ResetFileNameList();
    ResetSaveRows();
    TheCgFileLoaders() = {};
    Hooks() = {};
}

}  // namespace zk
