#include "core/engine_hooks.h"
#include "script/boot.h"
#include "script/control_flow.h"
#include "script/evaluator_setup.h"
#include "script/pause_clock.h"
#include "script/script_task.h"
#include "script/task_commands.h"
#include "script/task_runner.h"

namespace zk {

// Plugs this subsystem into start-up, the frame step and shutdown.
void RegisterScriptHooks() {
    EngineHooks& hooks = Hooks();

    // Boot tables and tasks.
    hooks.boot_script_system = BootScriptSystem;
    hooks.create_script_task = CreateScriptTaskHook;

    // Expression and operator tables, and the handlers of the commands built so far.
    hooks.fill_script_tables = [] {
        FillEvaluatorTables();
        InstallEvaluatorCommands();
        InstallControlFlowCommands();
        InstallTaskCommands();
    };

    // ---- Task runner: run_task_tree, reset_pause_clock ----
    hooks.run_task_tree = RunTaskTreeHook;
    hooks.reset_pause_clock = ResetPauseClock;
    hooks.update_inactive_pause = UpdateInactivePause;
}

}  // namespace zk
