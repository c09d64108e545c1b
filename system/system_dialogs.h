// Command 116's dialogs: the text-entry box (codes 10201 and 10205), the
// folder browser (21000) and the save dialogs (25, 26). Each runs on the
// main thread and is modal; chosen folders and files come back as engine
// paths, and their folders become reachable for the file commands.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zk {

// The text-entry box with `initial` (CP932) in it: 1 after OK (its text is
// then the last confirmed one), 0 after Cancel, -1 when it cannot be shown.
int64_t RunTextEntry(std::string_view initial);
// The text last confirmed in the text-entry box (empty before any).
std::string LastConfirmedText();

// The folder browser starting in `initial_folder` (a script path) with
// `title`: the chosen folder as an engine path, or the empty text after a
// cancel or when no browser can be shown.
std::string RunFolderBrowser(std::string_view initial_folder, std::string_view title);

// The save dialog of code 25 (`png` false: BMP files) or 26 (PNG files),
// its file name field holding `initial` (a name or a script path): the
// chosen file as an engine path, or nullopt after a cancel or when no
// dialog can be shown.
std::optional<std::string> RunSaveDialog(bool png, std::string_view initial);

void ResetSystemDialogs();

}  // namespace zk
