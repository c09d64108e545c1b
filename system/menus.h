// Menus: the items scripts hang in the menu tree ("M0"), commands 62-68 that
// define, show, delete and query them, and the three built menu sets (the
// window's menu bar, the popup menu, the tray menu) made from a subtree.
//
// A built menu is plain data (`BuiltMenu`): the set owns each of its menus
// once, in one of its 128 entries; a submenu entry names the entry of its
// menu. `MenuDescription` turns a set into what the UI back ends show.
//
// Threading: the frame step's thread (the commands, the popup request and
// its showing). The tray's copy of set 2 is taken from there too. The bars
// the windows show are under a lock of their own: the window procedure
// reads them on the main thread when a caption is clicked.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui.h"

namespace zk {

struct NamedTreeNode;
struct WindowRecord;

inline constexpr uint8_t kCmdDefineMenuItem = 62;
inline constexpr uint8_t kCmdShowPopupMenu = 63;
inline constexpr uint8_t kCmdDeleteMenuItem = 64;
inline constexpr uint8_t kCmdQueryMenuItem = 65;
inline constexpr uint8_t kCmdMenuCheckArgs66 = 66;
inline constexpr uint8_t kCmdMenuCheckArgs67 = 67;
inline constexpr uint8_t kCmdMenuCheckArgs68 = 68;

// A new item without a caption (command, item path).
inline constexpr uint32_t kErrMenuWithoutCaption = 100260;

// A caption holds up to 260 bytes (never half a double-byte character).
inline constexpr size_t kMenuCaptionBuffer = 261;

struct MenuItem {
    std::string caption;  // empty: a separator
    uint8_t shown = 1;
    int16_t enabled = 256;
    int32_t checked = 0;
    int64_t id = 0;
};

// The item of a menu-tree node, or null.
MenuItem* MenuItemOf(const NamedTreeNode* node);
// Gives the node a new item with the caption (cut to 260 bytes); a null node
// gives null; no memory reports 100010 and gives null.
MenuItem* CreateMenuItem(NamedTreeNode* node, std::string_view caption);

// An item's new order key: the keyword's operator (0 set, 1 add, 2
// subtract, 3 multiply, 4 divide) in wrapping 32-bit arithmetic; a
// subtraction never goes below 1, a divisor 0 keeps the value.
int32_t ApplyMenuOrder(uint8_t op, int32_t old_value, int64_t argument);

// ---- Built menus -------------------------------------------------------------

inline constexpr int kMenuSetCount = 3;
inline constexpr int kMenuBarSet = 0;
inline constexpr int kPopupMenuSet = 1;
inline constexpr int kTrayMenuSet = 2;
inline constexpr int kMenusPerSet = 128;

struct BuiltMenuEntry {
    bool separator = false;
    bool grayed = false;  // grey and disabled
    bool checked = false;
    uint32_t id = 0;
    std::string caption;
    int submenu = -1;  // the entry of the set that holds the submenu, or -1
};
struct BuiltMenu {
    std::vector<BuiltMenuEntry> entries;
};
using MenuSet = std::array<std::unique_ptr<BuiltMenu>, kMenusPerSet>;

MenuSet& TheMenuSet(int set);
// The next free entry of the set being built (shared by the three sets).
int& MenuFillCounter();

// Frees every menu of the set and clears its entries.
void DestroyMenuSet(int set);
// Fills the menu in the set's entry `fill counter` from the node's shown
// children; submenus go into the next entries. -1 when the set runs out of
// its 128 entries (what was built so far stays).
int BuildMenuSet(int set, const NamedTreeNode* node);
// Set 1 or 2 made afresh around the node: entry 0 a root holding one item
// "MENUSET" whose submenu (entry 1) is built from the node. The result of
// the build.
int BuildWrappedMenuSet(int set, const NamedTreeNode* node);
// The menu of a set's entry as UI entries (submenus followed by entry).
std::vector<platform::PopupMenuItem> MenuDescription(int set, int entry);
// What a popup of set 1 or 2 shows: the first submenu of its root.
std::vector<platform::PopupMenuItem> PopupDescription(int set);

// ---- The menu bar ------------------------------------------------------------

// Command 105's menu set and the display-mode switches: an empty name
// removes the bar. A name that names no menu-tree group reports 101250 and
// gives false. The bar a window shows is kept per window number.
bool SetWindowMenuBar(WindowRecord& record, const std::string& name);
// The bar a window shows (empty: none): a copy, since the window
// procedure reads it on the main thread while the frame step may build.
std::vector<platform::PopupMenuItem> WindowMenuBar(int window_number);

// ---- Popup requests ----------------------------------------------------------

// Asks the frame step to show set 1 or 2 (the position is kept for the
// record; the menu opens at the pointer).
void RequestPopupMenu(int set, int32_t x, int32_t y);
int PendingPopupRequest();
// The frame step's end: shows the requested menu and hands its answer (0
// when dismissed) to the main window as WM_COMMAND.
void ShowRequestedPopupMenu();

// Where the chosen ids of popups go when there is no main window to post
// to: straight into the pending menu command. Both paths keep the low 16
// bits.
void DeliverMenuCommand(uint32_t id);

int32_t CmdDefineMenuItem();
int32_t CmdShowPopupMenu();
int32_t CmdDeleteMenuItem();
int32_t CmdQueryMenuItem();

void RegisterMenuCommands();
void ResetMenus();

}  // namespace zk
