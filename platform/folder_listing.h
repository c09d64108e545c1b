// The names in one folder, in the order the file system returns them, as
// the engine's folder walks see them (Windows' FindFirstFile / FindNextFile
// over "folder\*.*").
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/game_path.h"

namespace zk::platform {

struct FolderEntry {
    std::string name;  // CP932, as a game path component
    bool is_folder = false;
};

// Every name in the folder but "." and "..". A symbolic link counts as what
// it points to; one that points nowhere counts as a file. nullopt when the
// folder cannot be listed, or the game path is not confined to its root
// (platform/game_path.h).
std::optional<std::vector<FolderEntry>> ListFolder(std::string_view game_path, PathRoot root = PathRoot::kGame);

}  // namespace zk::platform
