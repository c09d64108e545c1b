#include "system/system_reset.h"

#include "system/debug_log.h"
#include "system/menus.h"
#include "system/preload_groups.h"
#include "system/script_edit.h"
#include "system/script_paths.h"
#include "system/system_command.h"
#include "system/tray_command.h"
#include "system/system_dialogs.h"

namespace zk {

void ResetSystemServices() {
    ResetPreloadGroups();
    ResetChosenFolders();
    ResetDebugLog();
    ResetMenus();
    ResetTrayIcon();
    ResetScriptEdit();
    ResetSystemCommandState();
    ResetSystemDialogs();
}

}  // namespace zk
