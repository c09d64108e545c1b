// Showing the frames of a frame sequence: a 1280 x 720 colour JPEG at
// quality 90 and its one-component alpha JPEG, shown into a layer through
// the engine (SelectSequenceFrame: both decodes, the alpha into the pixels'
// alpha bytes) against libjpeg-turbo decoding the same two JPEGs bare into
// plain buffers (B, G, R, A and grey) with one reused decompressor. Frames
// per second, best of a few interleaved rounds; prints the ratio measured
// in this run and never fails.
#include <cstddef>
#include <cstdio>
// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <vector>

#include "core/named_tree.h"
#include "core/root_trees.h"
#include "layers/cg_image.h"
#include "layers/dirty_rect.h"
#include "images/frame_sequence.h"
#include "tools/lib/frame_sequence_writer.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWidth = 1280;
constexpr int kHeight = 720;
constexpr int kFramesPerRound = 20;
constexpr int kRounds = 15;

// Two pictures that compress like photographs: gradients with a little
// noise and some hard edges, different in each frame; the alpha a soft
// vignette.
uint8_t ColourSample(int frame, int x, int y, int c) {
    uint32_t noise = uint32_t(x * 2654435761u) ^ uint32_t(y * 40503u) ^ uint32_t(frame * 977u);
    noise = (noise ^ (noise >> 13)) * 1274126177u;
    const int jitter = int(noise >> 28) - 8;
    const bool stripe = ((x / 97) + (y / 131) + frame) % 5 == 0;
    const int base = c == 0 ? x / 5 + (stripe ? 60 : 0) : c == 1 ? y / 3 : (x + y + frame * 40) / 8;
    return uint8_t(std::clamp(base + jitter, 0, 255));
}
uint8_t AlphaSample(int frame, int x, int y) {
    const int dx = x - kWidth / 2 - frame * 8, dy = y - kHeight / 2;
    const int d = (dx * dx) / 900 + (dy * dy) / 300;
    return uint8_t(std::clamp(255 - d / 4, 0, 255));
}

struct Frame {
    std::vector<uint8_t> colour, alpha;
};

std::vector<Frame> MakeFrames() {
    std::vector<Frame> frames;
    for (int f = 0; f < 2; ++f) {
        zk::tools::JpegPicture colour =
            zk::tools::MakeJpegPicture(kWidth, kHeight, 3, [f](int x, int y, int c) { return ColourSample(f, x, y, c); });
        colour.quality = 90;
        colour.full_chroma = false;
        zk::tools::JpegPicture alpha =
            zk::tools::MakeJpegPicture(kWidth, kHeight, 1, [f](int x, int y, int) { return AlphaSample(f, x, y); });
        alpha.quality = 90;
        frames.push_back({zk::tools::EncodeJpeg(colour), zk::tools::EncodeJpeg(alpha)});
    }
    return frames;
}

// The bare library: one decompressor for every decode, rows straight into
// plain buffers, read in batches as the engine reads them.
class BareDecoder {
public:
    BareDecoder() {
        info_.err = jpeg_std_error(&errors_);
        jpeg_create_decompress(&info_);
    }
    ~BareDecoder() { jpeg_destroy_decompress(&info_); }
    BareDecoder(const BareDecoder&) = delete;
    BareDecoder& operator=(const BareDecoder&) = delete;

    void Decode(const std::vector<uint8_t>& bytes, uint8_t* out, int bytes_per_pixel) {
        jpeg_mem_src(&info_, bytes.data(), static_cast<unsigned long>(bytes.size()));
        jpeg_read_header(&info_, TRUE);
#ifdef JCS_EXTENSIONS
        if (bytes_per_pixel == 4) info_.out_color_space = JCS_EXT_BGRA;
#endif
        jpeg_start_decompress(&info_);
        const size_t stride = size_t(info_.output_width) * size_t(bytes_per_pixel);
        std::array<JSAMPROW, 16> rows{};
        while (info_.output_scanline < info_.output_height) {
            const JDIMENSION y = info_.output_scanline;
            const JDIMENSION count = std::min<JDIMENSION>(16, info_.output_height - y);
            for (JDIMENSION i = 0; i < count; ++i) rows[i] = out + stride * (y + i);
            jpeg_read_scanlines(&info_, rows.data(), count);
        }
        jpeg_finish_decompress(&info_);
    }

private:
    jpeg_decompress_struct info_{};
    jpeg_error_mgr errors_{};
};

double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

}  // namespace

int main() {
    const std::vector<Frame> frames = MakeFrames();
    zk::tools::FrameSequenceSpec spec;
    spec.alpha_flag = 1;
    for (const Frame& frame : frames) spec.frames.push_back({frame.colour, frame.alpha});

    zk::InitPathCharTable();
    zk::NamedTreeNode* root = zk::CreateRootNode();
    zk::TheRootTrees().layers = root;
    zk::NamedTreeNode* node = zk::CreateTreeNode(root, "movie", false, 1);
    zk::CgImage* image = zk::CreateCgImage(node);
    if (image == nullptr || zk::LoadFrameSequenceBytes(node, zk::tools::BuildFrameSequence(spec), "bench.seq") != 0) {
        std::printf("frame sequence: setup failed\n");
        return 0;
    }
    zk::SelectSequenceFrame(node, 0);  // the block and the decompressor, made once

    BareDecoder bare;
    std::vector<uint8_t> colour(size_t(kWidth) * kHeight * 4);
    std::vector<uint8_t> alpha(size_t(kWidth) * kHeight);

    double best_engine = 1e30, best_bare = 1e30;
    for (int round = 0; round < kRounds; ++round) {
        Clock::time_point start = Clock::now();
        for (int i = 0; i < kFramesPerRound; ++i) zk::SelectSequenceFrame(node, i % 2);
        best_engine = std::min(best_engine, Seconds(start));
        start = Clock::now();
        for (int i = 0; i < kFramesPerRound; ++i) {
            bare.Decode(frames[size_t(i % 2)].colour, colour.data(), 4);
            bare.Decode(frames[size_t(i % 2)].alpha, alpha.data(), 1);
        }
        best_bare = std::min(best_bare, Seconds(start));
        zk::ResetDirtyRects(root->first_child);
    }
    const bool shown = image->width == kWidth && image->height == kHeight && image->alpha_in_use == 1;
    std::printf("frame sequence %d x %d colour + alpha (%zu + %zu bytes a frame), best of %d rounds of %d frames%s\n",
                kWidth, kHeight, frames[0].colour.size(), frames[0].alpha.size(), kRounds, kFramesPerRound,
                shown ? "" : " (the frames were NOT shown)");
    const double engine_fps = kFramesPerRound / best_engine, bare_fps = kFramesPerRound / best_bare;
    std::printf("  engine %.1f frames/s, bare libjpeg-turbo %.1f frames/s: %.3fx the bare time\n", engine_fps,
                bare_fps, best_engine / best_bare);
    zk::FreeTreeNode(root);
    zk::TheRootTrees() = zk::RootTrees{};
    return 0;
}
