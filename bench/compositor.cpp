// Compositor throughput: whole scenes at 1280x720 and 1920x1080 through
// ComposeWindow with 1 and 4 workers, a small sprite moving over an
// occluding background (what dirty rectangles save), and 64 small icons
// (posting overhead); and each blend kernel on its own, single-threaded.
// Baselines in the same run: pixman's composite (OVER, ADD, MULTIPLY,
// SCREEN) on the same layers, single-threaded, and memcpy of the same bytes.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#ifdef ZORVEK_HAVE_PIXMAN
#include <pixman.h>
#endif

#include "core/engine_state.h"
#include "core/named_tree.h"
#include "core/root_trees.h"
#include "core/system_facts.h"
#include "core/window_record.h"
#include "layers/blend_jobs.h"
#include "layers/blend_kernels.h"
#include "layers/blend_lookup_tables.h"
#include "layers/blend_tables.h"
#include "layers/cg_image.h"
#include "layers/compositor.h"
#include "layers/dirty_rect.h"
#include "layers/pixel_kernels.h"
#include "layers/worker_pool.h"
#include "bench/bench_rounds.h"

namespace {

using zk::CgImage;
using zk::NamedTreeNode;

// Seconds per call: the best of five rounds of at least 60 ms each.
double SecondsPerCall(const std::function<void()>& body) {
    using Clock = std::chrono::steady_clock;
    body();  // warm the caches and the page tables
    double best = 1e30;
    for (int round = 0; round < 5; ++round) {
        int calls = 0;
        auto start = Clock::now();
        double elapsed = 0;
        do {
            body();
            ++calls;
            elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        } while (elapsed < 0.06);
        best = std::min(best, elapsed / calls);
    }
    return best;
}

double Mpix(double pixels, double seconds) { return pixels / seconds / 1e6; }

uint32_t Hash(int64_t x, int64_t y, uint32_t salt) {
    uint32_t v = uint32_t(x * 73856093) ^ uint32_t(y * 19349663) ^ salt;
    return v * 2654435761u;
}

// A sprite: an opaque ellipse with a soft edge, transparent outside.
uint32_t SpritePixel(int64_t x, int64_t y, int32_t w, int32_t h, uint32_t salt) {
    const double dx = (x + 0.5) / w * 2 - 1, dy = (y + 0.5) / h * 2 - 1;
    const double r = std::sqrt(dx * dx + dy * dy);
    const double a = std::clamp((1.0 - r) * 12.0, 0.0, 1.0);
    return (uint32_t(a * 255) << 24) | (Hash(x, y, salt) & 0xFFFFFF);
}

void Paint(CgImage& image, const std::function<uint32_t(int64_t, int64_t)>& pixel) {
    for (int64_t y = 0; y < image.height; ++y)
        for (int64_t x = 0; x < image.width; ++x) {
            uint32_t v = pixel(x, y);
            std::memcpy(image.owned_block.data() + (y * image.width + x) * 4, &v, 4);
        }
}

class Engine {
public:
    Engine(int32_t width, int32_t height) : width_(width), height_(height) {
        zk::ResetEngineState();
        zk::InitPathCharTable();
        zk::InstallPixelKernels();
        zk::BuildBlendTables();
        zk::RegisterBlendJobs();
        zk::CreateWindowRecords();
        root_ = zk::CreateRootNode();
        zk::TheRootTrees().layers = root_;
        zk::TheRootTrees().layer_folder = "W0";
        w0_ = zk::CreateTreeNode(root_, "W0", true, 1);
        CgImage* image = zk::CreateCgImage(w0_);
        image->width = width;
        image->height = height;
        zk::AllocCgPixels(*image, width, height);
        zk::WindowRecord* record = zk::GetWindowRecord(0);
        record->shown_layer_set = w0_;
        record->canvas = zk::OwnCanvas(zk::NewCgImageRecord());
        record->shown = 1;
    }
    ~Engine() {
        zk::StopWorkerThreads();
        zk::FreeTreeNode(root_);
        zk::TheRootTrees() = zk::RootTrees{};
        zk::DestroyWindowRecords();
    }

    void Workers(int n) {
        zk::StopWorkerThreads();
        zk::TheSystemFacts().worker_count = static_cast<int8_t>(n);
        zk::StartWorkerThreads();
    }

    CgImage* Add(const std::string& name, int64_t order, int64_t x, int64_t y, int32_t w, int32_t h,
                 const std::function<uint32_t(int64_t, int64_t)>& pixel) {
        NamedTreeNode* node = zk::CreateTreeNode(w0_, name, false, order);
        CgImage* image = zk::CreateCgImage(node);
        image->x = x;
        image->y = y;
        image->width = w;
        image->height = h;
        zk::AllocCgPixels(*image, w, h);
        Paint(*image, pixel);
        zk::InvalidateLayer(node);
        return image;
    }
    NamedTreeNode* Node(const std::string& name) { return zk::FindNodeByPath(root_, "W0/" + name, zk::kFindLeaf); }

    CgImage& Window() { return *zk::LayerImage(w0_); }
    void DirtyWhole() {
        CgImage& w = Window();
        w.dirty_valid = 1;
        w.dirty_count = 1;
        w.changed = 1;
        w.dirty_rect = {0, 0, width_ - 1, height_ - 1};
    }
    void Frame() {
        zk::ComposeWindow(0);
        zk::ResetDirtyRects(root_->first_child);
        zk::TheFrameCounters.frame_count += 1;
    }
    void FullFrame() {
        DirtyWhole();
        Frame();
    }

    int32_t width_, height_;
    NamedTreeNode* root_ = nullptr;
    NamedTreeNode* w0_ = nullptr;
};

// The layers of the scenes, kept as plain buffers for the pixman runs.
struct Layer {
    int64_t x, y;
    int32_t w, h;
    const CgImage* image;
    int opacity;  // 256 = none
};

#ifdef ZORVEK_HAVE_PIXMAN
pixman_image_t* Wrap(const CgImage& image) {
    return pixman_image_create_bits(PIXMAN_a8r8g8b8, image.width, image.height,
                                    reinterpret_cast<uint32_t*>(image.current_pixels), image.width * 4);
}
pixman_image_t* Wrap(std::vector<uint8_t>& bytes, int32_t w, int32_t h) {
    return pixman_image_create_bits(PIXMAN_a8r8g8b8, w, h, reinterpret_cast<uint32_t*>(bytes.data()), w * 4);
}

// Composes `layers` over the destination with pixman: the first with SRC,
// the others with `op` (an opacity through a solid mask).
void PixmanScene(pixman_image_t* destination, const std::vector<Layer>& layers, pixman_op_t op) {
    for (size_t i = 0; i < layers.size(); ++i) {
        const Layer& l = layers[i];
        pixman_image_t* source = Wrap(*l.image);
        pixman_image_t* mask = nullptr;
        if (l.opacity < 256) {
            pixman_color_t colour = {0, 0, 0, uint16_t(l.opacity * 256)};
            mask = pixman_image_create_solid_fill(&colour);
        }
        pixman_image_composite32(i == 0 ? PIXMAN_OP_SRC : op, source, mask, destination, 0, 0, 0, 0, int32_t(l.x),
                                 int32_t(l.y), l.w, l.h);
        if (mask != nullptr) pixman_image_unref(mask);
        pixman_image_unref(source);
    }
}

// pixman split over the same worker pool by rows: each worker composes the
// whole scene inside its band of the destination's rows.
struct PixmanBands {
    std::vector<uint8_t>* canvas = nullptr;
    int32_t width = 0, height = 0;
    const std::vector<Layer>* layers = nullptr;
    pixman_op_t op = PIXMAN_OP_OVER;
};
constexpr int32_t kJobPixmanBands = 900;

void RunPixmanBand(const zk::WorkerJob& job, int) {
    const auto& bands = *static_cast<const PixmanBands*>(job.context);
    pixman_image_t* destination = Wrap(*bands.canvas, bands.width, bands.height);
    for (size_t i = 0; i < bands.layers->size(); ++i) {
        const Layer& l = (*bands.layers)[i];
        const int64_t top = std::max<int64_t>(l.y, job.first_row);
        const int64_t bottom = std::min<int64_t>(l.y + l.h, job.end_row);
        if (top >= bottom) continue;
        pixman_image_t* source = Wrap(*l.image);
        pixman_image_t* mask = nullptr;
        if (l.opacity < 256) {
            pixman_color_t colour = {0, 0, 0, uint16_t(l.opacity * 256)};
            mask = pixman_image_create_solid_fill(&colour);
        }
        pixman_image_composite32(i == 0 ? PIXMAN_OP_SRC : bands.op, source, mask, destination, 0,
                                 int32_t(top - l.y), 0, 0, int32_t(l.x), int32_t(top), l.w, int32_t(bottom - top));
        if (mask != nullptr) pixman_image_unref(mask);
        pixman_image_unref(source);
    }
    pixman_image_unref(destination);
}
#endif

double PixelsOf(const std::vector<Layer>& layers, int32_t width, int32_t height) {
    double pixels = 0;
    for (const Layer& l : layers) {
        int64_t w = std::min<int64_t>(l.x + l.w, width) - std::max<int64_t>(l.x, 0);
        int64_t h = std::min<int64_t>(l.y + l.h, height) - std::max<int64_t>(l.y, 0);
        if (w > 0 && h > 0) pixels += double(w) * double(h);
    }
    return pixels;
}

void Scenes(int32_t width, int32_t height) {
    std::printf("\n== %dx%d ==\n", width, height);
    Engine engine(width, height);
    const double frame_pixels = double(width) * height;

    // The normal-mode scene: background, three alpha sprites, a message
    // window at opacity 200.
    std::vector<Layer> normal;
    CgImage* bg = engine.Add("bg", 0, 0, 0, width, height, [](int64_t x, int64_t y) {
        return 0xFF000000u | (Hash(x, y, 1) & 0xFFFFFF);
    });
    normal.push_back({0, 0, width, height, bg, 256});
    const int32_t sw = width * 3 / 10, sh = height * 9 / 10;
    for (int i = 0; i < 3; ++i) {
        const int64_t x = width / 20 + i * (width * 3 / 10);
        CgImage* sprite = engine.Add("sprite" + std::to_string(i), 10 + i, x, height - sh, sw, sh,
                                     [=](int64_t px, int64_t py) { return SpritePixel(px, py, sw, sh, 7 + i); });
        sprite->alpha_in_use = 1;
        normal.push_back({x, height - sh, sw, sh, sprite, 256});
    }
    const int32_t mw = width * 9 / 10, mh = height * 3 / 10;
    CgImage* message = engine.Add("message", 20, width / 20, height - mh - height / 30, mw, mh,
                                  [](int64_t x, int64_t y) { return 0xE0000000u | (Hash(x, y, 3) & 0x3F3F7F); });
    message->alpha_in_use = 1;
    message->opacity = 200;
    normal.push_back({width / 20, height - mh - height / 30, mw, mh, message, 200});
    const double normal_pixels = PixelsOf(normal, width, height);

    double ours[5] = {};
    for (int workers : {1, 2, 3, 4}) {
        engine.Workers(workers);
        ours[workers] = SecondsPerCall([&] { engine.FullFrame(); });
    }
    std::printf("normal scene (bg + 3 alpha sprites + message window at 200), whole frame:\n");
    for (int workers : {1, 2, 3, 4}) {
        std::printf("  zorvek %d worker%s  %7.2f ms  %8.1f Mpixel/s frame  %8.1f Mpixel/s blended\n", workers,
                    workers == 1 ? " " : "s", ours[workers] * 1e3, Mpix(frame_pixels, ours[workers]),
                    Mpix(normal_pixels, ours[workers]));
    }
#ifdef ZORVEK_HAVE_PIXMAN
    std::vector<uint8_t> canvas(size_t(width) * height * 4);
    pixman_image_t* destination = Wrap(canvas, width, height);
    double pixman_over = SecondsPerCall([&] { PixmanScene(destination, normal, PIXMAN_OP_OVER); });
    std::printf("  pixman OVER 1 thread %7.2f ms %8.1f Mpixel/s frame  %8.1f Mpixel/s blended\n", pixman_over * 1e3,
                Mpix(frame_pixels, pixman_over), Mpix(normal_pixels, pixman_over));
    std::printf("  speed ratio zorvek / pixman OVER (aim >= 2.5x with 4 workers): 1 worker %.2fx, 2 workers %.2fx, "
                "3 workers %.2fx, 4 workers %.2fx\n",
                pixman_over / ours[1], pixman_over / ours[2], pixman_over / ours[3], pixman_over / ours[4]);
    {
        // Like for like with 4 workers: pixman split by rows over the same pool.
        zk::RegisterWorkerJob(kJobPixmanBands, RunPixmanBand);
        PixmanBands bands{&canvas, width, height, &normal, PIXMAN_OP_OVER};
        zk::WorkerJob job;
        job.code = kJobPixmanBands;
        job.context = &bands;
        engine.Workers(4);
        const std::vector<zk::bench::Timing> t = zk::bench::Interleaved(
            25, {[&] { engine.FullFrame(); }, [&] { zk::PostRowBandJobs(job, height); }});
        zk::bench::PrintRatio("4 workers vs pixman over 4 threads by rows, whole frame", t[0], t[1], 1e6, "us");
        zk::RegisterWorkerJob(kJobPixmanBands, nullptr);
    }
#endif
    const size_t copy_bytes = static_cast<size_t>(normal_pixels) * 4;
    std::vector<uint8_t> from(copy_bytes, 1), to(copy_bytes, 2);
    double memcpy_time = SecondsPerCall([&] { std::memcpy(to.data(), from.data(), from.size()); });
    std::printf("  memcpy of the blended bytes %7.2f ms (%.1f Mpixel/s); blending speed / memcpy, 4 workers: %.2f "
                "(aim >= 0.5)\n",
                memcpy_time * 1e3, Mpix(normal_pixels, memcpy_time), memcpy_time / ours[4]);

    // The full scene adds a frame-wide add layer and a masked transition.
    CgImage* glow = engine.Add("glow", 30, 0, 0, width, height, [](int64_t x, int64_t y) {
        return (Hash(x, y, 5) & 0x3F000000u) | (Hash(x, y, 6) & 0x202020);
    });
    glow->alpha_in_use = 1;
    glow->blend_mode = 1;
    engine.Add("mask", -1, 0, 0, width, height, [width](int64_t x, int64_t) { return uint32_t(x * 255 / width); });
    CgImage* transition = engine.Add("transition", 40, 0, 0, width, height, [](int64_t x, int64_t y) {
        return 0xFF000000u | (Hash(x, y, 9) & 0xFFFFFF);
    });
    transition->mask_layer_name = "mask";
    transition->mask_level = 128;
    transition->mask_softness = 64;
    for (int workers : {1, 4}) {
        engine.Workers(workers);
        ours[workers] = SecondsPerCall([&] { engine.FullFrame(); });
    }
    std::vector<Layer> full = normal;
    full.push_back({0, 0, width, height, glow, 256});
    full.push_back({0, 0, width, height, transition, 256});
    const double full_pixels = PixelsOf(full, width, height);
    std::printf("full scene (+ frame-wide add layer + masked transition), whole frame:\n");
    for (int workers : {1, 4})
        std::printf("  zorvek %d worker%s  %7.2f ms  %8.1f Mpixel/s frame  %8.1f Mpixel/s blended\n", workers,
                    workers == 1 ? " " : "s", ours[workers] * 1e3, Mpix(frame_pixels, ours[workers]),
                    Mpix(full_pixels, ours[workers]));
    zk::FreeTreeNode(engine.Node("glow"));
    zk::FreeTreeNode(engine.Node("transition"));

    // A small sprite moving over the opaque background: only the old and
    // new areas are composed, and the background hides nothing it need not.
    CgImage* ball = engine.Add("ball", 50, 0, 0, 64, 64, [](int64_t x, int64_t y) { return SpritePixel(x, y, 64, 64, 11); });
    ball->alpha_in_use = 1;
    NamedTreeNode* ball_node = engine.Node("ball");
    engine.Workers(4);
    engine.FullFrame();
    int64_t step = 0;
    double moving = SecondsPerCall([&] {
        zk::InvalidateLayer(ball_node);
        ball->x = (step * 3) % (width - 64);
        ball->y = (step * 2) % (height - 64);
        ++step;
        zk::InvalidateLayer(ball_node);
        engine.Frame();
    });
    double whole = SecondsPerCall([&] { engine.FullFrame(); });
    std::printf("small sprite moving over the scene, 4 workers: %.1f us/frame dirty, %.2f ms/frame whole: %.0fx\n",
                moving * 1e6, whole * 1e3, whole / moving);
    zk::FreeTreeNode(ball_node);

    // 64 icons of 32x32 with alpha, each its own post to the workers.
    std::vector<Layer> icons;
    for (int i = 0; i < 64; ++i) {
        const int64_t x = 40 + (i % 8) * 36, y = 40 + (i / 8) * 36;
        CgImage* icon = engine.Add("icon" + std::to_string(i), 60 + i, x, y, 32, 32,
                                   [i](int64_t px, int64_t py) { return SpritePixel(px, py, 32, 32, 100 + i); });
        icon->alpha_in_use = 1;
        icons.push_back({x, y, 32, 32, icon, 256});
    }
    const zk::LayerRect icon_area = {40, 40, 40 + 8 * 36 - 1, 40 + 8 * 36 - 1};
    auto icon_frame = [&] {
        CgImage& w = engine.Window();
        w.dirty_valid = 1;
        w.dirty_count = 1;
        w.changed = 1;
        w.dirty_rect = icon_area;
        engine.Frame();
    };
    double icon_time[5] = {};
    for (int workers : {1, 4}) {
        engine.Workers(workers);
        icon_time[workers] = SecondsPerCall(icon_frame);
    }
    std::printf("64 icons 32x32 over a %dx%d area: 1 worker %.1f us, 4 workers %.1f us (%.2f us per icon post)\n",
                8 * 36, 8 * 36, icon_time[1] * 1e6, icon_time[4] * 1e6, icon_time[4] * 1e6 / 65);
#ifdef ZORVEK_HAVE_PIXMAN
    std::vector<Layer> icon_scene = {{40, 40, 8 * 36, 8 * 36, bg, 256}};
    icon_scene.insert(icon_scene.end(), icons.begin(), icons.end());
    double pixman_icons = SecondsPerCall([&] { PixmanScene(destination, icon_scene, PIXMAN_OP_OVER); });
    std::printf("  pixman OVER 1 thread, same area and icons: %.1f us\n", pixman_icons * 1e6);
    pixman_image_unref(destination);
#endif
}

// Each kernel over a frame of rows, single-threaded, against pixman's
// operator on the same bytes.
void Kernels(int32_t width, int32_t height, bool sprite_rows) {
    std::printf("\n== kernels, %dx%d, %s, single thread (Mpixel/s) ==\n", width, height,
                sprite_rows ? "sprite rows" : "random rows");
    zk::InstallPixelKernels();
    zk::BuildBlendTables();
    const size_t bytes = size_t(width) * height * 4;
    std::vector<uint8_t> source(bytes), destination(bytes);
    for (size_t i = 0; i < bytes; i += 4) {
        uint32_t v = sprite_rows ? SpritePixel(int64_t(i / 4) % width, int64_t(i / 4) / width, width, height, 21)
                                 : Hash(int64_t(i), 1, 23);
        std::memcpy(&source[i], &v, 4);
        uint32_t d = 0xFF000000u | Hash(int64_t(i), 0, 22);
        std::memcpy(&destination[i], &d, 4);
    }
    const double pixels = double(width) * height;
    zk::BlendKernelTable table = zk::TheBlendKernelTable();
    auto run = [&](zk::BlendRowKernel kernel, int32_t opacity) {
        return SecondsPerCall([&] {
            for (int32_t y = 0; y < height; ++y)
                kernel(destination.data() + size_t(y) * width * 4, source.data() + size_t(y) * width * 4, opacity,
                       int64_t(width) * 4);
        });
    };
    double memcpy_time = SecondsPerCall([&] { std::memcpy(destination.data(), source.data(), bytes); });
    std::printf("  memcpy                        %8.1f\n", Mpix(pixels, memcpy_time));

    struct Row {
        const char* name;
        zk::BlendRowKernel kernel;
        int32_t opacity;
#ifdef ZORVEK_HAVE_PIXMAN
        pixman_op_t op;
#endif
    };
    using zk::BlendMode;
    auto entry = [](BlendMode m, bool full) { return 2 * int(m) + (full ? 1 : 0); };
    const Row rows[] = {
#ifdef ZORVEK_HAVE_PIXMAN
        {"normal, alpha (OVER)", table.source_alpha[entry(BlendMode::kNormal, true)], 256, PIXMAN_OP_OVER},
        {"normal, alpha, opacity 200", table.source_alpha[entry(BlendMode::kNormal, false)], 200, PIXMAN_OP_OVER},
        {"add (ADD)", table.plain[entry(BlendMode::kAdd, true)], 256, PIXMAN_OP_ADD},
        {"add, alpha", table.source_alpha[entry(BlendMode::kAdd, true)], 256, PIXMAN_OP_ADD},
        {"multiply (MULTIPLY)", table.plain[entry(BlendMode::kMultiply, true)], 256, PIXMAN_OP_MULTIPLY},
        {"multiply, alpha", table.source_alpha[entry(BlendMode::kMultiply, true)], 256, PIXMAN_OP_MULTIPLY},
        {"screen (SCREEN)", table.plain[entry(BlendMode::kScreen, true)], 256, PIXMAN_OP_SCREEN},
        {"screen, alpha", table.source_alpha[entry(BlendMode::kScreen, true)], 256, PIXMAN_OP_SCREEN},
        {"overlay, alpha (OVERLAY)", table.source_alpha[entry(BlendMode::kOverlay, true)], 256, PIXMAN_OP_OVERLAY},
#else
        {"normal, alpha", table.source_alpha[entry(BlendMode::kNormal, true)], 256},
        {"add", table.plain[entry(BlendMode::kAdd, true)], 256},
        {"multiply", table.plain[entry(BlendMode::kMultiply, true)], 256},
        {"multiply, alpha", table.source_alpha[entry(BlendMode::kMultiply, true)], 256},
        {"screen", table.plain[entry(BlendMode::kScreen, true)], 256},
        {"screen, alpha", table.source_alpha[entry(BlendMode::kScreen, true)], 256},
#endif
    };
#ifdef ZORVEK_HAVE_PIXMAN
    pixman_image_t* ps = Wrap(source, width, height);
    pixman_image_t* pd = Wrap(destination, width, height);
#endif
    // The same rows through the kernel table holding the SSE2-only set: the
    // blend kernels forward to its slots.
    const zk::PixelKernelTable installed = zk::PixelKernels;
    auto run_sse2 = [&](const Row& row) {
        zk::PixelKernels = zk::Sse2PixelKernelSet();
        double seconds = run(row.kernel, row.opacity);
        zk::PixelKernels = installed;
        return seconds;
    };
    for (const Row& row : rows) {
        double ours = run(row.kernel, row.opacity);
        double sse2 = run_sse2(row);
#ifdef ZORVEK_HAVE_PIXMAN
        pixman_image_t* mask = nullptr;
        if (row.opacity < 256) {
            pixman_color_t colour = {0, 0, 0, uint16_t(row.opacity * 256)};
            mask = pixman_image_create_solid_fill(&colour);
        }
        double theirs = SecondsPerCall(
            [&] { pixman_image_composite32(row.op, ps, mask, pd, 0, 0, 0, 0, 0, 0, width, height); });
        if (mask != nullptr) pixman_image_unref(mask);
        std::printf("  %-29s %8.1f   SSE2 only %8.1f   pixman %8.1f   speed ratio to pixman %5.2fx (SSE2 only %5.2fx)\n",
                    row.name, Mpix(pixels, ours), Mpix(pixels, sse2), Mpix(pixels, theirs), theirs / ours,
                    theirs / sse2);
#else
        std::printf("  %-29s %8.1f   SSE2 only %8.1f\n", row.name, Mpix(pixels, ours), Mpix(pixels, sse2));
#endif
    }
#ifdef ZORVEK_HAVE_PIXMAN
    pixman_image_unref(ps);
    pixman_image_unref(pd);
#endif
}

}  // namespace

// The cost of one post: a job that does nothing, handed to every worker of
// a pool and waited for, against a plain function call.
void PostingCost() {
    std::printf("\n== posting an empty job ==\n");
    for (int workers = 1; workers <= zk::kMaxWorkers; ++workers) {
        zk::WorkerPool pool(workers);
        zk::WorkerJob job;
        job.code = 0;  // no handler: completes at once
        double post = SecondsPerCall([&] { pool.PostRowBands(job, workers); });
        std::printf("  %d worker%s: %6.2f us per post\n", workers, workers == 1 ? " " : "s", post * 1e6);
    }
}

// Workers only where they pay: 1 worker against 4 on the same frames, in
// interleaved rounds (the pool is switched between the timed batches), for
// dirty areas of 1%, 5%, 25% and 100% of a 720p scene, and for one small
// sprite moving among 10, 100 and 1000 small sprites.
namespace {

struct WorkerContest {
    zk::bench::Timing one, four;
};

WorkerContest OneAgainstFour(Engine& engine, const std::function<void()>& frame) {
    using Clock = std::chrono::steady_clock;
    auto batch = [&] {
        frame();  // warm
        int calls = 0;
        const auto start = Clock::now();
        double elapsed = 0;
        do {
            frame();
            ++calls;
            elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        } while (elapsed < 0.03);
        return elapsed / calls;
    };
    WorkerContest contest;
    for (int round = 0; round < 7; ++round) {
        for (int workers : {1, 4}) {
            engine.Workers(workers);
            const double t = batch();
            zk::bench::Timing& timing = workers == 1 ? contest.one : contest.four;
            timing.best = std::min(timing.best, t);
            timing.worst = std::max(timing.worst, t);
        }
    }
    return contest;
}

void PrintContest(const std::string& label, const WorkerContest& c) {
    zk::bench::PrintRatio(label.c_str(), c.four, c.one, 1e6, "us");
}

void WorkersWherePay() {
    constexpr int32_t width = 1280, height = 720;
    std::printf("\n== workers where they pay, %dx%d (ratio: 1 worker time / 4 workers time) ==\n", width, height);
    {
        Engine engine(width, height);
        engine.Add("bg", 0, 0, 0, width, height, [](int64_t x, int64_t y) {
            return 0xFF000000u | (Hash(x, y, 1) & 0xFFFFFF);
        });
        const int32_t sw = width * 3 / 10, sh = height * 9 / 10;
        for (int i = 0; i < 3; ++i) {
            CgImage* sprite = engine.Add("sprite" + std::to_string(i), 10 + i, width / 20 + i * (width * 3 / 10),
                                         height - sh, sw, sh,
                                         [=](int64_t px, int64_t py) { return SpritePixel(px, py, sw, sh, 7 + i); });
            sprite->alpha_in_use = 1;
        }
        const int32_t mw = width * 9 / 10, mh = height * 3 / 10;
        CgImage* message = engine.Add("message", 20, width / 20, height - mh - height / 30, mw, mh,
                                      [](int64_t x, int64_t y) { return 0xE0000000u | (Hash(x, y, 3) & 0x3F3F7F); });
        message->alpha_in_use = 1;
        message->opacity = 200;
        for (int percent : {1, 5, 25, 100}) {
            // A centred rectangle of the frame's shape holding that share of it.
            const double side = std::sqrt(percent / 100.0);
            const int64_t w = std::max<int64_t>(1, int64_t(width * side)), h = std::max<int64_t>(1, int64_t(height * side));
            const int64_t left = (width - w) / 2, top = height - h;  // over the sprites and the message
            const WorkerContest c = OneAgainstFour(engine, [&] {
                CgImage& window = engine.Window();
                window.dirty_valid = 1;
                window.dirty_count = 1;
                window.changed = 1;
                window.dirty_rect = {left, top, left + w - 1, top + h - 1};
                engine.Frame();
            });
            PrintContest("4 workers vs 1, " + std::to_string(percent) + "% dirty", c);
        }
    }
    for (int count : {10, 100, 1000}) {
        Engine engine(width, height);
        engine.Add("bg", 0, 0, 0, width, height, [](int64_t x, int64_t y) {
            return 0xFF000000u | (Hash(x, y, 1) & 0xFFFFFF);
        });
        uint32_t seed = 99;
        for (int i = 0; i < count; ++i) {
            seed = seed * 1664525u + 1013904223u;
            const int64_t x = (seed >> 8) % (width - 48), y = (seed >> 20) % (height - 48);
            CgImage* sprite = engine.Add("s" + std::to_string(i), 10 + i, x, y, 48, 48,
                                         [i](int64_t px, int64_t py) { return SpritePixel(px, py, 48, 48, 200 + i); });
            sprite->alpha_in_use = 1;
        }
        NamedTreeNode* moving = engine.Node("s" + std::to_string(count / 2));
        CgImage* image = zk::LayerImage(moving);
        engine.FullFrame();
        int64_t step = 0;
        const WorkerContest c = OneAgainstFour(engine, [&] {
            zk::InvalidateLayer(moving);
            image->x = (step * 3) % (width - 48);
            image->y = (step * 2) % (height - 48);
            ++step;
            zk::InvalidateLayer(moving);
            engine.Frame();
        });
        PrintContest("4 workers vs 1, one sprite moving among " + std::to_string(count), c);
        const WorkerContest whole = OneAgainstFour(engine, [&] { engine.FullFrame(); });
        PrintContest("4 workers vs 1, " + std::to_string(count) + " sprites, whole frame", whole);
    }
}

}  // namespace

int main(int argc, char** argv) {
    PostingCost();
    WorkersWherePay();
    if (argc > 1 && std::string(argv[1]) == "workers") return 0;  // just the lines above
    if (argc > 1 && std::string(argv[1]) == "inline") { zk::BlendInlinePixels = 1LL << 60; WorkersWherePay(); return 0; }
    Scenes(1280, 720);
    Scenes(1920, 1080);
    Kernels(1920, 1080, true);
    Kernels(1920, 1080, false);
    return 0;
}
