// Writing files so that no crash can damage them, and making the folders
// they go into. Save data is the one thing the engine writes that a player
// cannot get back, so every change to such a file replaces it whole: the
// new contents go to a temporary file in the same folder, which is flushed
// to the disk (the file, then the folder) and renamed over the old one. A
// process killed at any instant leaves either the old file or the new one,
// whole; at worst a stray temporary file (".<name>.tmp-XXXXXX") stays
// behind in the folder, until the next write into that folder removes it.
// A writer holds a lock on its temporary file, so the clean-up never takes
// the file of a write still at work, in this process or another.
//
// Paths are game paths confined to their root (platform/game_path.h).
//
// Threading: any thread; two writers of the same file must not overlap
// (the last rename wins, each file whole).
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "platform/game_path.h"

namespace zk::platform {

// Creates the folder a game path names and every missing folder above it
// (the root too, when it does not exist yet). 0, or the system's error
// number (errno) of the first level that could not be made; EINVAL for a
// path that cannot be confined to its root.
int CreateGameFolders(std::string_view folder_game_path, PathRoot root = PathRoot::kGame);

// Replaces (or creates) the file a game path names with `bytes`, as above.
// The folder must exist. An existing file keeps its permission bits; a new
// one is readable by all and writable by its owner. 0, or the system's
// error number (errno) of the failing step, with the old file untouched.
// After a replacement the folder's temporary files that no writer holds
// (left by writers killed before their rename) are removed.
int ReplaceGameFile(std::string_view game_path, std::span<const uint8_t> bytes, PathRoot root = PathRoot::kGame);

// The run-time library's error number (as the game's error texts number
// them, 0..36 having texts) for a system error number of this host: the
// numbers both systems share map to themselves, the others to the nearest
// meaning or to their own number (37 and above: no text).
int RuntimeErrorNumber(int host_error);

}  // namespace zk::platform
