// The four preload groups of command 20: whole game files read ahead into
// memory, at most 512 a group. A full group pushes its oldest entry out.
// Nothing looks files up in the groups; they only hold the bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zk {

inline constexpr int kPreloadGroupCount = 4;
inline constexpr size_t kPreloadGroupCapacity = 512;
// A preload name holds at most this many bytes (a 261-byte buffer).
inline constexpr size_t kMaxPreloadName = 260;

struct PreloadEntry {
    std::string name;  // the name the file source holds the file under
    std::vector<uint8_t> data;
    uint8_t kind = 0;  // FileKind
};

struct PreloadGroup {
    std::vector<PreloadEntry> entries;  // oldest first
    uint64_t total = 0;                 // bytes of all entries
};

// Group 0..3 (scripts number them 1..4); null outside.
const PreloadGroup* FindPreloadGroup(int group);
// Reads the file `name` (asset mode 0 image, 1 sound) into group 0..3. A
// group outside 0..3, a name not found or too long, and a load error
// (reported by the loader) add nothing.
void PreloadFile(int group, const std::string& name, uint8_t mode);
void ResetPreloadGroups();

}  // namespace zk
