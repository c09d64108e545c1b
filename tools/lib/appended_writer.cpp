#include "tools/lib/appended_writer.h"

#include <cstring>

#include "base/byte_reader.h"
#include "platform/resources.h"
#include "storage/appended_data.h"
#include "tools/lib/byte_writer.h"

namespace zk::tools {

namespace {

std::optional<std::vector<uint8_t>> Fail(std::string* why, const char* reason) {
    if (why != nullptr) *why = reason;
    return std::nullopt;
}

bool StartsWith(std::span<const uint8_t> bytes, uint64_t at, std::string_view text) {
    return at <= bytes.size() && text.size() <= bytes.size() - at &&
           std::memcmp(bytes.data() + at, text.data(), text.size()) == 0;
}

// The screen-saver preview draws width x 3 bytes per row from byte 54 with
// no palette and no row padding, so only such a picture can be shown.
const char* CheckPreview(std::span<const uint8_t> bmp) {
    constexpr uint64_t kPixelsAt = 54;
    ByteReader reader(bmp);
    if (bmp.size() < kPixelsAt || !StartsWith(bmp, 0, "BM")) return "the preview is not a BMP file";
    int32_t width = *reader.PeekAt<int32_t>(18);
    int32_t height = *reader.PeekAt<int32_t>(22);
    uint16_t bits = *reader.PeekAt<uint16_t>(28);
    uint32_t compression = *reader.PeekAt<uint32_t>(30);
    if (*reader.PeekAt<uint32_t>(14) != 40 || bits != 24 || compression != 0)
        return "the preview must be an uncompressed 24-bit BMP";
    if (width <= 0 || width % 4 != 0 || height == 0) return "the preview's width must be a positive multiple of 4";
    uint64_t rows = height < 0 ? static_cast<uint64_t>(-static_cast<int64_t>(height)) : static_cast<uint64_t>(height);
    if (static_cast<uint64_t>(width) * 3 * rows > bmp.size() - kPixelsAt) return "the preview's pixels are cut short";
    return nullptr;
}

}  // namespace

std::optional<std::vector<uint8_t>> BuildAppendedExecutable(std::span<const uint8_t> executable,
                                                            std::span<const uint8_t> pack,
                                                            std::span<const uint8_t> preview, std::string* why) {
    std::optional<platform::ResourceSectionLocation> section = platform::FindResourceSectionInElf(executable, why);
    if (!section) return std::nullopt;
    if (!StartsWith(pack, 0, std::string_view("ZPF\0", 4))) return Fail(why, "the pack is not a .zpf pack");
    if (!preview.empty()) {
        if (const char* problem = CheckPreview(preview)) return Fail(why, problem);
    }

    // An executable that already carries a game gets the new one in its
    // place rather than behind it.
    uint64_t keep = executable.size();
    std::span<const uint8_t> section_bytes = executable.subspan(section->offset, platform::kResourceSectionBytes);
    std::optional<std::vector<uint8_t>> current =
        platform::FindResourceInSection(section_bytes, "ZK_RES", kAppendedResourceId);
    if (std::optional<uint32_t> v = current ? ByteReader(*current).PeekAt<uint32_t>(0) : std::nullopt;
        v && *v < executable.size() && StartsWith(executable, *v, kAppendedMagic)) {
        keep = *v;
    }
    if (keep < section->offset + platform::kResourceSectionBytes)
        return Fail(why, "ZK_RES points into the executable's own bytes");
    if (keep > UINT32_MAX) return Fail(why, "the executable is 4 GiB or larger; ZK_RES holds a 32-bit offset");
    if (preview.size() > UINT32_MAX - kAppendedHeaderBytes) return Fail(why, "the preview is too large");

    const uint32_t block_offset = static_cast<uint32_t>(keep);
    const uint32_t preview_size = static_cast<uint32_t>(preview.size());
    ByteWriter block;
    block.Bytes(kAppendedMagic);
    block.U32(kAppendedHeaderBytes + preview_size);  // P: the pack follows the preview
    block.U32(preview_size);
    block.U32(0);
    block.Bytes(preview);
    std::vector<uint8_t> header = block.Take();

    std::vector<uint8_t> out;
    out.reserve(keep + header.size() + pack.size());
    out.insert(out.end(), executable.begin(), executable.begin() + static_cast<ptrdiff_t>(keep));
    out.insert(out.end(), header.begin(), header.end());
    out.insert(out.end(), pack.begin(), pack.end());

    const uint8_t v_bytes[4] = {static_cast<uint8_t>(block_offset), static_cast<uint8_t>(block_offset >> 8),
                                static_cast<uint8_t>(block_offset >> 16), static_cast<uint8_t>(block_offset >> 24)};
    std::span<uint8_t> out_section(out.data() + section->offset, platform::kResourceSectionBytes);
    if (!platform::SetResourceInSection(out_section, "ZK_RES", kAppendedResourceId, v_bytes))
        return Fail(why, "the executable's resource table is damaged or full");
    return out;
}

}  // namespace zk::tools
