// Fuzzes the GIF decoder. Each input is decoded twice into the same image:
// the second decode reuses the frame table the first one left, and must
// give the same pixels (nothing of an earlier decode may show through).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "layers/cg_image.h"
#include "images/decode_gif.h"
#include "images/image_decoders.h"
#include "tests/fuzz/decoder_fuzz_support.h"

namespace {

// Walks the blocks of a GIF the way a well-formed file lays them out and
// says whether an image descriptor asks for more pixels than the harness
// decodes. Each frame's indices are a block of width x height bytes, and a
// frame of 13000 x 18000 costs the decoder (rightly) a 230 MB block, which
// under AddressSanitizer means writing its shadow on every input; such
// inputs are passed by, as the logical screen's are. The walk is only a
// filter: where it loses its way the input is decoded as it is.
bool FrameTooLargeToFuzz(const uint8_t* data, size_t size) {
    size_t at = 13;
    auto colour_table = [](uint8_t packed) { return (packed & 0x80) != 0 ? size_t(3) << ((packed & 7) + 1) : 0; };
    auto skip_sub_blocks = [&] {
        while (at < size && data[at] != 0) at += size_t(data[at]) + 1;
        ++at;
    };
    if (size < 13) return false;
    at += colour_table(data[10]);
    while (at < size) {
        const uint8_t introducer = data[at++];
        if (introducer == 0x2C) {
            if (at + 9 > size) return false;
            const int64_t width = zk::fuzzing::LittleEndianAt(data, size, at + 4, 2);
            const int64_t height = zk::fuzzing::LittleEndianAt(data, size, at + 6, 2);
            if (width * height > zk::fuzzing::kFuzzMaxPixels) return true;
            at += 9 + colour_table(data[at + 8]) + 1;  // descriptor, local table, LZW code size
            skip_sub_blocks();
        } else if (introducer == 0x21) {
            ++at;  // the extension's label
            skip_sub_blocks();
        } else {
            return false;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The logical screen's width and height follow the six signature bytes.
    if (zk::fuzzing::TooLargeToFuzz(zk::fuzzing::LittleEndianAt(data, size, 6, 2),
                                    zk::fuzzing::LittleEndianAt(data, size, 8, 2)) ||
        FrameTooLargeToFuzz(data, size)) {
        return -1;
    }
    zk::fuzzing::SetUpDecoderFuzzing();
    std::span<const uint8_t> bytes(data, size);
    zk::CgImage image;
    int32_t first = zk::DecodeGifBytes(bytes, image, "fuzz.gif");
    std::vector<uint8_t> pixels;
    if (first == 0) {
        if (!zk::ImageSizeAcceptable(image.width, image.height)) std::abort();
        size_t bytes_shown = size_t(image.width) * size_t(image.height) * 4;
        if (image.owned_block.size() < bytes_shown) std::abort();
        pixels.assign(image.owned_block.data(), image.owned_block.data() + bytes_shown);
    }
    zk::fuzzing::SetUpDecoderFuzzing();
    int32_t second = zk::DecodeGifBytes(bytes, image, "fuzz.gif");
    if (second != first) std::abort();
    if (first == 0 && std::memcmp(pixels.data(), image.owned_block.data(), pixels.size()) != 0) std::abort();
    return 0;
}
