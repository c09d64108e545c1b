// Fuzzes the .zcg decoder on both of its paths: on the calling thread (one
// worker) and as two worker jobs. Whatever the bytes, the two must agree on
// the result and, for a decoded image, on every pixel.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "core/system_facts.h"
#include "layers/cg_image.h"
#include "layers/image_decoders.h"
#include "layers/worker_pool.h"
#include "tests/fuzz/decoder_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool registered = [] {
        zk::RegisterZcgJobs();
        return true;
    }();
    (void)registered;
    std::span<const uint8_t> bytes(data, size);

    zk::fuzzing::SetUpDecoderFuzzing();
    zk::StopWorkerThreads();
    zk::CgImage inline_image;
    int32_t inline_result = zk::DecodeZcgBytes(bytes, inline_image, "fuzz.zcg");

    zk::fuzzing::SetUpDecoderFuzzing();
    zk::TheSystemFacts().worker_count = 2;
    if (zk::StartWorkerThreads() != 0) std::abort();
    zk::CgImage jobs_image;
    int32_t jobs_result = zk::DecodeZcgBytes(bytes, jobs_image, "fuzz.zcg");
    zk::StopWorkerThreads();

    if (inline_result != jobs_result) std::abort();
    if (inline_result != 0) return 0;
    if (!zk::ImageSizeAcceptable(inline_image.width, inline_image.height)) std::abort();
    size_t shown = size_t(inline_image.width) * size_t(inline_image.height) * 4;
    if (std::memcmp(inline_image.owned_block.data(), jobs_image.owned_block.data(), shown) != 0) std::abort();
    return 0;
}
