// Game paths as the engine writes them ('\' separators, CP932 bytes,
// case-insensitive) mapped onto the host file system (UTF-8 names,
// case-sensitive). A game folder copied from Windows runs as it is.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zk::platform {

// Turns a game path into a host path: '\' (single-byte only) becomes '/',
// a leading '\' or a drive letter ("C:\") makes it absolute, otherwise it
// is relative to the current directory. As on Windows, a single-byte '/'
// separates too, and "." and ".." apply to the names as written. The result
// is always an absolute host path. Each component is matched ignoring
// ASCII case against the directory's listing (an exact match wins). The
// result names the file on disk when it exists; when the last component (or
// more) does not exist, the missing part is appended as written so a caller
// can create it.
std::string ToHostPath(std::string_view game_path);

// True when the game path names an existing regular file (not a folder).
bool GameFileExists(std::string_view game_path);
bool GameFolderExists(std::string_view game_path);

// Reads a whole file named by a game path. nullopt when it cannot be opened
// or read completely.
std::optional<std::string> ReadGameFile(std::string_view game_path);

// The process's current directory as a game path ('\' separators, CP932,
// trailing '\'), and changing it. ChangeDirectory returns false on failure.
std::string CurrentDirectory();
bool ChangeDirectory(std::string_view game_path);

// The executable's own path as a game path (from /proc/self/exe).
std::string ExecutablePath();

// Drops the cached directory listings (tests that rename files use it;
// the cache also refreshes itself when a directory's mtime changes).
void ClearPathCache();

}  // namespace zk::platform

namespace zk::platform {

// The user's application-data folder (XDG data home, ~/.local/share) and
// documents folder (XDG_DOCUMENTS_DIR from user-dirs.dirs, else ~/Documents),
// as game paths without a trailing '\'. Neither is created.
std::string AppDataFolder();
std::string DocumentsFolder();

}  // namespace zk::platform
