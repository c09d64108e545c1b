#include "sound/wave_file.h"

#include <sndfile.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "base/byte_reader.h"

namespace zk {

namespace {

bool IsTag(std::span<const uint8_t> bytes, const char* tag) { return std::memcmp(bytes.data(), tag, 4) == 0; }

}  // namespace

int32_t ParseWaveFile(std::span<const uint8_t> image, WaveInfo& out) {
    out = {};
    ByteReader reader(image);
    auto riff = reader.Take(4);
    auto riff_size = reader.U32();
    if (!riff || !riff_size || !IsTag(*riff, "RIFF")) return kWaveNoRiff;
    auto form = reader.Take(4);
    if (!form || !IsTag(*form, "WAVE")) return kWaveNotWave;

    bool have_format = false;
    bool have_data = false;
    while (reader.Remaining() >= 8 && !(have_format && have_data)) {
        auto id = reader.Take(4);
        const uint32_t size = *reader.U32();
        const size_t body = reader.Offset();
        if (IsTag(*id, "fmt ") && !have_format) {
            if (size > reader.Remaining()) return kWaveNoFormat;
            if (size < 14) return kWaveBadFormat;
            ByteReader fmt(image.subspan(body, size));
            out.format_tag = *fmt.U16();
            out.channels = *fmt.U16();
            out.rate = *fmt.U32();
            out.bytes_per_second = *fmt.U32();
            out.block_align = *fmt.U16();
            out.bits = fmt.U16().value_or(0);  // a 14-byte format has no bits field
            have_format = true;
        } else if (IsTag(*id, "data") && !have_data) {
            // The data must lie inside the file and hold something.
            if (size == 0 || size > reader.Remaining()) return kWaveNoData;
            out.data_offset = body;
            out.data_size = size;
            have_data = true;
        }
        const uint64_t padded = uint64_t{size} + (size & 1u);
        if (!reader.Skip(std::min<uint64_t>(padded, reader.Remaining()))) break;
    }
    if (!have_format) return kWaveNoFormat;
    if (!have_data) return kWaveNoData;
    if (out.channels == 0 || out.rate == 0 || out.block_align == 0) return kWaveBadFormat;
    return 0;
}

namespace {

struct MemoryFile {
    std::span<const uint8_t> bytes;
    sf_count_t position = 0;
};

sf_count_t MemoryLength(void* user) { return static_cast<sf_count_t>(static_cast<MemoryFile*>(user)->bytes.size()); }

sf_count_t MemorySeek(sf_count_t offset, int whence, void* user) {
    auto* file = static_cast<MemoryFile*>(user);
    const sf_count_t size = static_cast<sf_count_t>(file->bytes.size());
    sf_count_t base = 0;
    if (whence == SEEK_CUR) base = file->position;
    else if (whence == SEEK_END) base = size;
    else if (whence != SEEK_SET) return -1;
    const sf_count_t target = base + offset;
    if (target < 0 || target > size) return -1;
    file->position = target;
    return target;
}

sf_count_t MemoryRead(void* destination, sf_count_t count, void* user) {
    auto* file = static_cast<MemoryFile*>(user);
    const sf_count_t left = static_cast<sf_count_t>(file->bytes.size()) - file->position;
    const sf_count_t taken = std::clamp<sf_count_t>(count, 0, left);
    if (taken > 0) std::memcpy(destination, file->bytes.data() + file->position, static_cast<size_t>(taken));
    file->position += taken;
    return taken;
}

sf_count_t MemoryWrite(const void*, sf_count_t, void*) { return 0; }
sf_count_t MemoryTell(void* user) { return static_cast<MemoryFile*>(user)->position; }

}  // namespace

int32_t ConvertWaveToPcm(std::span<const uint8_t> image, std::vector<uint8_t>& out, WaveInfo& info) {
    MemoryFile file{image, 0};
    SF_VIRTUAL_IO io{MemoryLength, MemorySeek, MemoryRead, MemoryWrite, MemoryTell};
    SF_INFO sf_info{};
    SNDFILE* sound = sf_open_virtual(&io, SFM_READ, &sf_info, &file);
    if (sound == nullptr) return kWaveConvertOpen;
    struct Closer {
        SNDFILE* sound;
        ~Closer() { sf_close(sound); }
    } closer{sound};
    // The mixer plays one or two channels.
    if (sf_info.channels < 1 || sf_info.channels > 2 || sf_info.samplerate <= 0 || sf_info.frames < 0)
        return kWaveConvertOpen;
    const uint64_t channels = static_cast<uint64_t>(sf_info.channels);
    // A frame count from the header is only a hint; the output grows with
    // what decodes and stays below 2 GiB.
    constexpr uint64_t kMaxBytes = 0x7FFF0000;
    out.clear();
    std::vector<int16_t> piece(4096 * channels);
    try {
        for (;;) {
            const sf_count_t frames = sf_readf_short(sound, piece.data(), 4096);
            if (frames <= 0) break;
            const size_t bytes = static_cast<size_t>(frames) * channels * 2;
            if (out.size() + bytes > kMaxBytes) return kWaveConvertMemory;
            const size_t at = out.size();
            out.resize(at + bytes);
            for (size_t i = 0; i < static_cast<size_t>(frames) * channels; ++i) {
                const uint16_t v = static_cast<uint16_t>(piece[i]);
                out[at + 2 * i] = static_cast<uint8_t>(v & 0xFF);
                out[at + 2 * i + 1] = static_cast<uint8_t>(v >> 8);
            }
        }
    } catch (const std::bad_alloc&) {
        return kWaveConvertMemory;
    }
    info = {};
    info.format_tag = 1;
    info.channels = static_cast<uint16_t>(channels);
    info.rate = static_cast<uint32_t>(sf_info.samplerate);
    info.bits = 16;
    info.block_align = static_cast<uint16_t>(channels * 2);
    info.bytes_per_second = info.rate * info.block_align;
    info.data_offset = 0;
    info.data_size = static_cast<uint32_t>(out.size());
    return 0;
}

}  // namespace zk
