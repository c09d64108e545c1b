#include "core/engine_hooks.h"

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
}

}  // namespace zk
