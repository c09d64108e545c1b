// What the GTK back end's dialogs and menus share: running a modal on the
// UI thread while the main thread waits, and tying a GTK window to an
// engine window.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>
#include <functional>
#include <string>

#include "platform/ui.h"
#include "platform/ui_thread.h"

namespace zk::platform {

// Runs `work` on the UI thread and waits (main thread). While it waits the
// engine's windows keep their paint, size and activation messages; their
// input is dropped (the dialog's owner takes none, as a disabled window);
// a quit or a host close request is kept for after the modal and ends the
// modal early. True when the work ran.
bool RunModal(UiThread& thread, const std::function<void()>& work);

// The X11 window id of an engine window (main thread), 0 when it has none.
uint64_t OwnerWindowId(WindowHandle owner);

// Makes `window` (realised first) transient for the X11 window `owner_id`
// on GDK's display; nothing when `owner_id` is 0. UI thread.
void SetTransientForHost(GtkWindow* window, uint64_t owner_id);

// Runs a GTK dialog as a modal of the UI thread that `ModalScope` can end:
// the response it ended with (GTK_RESPONSE_DELETE_EVENT when ended
// early). UI thread.
int RunDialog(UiThread& thread, GtkDialog* dialog);

// Shows a popup menu at the pointer (or below the request's rectangle),
// transient for the owner, and waits for its end: the chosen id, or 0.
// UI thread; `owner_id` from OwnerWindowId.
uint32_t ShowGtkPopupMenu(UiThread& thread, const PopupMenuRequest& request, uint64_t owner_id);

}  // namespace zk::platform
