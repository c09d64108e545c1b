#include "core/engine_hooks.h"

#include "core/engine_commands.h"

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
    RegisterInputHooks();
    RegisterSoundHooks();
    RegisterEngineCommands();
}

}  // namespace zk
