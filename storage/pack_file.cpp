#include "storage/pack_file.h"

#include <array>

#include "base/byte_reader.h"
#include "platform/game_path.h"
#include "storage/appended_data.h"

namespace zk {

int32_t OpenPackFile(PackStream& stream, std::string_view path) {
    ClosePack(stream);
    const AppendedDataState& appended = TheAppendedData();
    bool opened;
    if (appended.appended) {
        stream.base = static_cast<uint64_t>(appended.block_offset) + appended.pack_offset;
        opened = stream.file.OpenEngineFile(platform::ExecutablePath());
    } else {
        stream.base = 0;
        // The pack names come from the engine's own listing of the game
        // folder, prefixed with the game folder itself during development.
        opened = stream.file.OpenEngineFile(path);
    }
    if (!opened || !stream.file.Seek(stream.base)) {
        stream.file.Close();
        return -1;
    }
    stream.open = true;
    return 0;
}

bool SeekPack(PackStream& stream, uint64_t offset) {
    if (offset > UINT64_MAX - stream.base) return false;
    return stream.file.Seek(stream.base + offset);
}

namespace {
template <typename T>
std::optional<T> ReadPackValue(PackStream& stream) {
    std::array<uint8_t, sizeof(T)> bytes;
    if (!stream.file.ReadExact(bytes)) return std::nullopt;
    return ByteReader(bytes).PeekAt<T>(0);
}
}  // namespace

std::optional<uint8_t> ReadPackU8(PackStream& stream) { return ReadPackValue<uint8_t>(stream); }
std::optional<uint32_t> ReadPackU32(PackStream& stream) { return ReadPackValue<uint32_t>(stream); }
std::optional<uint64_t> ReadPackU64(PackStream& stream) { return ReadPackValue<uint64_t>(stream); }

bool ReadPackBytes(PackStream& stream, std::span<uint8_t> out) { return stream.file.ReadExact(out); }

uint64_t TellPack(const PackStream& stream) {
    uint64_t position = stream.file.Tell();
    return position >= stream.base ? position - stream.base : 0;
}

void ClosePack(PackStream& stream) {
    stream.file.Close();
    stream.open = false;
}

uint64_t PackLength(const PackStream& stream) {
    std::optional<uint64_t> size = stream.file.Size();
    if (!size || *size < stream.base) return 0;
    return *size - stream.base;
}

}  // namespace zk
