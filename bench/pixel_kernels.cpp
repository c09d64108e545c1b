// Each slot of the pixel kernel table, plain set against SSE set, in
// megapixels per second over a 2048 x 512 image (4 MiB per row set, so
// out of the first cache levels), with the SSE/plain ratio and memcpy of
// the same bytes row by row as the bandwidth floor. With pixman present,
// its OVER and ADD on the same rows are printed as a yardstick (pixman's
// OVER is premultiplied, so the work is alike, not the result).
// Informational only: it never fails.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "layers/mask_opacity_ramp.h"
#include "layers/pixel_kernels.h"

#if defined(ZORVEK_HAVE_PIXMAN)
#include <pixman.h>
#endif

namespace {

using zk::PixelKernelTable;

constexpr int64_t kWidth = 2048;
constexpr int64_t kHeight = 512;
constexpr int64_t kRowBytes = kWidth * 4;
constexpr double kMinSeconds = 0.15;

struct Buffers {
    std::vector<uint8_t> dst, first, src, mask;
};

const char* SlotName(int slot) {
    static const char* const kNames[] = {"zero_bytes", "fill_bytes", "fill_cells", "copy_bytes", "crossfade",
                                         "alpha_over", "alpha_over_opacity", "masked_over", "mix", "add",
                                         "add_opacity", "add_alpha", "add_alpha_opacity", "reverse_subtract",
                                         "multiply", "screen", "screen_opacity", "lighten", "darken",
                                         "linear_burn", "linear_light", "reserved", "alpha_over_alpha",
                                         "alpha_over_alpha_source_opacity", "alpha_over_alpha_destination_opacity",
                                         "alpha_over_alpha_both_opacity"};
    return kNames[slot - zk::kFirstPixelKernelSlot];
}

// One row of `slot`; the opacity 200 takes every kernel's general path.
void CallRow(const PixelKernelTable& k, int slot, uint8_t* d, const uint8_t* f, const uint8_t* s, const uint8_t* m) {
    constexpr int32_t o = 200;
    const int64_t n = kRowBytes;
    switch (slot) {
    case 7: k.zero_bytes(d, n); break;
    case 8: k.fill_bytes(d, n, 0x5A); break;
    case 9: k.fill_cells(d, n, 0xFF102030u); break;
    case 10: k.copy_bytes(d, s, n); break;
    case 11: k.crossfade(d, s, o, n); break;
    case 12: k.alpha_over(d, s, n); break;
    case 13: k.alpha_over_opacity(d, s, o, n); break;
    case 14: k.masked_over(d, s, m, 128, 64, n); break;
    case 15: k.mix(d, f, s, o, n); break;
    case 16: k.add(d, s, n); break;
    case 17: k.add_opacity(d, s, o, n); break;
    case 18: k.add_alpha(d, s, n); break;
    case 19: k.add_alpha_opacity(d, s, o, n); break;
    case 20: k.reverse_subtract(d, s, n); break;
    case 21: k.multiply(d, s, n); break;
    case 22: k.screen(d, s, n); break;
    case 23: k.screen_opacity(d, s, o, n); break;
    case 24: k.lighten(d, s, n); break;
    case 25: k.darken(d, s, n); break;
    case 26: k.linear_burn(d, s, n); break;
    case 27: k.linear_light(d, s, n); break;
    case 28: k.reserved(); break;
    case 29: k.alpha_over_alpha(d, s, n); break;
    case 30: k.alpha_over_alpha_source_opacity(d, s, o, n); break;
    case 31: k.alpha_over_alpha_destination_opacity(d, s, o, n); break;
    case 32: k.alpha_over_alpha_both_opacity(d, s, o, 180, n); break;
    default: break;
    }
}

// Megapixels per second of `pass` (one pass = the whole image).
template <class Pass>
double MegapixelsPerSecond(Pass pass) {
    using Clock = std::chrono::steady_clock;
    pass();  // warm the caches and the page tables
    int64_t passes = 0;
    Clock::time_point start = Clock::now();
    double seconds = 0;
    do {
        pass();
        ++passes;
        seconds = std::chrono::duration<double>(Clock::now() - start).count();
    } while (seconds < kMinSeconds);
    return double(passes) * double(kWidth * kHeight) / seconds / 1e6;
}

double MeasureSlot(const PixelKernelTable& table, int slot, Buffers& b) {
    return MegapixelsPerSecond([&] {
        for (int64_t y = 0; y < kHeight; ++y) {
            size_t at = size_t(y * kRowBytes);
            CallRow(table, slot, b.dst.data() + at, b.first.data() + at, b.src.data() + at, b.mask.data() + at);
        }
    });
}

}  // namespace

int main() {
    Buffers b;
    std::mt19937 rng(1);
    for (auto* v : {&b.dst, &b.first, &b.src, &b.mask}) {
        v->resize(size_t(kRowBytes * kHeight));
        for (auto& byte : *v) byte = uint8_t(rng());
    }
    for (int i = 0; i < 256; ++i) zk::MaskOpacityRamp[size_t(i)] = i + 1;

    double floor = MegapixelsPerSecond([&] {
        for (int64_t y = 0; y < kHeight; ++y) {
            size_t at = size_t(y * kRowBytes);
            std::memcpy(b.dst.data() + at, b.src.data() + at, size_t(kRowBytes));
        }
    });
    std::printf("pixel_kernels: %lld x %lld pixels; memcpy of the same rows: %.0f Mpx/s\n", (long long)kWidth,
                (long long)kHeight, floor);
    std::printf("%-4s %-38s %10s %10s %7s %9s\n", "slot", "kernel", "plain", "sse", "ratio", "/memcpy");
    const PixelKernelTable& plain = zk::PlainPixelKernelSet();
    const PixelKernelTable& sse = zk::SsePixelKernelSet();
    for (int slot = zk::kFirstPixelKernelSlot; slot <= zk::kLastPixelKernelSlot; ++slot) {
        if (slot == 28) continue;  // reserved: no operation
        double p = MeasureSlot(plain, slot, b);
        double s = MeasureSlot(sse, slot, b);
        std::printf("%-4d %-38s %10.0f %10.0f %6.2fx %8.2f\n", slot, SlotName(slot), p, s, s / p, s / floor);
    }

#if defined(ZORVEK_HAVE_PIXMAN)
    pixman_image_t* src = pixman_image_create_bits(PIXMAN_a8r8g8b8, int(kWidth), int(kHeight),
                                                   reinterpret_cast<uint32_t*>(b.src.data()), int(kRowBytes));
    pixman_image_t* dst = pixman_image_create_bits(PIXMAN_a8r8g8b8, int(kWidth), int(kHeight),
                                                   reinterpret_cast<uint32_t*>(b.dst.data()), int(kRowBytes));
    if (src != nullptr && dst != nullptr) {
        for (auto [op, name] : {std::pair{PIXMAN_OP_OVER, "pixman OVER"}, std::pair{PIXMAN_OP_ADD, "pixman ADD"}}) {
            double rate = MegapixelsPerSecond([&] {
                pixman_image_composite32(op, src, nullptr, dst, 0, 0, 0, 0, 0, 0, int(kWidth), int(kHeight));
            });
            std::printf("     %-38s %10.0f %21s %8.2f\n", name, rate, "", rate / floor);
        }
    }
    if (src != nullptr) pixman_image_unref(src);
    if (dst != nullptr) pixman_image_unref(dst);
#endif
    return 0;
}
