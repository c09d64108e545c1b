#include "core/engine_hooks.h"

#include "core/engine_commands.h"
#include "script/data_commands.h"
#include "system/text_file_commands.h"

namespace zk {

EngineHooks& Hooks() {
    static EngineHooks hooks;
    return hooks;
}

void RegisterSubsystemHooks() {
    RegisterStorageHooks();
    RegisterScriptHooks();
    RegisterLayerHooks();
    RegisterRendererHooks();
    RegisterEffectJobs();
    RegisterInputHooks();
    RegisterSaveCommands();
    RegisterSoundHooks();
    RegisterEngineCommands();
    RegisterEffectsHooks();
    RegisterScriptDataCommands();
    RegisterTextFileCommands();
}

}  // namespace zk
