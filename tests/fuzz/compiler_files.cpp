// The records the script compiler hands over, over arbitrary bytes: the
// first four give the count, the rest is the block. Every entry taken lies
// inside the block.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "storage/compiler_link.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    uint32_t count = 0;
    std::memcpy(&count, data, 4);
    const std::span<const uint8_t> block(data + 4, size - 4);
    auto entries = zk::ParseCompilerFiles(block, count % 4096);
    if (entries) {
        for (const zk::CompilerFileEntry& entry : *entries) {
            if (entry.offset > block.size() || entry.size > block.size() - entry.offset) __builtin_trap();
            if (entry.name.find('\0') != std::string::npos) __builtin_trap();
        }
    }
    return 0;
}
