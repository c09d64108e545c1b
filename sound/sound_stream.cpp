// Loading a sound into its channel, and streaming it: one second of buffer
// in two halves, the sound thread filling the half that is not playing with
// the next half-second of PCM. Ogg Vorbis is decoded from the file image by
// a decoder opened and seeked for each fill, so no decoder lives between
// passes; WAVE PCM is copied straight from the image.
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "core/named_tree.h"
#include "sound/sound_system.h"
#include "sound/wave_file.h"
#include "storage/file_source.h"

namespace zk {

namespace {

// ---- Ogg Vorbis over the file image ---------------------------------------------

struct OggMemoryReader {
    std::span<const uint8_t> image;
    size_t position = 0;
};

size_t OggMemoryRead(void* destination, size_t size, size_t count, void* source) {
    auto* reader = static_cast<OggMemoryReader*>(source);
    if (size == 0) return 0;
    const size_t wanted = (count > SIZE_MAX / size) ? SIZE_MAX : size * count;
    const size_t left = reader->image.size() - reader->position;
    const size_t taken = std::min(wanted, left);
    if (taken > 0) std::memcpy(destination, reader->image.data() + reader->position, taken);
    reader->position += taken;
    return taken / size;
}

int OggMemorySeek(void* source, ogg_int64_t offset, int origin) {
    auto* reader = static_cast<OggMemoryReader*>(source);
    const int64_t size = static_cast<int64_t>(reader->image.size());
    int64_t base = 0;
    if (origin == SEEK_CUR) base = static_cast<int64_t>(reader->position);
    else if (origin == SEEK_END) base = size;
    else if (origin != SEEK_SET) return -1;
    const int64_t target = base + offset;
    if (target < 0 || target > size) return -1;
    reader->position = static_cast<size_t>(target);
    return 0;
}

int OggMemoryClose(void*) { return 0; }

long OggMemoryTell(void* source) { return static_cast<long>(static_cast<OggMemoryReader*>(source)->position); }

constexpr ov_callbacks kOggMemoryCallbacks{OggMemoryRead, OggMemorySeek, OggMemoryClose, OggMemoryTell};

// One decoder over a channel's image, cleared when it goes.
class OggDecoder {
public:
    explicit OggDecoder(std::span<const uint8_t> image) : reader_{image, 0} {
        open_ = ov_open_callbacks(&reader_, &file_, nullptr, 0, kOggMemoryCallbacks) == 0;
    }
    ~OggDecoder() {
        if (open_) ov_clear(&file_);
    }
    OggDecoder(const OggDecoder&) = delete;
    OggDecoder& operator=(const OggDecoder&) = delete;
    bool Open() const { return open_; }
    OggVorbis_File* File() { return &file_; }

private:
    OggMemoryReader reader_;
    OggVorbis_File file_{};
    bool open_ = false;
};

int32_t OpenOggSound(SoundChannel& channel) {
    channel.read_position = 0;
    OggDecoder decoder(channel.file_image);
    if (!decoder.Open()) return -1030;
    if (ov_seekable(decoder.File()) == 0) return -1040;
    if (ov_streams(decoder.File()) > 1) return -1045;
    const vorbis_info* info = ov_info(decoder.File(), -1);
    if (info == nullptr || info->channels <= 0 || info->rate <= 0) return -1050;
    const double seconds = ov_time_total(decoder.File(), -1);
    channel.length = seconds > 0 ? static_cast<int64_t>(seconds * 1000.0) : 0;
    channel.end = static_cast<int32_t>(std::min<int64_t>(channel.length, INT32_MAX));
    channel.data_kind = kSoundDataOgg;
    const uint16_t channels = static_cast<uint16_t>(std::min(info->channels, 0xFFFF));
    const ogg_int64_t frames = ov_pcm_total(decoder.File(), -1);
    channel.stream_bytes = frames > 0 ? static_cast<int64_t>(frames) * channels * 2 : 0;
    const uint32_t rate = static_cast<uint32_t>(std::min<long>(info->rate, 0x7FFFFFFF));
    return CreateSoundBuffer(channel, channels, rate, static_cast<uint16_t>(channels * 2), 16);
}

int32_t OpenWaveSound(SoundChannel& channel) {
    if (channel.image_converted) {
        // Converted at load: the image is the PCM itself (a resume opens
        // the sound again).
        return CreateSoundBuffer(channel, channel.channels, channel.rate, channel.block_align, channel.bits);
    }
    WaveInfo info;
    if (const int32_t result = ParseWaveFile(channel.file_image, info); result != 0) return result;
    if (info.format_tag == 1) {
        // PCM plays from the image: its frames must be what the format says.
        if (info.bits == 0 || info.block_align != info.channels * ((info.bits + 7) / 8)) return kWaveBadFormat;
        channel.data_kind = kSoundDataPcm;
    } else {
        std::vector<uint8_t> converted;
        if (const int32_t result = ConvertWaveToPcm(channel.file_image, converted, info); result != 0) return result;
        if (converted.empty()) return kWaveNoData;
        channel.file_image = std::move(converted);
        channel.image_converted = true;
        channel.data_kind = kSoundDataConverted;
    }
    channel.pcm_offset = info.data_offset;
    channel.pcm_size = info.data_size - info.data_size % info.block_align;
    if (channel.pcm_size == 0) return kWaveNoData;
    channel.stream_bytes = channel.pcm_size;
    const uint64_t per_second = uint64_t{info.block_align} * info.rate;
    channel.length = per_second == 0 ? 0 : static_cast<int64_t>(uint64_t{channel.pcm_size} * 1000 / per_second);
    channel.end = static_cast<int32_t>(std::min<int64_t>(channel.length, INT32_MAX));
    return CreateSoundBuffer(channel, info.channels, info.rate, info.block_align, info.bits);
}

// The byte a silent sample is made of.
uint8_t SilenceByte(const SoundChannel& channel) { return channel.bits == 8 ? 128 : 0; }

int32_t HalfBytes(const SoundChannel& channel) { return channel.buffer_bytes / 2; }

int32_t WriteSoundHalf(SoundChannel& channel) {
    if (!channel.buffer) return 0;
    const uint32_t half = static_cast<uint32_t>(HalfBytes(channel));
    auto lock = channel.buffer->LockBytes(static_cast<uint32_t>(channel.write_offset), half);
    if (lock.size() != half) return -3030;
    std::memcpy(lock.part1.data(), channel.staging.data(), lock.part1.size());
    if (!lock.part2.empty()) std::memcpy(lock.part2.data(), channel.staging.data() + lock.part1.size(), lock.part2.size());
    return 0;
}

}  // namespace

// ---- Loading ------------------------------------------------------------------------

std::vector<uint8_t> SilentWaveImage() {
    // 8000 Hz, mono, 8 bits: 4000 samples of silence.
    static constexpr uint8_t kHeader[44] = {
        'R', 'I', 'F', 'F', 0xC4, 0x0F, 0, 0,  // 4036
        'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0,
        1, 0, 1, 0,              // PCM, one channel
        0x40, 0x1F, 0, 0,        // 8000 Hz
        0x40, 0x1F, 0, 0,        // 8000 bytes per second
        1, 0, 8, 0,              // block align 1, 8 bits
        'd', 'a', 't', 'a', 0xA0, 0x0F, 0, 0,  // 4000
    };
    std::vector<uint8_t> image(sizeof(kHeader) + 4000, 128);
    std::copy(std::begin(kHeader), std::end(kHeader), image.begin());
    return image;
}

int32_t OpenSoundDecoder(SoundChannel& channel) {
    if (TheSoundSystem().mixer == nullptr) return 0;
    if (channel.format == kSoundFormatOgg) return OpenOggSound(channel);
    if (channel.format == kSoundFormatWave) return OpenWaveSound(channel);
    return 0;
}

int32_t LoadSoundFile(NamedTreeNode* node) {
    SoundChannel* channel = ChannelOf(node);
    if (channel == nullptr) return -1;
    if (channel->holds_image) return -1010;
    if (node->order_key == kRootChannelOrderKey) {
        channel->file_image = SilentWaveImage();
    } else {
        FileSource source;
        if (ResolveFileSource(source, channel->name) <= 0) return -1020;
        if (LoadFromSource(source, channel->name) != 0) return -1020;
        channel->file_image = std::move(source.data);
    }
    channel->holds_image = true;
    return OpenSoundDecoder(*channel);
}

int32_t CreateSoundBuffer(SoundChannel& channel, uint16_t channels, uint32_t rate, uint16_t block_align, uint16_t bits) {
    channel.channels = channels;
    channel.rate = rate;
    channel.block_align = block_align;
    channel.bits = bits;
    channel.bytes_per_second = int64_t{rate} * block_align;
    // What the mixer cannot play is refused before any block is allocated
    // (a header may claim any rate or channel count).
    if (channels < 1 || channels > 2 || (bits != 8 && bits != 16) || block_align != channels * bits / 8 ||
        rate < static_cast<uint32_t>(platform::kMixerMinFrequency) ||
        rate > static_cast<uint32_t>(platform::kMixerMaxFrequency)) {
        return -1120;
    }
    // One second, as two halves of whole frames: every byte of the buffer is
    // written by one of the halves, and the second half starts on a frame.
    const int64_t half = block_align == 0 ? 0 : channel.bytes_per_second / 2 / block_align * block_align;
    if (half <= 0 || half > 0x3FFFFFFF) return -1120;
    channel.buffer_bytes = static_cast<int32_t>(half * 2);
    if (!channel.carry.empty()) return -1060;
    if (!channel.staging.empty()) return -1080;
    try {
        channel.carry.assign(kSoundPieceBytes, 0);
    } catch (const std::bad_alloc&) {
        return -1070;
    }
    try {
        channel.staging.assign(static_cast<size_t>(half) + kSoundPieceBytes, 0);
    } catch (const std::bad_alloc&) {
        return -1090;
    }
    if (platform::AudioMixer* mixer = TheSoundSystem().mixer) {
        channel.buffer = mixer->CreateBuffer({channels, rate, bits}, static_cast<uint32_t>(channel.buffer_bytes));
        if (!channel.buffer) return -1120;
    }
    return 0;
}

// ---- Seeking and filling ----------------------------------------------------------------

int32_t SeekSound(SoundChannel& channel, int64_t ms) {
    if (ms >= channel.length) ms = channel.length - 10;
    const int64_t per_second = channel.bytes_per_second;
    const int64_t align = channel.block_align;
    if (ms < 0 && align != 0) {
        channel.silence_to_insert += -ms * per_second / 1000;
        channel.silence_to_insert -= channel.silence_to_insert % align;
    }
    // The decode position names the stream byte the next produced byte
    // stands for, on a frame: the pass end is counted from it, so a
    // position a fraction of a frame off would cut the pass's last frame.
    channel.decode_position = ms < 0 ? -channel.silence_to_insert : ms * per_second / 1000;
    ms = std::max<int64_t>(ms, 0);
    // The frame the time falls on, in integers (a time in seconds as a
    // double can land one frame early).
    const int64_t frame = ms * channel.rate / 1000;
    if (channel.data_kind == kSoundDataOgg) {
        OggDecoder decoder(channel.file_image);
        if (!decoder.Open()) return -2010;
        if (ov_pcm_seek(decoder.File(), frame) != 0) return -2020;
        channel.decoder_position = ov_pcm_tell(decoder.File());
        if (channel.decode_position >= 0) channel.decode_position = channel.decoder_position * align;
    } else if (align != 0) {
        int64_t offset = frame * align;
        if (offset >= channel.pcm_size) offset = int64_t{channel.pcm_size} - align;
        channel.decoder_position = std::max<int64_t>(offset, 0);
        if (channel.decode_position >= 0) channel.decode_position = channel.decoder_position;
    }
    return 0;
}

int32_t FillSoundHalf(SoundChannel& channel) {
    const int32_t half = HalfBytes(channel);
    if (half <= 0 || channel.staging.size() < static_cast<size_t>(half) + kSoundPieceBytes ||
        channel.carry.size() < kSoundPieceBytes) {
        return -1;
    }
    uint8_t* staging = channel.staging.data();
    int64_t filled = std::clamp<int64_t>(channel.carried_bytes, 0, kSoundPieceBytes);
    std::memcpy(staging, channel.carry.data(), static_cast<size_t>(filled));
    channel.carried_bytes = 0;

    const bool ogg = channel.data_kind == kSoundDataOgg;
    std::unique_ptr<OggDecoder> decoder;
    auto open_decoder = [&](int32_t open_error, int32_t seek_error) -> int32_t {
        decoder = std::make_unique<OggDecoder>(channel.file_image);
        if (!decoder->Open()) return open_error;
        if (ov_pcm_seek(decoder->File(), channel.decoder_position) != 0) return seek_error;
        return 0;
    };
    if (ogg) {
        if (const int32_t result = open_decoder(-3010, -3020); result != 0) return result;
    }

    const uint8_t silence = SilenceByte(channel);
    // Where a pass ends: the stream's own last frame when the end time is
    // the length (whole milliseconds would cut the frames of the last
    // fraction of one, a click at every wrap), else the end time's frame.
    const int64_t end_bytes = channel.end >= channel.length
                                  ? channel.stream_bytes
                                  : int64_t{channel.end} * channel.rate / 1000 * channel.block_align;
    int64_t produced = 0;           // bytes since the last seek (silence included)
    bool just_wrapped = false;      // a wrap that yields nothing ends the filling
    while (filled < half) {
        if (channel.silence_to_insert > 0) {
            const int64_t count = std::min<int64_t>(channel.silence_to_insert, half - filled);
            std::memset(staging + filled, silence, static_cast<size_t>(count));
            filled += count;
            produced += count;
            channel.silence_to_insert -= count;
            just_wrapped = false;
            continue;
        }
        int64_t piece = kSoundPieceBytes;
        const int64_t before_end = end_bytes - (channel.decode_position + produced);
        if (before_end < piece) piece = std::max<int64_t>(before_end - before_end % std::max<int>(channel.block_align, 1), 0);
        int64_t got = 0;
        if (ogg) {
            // A short tail is read like any piece: dropping it would cut
            // the pass's last frames.
            if (piece > 0) {
                int bitstream = 0;
                const long result = ov_read(decoder->File(), reinterpret_cast<char*>(staging + filled),
                                            static_cast<int>(piece), 0, 2, 1, &bitstream);
                if (result < 0) {
                    channel.staging.clear();
                    if (result == OV_HOLE) return -90001;
                    if (result == OV_EBADLINK) return -90002;
                    return static_cast<int32_t>(result);
                }
                got = result;
            }
        } else {
            const int64_t left = int64_t{channel.pcm_size} - channel.decoder_position;
            got = std::clamp<int64_t>(std::min(piece, left), 0, kSoundPieceBytes);
            if (got > 0) {
                std::memcpy(staging + filled, channel.file_image.data() + channel.pcm_offset + channel.decoder_position,
                            static_cast<size_t>(got));
                channel.decoder_position += got;
            }
        }
        if (got > 0) {
            filled += got;
            produced += got;
            just_wrapped = false;
            continue;
        }
        // The end of a pass.
        if (channel.loop_counter == 1 || just_wrapped) {
            std::memset(staging + filled, silence, static_cast<size_t>(half - filled));
            filled = half;
            break;
        }
        channel.loop_counter = std::max(channel.loop_counter - 1, 0);
        channel.pass_loop_end = channel.end;
        channel.pass_loop_start = channel.loop_start;
        const int32_t loop_start = channel.loop_start < channel.end ? channel.loop_start : 0;
        decoder.reset();
        if (const int32_t result = SeekSound(channel, loop_start); result != 0) return ogg ? -2020 : result;
        produced = 0;
        just_wrapped = true;
        if (ogg) {
            if (const int32_t result = open_decoder(-2020, -2020); result != 0) return result;
        }
    }
    channel.decode_position += produced;
    if (ogg && decoder && decoder->Open()) channel.decoder_position = ov_pcm_tell(decoder->File());
    decoder.reset();
    if (filled > half) {
        channel.carried_bytes = static_cast<int32_t>(filled - half);
        std::memcpy(channel.carry.data(), staging + half, static_cast<size_t>(channel.carried_bytes));
    }
    if (WriteSoundHalf(channel) != 0) return -3030;
    return static_cast<int32_t>(half);
}

// ---- Releasing ---------------------------------------------------------------------------

void ReleaseSoundStreams(SoundChannel& channel) {
    if (channel.buffer) {
        channel.buffer->Stop();
        channel.buffer.reset();
    }
    channel.staging = {};
    channel.carry = {};
}

void ReleaseSoundChannel(SoundChannel& channel) {
    ReleaseSoundStreams(channel);
    channel.file_image = {};
    channel.holds_image = false;
    channel.image_converted = false;
    channel.start = 0;
    channel.loop_start = 0;
}

}  // namespace zk
