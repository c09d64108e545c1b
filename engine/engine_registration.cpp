#include "engine/engine_registration.h"

#include "core/engine_hooks.h"
#include "engine/engine_commands.h"
#include "engine/main_loop.h"
#include "engine/system_variables.h"
#include "engine/window_commands.h"
#include "engine/window_sizing.h"
#include "images/frame_sequence.h"
#include "script/data_commands.h"
#include "system/text_file_commands.h"

namespace zk {

void RegisterSubsystemHooks() {
    RegisterStorageHooks();
    RegisterScriptHooks();
    // The numbers below 1000: what scripts read of the engine.
    InstallSystemVariables();
    Hooks().drain_messages = DrainMessages;
    RegisterLayerHooks();
    RegisterImageDecoders();
    InstallFrameSequenceCommands();
    RegisterRendererHooks();
    RegisterEffectJobs();
    RegisterInputHooks();
    RegisterSaveCommands();
    RegisterSoundHooks();
    RegisterEngineCommands();
    RegisterWindowSizingHooks();
    RegisterWindowCommands();
    RegisterEffectsHooks();
    RegisterScriptDataCommands();
    RegisterTextFileCommands();
}

}  // namespace zk
