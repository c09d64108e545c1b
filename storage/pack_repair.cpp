#include "storage/pack_repair.h"

#include <algorithm>
#include <array>
#include <optional>
#include <new>
#include <vector>

#include "base/byte_reader.h"
#include "base/hashes.h"

namespace zk {

uint32_t ComputeCrc32(std::span<const uint8_t> bytes) { return Crc32(bytes); }

int32_t VerifyAndRepair(PackStream& stream, std::span<uint8_t> stored, uint32_t checksum) {
    if (MurmurHash2(stored, 0) == checksum) return 0;

    std::optional<uint32_t> parity_length = ReadPackU32(stream);
    if (!parity_length || *parity_length != kRepairBlockSize) return -1;
    std::optional<uint32_t> block_count = ReadPackU32(stream);
    // The count is trusted by nothing: it must describe these bytes.
    uint64_t expected_blocks = (static_cast<uint64_t>(stored.size()) + kRepairBlockSize - 1) / kRepairBlockSize;
    if (!block_count || *block_count != expected_blocks) return -1;

    std::vector<uint8_t> trailer;
    try {
        trailer.resize(static_cast<size_t>(expected_blocks) * 2 + kRepairBlockSize);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    if (!ReadPackBytes(stream, trailer)) return -1;
    ByteReader codes(std::span<const uint8_t>(trailer).first(static_cast<size_t>(expected_blocks) * 2));
    std::span<const uint8_t> parity = std::span<const uint8_t>(trailer).last(kRepairBlockSize);

    size_t blocks = static_cast<size_t>(expected_blocks);
    // `sum` is the XOR of every block as found, taken once before any block
    // is rebuilt: with one damaged block the columns where it differs from
    // the parity are exactly the damaged bytes. `column` follows the blocks
    // as they are rebuilt, so the XOR of every block but one is
    // column ^ that block's byte: one step per byte, however many blocks.
    // A block whose code alone is wrong is rebuilt from sound neighbours
    // and so comes out unchanged.
    std::array<uint8_t, kRepairBlockSize> sum{};
    for (size_t i = 0; i < stored.size(); ++i) sum[i % kRepairBlockSize] ^= stored[i];
    std::array<uint8_t, kRepairBlockSize> column = sum;

    for (size_t block = 0; block < blocks; ++block) {
        size_t begin = block * kRepairBlockSize;
        size_t length = std::min<size_t>(kRepairBlockSize, stored.size() - begin);
        uint16_t code = *codes.U16();  // ALWAYS: sized to the block count above
        if (static_cast<uint16_t>(ComputeCrc32(stored.subspan(begin, length))) == code) continue;
        for (size_t k = 0; k < length; ++k) {
            if (parity[k] == sum[k]) continue;
            uint8_t& byte = stored[begin + k];
            byte = static_cast<uint8_t>(parity[k] ^ column[k] ^ byte);
            column[k] = parity[k];  // the rebuilt byte makes the column XOR to the parity
        }
    }
    return MurmurHash2(stored, 0) == checksum ? 1 : -1;
}

}  // namespace zk
