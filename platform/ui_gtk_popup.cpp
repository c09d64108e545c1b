// Popup menus on the UI thread.
#include "platform/ui_gtk_support.h"

namespace zk::platform {

uint32_t ShowGtkPopupMenu(UiThread& thread, const PopupMenuRequest& request, uint64_t owner_id) {
    (void)thread;
    (void)request;
    (void)owner_id;
    return 0;  // no menu yet: dismissed
}

}  // namespace zk::platform
