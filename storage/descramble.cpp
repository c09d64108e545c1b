#include "storage/descramble.h"

#include <string_view>

#include "storage/pack_repair.h"

namespace zk {
namespace {

// The exchanged pairs of T. Any fixed choice serves as long as the writers
// use the same table; all lie between 3 and 53 and no length appears twice.
constexpr std::array<std::array<uint8_t, 2>, 12> kExchangedLengths = {{
    {3, 41}, {5, 29}, {7, 53}, {8, 19}, {10, 47}, {12, 33},
    {14, 23}, {16, 38}, {18, 51}, {21, 44}, {26, 35}, {30, 49},
}};

// The script-file key is derived from this text at run time, so the key
// itself appears nowhere in the executable.
constexpr std::string_view kScriptKeyText = "ZORVEK script sections / vimtarol";

struct DescrambleTables {
    std::array<uint8_t, 256> name_lengths{};
    std::array<uint8_t, 4> script_key{};
};

DescrambleTables MakeTables() {
    DescrambleTables tables;
    for (size_t i = 0; i < 256; ++i) tables.name_lengths[i] = static_cast<uint8_t>(i);
    for (const auto& pair : kExchangedLengths) {
        tables.name_lengths[pair[0]] = pair[1];
        tables.name_lengths[pair[1]] = pair[0];
    }
    uint32_t crc = ComputeCrc32(
        std::span(reinterpret_cast<const uint8_t*>(kScriptKeyText.data()), kScriptKeyText.size()));
    tables.script_key = {static_cast<uint8_t>(crc >> 24), static_cast<uint8_t>(crc >> 16),
                         static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc)};
    return tables;
}

// Built on first use as well as at start-up, so a tool or a test that reads
// a pack without running start-up sees the same tables.
const DescrambleTables& Tables() {
    static const DescrambleTables tables = MakeTables();
    return tables;
}

}  // namespace

int32_t BuildDescrambleTables() {
    Tables();
    return 0;
}

const std::array<uint8_t, 256>& NameLengthTable() { return Tables().name_lengths; }

const std::array<uint8_t, 4>& ScriptFileKey() { return Tables().script_key; }

std::string DescrambleName(std::span<const uint8_t> stored) {
    std::string plain(stored.size(), '\0');
    for (size_t i = 0; i < stored.size(); ++i) plain[i] = static_cast<char>(DescrambleNameByte(stored[i]));
    return plain;
}

}  // namespace zk
