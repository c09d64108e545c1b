#include "engine/engine_reset.h"

#include "core/startup_phases.h"
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
#include "engine/screen_saver.h"
#include "engine/startup.h"
#include "engine/window_proc.h"
#include "engine/window_sizing.h"
#include "images/frame_sequence.h"
#include "layers/blend_jobs.h"
#include "layers/cg_image.h"
#include "layers/emote_players.h"
#include "layers/layer_gpu_requests.h"
#include "renderer/cpu_back_buffer.h"
#include "renderer/cpu_presentation.h"
#include "renderer/display_state.h"
#include "renderer/gpu_device.h"
#include "renderer/script_edit_overlay.h"
#include "script/command_table.h"
#include "script/compiled_tables.h"
#include "script/pause_clock.h"
#include "script/script_task.h"
#include "script/system_variable_hooks.h"
#include "script/task_runner.h"
#include "script/variables.h"
#include "sound/flash_movie.h"
#include "sound/layer_movie.h"
#include "sound/window_movie.h"
#include "storage/compiler_link.h"
#include "storage/save_rows.h"
#include "system/file_name_list.h"
#include "system/system_reset.h"

namespace zk {

void ResetEngine() {
    // The game-loop thread is joined first: nothing runs a frame while the
    // state below goes back to its start.
    ResetStartupState();  // also the main loop's state, the guards released
    ResetEngineState();
    ResetSettings();
    ResetErrorReporter();
    // The script machine, before the trees that hold its tasks.
    ResetPauseClockState();
    ResetTaskRunnerState();
    ResetVariableTable();
    ResetCompiledTables();
    ResetCommandTable();
    ResetCommandSwitches();
    ResetEngineCommandState();
    ClearRunningCommand();
    TheCurrentTask() = {};
    SystemVariableAccess() = {};
    // Windows, their requests and the input they saw.
    ResetWindowRequests();
    ResetInputState();
    // The model players go before the layers that hold them.
    ResetEmotePlayers();
    FreeRootTrees();
    TheRootTrees() = RootTrees{};
    DestroyWindowRecords();
    ResetGpuDevice();
    TheLetterboxOffset() = {};
    TheDisplayState() = {};
    ResetWindowSizing();
    TheCpuBackBuffer() = {};
    // Subsystems.
    ResetFileNameList();
    ResetSystemServices();
    ResetScriptEditOverlay();
    ResetSaveRows();
    TheCgFileLoaders() = CgFileLoaders{ResolveImageName, nullptr};
    TheLayerGpuRequests() = LayerGpuRequests{};
    ResetSequenceDecoder();
    ResetBlendPostAdvisor();
    ResetStartupPhases();
    ResetLayerMovie();
    ResetWindowMovie();
    SetMovieScreenGeometrySource(nullptr);
    ResetFlashMovie();
    ResetScreenSaver();
    ResetCompilerFileList();
    Hooks() = {};
}

}  // namespace zk
