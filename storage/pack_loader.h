// Loading one pack entry found by ProbePackIndex: read, decompress where
// needed, verify and repair.
#pragma once

#include <cstdint>
#include <string_view>

#include "storage/file_source.h"

namespace zk {

// Reads the entry that `source` locates (pack number and entry position)
// into source.data and source.size. 0 success (a repaired entry too); -2
// the entry is damaged beyond repair or cannot be decompressed; -3 any
// other failure. Every failure is reported (fatal) and leaves `source`
// without bytes. `name` serves the messages only.
int32_t LoadPackEntry(FileSource& source, std::string_view name);

}  // namespace zk
