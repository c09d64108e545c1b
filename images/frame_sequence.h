// Multi-frame JPEG sequences: one file holding many frames, each a JPEG for
// the colour and optionally a one-component JPEG for the alpha, loaded into
// a layer once and shown one frame at a time in the layer's own pixels (a
// cheap animation). Commands 109 (load and/or show), 110 (release) and 111
// (count and values).
//
// The file (little-endian, every number a signed 32-bit value):
//
//   0   8      not read
//   8   4      frame count N
//   12  4      alpha flag: 0 colour only; 1 alpha parts, the layer's alpha
//              honoured; other values: alpha parts decoded, alpha not in use
//   16  12     values 1, 2 and 3 (the script's own)
//   28  4      not read
//   32  4N     frame offsets from the start of the file
//   32+4N  4N  colour part lengths
//   32+8N  4N  alpha part lengths
//
// Frame i's colour part is colour-length[i] bytes at offset[i]; its alpha
// part the alpha-length[i] bytes right behind it. A length of 0 or less is
// an empty part. Byte j of every part is stored XORed with 0x10 + (j mod
// 16); the whole file is unscrambled once, when it is loaded.
//
// Every file is untrusted: a file whose header, tables or non-empty parts
// do not lie inside it is refused (104010) before anything changes.
//
// Threading: the script thread. Frames of every layer are decoded through
// one engine-wide decompressor, one decode at a time.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "core/error_codes.h"
#include "layers/pixel_block.h"

namespace zk {

struct CgImage;
struct NamedTreeNode;

inline constexpr uint8_t kCmdLoadFrameSequence = 109;
inline constexpr uint8_t kCmdReleaseFrameSequence = 110;
inline constexpr uint8_t kCmdQueryFrameSequence = 111;

inline constexpr size_t kSequenceHeaderBytes = 32;

// The sequence a layer's image holds: the file's numbers, its tables (taken
// out of the file before the parts are unscrambled, so that a part lying
// over the tables cannot change them) and the whole file, unscrambled.
struct FrameSequence {
    int32_t frame_count = 0;
    int32_t alpha_flag = 0;
    int32_t value1 = 0, value2 = 0, value3 = 0;
    std::vector<uint8_t> data;
    std::vector<int32_t> offsets;         // frame_count entries (none when N <= 0)
    std::vector<int32_t> colour_lengths;
    std::vector<int32_t> alpha_lengths;
};

// True when the header, the tables and every non-empty part of the file lie
// inside it (checked in 64 bits).
bool FrameSequenceFileFits(std::span<const uint8_t> file);

// The XOR pass over every part of `data` as the tables give them, parts in
// table order (overlapping parts are unscrambled once for each). Its cost
// grows with the file's size and the frame count only, however the parts
// overlap. The parts must lie inside `data` (FrameSequenceFileFits).
void UnscrambleFrameSequence(std::vector<uint8_t>& data, std::span<const int32_t> offsets,
                             std::span<const int32_t> colour_lengths, std::span<const int32_t> alpha_lengths);

// Loads the sequence file `name` (lower-cased, '\' separators) into the
// layer's image, replacing the sequence it had; the pixels are not touched.
// 0, also after the record could not be made (100010; the old sequence is
// gone by then); -1 when the file was not found (104060, or 901040 for a
// pack that cannot be opened, each followed by 104010), not loaded (104010)
// or malformed (104010): the layer keeps the sequence it had. All fatal.
int32_t LoadFrameSequence(NamedTreeNode* node, std::string_view name);
// The same from bytes already in memory (the fuzzer starts here); `name`
// is for the messages.
int32_t LoadFrameSequenceBytes(NamedTreeNode* node, std::vector<uint8_t> bytes, std::string_view name);

// Shows frame n (clamped to 0..N-1) in the layer's pixels: the colour part,
// then the alpha part when the flag asks for one. Nothing without a
// sequence, data or frames.
void SelectSequenceFrame(NamedTreeNode* node, int32_t n);

// The decodes of one frame's parts into the layer's pixels. Colour: 0; -1 no
// pixel block; -2 a library error (the decoder is made again next time).
// A frame of a new size gets a new block; one of the layer's size is
// decoded straight into the pixels it has. Alpha: 0; -1 a part whose size
// is not the layer's, or a layer without pixels (skipped); -2 a library
// error or a part that is not one-component (the alpha bytes stay as they
// were).
int32_t DecodeSequenceColour(std::span<const uint8_t> part, NamedTreeNode* node);
int32_t DecodeSequenceAlpha(std::span<const uint8_t> part, NamedTreeNode* node);

// A new pixel block of width x height (width * 4 * (height + 1) + 4
// bytes), or an empty one after its report: a width above 8192 shows the
// size message and reports 100010; a size beyond the engine's block limit,
// or a block the heap cannot give, reports 104030 with no file name.
PixelBlock AllocFramePixels(int32_t width, int32_t height);

// Whether the engine-wide decompressor exists now, and how many times it
// was made (tests: a library error destroys it, the next decode makes it
// again).
bool SequenceDecoderExists();
uint64_t SequenceDecoderCreations();
// Destroys the decompressor (tests; the next decode makes it again).
void ResetSequenceDecoder();

// Commands 109, 110 and 111. 0, or -1 after a failed argument decoding, a
// failed path or an unknown layer (101250). Without keyword 0 (which the
// command definitions require) they do nothing.
int32_t CmdLoadFrameSequence();
int32_t CmdReleaseFrameSequence();
int32_t CmdQueryFrameSequence();

// Puts the three handlers into the CommandTable. Called once at start-up
// (and by tests); safe to call again.
void InstallFrameSequenceCommands();

}  // namespace zk
