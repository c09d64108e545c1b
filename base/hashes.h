// Hashes shared by every subsystem: MurmurHash2 names tree nodes, pack
// entries and labels; CRC-32 guards pack repair blocks.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace zk {

// The published 32-bit MurmurHash2 (m = 0x5BD1E995, r = 24).
uint32_t MurmurHash2(std::span<const uint8_t> bytes, uint32_t seed);
uint32_t MurmurHash2(std::string_view text, uint32_t seed);

// The standard reflected CRC-32 (polynomial 0xEDB88320), initial and final
// value 0xFFFFFFFF. `Crc32Update` continues a running value.
uint32_t Crc32(std::span<const uint8_t> bytes);
uint32_t Crc32Update(uint32_t crc, std::span<const uint8_t> bytes);

}  // namespace zk
