#include "script/labels.h"

#include <limits>
#include <new>

#include "base/byte_reader.h"
#include "base/hashes.h"
#include "script/compiled_tables.h"

namespace zk {

uint32_t LabelCheckValue(std::string_view name) {
    return MurmurHash2(name, static_cast<uint32_t>(name.size()));
}

bool ParseLabelTable(std::span<const uint8_t> bytes, uint32_t file_count, LabelTable& out) {
    ByteReader reader(bytes);
    if (!reader.Seek(8)) return false;
    std::optional<int32_t> count = reader.I32();
    if (!count || *count < 0) return false;
    LabelTable table;
    for (int b = 0; b < kLabelBucketCount; ++b) {
        std::optional<uint32_t> start = reader.U32();
        if (!start) return false;
        table.bucket_start[b] = *start;
    }
    // The compiler's bucket 0 always starts the table; whatever the file
    // holds there is not read.
    table.bucket_start[0] = 0;

    // Every record is at least 13 bytes; a count the bytes cannot hold is
    // refused before anything is reserved for it.
    constexpr size_t kMinRecord = 13;
    if (static_cast<uint64_t>(*count) > reader.Remaining() / kMinRecord) return false;
    const uint32_t label_count = static_cast<uint32_t>(*count);
    try {
        table.entries.reserve(label_count);
        table.command_limit_by_file.assign(file_count, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }

    // first_in_bucket[b]: the first record with top byte b, or none.
    constexpr uint32_t kNone = std::numeric_limits<uint32_t>::max();
    std::array<uint32_t, kLabelBucketCount> first_in_bucket;
    first_in_bucket.fill(kNone);
    uint32_t previous_top = 0;
    for (uint32_t i = 0; i < label_count; ++i) {
        std::optional<uint8_t> length = reader.U8();
        if (!length) return false;
        std::optional<std::span<const uint8_t>> name = reader.Take(*length);
        std::optional<uint32_t> check = reader.U32();
        std::optional<uint32_t> command_index = reader.U32();
        std::optional<uint16_t> file_number = reader.U16();
        std::optional<uint8_t> block_depth = reader.U8();
        std::optional<uint8_t> loop_depth = reader.U8();
        if (!name || !check || !command_index || !file_number || !block_depth || !loop_depth) return false;

        LabelEntry entry;
        entry.name.assign(reinterpret_cast<const char*>(name->data()), name->size());
        entry.check_value = *check;
        entry.command_index = *command_index;
        entry.file_number = *file_number;
        entry.block_depth = *block_depth;
        entry.loop_depth = *loop_depth;

        // A check value that is not the name's hash would make the label
        // unreachable by name; records out of bucket order would hide labels
        // from the bucketed scan.
        if (entry.check_value != LabelCheckValue(entry.name)) return false;
        uint32_t top = entry.check_value >> 24;
        if (top < previous_top) return false;
        previous_top = top;
        if (first_in_bucket[top] == kNone) first_in_bucket[top] = i;

        if (entry.file_number >= file_count) return false;
        if (entry.block_depth > kMaxLabelBlockDepth || entry.loop_depth > kMaxLabelLoopDepth) return false;
        uint32_t& limit = table.command_limit_by_file[entry.file_number];
        // A command index of 0xFFFFFFFF cannot be inside any file; keep the
        // limit from wrapping to 0.
        if (entry.command_index == std::numeric_limits<uint32_t>::max()) return false;
        if (entry.command_index + 1 > limit) limit = entry.command_index + 1;
        table.entries.push_back(std::move(entry));
    }

    for (int b = 0; b < kLabelBucketCount; ++b) {
        uint32_t start = table.bucket_start[b];
        if (start > label_count) return false;
        if (first_in_bucket[b] != kNone && start != first_in_bucket[b]) return false;
    }
    out = std::move(table);
    return true;
}

int32_t FindLabelIn(const LabelTable& table, std::string_view name) {
    uint32_t h = LabelCheckValue(name);
    const size_t count = table.entries.size();
    const uint32_t top = h >> 24;
    for (size_t i = table.bucket_start[top]; i < count; ++i) {
        const LabelEntry& entry = table.entries[i];
        if (entry.check_value == h && entry.name == name) return static_cast<int32_t>(i);
        // Speed only: the loader refuses records out of top-byte order, so
        // nothing past the bucket can match. Removing this test scans on to
        // the table's end and gives the same answer.
        if ((entry.check_value >> 24) > top) break;
    }
    return -1;
}

int32_t FindLabel(std::string_view name) { return FindLabelIn(TheCompiledTables().labels, name); }

const LabelEntry* LabelAt(int64_t index) {
    const auto& entries = TheCompiledTables().labels.entries;
    if (index < 0 || static_cast<uint64_t>(index) >= entries.size()) return nullptr;
    return &entries[static_cast<size_t>(index)];
}

}  // namespace zk
