// The player's dialogs and the clipboard from scripts: command 10 (a
// message box or an input box), command 5 (copy text to the clipboard) and
// command 6 (paste text from it).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zk {

inline constexpr uint8_t kCmdCopyToClipboard = 5;
inline constexpr uint8_t kCmdPasteFromClipboard = 6;
inline constexpr uint8_t kCmdMessageBox = 10;

// What command 6 stores for the clipboard's text (CP932): at most its first
// 1024 bytes, bytes 0x00..0x1F dropped, double-byte characters kept whole
// (one that would end past byte 1024 is left out).
std::string PastedText(std::string_view cp932);

int32_t CmdCopyToClipboard();
int32_t CmdPasteFromClipboard();
int32_t CmdMessageBox();

void RegisterDialogCommands();

}  // namespace zk
