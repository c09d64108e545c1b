// The notification-area icon: a StatusNotifierItem on the session bus with
// its menu exported as com.canonical.dbusmenu, over GDBus.
//
// The item owns the name org.kde.StatusNotifierItem-<pid>-1, serves
// /StatusNotifierItem and /MenuBar, and registers with
// org.kde.StatusNotifierWatcher at every Show that adds it and again each
// time a watcher appears on the bus. Without a bus or a watcher nothing
// shows, and nothing fails.
//
// Threading: Show, SetMenu and Remove from any one thread at a time (the
// frame step); the bus's calls are served on the UI thread's GLib loop
// (platform/ui_thread.h) when one is installed when the icon is made, else
// on a loop of the icon's own thread, which the destructor stops. The
// callbacks run there.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui.h"

namespace zk::platform {

inline constexpr int kTrayIconSize = 16;

struct TrayIconPicture {
    // kTrayIconSize x kTrayIconSize pixels, top row first, 4 bytes each in
    // the order of the bus's icon pixmaps (A, R, G, B).
    std::vector<uint8_t> argb;
};

// The engine's own icon, for a game that gives none.
TrayIconPicture BuiltInTrayIcon();
// The picture of 16 x 16 B, G, R, A pixels (a layer's), in the bus's order.
TrayIconPicture TrayIconFromBgra(const uint8_t* bgra, size_t stride);

struct TrayCallbacks {
    std::function<void()> activate;      // the icon's primary action
    std::function<void()> context_menu;  // the host asks for the menu
    std::function<void(uint32_t id)> menu_clicked;  // an item of the exported menu
};

class TrayIcon {
public:
    // `bus_address` empty: the session bus (DBUS_SESSION_BUS_ADDRESS, else
    // $XDG_RUNTIME_DIR/bus when that socket exists). Never starts a bus.
    static std::unique_ptr<TrayIcon> Create(TrayCallbacks callbacks, std::string bus_address = {});
    virtual ~TrayIcon() = default;

    // Adds the icon, or changes it when shown. `tooltip` CP932.
    virtual void Show(const std::string& tooltip, const TrayIconPicture& picture) = 0;
    // The menu the host shows (captions CP932; ids the engine's).
    virtual void SetMenu(const std::vector<PopupMenuItem>& menu) = 0;
    virtual void Remove() = 0;
    virtual bool Shown() const = 0;
    // The layout's revision (tests).
    virtual uint32_t MenuRevision() const = 0;
    // The bus name the item owns (empty before it is shown).
    virtual std::string BusName() const = 0;
};

}  // namespace zk::platform
