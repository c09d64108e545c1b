#include "core/engine_hooks.h"
#include "effects/edit_cg_command.h"

namespace zk {

// Plugs the image effects into the command table.
void RegisterEffectsHooks() { RegisterEditCgCommand(); }

}  // namespace zk
