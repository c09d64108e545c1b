// The presentation's scale of a 1280 x 720 picture to a 1920 x 1080 back
// buffer: the plain bilinear scaler, the threaded bilinear scaler with 1 to
// 4 workers, and the nearest scaler with 1 to 4 workers, in destination
// Mpixel/s, against a memcpy of the destination's bytes in the same run.
// Informational only: it never fails.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "core/system_facts.h"
#include "layers/pixel_kernels.h"
#include "layers/worker_pool.h"
#include "renderer/cpu_scalers.h"

namespace {

constexpr int32_t kSourceWidth = 1280, kSourceHeight = 720;
constexpr int32_t kDestinationWidth = 1920, kDestinationHeight = 1080;
constexpr int kRounds = 20;

// The best of kRounds runs, in destination Mpixel/s.
double Rate(const std::function<void()>& run) {
    run();  // warm the tables and the caches
    double best = 0;
    for (int i = 0; i < kRounds; ++i) {
        const auto start = std::chrono::steady_clock::now();
        run();
        const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
        best = std::max(best, double(kDestinationWidth) * kDestinationHeight / seconds.count() / 1e6);
    }
    return best;
}

}  // namespace

int main() {
    zk::InstallPixelKernels();
    zk::RegisterScalerJobs();
    std::vector<uint8_t> source((size_t(kSourceWidth) * (kSourceHeight + 1) + 1) * 4, 0);
    std::mt19937 random(1);
    for (size_t i = 0; i < size_t(kSourceWidth) * kSourceHeight * 4; ++i) source[i] = uint8_t(random());
    std::vector<uint8_t> destination(size_t(kDestinationWidth) * kDestinationHeight * 4);
    std::vector<uint8_t> copy(destination.size());

    const int32_t x1 = 100 * (kSourceWidth - 1), y1 = 100 * (kSourceHeight - 1);
    const int32_t w100 = 100 * kDestinationWidth, h100 = 100 * kDestinationHeight;
    uint64_t check = 0;  // keeps every result alive

    const double memcpy_rate = Rate([&] {
        std::memcpy(copy.data(), destination.data(), destination.size());
        check += copy[size_t(random()) % copy.size()];
    });
    std::printf("cpu_scalers: %dx%d -> %dx%d, destination Mpixel/s (best of %d)\n", kSourceWidth, kSourceHeight,
                kDestinationWidth, kDestinationHeight, kRounds);
    std::printf("  memcpy of the destination     %8.1f\n", memcpy_rate);

    const double plain = Rate([&] {
        zk::ScaleBilinear(destination, source, 0, 0, x1, y1, kSourceWidth, kSourceHeight, w100, h100);
        check += destination[destination.size() / 2];
    });
    std::printf("  bilinear, plain               %8.1f  (%.3f of memcpy)\n", plain, plain / memcpy_rate);
    zk::ForcePlainScalerLoops(true);
    const double plain_bytes = Rate([&] {
        zk::ScaleBilinear(destination, source, 0, 0, x1, y1, kSourceWidth, kSourceHeight, w100, h100);
        check += destination[destination.size() / 2];
    });
    zk::ForcePlainScalerLoops(false);
    std::printf("  bilinear, plain, byte loops   %8.1f  (%.3f of memcpy)\n", plain_bytes, plain_bytes / memcpy_rate);

    const int8_t saved = zk::TheSystemFacts().worker_count;
    for (int8_t workers = 1; workers <= 4; ++workers) {
        zk::TheSystemFacts().worker_count = workers;
        if (zk::StartWorkerThreads() != 0) break;
        const double threaded = Rate([&] {
            zk::ScaleBilinearThreaded(destination, source, 0, 0, x1, y1, kSourceWidth, kSourceHeight, w100, h100);
            check += destination[destination.size() / 2];
        });
        const double nearest = Rate([&] {
            zk::ScaleNearestThreaded(destination, source, 0, 0, kSourceWidth - 1, kSourceHeight - 1, kSourceWidth,
                                     kSourceHeight, kDestinationWidth, kDestinationHeight);
            check += destination[destination.size() / 2];
        });
        std::printf("  bilinear, threaded, %d worker%s %8.1f  (%.3f of memcpy)\n", workers, workers == 1 ? " " : "s",
                    threaded, threaded / memcpy_rate);
        std::printf("  nearest,  threaded, %d worker%s %8.1f  (%.3f of memcpy)\n", workers, workers == 1 ? " " : "s",
                    nearest, nearest / memcpy_rate);
        zk::StopWorkerThreads();
    }
    zk::TheSystemFacts().worker_count = saved;
    std::printf("  (check %llu)\n", static_cast<unsigned long long>(check));
    return 0;
}
