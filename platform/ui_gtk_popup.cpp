// Popup menus on the UI thread: a GtkMenu built from the request, shown at
// the pointer (anchored on the root window) or below a rectangle of the
// owner, run until it closes.
#include <gdk/gdkx.h>

#include <algorithm>
#include <string>

#include "platform/ui_gtk_support.h"

namespace zk::platform {

namespace {

struct PopupState {
    GMainLoop* loop = nullptr;
    uint32_t chosen = 0;
};

std::string MenuLabel(const std::string& cp932) { return MnemonicsToGtk(DialogTextToUtf8(cp932)); }

void OnItemActivate(GtkMenuItem* item, gpointer data) {
    auto* state = static_cast<PopupState*>(data);
    state->chosen = GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(item), "zorvek-id"));
}

gboolean QuitLoop(gpointer loop) {
    g_main_loop_quit(static_cast<GMainLoop*>(loop));
    return G_SOURCE_REMOVE;
}

// The menu closes before its chosen item is activated: the loop ends after
// both.
void OnMenuDeactivate(GtkMenuShell*, gpointer data) {
    auto* state = static_cast<PopupState*>(data);
    g_idle_add(QuitLoop, state->loop);
}

GtkWidget* BuildMenu(const std::vector<PopupMenuItem>& items, PopupState& state) {
    GtkWidget* menu = gtk_menu_new();
    for (const PopupMenuItem& item : items) {
        GtkWidget* widget = nullptr;
        if (item.kind == PopupMenuItem::Kind::kSeparator) {
            widget = gtk_separator_menu_item_new();
        } else {
            const std::string label = MenuLabel(item.text);
            if (item.checked) {
                widget = gtk_check_menu_item_new_with_mnemonic(label.c_str());
                gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(widget), TRUE);
            } else {
                widget = gtk_menu_item_new_with_mnemonic(label.c_str());
            }
            gtk_widget_set_sensitive(widget, item.enabled);
            if (item.kind == PopupMenuItem::Kind::kSubmenu) {
                gtk_menu_item_set_submenu(GTK_MENU_ITEM(widget), BuildMenu(item.children, state));
            } else {
                g_object_set_data(G_OBJECT(widget), "zorvek-id", GUINT_TO_POINTER(item.id));
                g_signal_connect(widget, "activate", G_CALLBACK(OnItemActivate), &state);
            }
        }
        gtk_menu_shell_append(GTK_MENU_SHELL(menu), widget);
        gtk_widget_show(widget);
    }
    return menu;
}

// Where the menu opens: a window to anchor on and a rectangle of it.
struct Anchor {
    GdkWindow* window = nullptr;  // owned
    GdkRectangle rect{0, 0, 1, 1};
    GdkGravity rect_anchor = GDK_GRAVITY_NORTH_WEST;
    GdkDevice* pointer = nullptr;  // the seat's, not owned
};

Anchor FindAnchor(const PopupMenuRequest& request, uint64_t owner_id) {
    Anchor anchor;
    GdkDisplay* display = gdk_display_get_default();
    if (display == nullptr) return anchor;
    GdkSeat* seat = gdk_display_get_default_seat(display);
    anchor.pointer = seat != nullptr ? gdk_seat_get_pointer(seat) : nullptr;
    if (request.below_rect && owner_id != 0 && GDK_IS_X11_DISPLAY(display)) {
        gdk_x11_display_error_trap_push(display);
        anchor.window = gdk_x11_window_foreign_new_for_display(display, static_cast<Window>(owner_id));
        gdk_x11_display_error_trap_pop_ignored(display);
        if (anchor.window != nullptr) {
            anchor.rect = GdkRectangle{request.rect_x, request.rect_y, std::max(request.rect_width, 1),
                                       std::max(request.rect_height, 1)};
            anchor.rect_anchor = GDK_GRAVITY_SOUTH_WEST;
            return anchor;
        }
    }
    // At the pointer, on the root window of the pointer's screen.
    GdkScreen* screen = nullptr;
    int x = 0, y = 0;
    if (anchor.pointer != nullptr) gdk_device_get_position(anchor.pointer, &screen, &x, &y);
    if (screen == nullptr) screen = gdk_display_get_default_screen(display);
    anchor.window = GDK_WINDOW(g_object_ref(gdk_screen_get_root_window(screen)));
    anchor.rect = GdkRectangle{x, y, 1, 1};
    return anchor;
}

}  // namespace

uint32_t ShowGtkPopupMenu(UiThread& thread, const PopupMenuRequest& request, uint64_t owner_id) {
    if (thread.CancelRequested() || !thread.HasGtk() || request.items.empty()) return 0;
    PopupState state;
    state.loop = g_main_loop_new(nullptr, FALSE);
    GtkWidget* menu = BuildMenu(request.items, state);
    g_object_ref_sink(menu);
    g_signal_connect(menu, "deactivate", G_CALLBACK(OnMenuDeactivate), &state);
    Anchor anchor = FindAnchor(request, owner_id);
    if (anchor.window != nullptr) {
        // The menu grabs the pointer for the press that would have opened
        // it on Windows: one made here, at the current time.
        GdkEvent* trigger = gdk_event_new(GDK_BUTTON_PRESS);
        trigger->button.window = GDK_WINDOW(g_object_ref(anchor.window));
        trigger->button.time = GDK_CURRENT_TIME;
        trigger->button.button = 3;
        if (anchor.pointer != nullptr) gdk_event_set_device(trigger, anchor.pointer);
        gtk_menu_popup_at_rect(GTK_MENU(menu), anchor.window, &anchor.rect, anchor.rect_anchor,
                               GDK_GRAVITY_NORTH_WEST, trigger);
        gdk_event_free(trigger);
    }
    // A menu that could not open (no pointer grab) is dismissed.
    if (gtk_widget_get_visible(menu)) {
        UiThread::ModalScope scope(thread, [menu] { gtk_menu_shell_deactivate(GTK_MENU_SHELL(menu)); });
        g_main_loop_run(state.loop);
    } else {
        state.chosen = 0;
    }
    // No callback may reach `state` once this returns.
    g_signal_handlers_disconnect_by_data(menu, &state);
    gtk_widget_destroy(menu);
    g_object_unref(menu);
    if (anchor.window != nullptr) g_object_unref(anchor.window);
    // An idle quit still queued must not outlive the loop it names.
    while (g_source_remove_by_user_data(state.loop)) {
    }
    g_main_loop_unref(state.loop);
    return state.chosen;
}

}  // namespace zk::platform
