// The GTK back end's modal plumbing: the main thread's wait while a dialog
// or menu is up on the UI thread, and GTK windows owned by engine windows.
#include "platform/ui_gtk_support.h"

#include <gdk/gdkx.h>

#include <vector>

#include "platform/window_system.h"

namespace zk::platform {

namespace {

bool IsInputMessage(uint32_t message) {
    if (message >= WM_KEYDOWN && message <= 0x0109) return true;      // keys and characters
    if (message >= WM_MOUSEMOVE && message <= 0x020E) return true;    // mouse
    if (message >= 0x00A0 && message <= 0x00AD) return true;          // non-client mouse
    switch (message) {
        case WM_TEXT_INPUT:
        case WM_TEXT_COMPOSITION:
        case WM_CLOSE:        // the owner is disabled: its close button does nothing
        case WM_SYSCOMMAND:
        case WM_COMMAND:      // menu choices
        case WM_TRAY_NOTIFY:
        case WM_DROPFILES:
        case WM_GESTURE: return true;
        default: return false;
    }
}

// The main thread's side of a modal: the engine's windows keep painting
// and sizing; what would end the program is kept for after the modal.
class ModalPump {
public:
    ModalPump() = default;
    ModalPump(const ModalPump&) = delete;
    ModalPump& operator=(const ModalPump&) = delete;
    ~ModalPump() {
        if (kept_.empty()) return;
        WindowSystem& windows = GetWindowSystem();
        for (const Message& kept : kept_) {
            if (kept.message == WM_QUIT) {
                windows.PostQuitMessage(static_cast<int>(kept.wparam));
            } else {
                windows.PostMessage(kept.window, kept.message, kept.wparam, kept.lparam);
            }
        }
    }

    // False once the modal should end early.
    bool Step() {
        if (!HasWindowSystem()) return true;
        WindowSystem& windows = GetWindowSystem();
        Message message;
        while (windows.PeekMessage(message, true)) {
            if (message.message == WM_QUIT || message.message == WM_HOST_CLOSE_REQUEST) {
                kept_.push_back(message);
                continue;
            }
            if (IsInputMessage(message.message)) continue;
            windows.DispatchMessage(message);
        }
        return kept_.empty();
    }

private:
    std::vector<Message> kept_;
};

void UnrefObject(gpointer object) { g_object_unref(object); }

}  // namespace

bool RunModal(UiThread& thread, const std::function<void()>& work) {
    ModalPump pump;
    return thread.Call(work, [&pump] { return pump.Step(); });
}

uint64_t OwnerWindowId(WindowHandle owner) {
    if (owner == kNoWindow || !HasWindowSystem()) return 0;
    return GetWindowSystem().HostWindowId(owner);
}

void SetTransientForHost(GtkWindow* window, uint64_t owner_id) {
    if (owner_id == 0) return;
    GtkWidget* widget = GTK_WIDGET(window);
    gtk_widget_realize(widget);
    GdkDisplay* display = gtk_widget_get_display(widget);
    if (!GDK_IS_X11_DISPLAY(display)) return;
    // Checked: a window of another connection may be gone already.
    gdk_x11_display_error_trap_push(display);
    GdkWindow* foreign = gdk_x11_window_foreign_new_for_display(display, static_cast<Window>(owner_id));
    gdk_x11_display_error_trap_pop_ignored(display);
    if (foreign == nullptr) return;
    gdk_window_set_transient_for(gtk_widget_get_window(widget), foreign);
    // The foreign window lives as long as the dialog.
    g_object_set_data_full(G_OBJECT(window), "zorvek-owner", foreign, UnrefObject);
}

int RunDialog(UiThread& thread, GtkDialog* dialog) {
    if (thread.CancelRequested()) return GTK_RESPONSE_DELETE_EVENT;
    UiThread::ModalScope scope(thread, [dialog] { gtk_dialog_response(dialog, GTK_RESPONSE_DELETE_EVENT); });
    return gtk_dialog_run(dialog);
}

}  // namespace zk::platform
