#include "core/engine_hooks.h"

namespace zk {

EngineHooks& Hooks() {
    static EngineHooks hooks;
    return hooks;
}

}  // namespace zk
