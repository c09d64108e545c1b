// Writers of the sound files the engine plays, for tests, benchmarks and
// the demo: WAVE (PCM with any chunk layout, or IMA ADPCM through
// libsndfile) and Ogg Vorbis (through libvorbisenc).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zk::tools {

// Interleaved 16-bit samples: frame f, channel c.
using SampleSource = std::function<int16_t(uint32_t frame, uint16_t channel)>;

// A sine tone at `hertz`, of amplitude `level`, one phase step per channel.
SampleSource SineTone(double hertz, uint32_t rate, int16_t level);

struct WaveChunk {
    std::string id;  // four characters
    std::vector<uint8_t> body;
};

struct WaveSpec {
    uint16_t channels = 1;
    uint32_t rate = 8000;
    uint16_t bits = 16;  // 8 (unsigned, from the top byte of the source) or 16
    uint32_t frames = 0;
    SampleSource samples;
    std::vector<WaveChunk> before_format;  // chunks written before "fmt " (a LIST, odd sizes)
    std::vector<WaveChunk> before_data;
};

// A RIFF/WAVE file: chunks padded to even sizes, as the format has it.
std::vector<uint8_t> WaveFile(const WaveSpec& spec);
// The same samples as IMA ADPCM in a WAVE file (libsndfile); empty on failure.
std::vector<uint8_t> AdpcmWaveFile(uint16_t channels, uint32_t rate, uint32_t frames, const SampleSource& samples);

// An Ogg Vorbis file (quality 0.3); `serial` is the logical stream's serial
// number, so that files joined into a chain differ. Empty on failure.
std::vector<uint8_t> OggVorbisFile(uint16_t channels, uint32_t rate, uint32_t frames, const SampleSource& samples,
                                   int serial = 1);

}  // namespace zk::tools
