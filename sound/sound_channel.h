// The record of a sound tree node: a channel that plays one file, or a group
// whose volume and audible flag act on everything below it. Every field is
// read and written under EngineLock (the sound thread's passes, the sound
// commands); only the mixer buffer has its own lock inside the mixer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/audio_mixer.h"

namespace zk {

struct NamedTreeNode;

inline constexpr size_t kSoundNameBytes = 261;  // a file name with its terminator
inline constexpr int64_t kRootChannelOrderKey = 999999999;
inline constexpr uint32_t kSoundPieceBytes = 4096;  // one decoding step; also the carry's size

enum SoundFormat : uint8_t { kSoundFormatNone = 0, kSoundFormatOgg = 1, kSoundFormatWave = 2 };
enum SoundDataKind : uint8_t { kSoundDataPcm = 0, kSoundDataOgg = 1, kSoundDataConverted = 2 };
enum SoundState : uint8_t {
    kSoundIdle = 0,
    kSoundLoaded = 1,
    kSoundRamping = 2,
    kSoundSteady = 3,
    kSoundFadingOut = 4,
};

struct SoundChannel {
    std::string name;  // the resolved file name, at most kSoundNameBytes - 1 bytes
    uint8_t format = kSoundFormatNone;
    uint8_t audible = 1;
    uint8_t data_kind = kSoundDataPcm;
    uint8_t state = kSoundIdle;
    uint8_t paused = 0;
    int32_t play_count_limit = 0;
    int32_t plays_done = 0;
    int32_t loop_counter = 0;  // decoder passes left: 0 endless, 1 the last
    int64_t bytes_played = 0;
    int64_t length = 0;  // ms
    int32_t start = 0;   // ms, negative: leading silence
    int32_t loop_start = 0;
    uint32_t pause_stamp = 0;
    int32_t end = 0;
    int32_t pass_loop_start = 0;
    int32_t pass_loop_end = 0;
    int32_t pan = 256;
    int32_t speed = 256;
    int32_t volume = 256;
    int32_t fade_start_volume = 0;
    int32_t fade_target = 256;
    int32_t previous_target = 256;
    int32_t fade_length = 0;
    int32_t slope = 0;  // volume change per 1024 ms
    uint32_t fade_start_time = 0;
    uint32_t fade_end_time = 0;

    std::vector<uint8_t> file_image;  // the whole file, or the converted PCM
    bool holds_image = false;         // file_image is in use (it may be empty)
    bool image_converted = false;     // file_image holds converted PCM, no longer a WAVE file
    std::vector<uint8_t> staging;     // half + kSoundPieceBytes
    std::vector<uint8_t> carry;       // kSoundPieceBytes
    int32_t write_offset = 0;
    uint32_t last_play_cursor = 0;
    int64_t decode_position = 0;   // bytes from the stream start (negative in leading silence)
    uint8_t last_filled_half = 1;
    int64_t decoder_position = 0;  // Ogg: PCM sample to resume at; PCM: byte offset in the data
    int32_t carried_bytes = 0;
    int64_t silence_to_insert = 0;
    int64_t bytes_per_second = 0;
    std::shared_ptr<platform::SoundBuffer> buffer;
    size_t read_position = 0;  // the Ogg memory reader's place in the image
    size_t pcm_offset = 0;     // PCM data: offset into the image, and size
    uint32_t pcm_size = 0;
    // PCM bytes of the whole stream. A pass whose end time is the length
    // ends here, not at the length's whole milliseconds, so a loop over
    // the whole sound wraps on its last frame.
    int64_t stream_bytes = 0;
    int32_t buffer_bytes = 0;  // one second
    // The PCM format the buffer plays.
    uint16_t channels = 0;
    uint32_t rate = 0;
    uint16_t block_align = 0;
    uint16_t bits = 0;
};

// The node's channel, or null (a node without a record, a null node).
SoundChannel* ChannelOf(const NamedTreeNode* node);

}  // namespace zk
