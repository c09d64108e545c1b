#include "core/engine_hooks.h"

namespace zk {

EngineHooks& Hooks() {
    static EngineHooks hooks;
    return hooks;
}

void RegisterSubsystemHooks() {
    // Each subsystem registers its hooks here as it is built.
}

}  // namespace zk
