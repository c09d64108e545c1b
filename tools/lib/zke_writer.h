// Writer of the error text table zkbin\zke.zbn: 8 header bytes,
// uint32 record count, 4 bytes, then the records, each a uint32 error code
// and a NUL-terminated CP932 text. The raw overrides write damaged files for
// the tests of the loader.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zk::tools {

struct ZkeRecord {
    uint32_t code = 0;
    std::string text;  // CP932 bytes, without the terminator
};

struct ZkeRawOptions {
    std::array<uint8_t, 8> header{};  // bytes 0-7 (the engine does not read them)
    uint32_t reserved = 0;            // bytes 12-15 (not read either)
    // Raw overrides for malformed files: the stored count (default: the
    // number of records), the last text written without its NUL, and a cut.
    std::optional<uint32_t> count;
    bool omit_last_terminator = false;
    std::optional<size_t> truncate_to;
};

std::vector<uint8_t> BuildZke(const std::vector<ZkeRecord>& records, const ZkeRawOptions& options = {});

}  // namespace zk::tools
