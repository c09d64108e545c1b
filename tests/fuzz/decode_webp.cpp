// Fuzzes the WebP decoder through the WebP codec library. Whatever the
// bytes, it decodes or fails after its message; a decoded image has a size
// of 1..8192, a block that holds it, and the alpha-in-use flag set.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "layers/cg_image.h"
#include "images/image_codecs.h"
#include "images/image_decoders.h"
#include "tests/fuzz/decoder_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zk::fuzzing::SetUpDecoderFuzzing();
    const zk::WebpCodecEntries* codec = zk::BoundWebpCodec();
    if (codec == nullptr) std::abort();  // the library is part of every build
    int32_t width = 0, height = 0;
    if (codec->get_info(data, size, &width, &height) != 0 && zk::fuzzing::TooLargeToFuzz(width, height)) return -1;

    zk::CgImage image;
    if (zk::DecodeWebpBytes(std::span<const uint8_t>(data, size), image, "fuzz.webp") != 0) return 0;
    if (!zk::ImageSizeAcceptable(image.width, image.height)) std::abort();
    if (image.owned_block.size() < size_t(image.width) * size_t(image.height) * 4) std::abort();
    if (image.alpha_in_use != 1) std::abort();
    return 0;
}
