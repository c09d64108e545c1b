// The image operations of command 2 on a 1920 x 1080 picture: box and
// weighted blurs at radius 1, 16 and 256, each scaler from 1280 x 720 to
// 1920 x 1080 on 1 and 4 workers, a 37 degree rotation, mirror and crop,
// in output Mpixel/s, with ratios against baselines measured in the same
// run: pixman's separable convolution (the blurs), its bilinear and
// nearest transforms (the scalers and the rotation), and memcpy (mirror
// and crop). Informational only: it never fails.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <span>
#include <vector>

#if defined(ZORVEK_HAVE_PIXMAN)
#include <pixman.h>
#endif

#include "core/system_facts.h"
#include "effects/blur_filters.h"
#include "effects/pixel_filters.h"
#include "effects/rotation.h"
#include "effects/scaling.h"
#include "layers/pixel_kernels.h"
#include "layers/worker_pool.h"
#include "renderer/cpu_scalers.h"

namespace {

constexpr int32_t kWidth = 1920, kHeight = 1080;
constexpr int32_t kSmallWidth = 1280, kSmallHeight = 720;

// The best of `rounds` runs, in Mpixel/s of `pixels` outputs.
double Rate(int rounds, double pixels, const std::function<void()>& run) {
    run();  // warm the tables and the caches
    double best = 0;
    for (int i = 0; i < rounds; ++i) {
        const auto start = std::chrono::steady_clock::now();
        run();
        const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
        best = std::max(best, pixels / seconds.count() / 1e6);
    }
    return best;
}

// An engine pixel block of a picture: smooth areas, edges and noise.
std::vector<uint8_t> Picture(int32_t width, int32_t height) {
    std::vector<uint8_t> block((size_t(width) * (size_t(height) + 1) + 1) * 4, 0);
    std::mt19937 random(7);
    for (int64_t y = 0; y < height; ++y)
        for (int64_t x = 0; x < width; ++x) {
            uint8_t* p = block.data() + (y * width + x) * 4;
            p[0] = uint8_t(x / 3 + random() % 8);
            p[1] = uint8_t((x ^ y) & 0xF0);
            p[2] = uint8_t(y / 2);
            p[3] = uint8_t(((x / 64 + y / 64) & 1) ? 255 : 128 + random() % 64);
        }
    return block;
}

void Line(const char* what, double rate, double baseline, const char* baseline_name) {
    if (baseline > 0) std::printf("  %-40s %9.1f  (%.2f x %s)\n", what, rate, rate / baseline, baseline_name);
    else std::printf("  %-40s %9.1f\n", what, rate);
}

#if defined(ZORVEK_HAVE_PIXMAN)
struct PixmanImage {
    pixman_image_t* image = nullptr;
    PixmanImage(int32_t width, int32_t height, uint8_t* bits) {
        image = pixman_image_create_bits(PIXMAN_a8r8g8b8, width, height, reinterpret_cast<uint32_t*>(bits),
                                         width * 4);
    }
    ~PixmanImage() { pixman_image_unref(image); }
};

void PixmanComposite(pixman_image_t* source, pixman_image_t* destination, int32_t width, int32_t height) {
    pixman_image_composite32(PIXMAN_OP_SRC, source, nullptr, destination, 0, 0, 0, 0, 0, 0, width, height);
}

// A box blur of 2r + 1 pixels as pixman's separable convolution: the box
// sample kernel at a scale of 2r + 1 source pixels per output pixel, with
// an identity transform (2r + 1 taps each way, so (2r + 1)^2 per pixel).
void SetPixmanBox(pixman_image_t* image, int r) {
    int values = 0;
    pixman_fixed_t* params = pixman_filter_create_separable_convolution(
        &values, pixman_double_to_fixed(2 * r + 1), pixman_double_to_fixed(2 * r + 1),
        PIXMAN_KERNEL_IMPULSE, PIXMAN_KERNEL_IMPULSE, PIXMAN_KERNEL_BOX, PIXMAN_KERNEL_BOX, 0, 0);
    pixman_image_set_filter(image, PIXMAN_FILTER_SEPARABLE_CONVOLUTION, params, values);
    free(params);
}
#endif

}  // namespace

int main() {
    zk::InstallPixelKernels();
    zk::RegisterScalerJobs();
    zk::RegisterEffectJobs();
    std::vector<uint8_t> picture = Picture(kWidth, kHeight);
    std::vector<uint8_t> small = Picture(kSmallWidth, kSmallHeight);
    std::vector<uint8_t> out((size_t(kWidth) * (kHeight + 1) + 1) * 4, 0);
    const double frame = double(kWidth) * kHeight;
    const zk::CgArea whole{0, 0, kWidth - 1, kHeight - 1, kWidth, kHeight};
    uint64_t check = 0;  // keeps every result alive
    auto keep = [&] { check += out[(size_t(check) * 7919) % (size_t(kWidth) * kHeight * 4)]; };

    std::printf("cg_effects: %dx%d, output Mpixel/s (best of a few runs)\n", kWidth, kHeight);
    const double memcpy_rate = Rate(10, frame, [&] {
        std::memcpy(out.data(), picture.data(), size_t(kWidth) * kHeight * 4);
        keep();
    });
    Line("memcpy of the picture", memcpy_rate, 0, "");
    Line("mirror (op 11)", Rate(10, frame, [&] { zk::MirrorCg(out.data(), picture.data(), whole); keep(); }),
         memcpy_rate, "memcpy");
    const zk::CgArea crop{100, 80, kWidth - 101, kHeight - 81, kWidth, kHeight};
    Line("crop (op 9)",
         Rate(10, double(crop.Columns()) * crop.Rows(),
              [&] {
                  zk::CopyRectRows(out.data(), picture.data(), crop);
                  keep();
              }),
         memcpy_rate, "memcpy");

#if defined(ZORVEK_HAVE_PIXMAN)
    PixmanImage pixman_picture(kWidth, kHeight, picture.data());
    PixmanImage pixman_out(kWidth, kHeight, out.data());
#endif
    std::printf(" blurs (pixman: separable box convolution, single thread; its cost grows with r^2, so not at 256)\n");
    for (int r : {1, 16, 256}) {
        double pixman_rate = 0;
#if defined(ZORVEK_HAVE_PIXMAN)
        if (r <= 16) {
            SetPixmanBox(pixman_picture.image, r);
            pixman_rate = Rate(r <= 1 ? 5 : 1, frame, [&] {
                PixmanComposite(pixman_picture.image, pixman_out.image, kWidth, kHeight);
                keep();
            });
            pixman_image_set_filter(pixman_picture.image, PIXMAN_FILTER_NEAREST, nullptr, 0);
            char name[64];
            std::snprintf(name, sizeof name, "pixman box r = %d", r);
            Line(name, pixman_rate, 0, "");
        }
#endif
        char name[64];
        std::snprintf(name, sizeof name, "box blur (op 5) r = %d", r);
        Line(name, Rate(3, frame, [&] { zk::BoxBlurCg(out.data(), picture.data(), whole, r, 1); keep(); }), pixman_rate,
             "pixman");
        std::snprintf(name, sizeof name, "weighted blur (op 2) r = %d", r);
        Line(name, Rate(3, frame, [&] { zk::BlurCg(out.data(), picture.data(), whole, r, 1); keep(); }), pixman_rate,
             "pixman");
    }

    // Scalers, 720p to 1080p.
    double pixman_bilinear = 0, pixman_nearest = 0;
#if defined(ZORVEK_HAVE_PIXMAN)
    {
        PixmanImage source(kSmallWidth, kSmallHeight, small.data());
        pixman_transform_t scale;
        pixman_transform_init_scale(&scale, pixman_double_to_fixed(double(kSmallWidth) / kWidth),
                                    pixman_double_to_fixed(double(kSmallHeight) / kHeight));
        pixman_image_set_transform(source.image, &scale);
        pixman_image_set_filter(source.image, PIXMAN_FILTER_BILINEAR, nullptr, 0);
        pixman_bilinear = Rate(5, frame, [&] { PixmanComposite(source.image, pixman_out.image, kWidth, kHeight); keep(); });
        pixman_image_set_filter(source.image, PIXMAN_FILTER_NEAREST, nullptr, 0);
        pixman_nearest = Rate(5, frame, [&] { PixmanComposite(source.image, pixman_out.image, kWidth, kHeight); keep(); });
    }
#endif
    std::printf(" scaling %dx%d -> %dx%d (pixman: bilinear and nearest transforms, single thread)\n", kSmallWidth,
                kSmallHeight, kWidth, kHeight);
    Line("pixman bilinear transform", pixman_bilinear, 0, "");
    Line("pixman nearest transform", pixman_nearest, 0, "");
    const std::span<uint8_t> destination(out.data(), out.size());
    const std::span<const uint8_t> source(small.data(), small.size());
    const int32_t x2 = 100 * (kSmallWidth - 1), y2 = 100 * (kSmallHeight - 1);
    const int8_t saved = zk::TheSystemFacts().worker_count;
    for (int8_t workers : {1, 4}) {
        zk::TheSystemFacts().worker_count = workers;
        if (zk::StartWorkerThreads() != 0) break;
        char name[64];
        std::snprintf(name, sizeof name, "nearest (kind 10), %d worker%s", workers, workers == 1 ? "" : "s");
        Line(name, Rate(5, frame, [&] {
                 zk::ScaleNearestThreaded(destination, source, 0, 0, kSmallWidth - 1, kSmallHeight - 1, kSmallWidth,
                                          kSmallHeight, kWidth, kHeight);
                 keep();
             }), pixman_nearest, "pixman nearest");
        std::snprintf(name, sizeof name, "bilinear (kind 21), %d worker%s", workers, workers == 1 ? "" : "s");
        Line(name, Rate(5, frame, [&] {
                 zk::ScaleBilinearThreaded(destination, source, 0, 0, x2, y2, kSmallWidth, kSmallHeight,
                                           100 * kWidth, 100 * kHeight);
                 keep();
             }), pixman_bilinear, "pixman bilinear");
        std::snprintf(name, sizeof name, "supersampled (kind 41), %d worker%s", workers, workers == 1 ? "" : "s");
        Line(name, Rate(5, frame, [&] {
                 zk::ScaleCgSupersampled(destination, source, 0, 0, x2, y2, kSmallWidth, kSmallHeight, 100 * kWidth,
                                         100 * kHeight);
                 keep();
             }), pixman_bilinear, "pixman bilinear");
        zk::StopWorkerThreads();
    }
    zk::TheSystemFacts().worker_count = saved;
    Line("bicubic (kind 31), calling thread", Rate(2, frame, [&] {
             zk::ScaleCgBicubic(destination, source, 0, 0, kSmallWidth - 1, kSmallHeight - 1, kSmallWidth,
                                kSmallHeight, kWidth, kHeight);
             keep();
         }), pixman_bilinear, "pixman bilinear");
    Line("windowed sinc (kind 51), calling thread", Rate(2, frame, [&] {
             zk::ScaleCgLanczos(destination, source, kSmallWidth, kSmallHeight, kWidth, kHeight);
             keep();
         }), pixman_bilinear, "pixman bilinear");

    // Rotation by 37 degrees about the centre.
    double pixman_rotate_bilinear = 0, pixman_rotate_nearest = 0;
#if defined(ZORVEK_HAVE_PIXMAN)
    {
        pixman_f_transform_t turn;
        pixman_f_transform_init_identity(&turn);
        pixman_f_transform_translate(&turn, nullptr, -kWidth / 2.0, -kHeight / 2.0);
        const double theta = 37 * 3.14159265358979 / 180;
        pixman_f_transform_rotate(&turn, nullptr, std::cos(theta), std::sin(theta));
        pixman_f_transform_translate(&turn, nullptr, kWidth / 2.0, kHeight / 2.0);
        pixman_transform_t fixed;
        pixman_transform_from_pixman_f_transform(&fixed, &turn);
        pixman_image_set_transform(pixman_picture.image, &fixed);
        pixman_image_set_filter(pixman_picture.image, PIXMAN_FILTER_BILINEAR, nullptr, 0);
        pixman_rotate_bilinear =
            Rate(5, frame, [&] { PixmanComposite(pixman_picture.image, pixman_out.image, kWidth, kHeight); keep(); });
        pixman_image_set_filter(pixman_picture.image, PIXMAN_FILTER_NEAREST, nullptr, 0);
        pixman_rotate_nearest =
            Rate(5, frame, [&] { PixmanComposite(pixman_picture.image, pixman_out.image, kWidth, kHeight); keep(); });
        pixman_image_set_transform(pixman_picture.image, nullptr);
    }
#endif
    std::printf(" rotation by 37 degrees (pixman: affine transform, single thread)\n");
    Line("pixman bilinear rotation", pixman_rotate_bilinear, 0, "");
    Line("pixman nearest rotation", pixman_rotate_nearest, 0, "");
    Line("nearest (method 11)",
         Rate(5, frame, [&] { zk::RotateCgNearestFill(out.data(), picture.data(), kWidth, kHeight, 37); keep(); }),
         pixman_rotate_nearest, "pixman nearest");
    Line("bilinear",
         Rate(5, frame, [&] { zk::RotateCgBilinearKernel(out.data(), picture.data(), kWidth, kHeight, 37); keep(); }),
         pixman_rotate_bilinear, "pixman bilinear");
    std::printf("  (check %llu)\n", static_cast<unsigned long long>(check));
    return 0;
}
