// The label table of zkbin\zkl.zbn and FindLabel, which every jump, call and
// task start goes through.
//
// Layout of zkl.zbn: 8 bytes not read, int32 label count M, 256 uint32
// bucket starts, then M records: uint8 name length L, L name bytes, uint32
// check value (MurmurHash2 of the name seeded with L), uint32 command index,
// uint16 file number, uint8 block depth, uint8 loop depth. The records are
// sorted by the check value's top byte and bucket start b is the first
// record whose check value has top byte b.
//
// A lookup hashes the name, starts at its bucket and scans to the end of the
// whole table (not just the bucket), comparing check values before names.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zk {

inline constexpr int kLabelBucketCount = 256;
inline constexpr size_t kLabelTableHeaderSize = 12 + 4 * kLabelBucketCount;  // 1036
// A label can sit inside at most 127 blocks and 63 loops (the task's stacks
// hold 128 and 64 entries, one always the next free one).
inline constexpr uint8_t kMaxLabelBlockDepth = 127;
inline constexpr uint8_t kMaxLabelLoopDepth = 63;

struct LabelEntry {
    std::string name;          // CP932, without terminator (c_str() gives one)
    uint32_t check_value = 0;  // MurmurHash2(name, seed = name length)
    uint32_t command_index = 0;
    uint16_t file_number = 0;
    uint8_t block_depth = 0;
    uint8_t loop_depth = 0;
};

struct LabelTable {
    std::vector<LabelEntry> entries;
    std::array<uint32_t, kLabelBucketCount> bucket_start{};
    // Per file number: one more than the highest command index a label
    // names in that file (0 when none), so a script file can be refused at
    // load when a label points past its commands.
    std::vector<uint32_t> command_limit_by_file;
};

// The check value of a label name.
uint32_t LabelCheckValue(std::string_view name);

// Parses zkl.zbn. `file_count` is the ScriptFileList's F: a label in a file
// number outside 0..F-1 makes the file damaged. Also refused: a check value
// that is not the name's hash, records out of bucket order, a bucket start
// that does not match its records or points past them, and depths beyond the
// task stacks. Bucket start 0 is taken as 0 whatever the file holds.
// True with `out` filled; false with `out` unchanged.
bool ParseLabelTable(std::span<const uint8_t> bytes, uint32_t file_count, LabelTable& out);

// Label index 0..M-1 in `table`, or -1.
int32_t FindLabelIn(const LabelTable& table, std::string_view name);
// The same in the engine's label table (script/compiled_tables.h).
int32_t FindLabel(std::string_view name);
// The engine's label entry for an index, or null for one outside the table.
const LabelEntry* LabelAt(int64_t index);

}  // namespace zk
