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
            // ADPCM formats carry their block's frame count after the size
            // of the extension.
            const uint16_t extra = fmt.U16().value_or(0);
            if (extra >= 2) out.samples_per_block = fmt.U16().value_or(0);
            out.format_offset = body;
            out.format_size = size;
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

std::optional<uint64_t> WaveFramesHeld(const WaveInfo& info) {
    const uint64_t channels = info.channels;
    const uint64_t align = info.block_align;
    const uint64_t data = info.data_size;
    if (channels == 0 || align == 0) return std::nullopt;
    switch (info.format_tag) {
        case kWaveTagImaAdpcm: {
            // A block: per channel a 4-byte header holding the first frame,
            // then groups of 4 bytes per channel holding 8 frames of 4 bits.
            const uint64_t header = 4 * channels;
            if (channels > 2 || info.bits != 4 || align < header || (align - header) % header != 0) return std::nullopt;
            const uint64_t per_block = (align - header) / header * 8 + 1;
            if (info.samples_per_block != per_block) return std::nullopt;
            const uint64_t cut = data % align;
            const uint64_t tail = cut < header ? 0 : (cut - header) / header * 8 + 1;
            return data / align * per_block + tail;
        }
        case kWaveTagMsAdpcm: {
            // A block: per channel a 7-byte header holding the first two
            // frames, then one 4-bit sample per channel and frame.
            const uint64_t header = 7 * channels;
            if (channels > 2 || info.bits != 4 || align < header) return std::nullopt;
            const uint64_t per_block = (align - header) * 2 / channels + 2;
            if (info.samples_per_block != per_block) return std::nullopt;
            const uint64_t cut = data % align;
            const uint64_t tail = cut < header ? 0 : (cut - header) * 2 / channels + 2;
            return data / align * per_block + tail;
        }
        default:
            // No other encoding the converter reads packs more than eight
            // frames into a byte (GSM 6.10, the densest, packs about five).
            return data * 8;
    }
}

namespace {

// The file the converter reads: a RIFF header with the checked "fmt "
// chunk, then the data chunk's bytes straight from the image, with its pad
// byte when its size is odd. Whatever else the image holds (other chunks,
// a second "data", sizes that disagree with the walk above) never reaches
// the library.
struct SplicedFile {
    std::vector<uint8_t> head;
    std::span<const uint8_t> body;
    bool pad = false;
    sf_count_t position = 0;

    sf_count_t Size() const { return static_cast<sf_count_t>(head.size() + body.size() + (pad ? 1 : 0)); }
};

void PutU32At(uint8_t* at, uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(v >> (8 * i));
}

SplicedFile SpliceWave(std::span<const uint8_t> image, const WaveInfo& info) {
    SplicedFile file;
    const size_t format_padded = info.format_size + (info.format_size & 1u);
    const uint64_t riff_size = 4 + 8 + uint64_t{format_padded} + 8 + info.data_size + (info.data_size & 1u);
    // "RIFF" size "WAVE" "fmt " size, the format (and its pad byte), "data" size.
    file.head.assign(20 + format_padded + 8, 0);
    uint8_t* head = file.head.data();
    std::memcpy(head, "RIFF", 4);
    PutU32At(head + 4, static_cast<uint32_t>(std::min<uint64_t>(riff_size, UINT32_MAX)));
    std::memcpy(head + 8, "WAVEfmt ", 8);
    PutU32At(head + 16, info.format_size);
    const auto format = image.subspan(info.format_offset, info.format_size);
    std::copy(format.begin(), format.end(), file.head.begin() + 20);
    std::memcpy(head + 20 + format_padded, "data", 4);
    PutU32At(head + 24 + format_padded, info.data_size);
    file.body = image.subspan(info.data_offset, info.data_size);
    file.pad = (info.data_size & 1u) != 0;
    return file;
}

sf_count_t SplicedLength(void* user) { return static_cast<SplicedFile*>(user)->Size(); }

// Seeks behave as on a file: any place from the start on, past the end
// too (reads there give nothing). libsndfile's header walk is written for
// that; a seek past the end that failed left it reading the data's bytes
// as chunks, and a data chunk that read as a LIST with a huge size kept
// it there for ever.
sf_count_t SplicedSeek(sf_count_t offset, int whence, void* user) {
    constexpr sf_count_t kFar = sf_count_t{1} << 40;  // keeps the sums far from overflow
    auto* file = static_cast<SplicedFile*>(user);
    sf_count_t base = 0;
    if (whence == SEEK_CUR) base = file->position;
    else if (whence == SEEK_END) base = file->Size();
    else if (whence != SEEK_SET) return -1;
    if (offset > kFar || offset < -kFar) return -1;
    const sf_count_t target = base + offset;
    if (target < 0 || target > kFar) return -1;
    file->position = target;
    return target;
}

sf_count_t SplicedRead(void* destination, sf_count_t count, void* user) {
    static constexpr uint8_t kPad[1] = {0};
    auto* file = static_cast<SplicedFile*>(user);
    auto* out = static_cast<uint8_t*>(destination);
    const std::span<const uint8_t> parts[3] = {file->head, file->body, std::span<const uint8_t>(kPad, file->pad ? 1 : 0)};
    sf_count_t taken = 0;
    while (count > taken && file->position < file->Size()) {
        size_t at = static_cast<size_t>(file->position);
        std::span<const uint8_t> part;
        for (const std::span<const uint8_t>& p : parts) {
            if (at < p.size()) {
                part = p.subspan(at);
                break;
            }
            at -= p.size();
        }
        const size_t n = static_cast<size_t>(std::min<sf_count_t>(count - taken, static_cast<sf_count_t>(part.size())));
        std::memcpy(out + taken, part.data(), n);
        taken += static_cast<sf_count_t>(n);
        file->position += static_cast<sf_count_t>(n);
    }
    return taken;
}

sf_count_t SplicedWrite(const void*, sf_count_t, void*) { return 0; }
sf_count_t SplicedTell(void* user) { return static_cast<SplicedFile*>(user)->position; }

}  // namespace

int32_t ConvertWaveToPcm(std::span<const uint8_t> image, std::vector<uint8_t>& out, WaveInfo& info) {
    WaveInfo source;
    if (ParseWaveFile(image, source) != 0) return kWaveConvertOpen;
    // ADPCM fields that disagree are refused before any decoder sees them:
    // a decoder's block arithmetic takes them as consistent.
    const std::optional<uint64_t> held = WaveFramesHeld(source);
    if (!held) return kWaveConvertOpen;

    SplicedFile file = SpliceWave(image, source);
    SF_VIRTUAL_IO io{SplicedLength, SplicedSeek, SplicedRead, SplicedWrite, SplicedTell};
    SF_INFO sf_info{};
    SNDFILE* sound = sf_open_virtual(&io, SFM_READ, &sf_info, &file);
    if (sound == nullptr) return kWaveConvertOpen;
    struct Closer {
        SNDFILE* sound;
        ~Closer() { sf_close(sound); }
    } closer{sound};
    // The mixer plays one or two channels; the decoder must read the
    // format that was checked.
    if (sf_info.channels < 1 || sf_info.channels > 2 || sf_info.samplerate <= 0 || sf_info.frames < 0 ||
        static_cast<uint32_t>(sf_info.channels) != source.channels) {
        return kWaveConvertOpen;
    }
    const uint64_t channels = static_cast<uint64_t>(sf_info.channels);
    // A frame count from the header is only a hint; the output grows with
    // what decodes, never past what the data holds, and stays below 2 GiB.
    constexpr uint64_t kMaxBytes = 0x7FFF0000;
    constexpr uint64_t kPieceFrames = 4096;
    out.clear();
    std::vector<int16_t> piece(kPieceFrames * channels);
    uint64_t frames_done = 0;
    try {
        while (frames_done < *held) {
            const uint64_t wanted = std::min(kPieceFrames, *held - frames_done);
            const sf_count_t frames = sf_readf_short(sound, piece.data(), static_cast<sf_count_t>(wanted));
            if (frames <= 0) break;
            const uint64_t got = std::min(static_cast<uint64_t>(frames), wanted);
            frames_done += got;
            const size_t bytes = static_cast<size_t>(got * channels * 2);
            if (out.size() + bytes > kMaxBytes) return kWaveConvertMemory;
            const size_t at = out.size();
            out.resize(at + bytes);
            for (size_t i = 0; i < static_cast<size_t>(got * channels); ++i) {
                const uint16_t v = static_cast<uint16_t>(piece[i]);
                out[at + 2 * i] = static_cast<uint8_t>(v & 0xFF);
                out[at + 2 * i + 1] = static_cast<uint8_t>(v >> 8);
            }
        }
    } catch (const std::bad_alloc&) {
        return kWaveConvertMemory;
    }
    info = {};
    info.format_tag = kWaveTagPcm;
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
