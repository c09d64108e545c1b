// Fuzzes the pack header, the entry table and the entry records: whatever
// the bytes, parsing ends with 0, 1 or a numbered error, and an accepted
// pack's entries all lie inside it.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "storage/pack_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::span<const uint8_t> bytes(data, size);
    zk::PackHeader header;
    zk::PackTable table;
    int32_t result = zk::ParsePackBytes(bytes, header, table);
    if (result != 0) return 0;
    uint64_t table_end = zk::kPackHeaderSize + header.table_size;
    if (table_end > size || table.entries.size() != header.entry_count) std::abort();
    for (const zk::PackTableEntry& entry : table.entries) {
        if (entry.position < zk::kPackHeaderSize || entry.position >= table_end) std::abort();
        if (table.Name(entry).size() != entry.name_length) std::abort();
        const zk::PackEntryRecord& record = entry.record;
        uint64_t extent = record.compression == 0 ? record.size : record.stored_size;
        if (record.data_offset > size || extent > size - record.data_offset) std::abort();
    }
    return 0;
}
