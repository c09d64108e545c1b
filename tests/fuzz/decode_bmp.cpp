// Fuzzes the BMP decoder: whatever the bytes, it decodes or reports, and a
// decoded image has a size of 1..8192 and a block that holds it.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "layers/cg_image.h"
#include "images/image_decoders.h"
#include "tests/fuzz/decoder_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zk::fuzzing::SetUpDecoderFuzzing();
    zk::CgImage image;
    if (zk::DecodeBmpBytes(std::span<const uint8_t>(data, size), image, "fuzz.bmp") != 0) return 0;
    if (!zk::ImageSizeAcceptable(image.width, image.height)) std::abort();
    if (image.owned_block.size() < size_t(image.width) * size_t(image.height) * 4) std::abort();
    return 0;
}
