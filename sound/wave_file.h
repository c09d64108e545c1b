// WAVE files: the RIFF chunk walk that finds the format and the sample data
// inside a file image, and the one-time conversion of non-PCM data
// (ADPCM, float, mu-law...) to 16-bit PCM through libsndfile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace zk {

// Results (the sound thread shows each as its internal-error text).
inline constexpr int32_t kWaveNoRiff = -10040;     // no "RIFF" header
inline constexpr int32_t kWaveNotWave = -10050;    // the form is not "WAVE"
inline constexpr int32_t kWaveNoFormat = -10060;   // no whole "fmt " chunk
inline constexpr int32_t kWaveNoData = -10080;     // no "data" chunk, an empty one, or one past the file's end
inline constexpr int32_t kWaveBadFormat = -10090;  // fmt below 14 bytes, or rate, channels or block align 0
inline constexpr int32_t kWaveConvertOpen = -10200;   // the converter refused the data
inline constexpr int32_t kWaveConvertMemory = -10210;  // no memory for the converted data

struct WaveInfo {
    uint16_t format_tag = 0;
    uint16_t channels = 0;
    uint32_t rate = 0;
    uint32_t bytes_per_second = 0;
    uint16_t block_align = 0;
    uint16_t bits = 0;
    uint16_t samples_per_block = 0;  // ADPCM: frames in one block (0 when the format has no such field)
    size_t format_offset = 0;        // the "fmt " chunk's body in the image
    uint32_t format_size = 0;
    size_t data_offset = 0;  // in the image
    uint32_t data_size = 0;
};

inline constexpr uint16_t kWaveTagPcm = 0x0001;
inline constexpr uint16_t kWaveTagMsAdpcm = 0x0002;
inline constexpr uint16_t kWaveTagImaAdpcm = 0x0011;

// Walks the chunks after "RIFF"/"WAVE" (each padded to an even size; the
// walk ends at the file's end, whatever the RIFF size says). The first
// "fmt " and the first "data" chunk count. 0, or a result above.
int32_t ParseWaveFile(std::span<const uint8_t> image, WaveInfo& out);

// The most frames the data chunk can hold in the format `info` describes:
// exact for IMA and Microsoft ADPCM (whole blocks, and what the bytes of a
// cut last block encode), a generous ceiling for the other encodings.
// nullopt when ADPCM fields contradict each other (block align, samples
// per block and channels must describe the same block, with 4 bits a
// sample), so no decoder is ever handed such a header.
std::optional<uint64_t> WaveFramesHeld(const WaveInfo& info);

// Converts a WAVE image whose data is not PCM to 16-bit PCM: `out` gets
// the samples, `info` their format (tag 1). The decoder sees only the
// checked format and data chunks, and is asked for no more frames than
// WaveFramesHeld allows, so the conversion's work is bounded by the
// file's size. 0, or kWaveConvertOpen / kWaveConvertMemory.
int32_t ConvertWaveToPcm(std::span<const uint8_t> image, std::vector<uint8_t>& out, WaveInfo& info);

}  // namespace zk
