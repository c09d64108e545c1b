// The executable's own resources. On Windows these are PE resources; here
// they are a named section of the executable ("zk_resources") holding a
// small table, patched by tools/zk_patch_exe after linking. The defaults the
// build writes: "ZK_RES" 201 = uint32 4 (nothing appended) and "ZK_BIN" 148
// = 4 zero bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zk::platform {

// The bytes of resource (type, id), or nullopt when the executable has none.
std::optional<std::vector<uint8_t>> FindResource(std::string_view type, uint32_t id);

// Test hook: replaces the resource table with the given one (each entry a
// type, id and bytes); ClearResourceOverride returns to the executable's own.
struct ResourceEntry {
    std::string_view type;
    uint32_t id;
    std::vector<uint8_t> bytes;
};
void OverrideResources(std::vector<ResourceEntry> entries);
void ClearResourceOverride();

// The section's layout, shared with the patch tool:
//   "ZKRSRC01" magic (8 bytes), uint32 entry count (at most 8), then 8 slots
//   of { char type[16] (NUL-padded), uint32 id, uint32 size, uint8 data[64] }.
// `inline` keeps the literal out of every unit that does not use it at run
// time (-O0 emits unused internal constants), so the loaded program holds
// the magic once, in the section.
inline constexpr std::string_view kResourceSectionMagic = "ZKRSRC01";
constexpr size_t kResourceSlotCount = 8;
constexpr size_t kResourceTypeBytes = 16;
constexpr size_t kResourceDataBytes = 64;
constexpr size_t kResourceSlotBytes = kResourceTypeBytes + 4 + 4 + kResourceDataBytes;
constexpr size_t kResourceSectionBytes = 8 + 4 + kResourceSlotCount * kResourceSlotBytes;

// Parses a resource section image; used by FindResource and the patch tool.
// Types compare ignoring ASCII case, as Windows resource names do.
std::optional<std::vector<uint8_t>> FindResourceInSection(std::span<const uint8_t> section, std::string_view type,
                                                          uint32_t id);

// Section editing and listing, for tools/cli/zk_patch_exe and the tests.
// The first `count` slots are the entries; removing one moves the last entry
// into its slot. Each fails (false / nullopt, section unchanged) on a bad
// header, a malformed slot, a type of 0 or more than 16 bytes, more than 64
// data bytes, or (Set) no free slot.
struct ResourceSlot {
    std::string type;
    uint32_t id = 0;
    std::vector<uint8_t> bytes;
};
std::optional<std::vector<ResourceSlot>> ListResourcesInSection(std::span<const uint8_t> section);
bool SetResourceInSection(std::span<uint8_t> section, std::string_view type, uint32_t id,
                          std::span<const uint8_t> bytes);
bool RemoveResourceFromSection(std::span<uint8_t> section, std::string_view type, uint32_t id);

// Where the "zk_resources" section lies in an executable file image (ELF64,
// little-endian), found through the section headers, bounds-checked. On
// failure `why` (when given) says what is wrong.
constexpr std::string_view kResourceSectionName = "zk_resources";
struct ResourceSectionLocation {
    uint64_t offset = 0;
    uint64_t size = 0;
};
std::optional<ResourceSectionLocation> FindResourceSectionInElf(std::span<const uint8_t> file,
                                                                std::string* why = nullptr);

}  // namespace zk::platform
