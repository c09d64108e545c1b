// Fuzzes the GIF decoder. Each input is decoded twice into the same image:
// the second decode reuses the frame table the first one left, and must
// give the same pixels (nothing of an earlier decode may show through).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "layers/cg_image.h"
#include "layers/decode_gif.h"
#include "layers/image_decoders.h"
#include "tests/fuzz/decoder_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The logical screen's width and height follow the six signature bytes.
    if (zk::fuzzing::TooLargeToFuzz(zk::fuzzing::LittleEndianAt(data, size, 6, 2),
                                    zk::fuzzing::LittleEndianAt(data, size, 8, 2))) {
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
