// Folders of a game folder moved into a pack: a game's tables (zkbin/) and,
// for release, its asset folders. A game folder whose packs hold
// zkbin\zkcfg.zbn starts as released data; one without runs its tables
// through the script compiler at every start.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace zk::tools {

// The pack a game's builders put its compiled tables in.
inline constexpr const char* kTablesPackName = "zkbin.zpf";

// Moves every file of the given top folders of `game` into the pack
// <game>/<pack_name> as "<folder>\<name>" (stored, with repair trailers,
// in name order) and removes those folders. Empty, or what failed.
std::string PackFolders(const std::filesystem::path& game, const std::string& pack_name,
                        const std::vector<std::string>& folders);

// The loose tables of `game` (zkbin/) into zkbin.zpf. Empty, or what failed.
std::string PackTables(const std::filesystem::path& game);

// A test game's configuration as released data: zkbin\zkcfg.zbn alone in
// zkbin.zpf (a loose copy removed), the other tables left loose, where they
// are found first. Writing it again replaces it. False on failure.
struct EngineConfigFile;
bool WriteReleaseConfig(const std::filesystem::path& game, const EngineConfigFile& config);
bool WriteReleaseConfig(const std::filesystem::path& game, std::vector<uint8_t> config_bytes);

}  // namespace zk::tools
