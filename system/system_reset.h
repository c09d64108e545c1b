// Puts the system services (preload groups, chosen folders, the debug log's
// run state, the script EDIT field, the command-116 switches) back to their
// start; the engine's one reset calls it.
#pragma once

namespace zk {

void ResetSystemServices();

}  // namespace zk
