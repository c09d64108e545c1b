// A 1280 x 720 Theora movie played into a layer, per frame: the engine's
// path (DecodeMovieFrameToLayer: Ogg reading and Theora decoding through
// the movie library, the BT.601 conversion into the frame buffer, the copy
// into the layer with the copy kernel) against libtheoradec decoding the
// same packets bare plus libswscale's BT.601 conversion into a plain BGRA
// buffer. Every round plays the movie's frames from the first, both ways;
// best of a few interleaved rounds; prints the ratio measured in this run
// and never fails.
#include <ogg/ogg.h>
#include <theora/theoradec.h>

extern "C" {
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include <unistd.h>

#include "core/named_tree.h"
#include "core/root_trees.h"
#include "layers/cg_image.h"
#include "layers/dirty_rect.h"
#include "platform/game_path.h"
#include "sound/layer_movie.h"
#include "tools/lib/movie_writer.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWidth = 1280;
constexpr int kHeight = 720;
constexpr int kFrames = 24;
constexpr int kRounds = 5;

double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Pictures that compress like video: gradients with noise and moving edges.
uint8_t Sample(uint32_t frame, int plane, uint32_t x, uint32_t y) {
    uint32_t noise = x * 2654435761u ^ y * 40503u ^ frame * 977u;
    noise = (noise ^ (noise >> 13)) * 1274126177u;
    const int jitter = int(noise >> 28) - 8;
    const bool stripe = ((x + frame * 6) / 97 + y / 131) % 5 == 0;
    const int base = plane == 0 ? 30 + int(x) / 8 + (stripe ? 50 : 0) : plane == 1 ? 90 + int(y) / 8 : 160 - int(x) / 16;
    return uint8_t(std::clamp(base + jitter, 16, 235));
}

// Bare libtheoradec and libswscale over the same file: every frame decoded
// and converted into `out`.
void PlayBare(const std::vector<uint8_t>& file, std::vector<uint8_t>& out, SwsContext* scale) {
    ogg_sync_state sync;
    ogg_sync_init(&sync);
    char* buffer = ogg_sync_buffer(&sync, long(file.size()));
    std::memcpy(buffer, file.data(), file.size());
    ogg_sync_wrote(&sync, long(file.size()));
    th_info info;
    th_info_init(&info);
    th_comment comment;
    th_comment_init(&comment);
    th_setup_info* setup = nullptr;
    th_dec_ctx* decoder = nullptr;
    ogg_stream_state stream;
    bool have_stream = false;
    int headers = 0;
    ogg_page page;
    while (ogg_sync_pageout(&sync, &page) == 1) {
        if (!have_stream) {
            ogg_stream_init(&stream, ogg_page_serialno(&page));
            have_stream = true;
        }
        ogg_stream_pagein(&stream, &page);
        ogg_packet packet;
        while (ogg_stream_packetout(&stream, &packet) == 1) {
            if (headers < 3) {
                if (th_decode_headerin(&info, &comment, &setup, &packet) > 0) ++headers;
                if (headers == 3) decoder = th_decode_alloc(&info, setup);
                continue;
            }
            th_decode_packetin(decoder, &packet, nullptr);
            th_ycbcr_buffer planes;
            th_decode_ycbcr_out(decoder, planes);
            const uint8_t* source[] = {planes[0].data, planes[1].data, planes[2].data};
            const int strides[] = {planes[0].stride, planes[1].stride, planes[2].stride};
            uint8_t* destination[] = {out.data()};
            const int out_strides[] = {kWidth * 4};
            sws_scale(scale, source, strides, 0, kHeight, destination, out_strides);
        }
    }
    if (decoder != nullptr) th_decode_free(decoder);
    if (setup != nullptr) th_setup_free(setup);
    if (have_stream) ogg_stream_clear(&stream);
    th_comment_clear(&comment);
    th_info_clear(&info);
    ogg_sync_clear(&sync);
}

}  // namespace

int main() {
    zk::tools::TheoraSpec spec;
    spec.pic_width = kWidth;
    spec.pic_height = kHeight;
    spec.frames = kFrames;
    spec.keyframe_every = 12;
    spec.quality = 40;
    spec.planes = Sample;
    const std::vector<uint8_t> file = zk::tools::TheoraMovieFile(spec);

    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / ("zk_bench_theora_" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const fs::path old_cwd = fs::current_path();
    fs::current_path(folder);
    std::ofstream(folder / "bench.ogv", std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
    zk::platform::ClearPathCache();

    zk::InitPathCharTable();
    zk::NamedTreeNode* root = zk::CreateRootNode();
    zk::TheRootTrees().layers = root;
    zk::NamedTreeNode* node = zk::CreateTreeNode(root, "movie", false, 1);
    zk::CgImage* image = zk::CreateCgImage(node);
    SwsContext* scale = sws_getContext(kWidth, kHeight, AV_PIX_FMT_YUV420P, kWidth, kHeight, AV_PIX_FMT_BGRA,
                                       SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (image == nullptr || !zk::AllocCgPixels(*image, kWidth, kHeight) || scale == nullptr ||
        zk::OpenLayerMovie("bench.ogv") != 0) {
        std::printf("theora movie: setup failed\n");
        return 0;
    }
    image->width = kWidth;
    image->height = kHeight;
    zk::LayerMovie& movie = zk::TheLayerMovie();
    std::vector<uint8_t> bare(size_t(kWidth) * kHeight * 4);

    double best_engine = 1e30, best_bare = 1e30;
    for (int round = 0; round < kRounds; ++round) {
        Clock::time_point start = Clock::now();
        for (int f = 0; f < kFrames; ++f) {
            movie.frame_index = f;
            zk::DecodeMovieFrameToLayer(node);
        }
        best_engine = std::min(best_engine, Seconds(start));
        start = Clock::now();
        PlayBare(file, bare, scale);
        best_bare = std::min(best_bare, Seconds(start));
        zk::ResetDirtyRects(root->first_child);
    }
    const bool shown = movie.total_frames == kFrames && movie.width == kWidth;
    std::printf("theora movie %d x %d into a layer (%zu bytes, %d frames), best of %d rounds%s\n", kWidth, kHeight,
                file.size(), kFrames, kRounds, shown ? "" : " (the frames were NOT shown)");
    std::printf("  engine %.1f frames/s, bare libtheoradec + libswscale %.1f frames/s: %.3fx the bare time\n",
                kFrames / best_engine, kFrames / best_bare, best_engine / best_bare);
    zk::ResetLayerMovie();
    sws_freeContext(scale);
    zk::FreeTreeNode(root);
    zk::TheRootTrees() = zk::RootTrees{};
    fs::current_path(old_cwd);
    std::error_code error;
    fs::remove_all(folder, error);
    return 0;
}
