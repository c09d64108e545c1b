// Fuzzes the loading and streaming of a sound file image: the first byte
// picks Ogg Vorbis (0) or WAVE (other), the rest is the file. Whatever the
// bytes, opening gives a result, a converted WAVE holds no more frames than
// its data can, and an opened sound seeks and fills its halves within its
// blocks.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "platform/audio_mixer.h"
#include "sound/sound_system.h"
#include "sound/wave_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static zk::platform::AudioMixer mixer;  // no device: nothing plays
    zk::InstallSoundMixer(&mixer);
    if (size < 1) return 0;
    zk::SoundChannel channel;
    channel.format = data[0] == 0 ? zk::kSoundFormatOgg : zk::kSoundFormatWave;
    channel.file_image.assign(data + 1, data + size);
    channel.holds_image = true;
    zk::WaveInfo original;
    const bool wave = channel.format == zk::kSoundFormatWave && zk::ParseWaveFile(channel.file_image, original) == 0;
    if (zk::OpenSoundDecoder(channel) != 0) return 0;
    if (channel.data_kind == zk::kSoundDataConverted) {
        const auto held = wave ? zk::WaveFramesHeld(original) : std::nullopt;
        if (!held || channel.pcm_size / channel.block_align > *held) std::abort();
    }
    if (channel.buffer_bytes <= 0 || channel.buffer_bytes % 2 != 0) std::abort();
    channel.loop_counter = 2;
    if (zk::SeekSound(channel, channel.length / 3) != 0) return 0;
    for (int fill = 0; fill < 4; ++fill) {
        const int32_t result = zk::FillSoundHalf(channel);
        if (result < 0) break;
        if (result != channel.buffer_bytes / 2) std::abort();
    }
    zk::ReleaseSoundChannel(channel);
    return 0;
}
