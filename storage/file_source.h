// Where a game file comes from, and its loaders. The probe order is always:
// loose file, then the script compiler's list, then the pack index; the
// first source that has the name wins, so a loose file overrides the
// compiler's copy and both override the packs.
//
// Threading: lookups and loads run on the main (or game-loop) thread and on
// the sound thread at once, without a lock: the probes only read the pack
// index and the compiler list, which are complete before those threads
// start, and each load opens its own file.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace zk {

// One lookup and load; the caller owns it (as a rule a local).
struct FileSource {
    int32_t size = 0;           // bytes loaded
    std::vector<uint8_t> data;  // the loaded file (data.size() == size)
    int8_t state = 0;           // 0 not found, 1 loose file, 2 pack entry, 3 compiler list
    uint8_t kind = 0;           // FileKind (storage/asset_name.h); 0 for a compiler-list file
    int32_t pack_index_slot = 0;   // state 2: the entry's place in the pack index
    int32_t pack_number = 0;       // state 2
    uint64_t entry_position = 0;   // state 2: its PackEntryRecord, from the pack base
    int32_t compiler_list_index = 0;  // state 3
};

// Clears state and kind, then probes loose file, compiler list, pack index.
// Returns the state of the first source that has the name (1, 3 or 2), 0
// when none has it, or -2 when a pack holding an entry with the name's hash
// cannot be opened (the search ends there). A loose file's kind comes from
// its extension. The name is used as it is: a relative path with '\'
// separators (lower-cased when ResolveAssetName made it).
int32_t ResolveFileSource(FileSource& source, std::string_view name);

// 1 when the path names an existing regular file below the current (game)
// folder, else 0. A path that would leave it (a leading '\' or '/', a drive
// letter) names no loose file; ".." stops at the folder.
int32_t ProbeLooseFile(std::string_view path);

// The loaders: 0 success (size and data set); -2 the packed file is damaged
// beyond repair or cannot be decompressed; -3 any other failure. Every
// failure has been reported (fatal) and leaves no bytes in `source`.
//
// LoadLooseFile reads the file whole, in one read, into one block; a file of
// 2^31 bytes or more cannot be held (104030); an empty file loads with size
// 0 and a valid block.
int32_t LoadLooseFile(FileSource& source, std::string_view path);
// Calls the loader of `source.state` (any other state: -3, no message).
int32_t LoadFromSource(FileSource& source, std::string_view name);

// The sources that other storage files provide. Each probe returns its
// state number when it has the name, 0 when not, -2 when a pack cannot be
// opened. An empty probe has nothing; an empty loader fails with -3.
struct FileSourceHooks {
    int32_t (*probe_compiler_list)(FileSource&, std::string_view) = nullptr;
    int32_t (*probe_pack_index)(FileSource&, std::string_view) = nullptr;
    int32_t (*load_compiler_list_file)(FileSource&, std::string_view) = nullptr;
    int32_t (*load_pack_entry)(FileSource&, std::string_view) = nullptr;
    uint8_t (*kind_by_extension)(std::string_view) = nullptr;  // 0 for every name when empty
};
FileSourceHooks& TheFileSourceHooks();

// Set when the game data is packed: by the pack index when a pack holds
// "zkbin\zkcfg.zbn", or by the appended-data check.
bool& ReleaseDataFlag();

// The common reader of the table loaders: resolve, report 104060 / 104010 /
// 901040 (fatal) with the name on a failed probe, load. 0 with `source`
// filled, or -1 (reported).
int32_t ReadGameFileReported(FileSource& source, std::string_view name);

}  // namespace zk
