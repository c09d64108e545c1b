// Game paths as the engine writes them ('\' separators, CP932 bytes,
// case-insensitive) mapped onto the host file system (UTF-8 names,
// case-sensitive). A game folder copied from Windows runs as it is.
//
// Two kinds of path come here, and they are kept apart:
//
// - A game path names a file the game data or a script asks for (an asset,
//   a table, a text file, a save file). It is always relative to a root and
//   never leaves it: an absolute form (a leading '\' or '/', which also
//   covers "\\server\share"), a drive letter or any other ':' ("c:\x",
//   "c:x", "a.txt:stream") and a NUL byte name nothing, and ".." stops at the
//   root. Such a path answers "not found" everywhere below.
// - An engine path is one the engine built itself: the game folder and the
//   executable from start-up, the working folder, the user's special
//   folders, the pack names it listed. It may be absolute. The functions
//   that take one say so in their name (EnginePathToHost, ReadEngineFile,
//   FileStream::OpenEngineFile) or their comment; a name from game data or
//   a script must never be passed to them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zk::platform {

// The folder a game path is relative to.
enum class PathRoot : uint8_t {
    // The current folder: the game folder, or the working folder that the
    // script compiler chose during development. Assets, tables and the
    // save folder of save-folder mode 0 live here.
    kGame,
    // The user's application-data folder (AppDataFolder), for save-folder
    // mode 1. It may not exist yet.
    kAppData,
    // The user's documents folder (DocumentsFolder), for save-folder modes
    // 2 and 3. It may not exist yet.
    kDocuments,
};

// True when the game path can be confined to a root: no leading '\' or '/',
// no single-byte ':' anywhere, no NUL. The empty path is the root itself.
bool IsRelativeGamePath(std::string_view game_path);

// Turns a game path into a host path under `root`: '\' (single-byte only;
// the trail byte 0x5C of a double-byte character belongs to it) and, as on
// Windows, '/' separate, repeated separators count as one, and "." and ".."
// apply to the names as written, ".." never going above the root. Each
// component is matched ignoring ASCII case against the directory's listing
// (an exact match wins). The result names the file on disk when it exists;
// when the last component (or more) does not exist, the missing part is
// appended as written so a caller can create it. nullopt when the path is
// not relative (IsRelativeGamePath) or the root cannot be named.
std::optional<std::string> ToHostPath(std::string_view game_path, PathRoot root = PathRoot::kGame);

// The host path of a root (nullopt when the current folder cannot be named).
std::optional<std::string> RootHostPath(PathRoot root);

// Game paths below an engine folder rather than a root (the error dialog
// opens a script file of the game folder in an editor): the same rules.
std::optional<std::string> ToHostPathUnder(std::string_view engine_folder, std::string_view game_path);

// True when the game path names an existing regular file (not a folder, a
// FIFO or a device); the other answers the same for a folder.
bool GameFileExists(std::string_view game_path, PathRoot root = PathRoot::kGame);
bool GameFolderExists(std::string_view game_path, PathRoot root = PathRoot::kGame);

// Reads a whole regular file named by a game path. nullopt when it is no
// regular file, cannot be opened or cannot be read completely. Opening never
// waits: a FIFO or a device named like a game file is refused, not read.
std::optional<std::string> ReadGameFile(std::string_view game_path, PathRoot root = PathRoot::kGame);

// ---- engine paths (built by the engine, never by a script) ------------------

// An engine path as a host path: a leading '\' or a drive letter ("C:\"; every
// drive is the one root here) makes it absolute, anything else is relative
// to the current folder. Otherwise as ToHostPath, with ".." stopping at the
// file system's root.
std::string EnginePathToHost(std::string_view engine_path);

// ReadGameFile for an engine path (the settings files of the game folder).
std::optional<std::string> ReadEngineFile(std::string_view engine_path);

// The process's current directory as an engine path ('\' separators, CP932,
// trailing '\'), and changing it to an engine path. ChangeDirectory returns
// false on failure.
std::string CurrentDirectory();
bool ChangeDirectory(std::string_view engine_path);

// The executable's own path as an engine path (from /proc/self/exe).
std::string ExecutablePath();

// Drops the cached directory listings (tests that rename files use it;
// the cache also refreshes itself when a directory's mtime changes).
void ClearPathCache();

// Opens a host file read-only, without waiting, and only when it is a
// regular file: opening a FIFO for reading would block until a writer came,
// and a device or a folder is no file. Returns the descriptor (close-on-exec,
// blocking mode restored) or -1.
int OpenRegularFile(const std::string& host_path);

// A host path (UTF-8, as the desktop names a dropped file or folder) as an
// engine path for scripts: '\' separators, CP932 names (bytes that do not
// convert stay as they are), a leading '\' when the host path is absolute,
// and a trailing '\' when it names a folder (a symbolic link to a folder
// counts as one). The root is "\".
std::string HostPathToEnginePath(const std::string& host_path);

// The user's application-data folder (XDG data home, ~/.local/share) and
// documents folder (XDG_DOCUMENTS_DIR from user-dirs.dirs, else ~/Documents),
// as engine paths without a trailing '\'. Neither is created.
std::string AppDataFolder();
std::string DocumentsFolder();

}  // namespace zk::platform
