// Command 116: the numbered system functions (a file copied out of the
// game data, a text file written, a folder listed into the file-name list,
// the tokenizer, registry deletions, free disk space, the administrator
// test, the debug log, the EDIT field, the dialogs of system/system_dialogs.h,
// the engine switches).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zk {

inline constexpr uint8_t kCmdSystemFunction = 116;
// A listing takes at most this many names.
inline constexpr size_t kMaxListing = 8192;

// Code 21: the names of `folder` (a script path), folders with a '/'
// appended when `with_folders`, files filtered by the extension (empty:
// all), sorted as NTFS lists them (ignoring case, CP932 bytes). At the
// limit the listing stops after a box. Replaces the file-name list.
std::vector<std::string> ListFolderNames(std::string_view folder, std::string_view extension, bool with_folders);

// Code 23: the byte lengths of the texts from (text_var, first_text) into
// the integers from (int_var, first_int), up to and including the first
// empty text or the end of the text variable. Returns the non-empty count.
int64_t StoreTextLengths(uint32_t text_var, int64_t first_text, uint32_t int_var, int64_t first_int);

// The renderer's off-screen mode as codes 80 and 81 left it; the GPU
// path's frame reads it.
bool OffScreenModeRequested();
void RequestOffScreenMode(bool on);
// Code 27's switch: composition keeps running while a movie plays in the
// window.
bool DrawDuringWindowMovie();

int32_t CmdSystemFunction();
// The command and the hooks it fills (start-up).
void RegisterSystemServices();
void ResetSystemCommandState();

}  // namespace zk
