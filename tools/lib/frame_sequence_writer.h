// Writers of frame sequence files (the multi-frame JPEG format of layers/
// frame_sequence.h) and of the JPEG parts they hold.
//
// BuildFrameSequence lays a sequence out as the engine reads it: the
// 32-byte header (the bytes the engine does not read are zero), the three
// tables, then each frame's colour part followed by its alpha part, every
// part scrambled (byte j XORed with 0x10 + j mod 16).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace zk::tools {

// A picture for the JPEG encoder: 3 components (R, G, B) or 1 (grey).
struct JpegPicture {
    int width = 0;
    int height = 0;
    int components = 3;
    std::vector<uint8_t> samples;  // width * height * components, top row first
    int quality = 95;
    // No chroma subsampling: a flat colour comes back within a step or two.
    bool full_chroma = true;
};
// The picture's samples from a function of (x, y, component).
JpegPicture MakeJpegPicture(int width, int height, int components,
                            const std::function<uint8_t(int x, int y, int c)>& sample);
// A baseline JPEG file of the picture (libjpeg); empty on a library error.
std::vector<uint8_t> EncodeJpeg(const JpegPicture& picture);

struct SequenceFrame {
    std::vector<uint8_t> colour;  // a JPEG (or any bytes a test wants there)
    std::vector<uint8_t> alpha;   // empty: no alpha part (length 0)
};
struct FrameSequenceSpec {
    int32_t alpha_flag = 0;
    std::array<int32_t, 3> values{};
    std::vector<SequenceFrame> frames;
};

// The sequence file, parts scrambled.
std::vector<uint8_t> BuildFrameSequence(const FrameSequenceSpec& spec);

// The XOR of every part byte (its own inverse).
void ScrambleSequencePart(std::span<uint8_t> part);

// Byte positions of the header and table fields of a file with n frames,
// for tests that damage one.
constexpr size_t kSequenceCountField = 8;
constexpr size_t kSequenceAlphaFlagField = 12;
constexpr size_t SequenceOffsetField(size_t frame) { return 32 + 4 * frame; }
constexpr size_t SequenceColourLengthField(size_t n, size_t frame) { return 32 + 4 * n + 4 * frame; }
constexpr size_t SequenceAlphaLengthField(size_t n, size_t frame) { return 32 + 8 * n + 4 * frame; }

// A little-endian 32-bit value into `bytes` at `offset` (the bytes must be there).
void PutSequenceField(std::vector<uint8_t>& bytes, size_t offset, int32_t value);

}  // namespace zk::tools
