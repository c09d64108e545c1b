// The merged index of every pack's entries, built once at start-up and read
// without a lock afterwards by every thread that looks up files. The index
// holds no names: a lookup hashes the name, and for each entry with that
// hash opens the pack and compares the stored name.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "storage/file_source.h"

namespace zk {

inline constexpr size_t kMaxPacks = 100;
inline constexpr int64_t kMaxPackEntries = 200000;
// The name under which the executable is registered when the game's pack is
// appended to it (the pack opener ignores the name then).
inline constexpr std::string_view kAppendedPackName = "*";

struct PackIndexEntry {
    uint32_t hash = 0;
    int32_t pack_number = 0;
    uint32_t entry_position = 0;  // from the pack base, of the name-length code
};

struct PackIndex {
    std::vector<std::string> pack_names;  // as registered; the position is the pack number
    int64_t entry_total = 0;              // entries counted by registration
    std::vector<PackIndexEntry> entries;  // sorted by hash once built
    // Where each run of hashes with the same top `bucket_bits` bits starts
    // in `entries` (one more element than buckets), so a lookup goes straight
    // to its few candidates instead of searching the whole array. Built with
    // the index; empty for an index filled by hand, which lookups then search.
    std::vector<uint32_t> bucket_starts;
    int bucket_bits = 0;
    // update1.zpf .. update9.zpf found by the walk, set aside to be
    // registered last, in number order (slot 0 unused).
    std::array<std::string, 10> update_packs;
    bool holds_config = false;  // some pack holds "zkbin\zkcfg.zbn"
};
PackIndex& ThePackIndex();
// Empties the index (tests; start-up builds it once).
void ResetPackIndex();

// Walks the start folder and its sub-folder "pac" (breadth first, to
// max_depth) registering every ".zpf" file, the update packs set aside.
// 0, or -1 when a registration failed.
int32_t FindPackFiles(std::string_view start_folder = ".", int32_t max_depth = 1);
// 0 registered (or skipped: no pack), -1 refused (reported), -2 the file
// cannot be opened (reported).
int32_t RegisterPackFile(std::string_view path);
// 0, or -1 when start-up must end (reported).
int32_t BuildPackIndex();

// 2 found (kind, pack number, entry position, slot and state set), 0 not
// found, -2 a pack cannot be opened or read.
int32_t ProbePackIndex(FileSource& source, std::string_view name);

// The entries whose hash equals `hash`, in index order.
std::span<const PackIndexEntry> FindPackIndexEntries(uint32_t hash);
// The path a pack is opened by after start-up: the game folder and its
// name, or the name alone with release data (the game folder is then the
// current folder).
std::string PackOpenPath(int32_t pack_number);
bool PackIndexHoldsConfig();

}  // namespace zk
