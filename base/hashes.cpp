#include "base/hashes.h"

#include <array>
#include <optional>


namespace zk {

uint32_t MurmurHash2(std::span<const uint8_t> bytes, uint32_t seed) {
    constexpr uint32_t m = 0x5BD1E995;
    constexpr int r = 24;
    uint32_t h = seed ^ static_cast<uint32_t>(bytes.size());
    // Whole little-endian words first, read straight from the span (the
    // names hashed on every file lookup make this a hot loop).
    const size_t words = bytes.size() / 4;
    const uint8_t* at = bytes.data();
    for (size_t i = 0; i < words; ++i, at += 4) {
        uint32_t k = uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
        k *= m;
        k ^= k >> r;
        k *= m;
        h *= m;
        h ^= k;
    }
    const std::span<const uint8_t> tail = bytes.subspan(words * 4);
    switch (tail.size()) {
        case 3: h ^= uint32_t(tail[2]) << 16; [[fallthrough]];
        case 2: h ^= uint32_t(tail[1]) << 8; [[fallthrough]];
        case 1: h ^= uint32_t(tail[0]); h *= m;
    }
    h ^= h >> 13;
    h *= m;
    h ^= h >> 15;
    return h;
}

uint32_t MurmurHash2(std::string_view text, uint32_t seed) {
    return MurmurHash2(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()), seed);
}

namespace {
constexpr std::array<uint32_t, 256> MakeCrcTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}
constexpr auto kCrcTable = MakeCrcTable();
}  // namespace

uint32_t Crc32Update(uint32_t crc, std::span<const uint8_t> bytes) {
    crc = ~crc;
    for (uint8_t b : bytes) crc = kCrcTable[(crc ^ b) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

uint32_t Crc32(std::span<const uint8_t> bytes) { return Crc32Update(0, bytes); }

}  // namespace zk
