// The tray icon: command 100 shows, changes or removes the game's icon in
// the notification area with its tip, a 16 x 16 picture from a layer and a
// menu built from the menu tree (menu set 2); command 101 only checks its
// arguments. The icon's clicks come back to the main window as the
// messages a Windows tray icon sends (WM_TRAY_NOTIFY with the button, and
// WM_COMMAND with a menu item's id).
//
// Threading: the commands run in the frame step; RemoveTrayIcon also from
// the window procedure (main thread); the bus's callbacks on the icon's own
// thread only post messages.
#pragma once

#include <cstdint>
#include <string>

namespace zk {

inline constexpr uint8_t kCmdTrayIcon = 100;
inline constexpr uint8_t kCmdTrayCheckArgs101 = 101;
// The tip holds up to 63 bytes (never half a double-byte character).
inline constexpr size_t kTrayTipLimit = 63;

int32_t CmdTrayIcon();
int32_t CmdTrayCheckArgs101();
// Takes the icon out of the notification area when it is shown.
void RemoveTrayIcon();
bool TrayIconShown();
// The tip kept for the next show.
std::string TrayTip();

void RegisterTrayCommands();
// Removes the icon and ends its bus connection.
void ResetTrayIcon();

}  // namespace zk
