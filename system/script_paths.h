// Paths that scripts hand to the file commands, mapped onto the host.
//
// A script writes either a game path (relative, '\' or '/', any letter
// case: it stays inside the game folder) or a Windows-style absolute path
// of the form the system variables show ("\home\me\game\save\x.png", or
// with a drive letter): such a path is taken only when it lies under one
// of the folders the engine shows a script (the game and working folders,
// the application-data and documents folders, and folders the player chose
// in a dialog), and is mapped back under that folder. Any other absolute
// path, a drive-relative one, a NUL, or ".." above the folder finds
// nothing: the step that uses it does nothing.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zk {

// The host path (UTF-8) for a script's path, or nullopt when the path
// leaves every folder a script may reach. Missing trailing components are
// appended as written, so a caller can create them.
std::optional<std::string> ScriptPathToHost(std::string_view script_path);

// True when the text begins with a URL scheme ("http:", "mailto:"): two or
// more letters, digits, '+', '-' or '.' before a ':' (a drive letter is
// one letter, so "c:\x" is no URL).
bool IsUrlText(std::string_view text);

// Lets scripts reach a folder the player chose (an engine path, CP932).
void AllowChosenFolder(std::string_view engine_folder);
void ResetChosenFolders();

}  // namespace zk
