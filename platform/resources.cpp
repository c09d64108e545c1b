// The executable's resources ZK_RES / ZK_BIN: a table in a section of our
// own executable, written with defaults at build time and patched in the
// file by tools/cli/zk_patch_exe after linking.
#include "platform/resources.h"

#include <array>
#include <cstring>
#include <mutex>

#include "base/ascii.h"
#include "base/byte_reader.h"

namespace zk::platform {
namespace {

constexpr size_t kHeaderBytes = 8 + 4;
constexpr size_t kSlotIdOffset = kResourceTypeBytes;
constexpr size_t kSlotSizeOffset = kResourceTypeBytes + 4;
constexpr size_t kSlotDataOffset = kResourceTypeBytes + 8;
static_assert(kHeaderBytes + kResourceSlotCount * kResourceSlotBytes == kResourceSectionBytes);
// Only ever used in constant expressions: an odr-use of kResourceSectionMagic
// at run time would put a second copy of the magic into .rodata.
constexpr size_t kMagicBytes = kResourceSectionMagic.size();
static_assert(kMagicBytes == 8);

constexpr void PutU32(std::array<uint8_t, kResourceSectionBytes>& out, size_t at, uint32_t value) {
    for (size_t i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

constexpr void PutSlot(std::array<uint8_t, kResourceSectionBytes>& out, size_t slot, std::string_view type,
                       uint32_t id, std::array<uint8_t, 4> data) {
    size_t at = kHeaderBytes + slot * kResourceSlotBytes;
    for (size_t i = 0; i < type.size(); ++i) out[at + i] = static_cast<uint8_t>(type[i]);
    PutU32(out, at + kSlotIdOffset, id);
    PutU32(out, at + kSlotSizeOffset, static_cast<uint32_t>(data.size()));
    for (size_t i = 0; i < data.size(); ++i) out[at + kSlotDataOffset + i] = data[i];
}

// The defaults the build writes. ZK_RES 201 holds the executable's own size
// where data is appended to it; 4 means nothing is appended. ZK_BIN 148 only
// has to exist with at most 4 bytes.
constexpr std::array<uint8_t, kResourceSectionBytes> DefaultSection() {
    std::array<uint8_t, kResourceSectionBytes> out{};
    for (size_t i = 0; i < kMagicBytes; ++i) out[i] = static_cast<uint8_t>(kResourceSectionMagic[i]);
    PutU32(out, 8, 2);
    PutSlot(out, 0, "ZK_RES", 201, {4, 0, 0, 0});
    PutSlot(out, 1, "ZK_BIN", 148, {0, 0, 0, 0});
    return out;
}

// The section itself. The magic exists only here: it is built at compile
// time into this array, and the parser compares against this array's bytes
// rather than against a string literal, so no second copy of it lands in the
// executable (the patch tool finds the section by name anyway).
__attribute__((section("zk_resources"), used, aligned(16))) constinit const std::array<uint8_t, kResourceSectionBytes>
    g_resource_section = DefaultSection();

// The section's bytes as they are in memory at run time. The asm statement
// hides where the pointer points, so the compiler cannot fold the defaults it
// saw above into the code: the patch tool changes them in the file after
// linking, and only a real read sees the patched values.
std::span<const uint8_t> OwnSection() {
    const uint8_t* bytes = g_resource_section.data();
    asm volatile("" : "+r"(bytes) : : "memory");
    return {bytes, kResourceSectionBytes};
}

// The entry count after a valid header, or nullopt.
std::optional<uint32_t> ReadHeader(std::span<const uint8_t> section) {
    if (section.size() < kResourceSectionBytes) return std::nullopt;
    if (std::memcmp(section.data(), OwnSection().data(), kMagicBytes) != 0) return std::nullopt;
    std::optional<uint32_t> count = ByteReader(section).PeekAt<uint32_t>(8);
    if (!count || *count > kResourceSlotCount) return std::nullopt;
    return count;
}

std::optional<ResourceSlot> ReadSlot(std::span<const uint8_t> section, size_t slot) {
    ByteReader reader(section);
    if (!reader.Seek(kHeaderBytes + static_cast<uint64_t>(slot) * kResourceSlotBytes)) return std::nullopt;
    std::optional<std::span<const uint8_t>> type_bytes = reader.Take(kResourceTypeBytes);
    std::optional<uint32_t> id = reader.U32();
    std::optional<uint32_t> size = reader.U32();
    std::optional<std::span<const uint8_t>> data = reader.Take(kResourceDataBytes);
    if (!type_bytes || !id || !size || !data || *size > kResourceDataBytes) return std::nullopt;
    size_t type_length = 0;
    while (type_length < kResourceTypeBytes && (*type_bytes)[type_length] != 0) ++type_length;
    if (type_length == 0) return std::nullopt;
    ResourceSlot out;
    out.type.assign(reinterpret_cast<const char*>(type_bytes->data()), type_length);
    out.id = *id;
    out.bytes.assign(data->begin(), data->begin() + *size);
    return out;
}

void WriteU32(std::span<uint8_t> out, size_t at, uint32_t value) {
    for (size_t i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

struct OwnedEntry {
    std::string type;
    uint32_t id;
    std::vector<uint8_t> bytes;
};

std::mutex g_override_mutex;
std::optional<std::vector<OwnedEntry>> g_override;

}  // namespace

std::optional<std::vector<ResourceSlot>> ListResourcesInSection(std::span<const uint8_t> section) {
    std::optional<uint32_t> count = ReadHeader(section);
    if (!count) return std::nullopt;
    std::vector<ResourceSlot> slots;
    for (size_t i = 0; i < *count; ++i) {
        std::optional<ResourceSlot> slot = ReadSlot(section, i);
        if (!slot) return std::nullopt;
        slots.push_back(std::move(*slot));
    }
    return slots;
}

std::optional<std::vector<uint8_t>> FindResourceInSection(std::span<const uint8_t> section, std::string_view type,
                                                          uint32_t id) {
    std::optional<std::vector<ResourceSlot>> slots = ListResourcesInSection(section);
    if (!slots) return std::nullopt;
    for (ResourceSlot& slot : *slots)
        if (slot.id == id && AsciiEqualsIgnoreCase(slot.type, type)) return std::move(slot.bytes);
    return std::nullopt;
}

bool SetResourceInSection(std::span<uint8_t> section, std::string_view type, uint32_t id,
                          std::span<const uint8_t> bytes) {
    if (type.empty() || type.size() > kResourceTypeBytes || type.find('\0') != std::string_view::npos) return false;
    if (bytes.size() > kResourceDataBytes) return false;
    std::optional<std::vector<ResourceSlot>> slots = ListResourcesInSection(section);
    if (!slots) return false;
    size_t index = slots->size();
    for (size_t i = 0; i < slots->size(); ++i)
        if ((*slots)[i].id == id && AsciiEqualsIgnoreCase((*slots)[i].type, type)) index = i;
    if (index == slots->size()) {
        if (index >= kResourceSlotCount) return false;
        WriteU32(section, 8, static_cast<uint32_t>(index + 1));
    }
    size_t at = kHeaderBytes + index * kResourceSlotBytes;
    std::memset(section.data() + at, 0, kResourceSlotBytes);
    std::memcpy(section.data() + at, type.data(), type.size());
    WriteU32(section, at + kSlotIdOffset, id);
    WriteU32(section, at + kSlotSizeOffset, static_cast<uint32_t>(bytes.size()));
    if (!bytes.empty()) std::memcpy(section.data() + at + kSlotDataOffset, bytes.data(), bytes.size());
    return true;
}

bool RemoveResourceFromSection(std::span<uint8_t> section, std::string_view type, uint32_t id) {
    std::optional<std::vector<ResourceSlot>> slots = ListResourcesInSection(section);
    if (!slots) return false;
    for (size_t i = 0; i < slots->size(); ++i) {
        if ((*slots)[i].id != id || !AsciiEqualsIgnoreCase((*slots)[i].type, type)) continue;
        size_t last = slots->size() - 1;
        uint8_t* base = section.data() + kHeaderBytes;
        if (i != last) std::memcpy(base + i * kResourceSlotBytes, base + last * kResourceSlotBytes, kResourceSlotBytes);
        std::memset(base + last * kResourceSlotBytes, 0, kResourceSlotBytes);
        WriteU32(section, 8, static_cast<uint32_t>(last));
        return true;
    }
    return false;
}

std::optional<ResourceSectionLocation> FindResourceSectionInElf(std::span<const uint8_t> file, std::string* why) {
    auto fail = [why](const char* reason) -> std::optional<ResourceSectionLocation> {
        if (why != nullptr) *why = reason;
        return std::nullopt;
    };
    // ELF64 header and section header fields used here (offsets per the
    // System V gABI).
    constexpr uint64_t kEhdrBytes = 64;
    constexpr uint32_t kShtProgbits = 1;
    constexpr uint32_t kShnXindex = 0xFFFF;
    ByteReader reader(file);
    if (file.size() < kEhdrBytes || file[0] != 0x7F || file[1] != 'E' || file[2] != 'L' || file[3] != 'F')
        return fail("not an ELF file");
    if (file[4] != 2 || file[5] != 1) return fail("not a 64-bit little-endian ELF file");
    uint64_t shoff = *reader.PeekAt<uint64_t>(0x28);
    uint64_t shentsize = *reader.PeekAt<uint16_t>(0x3A);
    uint64_t shnum = *reader.PeekAt<uint16_t>(0x3C);
    uint64_t shstrndx = *reader.PeekAt<uint16_t>(0x3E);
    if (shoff == 0) return fail("the file has no section headers");
    if (shentsize < 64 || shoff > file.size()) return fail("bad section header table");

    struct SectionHeader {
        uint32_t name, type;
        uint64_t offset, size;
        uint32_t link;
    };
    auto header = [&](uint64_t index) -> std::optional<SectionHeader> {
        uint64_t at = shoff + index * shentsize;  // index < shnum, checked below to fit the file
        std::optional<uint32_t> name = reader.PeekAt<uint32_t>(at);
        std::optional<uint32_t> type = reader.PeekAt<uint32_t>(at + 4);
        std::optional<uint64_t> offset = reader.PeekAt<uint64_t>(at + 24);
        std::optional<uint64_t> size = reader.PeekAt<uint64_t>(at + 32);
        std::optional<uint32_t> link = reader.PeekAt<uint32_t>(at + 40);
        if (!name || !type || !offset || !size || !link) return std::nullopt;
        return SectionHeader{*name, *type, *offset, *size, *link};
    };
    // Large counts live in section 0 (e_shnum 0, e_shstrndx SHN_XINDEX).
    std::optional<SectionHeader> first = header(0);
    if (!first) return fail("bad section header table");
    if (shnum == 0) shnum = first->size;
    if (shstrndx == kShnXindex) shstrndx = first->link;
    if (shnum > (file.size() - shoff) / shentsize) return fail("section header table runs past the end");
    if (shstrndx >= shnum) return fail("bad section name table index");
    std::optional<SectionHeader> names = header(shstrndx);
    if (!names || names->offset > file.size() || names->size > file.size() - names->offset)
        return fail("bad section name table");
    std::span<const uint8_t> name_table = file.subspan(names->offset, names->size);

    std::optional<ResourceSectionLocation> found;
    for (uint64_t i = 0; i < shnum; ++i) {
        std::optional<SectionHeader> section = header(i);
        if (!section) return fail("bad section header");
        if (section->name >= name_table.size()) continue;
        ByteReader name_reader(name_table);
        name_reader.Seek(section->name);
        std::optional<std::string_view> name = name_reader.CString();
        if (!name || *name != kResourceSectionName) continue;
        if (found) return fail("more than one zk_resources section");
        if (section->type != kShtProgbits) return fail("the zk_resources section has no bytes in the file");
        if (section->offset > file.size() || section->size > file.size() - section->offset)
            return fail("the zk_resources section runs past the end of the file");
        if (section->size < kResourceSectionBytes) return fail("the zk_resources section is too small");
        found = ResourceSectionLocation{section->offset, section->size};
    }
    if (!found) return fail("no zk_resources section");
    return found;
}

std::optional<std::vector<uint8_t>> FindResource(std::string_view type, uint32_t id) {
    {
        std::lock_guard<std::mutex> lock(g_override_mutex);
        if (g_override) {
            for (const OwnedEntry& entry : *g_override)
                if (entry.id == id && AsciiEqualsIgnoreCase(entry.type, type)) return entry.bytes;
            return std::nullopt;
        }
    }
    return FindResourceInSection(OwnSection(), type, id);
}

void OverrideResources(std::vector<ResourceEntry> entries) {
    // The entries' types are views: keep copies.
    std::vector<OwnedEntry> owned;
    owned.reserve(entries.size());
    for (ResourceEntry& entry : entries) owned.push_back({std::string(entry.type), entry.id, std::move(entry.bytes)});
    std::lock_guard<std::mutex> lock(g_override_mutex);
    g_override = std::move(owned);
}

void ClearResourceOverride() {
    std::lock_guard<std::mutex> lock(g_override_mutex);
    g_override.reset();
}

}  // namespace zk::platform
