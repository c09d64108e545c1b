// Fuzzes the PNG decoder through the PNG codec library's three calls.
// Whatever the bytes, it decodes or fails with a status; a decoded image
// has a size of 1..8192 and a block that holds it, and decoding the same
// bytes again into that image gives the same pixels (the library keeps
// nothing of one decode for the next).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "layers/cg_image.h"
#include "images/image_decoders.h"
#include "tests/fuzz/decoder_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // IHDR comes first: its width and height are big-endian words at 16 and 20.
    if (zk::fuzzing::TooLargeToFuzz(zk::fuzzing::BigEndianAt(data, size, 16, 4),
                                    zk::fuzzing::BigEndianAt(data, size, 20, 4))) {
        return -1;
    }
    zk::fuzzing::SetUpDecoderFuzzing();
    std::span<const uint8_t> bytes(data, size);
    zk::CgImage image;
    const int32_t first = zk::DecodePngBytes(bytes, image, "fuzz.png");
    if (first != 0) return 0;
    if (!zk::ImageSizeAcceptable(image.width, image.height)) std::abort();
    const size_t shown = size_t(image.width) * size_t(image.height) * 4;
    if (image.owned_block.size() < shown) std::abort();
    const std::vector<uint8_t> pixels(image.owned_block.data(), image.owned_block.data() + shown);
    const uint8_t alpha_in_use = image.alpha_in_use;

    zk::fuzzing::SetUpDecoderFuzzing();
    if (zk::DecodePngBytes(bytes, image, "fuzz.png") != 0) std::abort();
    if (image.alpha_in_use != alpha_in_use) std::abort();
    if (std::memcmp(pixels.data(), image.owned_block.data(), shown) != 0) std::abort();
    return 0;
}
