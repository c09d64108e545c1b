// Fuzzes the .zcg decoder on both of its paths: on the calling thread (an
// engine with one worker) and as two jobs on the worker pool, which starts
// once for the whole run. Whatever the bytes, the two must agree on the
// result and, for a decoded image, on every pixel.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "core/system_facts.h"
#include "layers/cg_image.h"
#include "images/image_decoders.h"
#include "layers/worker_pool.h"
#include "tests/fuzz/decoder_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool pool_started = [] {
        zk::RegisterZcgJobs();
        zk::fuzzing::SetUpDecoderFuzzing();
        zk::TheSystemFacts().worker_count = 2;
        if (zk::StartWorkerThreads() != 0 || zk::WorkerCount() != 2) std::abort();
        return true;
    }();
    (void)pool_started;
    // Width and height are the signed words after the magic.
    if (zk::fuzzing::TooLargeToFuzz(zk::fuzzing::LittleEndianAt(data, size, 4, 4, true),
                                    zk::fuzzing::LittleEndianAt(data, size, 8, 4, true))) {
        return -1;
    }
    std::span<const uint8_t> bytes(data, size);

    zk::fuzzing::SetUpDecoderFuzzing();
    zk::CgImage inline_image;
    int32_t inline_result = zk::DecodeZcgBytesOnCallingThread(bytes, inline_image, "fuzz.zcg");

    zk::fuzzing::SetUpDecoderFuzzing();
    zk::CgImage jobs_image;
    int32_t jobs_result = zk::DecodeZcgBytes(bytes, jobs_image, "fuzz.zcg");

    if (inline_result != jobs_result) std::abort();
    if (inline_result != 0) return 0;
    if (!zk::ImageSizeAcceptable(inline_image.width, inline_image.height)) std::abort();
    size_t shown = size_t(inline_image.width) * size_t(inline_image.height) * 4;
    if (std::memcmp(inline_image.owned_block.data(), jobs_image.owned_block.data(), shown) != 0) std::abort();
    return 0;
}
