// GIF decoding: the block structure read from memory, the variable-length
// LZW of every image, and frame 0 composed into the image.
//
// Reads past the end of the file give zeros, as the engine's GIF reader has
// always done: a file that ends early then meets a 0 where it expects an
// introducer and is refused, and an image whose data ends early is finished
// with index 0.
#include "images/decode_gif.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "base/byte_reader.h"
#include "layers/cg_image.h"
#include "images/image_decoders.h"
#include "base/never.h"

namespace zk {

namespace {

constexpr uint8_t kImageIntroducer = 0x2C;
constexpr uint8_t kExtensionIntroducer = 0x21;
constexpr uint8_t kTrailer = 0x3B;
constexpr uint8_t kGraphicControlLabel = 0xF9;
constexpr uint8_t kCommentLabel = 0xFE;
constexpr uint8_t kPlainTextLabel = 0x01;
constexpr uint8_t kApplicationLabel = 0xFF;

constexpr int32_t kLzwTableSize = 4096;
constexpr int32_t kLzwMaxCode = 4095;
constexpr int32_t kNoCode = 4098;  // no code; also marks a free table entry
constexpr int32_t kLzwMaxCodeWidth = 12;
constexpr int32_t kLzwMaxMinimumCodeSize = 11;
constexpr int32_t kLzwChainLimit = 4094;

// The file's bytes; a read at the end gives 0 and does not move.
class GifByteCursor {
public:
    explicit GifByteCursor(std::span<const uint8_t> bytes) : reader_(bytes) {}

    uint8_t ReadByte() { return reader_.U8().value_or(0); }
    // Low byte first; one byte left gives that byte.
    uint16_t ReadWord() {
        if (std::optional<uint16_t> word = reader_.U16()) return *word;
        return ReadByte();
    }
    // Copies the n bytes here (as many as there are) and zero-fills the rest.
    void ReadBlock(uint8_t* out, size_t n) {
        size_t have = std::min(n, reader_.Remaining());
        if (have > 0) std::memcpy(out, reader_.Take(have)->data(), have);
        if (have < n) std::memset(out + have, 0, n - have);
    }
    void Skip(size_t n) { reader_.Skip(std::min(n, reader_.Remaining())); }

private:
    ByteReader reader_;
};

// Skips data sub-blocks up to and including the zero-size one that ends
// them (or the end of the file).
void SkipSubBlocksFromHere(GifByteCursor& cursor) {
    for (uint8_t size = cursor.ReadByte(); size != 0; size = cursor.ReadByte()) cursor.Skip(size);
}

using Palette = std::array<uint8_t, 768>;

void ReadColourTable(GifByteCursor& cursor, Palette& palette, uint8_t packed) {
    size_t entries = size_t{2} << (packed & 7);
    cursor.ReadBlock(palette.data(), entries * 3);
}

struct GraphicControl {
    int32_t disposal = 0;
    int32_t transparency = 0;
    int32_t delay = 0;
    int32_t transparent_index = 0;
};

// ---- LZW -------------------------------------------------------------------

struct GifLzwState {
    int32_t minimum_code_size = 0;
    int32_t clear_code = 0;
    int32_t end_code = 0;
    int32_t next_code = 0;
    int32_t code_width = 0;
    int32_t code_limit = 0;
    int32_t last_code = kNoCode;
    int32_t stack_size = 0;
    int32_t bit_count = 0;
    uint32_t bit_buffer = 0;
    bool end_of_data = false;
    bool sub_block_read = false;  // a sub-block size byte has been read
    int32_t block_position = 0;
    int32_t block_size = 0;
    std::array<uint8_t, 256> block{};
    std::array<uint8_t, kLzwTableSize> stack{};
    std::array<uint8_t, kLzwTableSize> suffix{};
    std::array<int32_t, kLzwTableSize> prefix{};
    // The prefix entries defined since the table was last cleared: the
    // only ones a clear code has to free again (every other one is free).
    int32_t defined_low = kLzwTableSize;
    int32_t defined_high = -1;
};

void DefineLzwEntry(GifLzwState& state, int32_t entry, int32_t prefix, uint8_t suffix) {
    state.prefix[entry] = prefix;
    state.suffix[entry] = suffix;
    state.defined_low = std::min(state.defined_low, entry);
    state.defined_high = std::max(state.defined_high, entry);
}

// Frees every prefix entry. Costs the entries defined since the last
// clear, not the whole table, so a stream of clear codes stays cheap.
void ResetLzwTable(GifLzwState& state) {
    if (state.defined_low <= state.defined_high) {
        std::fill(state.prefix.begin() + state.defined_low, state.prefix.begin() + state.defined_high + 1, kNoCode);
    }
    state.defined_low = kLzwTableSize;
    state.defined_high = -1;
    state.next_code = state.end_code + 1;
    state.code_width = state.minimum_code_size + 1;
    state.code_limit = 1 << state.code_width;
    state.last_code = kNoCode;
}

// False for a minimum code size whose codes would not fit 12 bits.
bool StartLzw(GifLzwState& state, int32_t minimum_code_size) {
    state = GifLzwState{};
    state.prefix.fill(kNoCode);
    if (minimum_code_size > kLzwMaxMinimumCodeSize) return false;
    state.minimum_code_size = minimum_code_size;
    state.clear_code = 1 << minimum_code_size;
    state.end_code = state.clear_code + 1;
    ResetLzwTable(state);
    return true;
}

uint8_t ReadGifCodeByte(GifLzwState& state, GifByteCursor& cursor) {
    if (state.block_position < state.block_size) return state.block[state.block_position++];
    if (state.end_of_data) return 0;
    state.sub_block_read = true;
    uint8_t size = cursor.ReadByte();
    if (size == 0) {
        state.end_of_data = true;
        state.block_size = 0;
        state.block_position = 0;
        return 0;
    }
    cursor.ReadBlock(state.block.data(), size);
    state.block_size = size;
    state.block_position = 1;
    return state.block[0];
}

int32_t ReadGifCode(GifLzwState& state, GifByteCursor& cursor) {
    while (state.bit_count < state.code_width) {
        state.bit_buffer |= uint32_t{ReadGifCodeByte(state, cursor)} << state.bit_count;
        state.bit_count += 8;
    }
    int32_t code = static_cast<int32_t>(state.bit_buffer & ((1u << state.code_width) - 1));
    state.bit_buffer >>= state.code_width;
    state.bit_count -= state.code_width;
    // Once the table is full nothing more is defined until a clear code,
    // so the counter stops where its entry (next - 2) is past the table.
    if (state.next_code < kNoCode) ++state.next_code;
    if (state.next_code > state.code_limit && state.code_width < kLzwMaxCodeWidth) {
        state.code_limit <<= 1;
        ++state.code_width;
    }
    return code;
}

// The data has ended and no bit of it is left: every further code is 0,
// which only writes index 0.
bool LzwExhausted(const GifLzwState& state) {
    return state.end_of_data && state.bit_buffer == 0 && state.stack_size == 0;
}

// The first character of a code's string. Walks at most the table's size;
// a chain that reaches a free entry gives kNoCode.
int32_t GetLzwPrefixChar(const std::array<int32_t, kLzwTableSize>& prefix, int32_t code, int32_t clear_code) {
    for (int32_t steps = 0; code > clear_code && steps < kLzwTableSize; ++steps) {
        if (code > kLzwMaxCode) return kNoCode;
        code = prefix[code];
    }
    return code;
}

bool PushLzw(GifLzwState& state, int32_t character) {
    if (ZK_NEVER(state.stack_size >= kLzwTableSize)) return false;  // chains are shorter than the stack
    state.stack[state.stack_size++] = static_cast<uint8_t>(character);
    return true;
}

// Decodes one row of pixels. A stopped line keeps what it wrote; the next
// line goes on from the codes that follow.
void DecodeGifLine(GifLzwState& state, GifByteCursor& cursor, std::span<uint8_t> line) {
    const size_t n = line.size();
    size_t out = 0;
    while (out < n && state.stack_size > 0) line[out++] = state.stack[--state.stack_size];
    while (out < n) {
        if (LzwExhausted(state)) return;  // the rest of the line is index 0 already
        const int32_t code = ReadGifCode(state, cursor);
        // The end code is accepted for the last pixel (left unwritten) and
        // stops the line anywhere else: the line ends either way.
        if (code == state.end_code) return;
        if (code == state.clear_code) {
            ResetLzwTable(state);
            continue;
        }
        if (code < state.clear_code) {
            line[out++] = static_cast<uint8_t>(code);
        } else {
            if (ZK_NEVER(code > kLzwMaxCode)) return;  // codes have at most 12 bits
            int32_t walk = code;
            if (state.prefix[code] == kNoCode) {
                // Only the code being defined may be used before its entry
                // exists: the last string and its own first character.
                if (code != state.next_code - 2 || state.last_code == kNoCode) return;
                int32_t first = GetLzwPrefixChar(state.prefix, state.last_code, state.clear_code);
                if (ZK_NEVER(first >= state.clear_code)) return;  // the last code was decoded
                if (!PushLzw(state, first)) return;
                state.suffix[code] = static_cast<uint8_t>(first);
                walk = state.last_code;
            }
            for (int32_t steps = 0; walk > state.clear_code; ++steps) {
                if (walk > kLzwMaxCode || steps >= kLzwChainLimit) return;
                if (!PushLzw(state, state.suffix[walk])) return;
                walk = state.prefix[walk];
            }
            if (ZK_NEVER(walk >= state.clear_code)) return;  // no entry leads to the clear code
            if (!PushLzw(state, walk)) return;
            while (out < n && state.stack_size > 0) line[out++] = state.stack[--state.stack_size];
        }
        if (state.last_code != kNoCode) {
            const int32_t entry = state.next_code - 2;
            if (entry <= kLzwMaxCode) {
                int32_t source = code == entry ? state.last_code : code;
                int32_t first = GetLzwPrefixChar(state.prefix, source, state.clear_code);
                if (first < state.clear_code) {  // always: both strings were just decoded
                    DefineLzwEntry(state, entry, state.last_code, static_cast<uint8_t>(first));
                }
            }
        }
        state.last_code = code;
    }
}

// Skips what is left of an image's data sub-blocks. An image that read no
// code at all (no rows) still has all of them ahead.
void SkipGifSubBlocks(GifLzwState& state, GifByteCursor& cursor) {
    if (!state.sub_block_read) {
        SkipSubBlocksFromHere(cursor);
        state.end_of_data = true;
        return;
    }
    if (state.block_size == 0) return;
    SkipSubBlocksFromHere(cursor);
    state.block_size = 0;
    state.end_of_data = true;
}

// Rows in the order an interlaced image stores them: four passes.
struct InterlacePass {
    int32_t first;
    int32_t step;
};
constexpr std::array<InterlacePass, 4> kInterlacePasses{{{0, 8}, {4, 8}, {2, 4}, {1, 2}}};

void DecodeGifRows(GifFrame& frame, bool interlaced, GifLzwState& state, GifByteCursor& cursor) {
    if (frame.width == 0 || frame.height == 0) return;
    const size_t width = size_t(frame.width);
    auto decode_row = [&](int32_t row) {
        if (LzwExhausted(state)) return false;  // the rows still ahead stay index 0
        DecodeGifLine(state, cursor, std::span<uint8_t>(frame.indices.data() + width * size_t(row), width));
        return true;
    };
    if (!interlaced) {
        for (int32_t row = 0; row < frame.height; ++row) {
            if (!decode_row(row)) return;
        }
        return;
    }
    for (const InterlacePass& pass : kInterlacePasses) {
        for (int32_t row = pass.first; row < frame.height; row += pass.step) {
            if (!decode_row(row)) return;
        }
    }
}

GifFrameTable& FrameTableOf(CgImage& image) {
    if (image.gif_frames == nullptr) {
        image.gif_frames = CgOwned<GifFrameTable>(std::make_unique<GifFrameTable>().release(),
                                                  [](GifFrameTable* table) { std::default_delete<GifFrameTable>()(table); });
    }
    return *image.gif_frames;
}

}  // namespace

int32_t DecodeGifImage(FileSource& source, CgImage& image, std::string_view name) {
    std::vector<uint8_t> bytes;
    if (FetchFileSourceBytes(source, name, bytes) != 0) return 1;
    return DecodeGifBytes(bytes, image, name);
}

int32_t DecodeGifBytes(std::span<const uint8_t> bytes, CgImage& image, std::string_view name) {
    GifByteCursor cursor(bytes);
    for (int i = 0; i < 3; ++i) cursor.ReadWord();  // the signature, not examined
    const int32_t screen_width = cursor.ReadWord();
    const int32_t screen_height = cursor.ReadWord();
    const uint8_t screen_packed = cursor.ReadByte();
    cursor.ReadByte();  // background colour index
    cursor.ReadByte();  // aspect ratio
    Palette palette{};  // entries no table sets are black
    if ((screen_packed & 0x80) != 0) ReadColourTable(cursor, palette, screen_packed);
    if (!ImageSizeAcceptable(screen_width, screen_height)) {
        ReportImageSizeRefused(name);
        return -1;
    }

    std::unique_ptr<GifLzwState> lzw;
    try {
        lzw = std::make_unique<GifLzwState>();
    } catch (const std::bad_alloc&) {
        return -1;
    }
    GifFrameTable& table = FrameTableOf(image);
    GraphicControl control;
    int32_t loop_count = 1;
    size_t frame_count = 0;
    uint64_t frame_bytes = 0;

    for (bool trailer = false; !trailer;) {
        switch (cursor.ReadByte()) {
            case kImageIntroducer: {
                const int32_t left = cursor.ReadWord();
                const int32_t top = cursor.ReadWord();
                const int32_t width = cursor.ReadWord();
                const int32_t height = cursor.ReadWord();
                const uint8_t packed = cursor.ReadByte();
                if ((packed & 0x80) != 0) ReadColourTable(cursor, palette, packed);
                if (frame_count >= kGifFrameTableSize) {
                    // Beyond the table: read past, keep nothing.
                    cursor.ReadByte();
                    SkipSubBlocksFromHere(cursor);
                    break;
                }
                const uint64_t index_bytes = uint64_t(width) * uint64_t(height);
                frame_bytes += index_bytes;
                if (frame_bytes > kGifFrameBytesLimit) return -1;
                std::unique_ptr<GifFrame>& slot = table.frames[frame_count];
                try {
                    if (slot == nullptr) slot = std::make_unique<GifFrame>();
                } catch (const std::bad_alloc&) {
                    return -1;
                }
                // A fresh zero block, not the old one resized: rows the data
                // never reaches must not show an earlier file's indices, and
                // zero pages nobody writes cost nothing.
                slot->indices.Reset();
                if (!slot->indices.Resize(static_cast<size_t>(index_bytes))) return -1;
                GifFrame& frame = *slot;
                frame.left = left;
                frame.top = top;
                frame.width = width;
                frame.height = height;
                frame.disposal = control.disposal;
                frame.transparency = control.transparency;
                frame.delay = control.delay;
                frame.transparent_index = control.transparent_index;
                frame.loop_count = loop_count;
                frame.palette = palette;
                table.frame_count = static_cast<int32_t>(frame_count + 1);
                if (StartLzw(*lzw, cursor.ReadByte())) {
                    DecodeGifRows(frame, (packed & 0x40) != 0, *lzw, cursor);
                    SkipGifSubBlocks(*lzw, cursor);
                } else {
                    // Codes that cannot fit 12 bits: the image stays index 0.
                    SkipSubBlocksFromHere(cursor);
                }
                ++frame_count;
                break;
            }
            case kExtensionIntroducer:
                // An extension is a run of data sub-blocks up to a zero-size
                // one. The fields of the graphic control and the loop count
                // are read where they stand in a well-formed file; whatever
                // follows is skipped sub-block by sub-block, however many
                // there are.
                switch (cursor.ReadByte()) {
                    case kGraphicControlLabel: {
                        cursor.ReadByte();  // block size
                        const uint8_t packed = cursor.ReadByte();
                        control.disposal = (packed >> 2) & 7;
                        control.transparency = packed & 1;
                        control.delay = cursor.ReadWord();
                        control.transparent_index = cursor.ReadByte();
                        cursor.ReadByte();  // terminator
                        break;
                    }
                    case kCommentLabel: SkipSubBlocksFromHere(cursor); break;
                    case kPlainTextLabel: {
                        uint8_t header[13];  // block size and the 12 bytes of the text grid
                        cursor.ReadBlock(header, sizeof(header));
                        SkipSubBlocksFromHere(cursor);
                        break;
                    }
                    case kApplicationLabel: {
                        uint8_t header[12];  // block size, identifier and code (not examined)
                        cursor.ReadBlock(header, sizeof(header));
                        // Every application extension's first data sub-block
                        // gives the loop count from its bytes 1 and 2.
                        uint8_t size = cursor.ReadByte();
                        if (size != 0) {
                            uint8_t data[255];
                            cursor.ReadBlock(data, size);
                            const ByteReader block(std::span<const uint8_t>(data, size));
                            if (auto count = block.PeekAt<uint16_t>(1)) loop_count = *count;
                            SkipSubBlocksFromHere(cursor);
                        }
                        break;
                    }
                    default: return -1;
                }
                break;
            case kTrailer: trailer = true; break;
            default: return -1;  // also the 0 of a file that ends before its trailer
        }
    }

    table.frame_count = static_cast<int32_t>(frame_count);  // also when there was no frame
    if (!GiveClearedImagePixels(image, screen_width, screen_height)) return 1;
    // The flag follows the frame that is shown; a file without any image
    // is a transparent screen.
    image.alpha_in_use = frame_count == 0 || table.frames[0]->transparency != 0 ? 1 : 0;
    if (frame_count > 0) ComposeGifFrame(image, 0);
    return 0;
}

void ComposeGifFrame(CgImage& image, size_t index) {
    if (image.gif_frames == nullptr || index >= kGifFrameTableSize) return;
    const GifFrame* frame = image.gif_frames->frames[index].get();
    if (frame == nullptr || image.owned_block.empty()) return;
    // Clip the frame's rectangle to the image.
    const int64_t top = std::max<int64_t>(frame->top, 0);
    const int64_t left = std::max<int64_t>(frame->left, 0);
    const int64_t bottom = std::min<int64_t>(int64_t{frame->top} + frame->height, image.height);
    const int64_t right = std::min<int64_t>(int64_t{frame->left} + frame->width, image.width);
    if (top >= bottom || left >= right) return;
    if (ZK_NEVER(uint64_t(image.width) * uint64_t(bottom) * 4 > image.owned_block.size())) return;
    uint8_t* pixels = image.owned_block.data();
    for (int64_t y = top; y < bottom; ++y) {
        const uint8_t* indices = frame->indices.data() + size_t(y - frame->top) * size_t(frame->width);
        uint8_t* out = pixels + (size_t(y) * size_t(image.width)) * 4;
        for (int64_t x = left; x < right; ++x) {
            const uint8_t colour = indices[x - frame->left];
            uint8_t* pixel = out + size_t(x) * 4;
            pixel[0] = frame->palette[colour * 3 + 2];
            pixel[1] = frame->palette[colour * 3 + 1];
            pixel[2] = frame->palette[colour * 3 + 0];
            pixel[3] = frame->transparency != 0 && colour == frame->transparent_index ? 0 : 0xFF;
        }
    }
}

}  // namespace zk
