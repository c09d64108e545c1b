#include "system/system_reset.h"

#include "system/preload_groups.h"
#include "system/script_paths.h"

namespace zk {

void ResetSystemServices() {
    ResetPreloadGroups();
    ResetChosenFolders();
}

}  // namespace zk
