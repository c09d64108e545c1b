// Fuzzes the frame sequence loader and the frame decodes. Each input is a
// sequence file loaded into a layer that already holds a good sequence:
// a refused file must leave that one in place; an accepted one has its
// tables inside the file. Then a few frames are shown (the first, the
// second, the last and one far beyond), and after each the layer's size,
// block and current pixels must agree.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "core/named_tree.h"
#include "core/root_trees.h"
#include "layers/cg_image.h"
#include "layers/dirty_rect.h"
#include "images/frame_sequence.h"
#include "images/jpeg_source.h"
#include "tests/fuzz/decoder_fuzz_support.h"
#include "tests/fuzz/jpeg_header_read.h"
#include "tools/lib/frame_sequence_writer.h"

namespace {

int ReadHeader(zk::fuzzing::JpegHeaderRead& read, std::span<const uint8_t> bytes) {
    read.info.err = zk::InstallJpegErrors(read.errors);
    if (setjmp(read.errors.jump)) return -1;
    jpeg_create_decompress(&read.info);
    read.created = true;
    zk::InstallJpegMemorySource(&read.info, read.source, bytes);
    jpeg_read_header(&read.info, TRUE);
    return 0;
}

// A colour part whose header asks for a picture above the harness's limit
// (see decoder_fuzz_support.h) that the engine would make a block for;
// such frames are not shown. Wider pictures are refused before any block
// is made, and an alpha part is only decoded at the layer's own size.
bool TooLargeToShow(std::span<const uint8_t> part) {
    zk::fuzzing::JpegHeaderRead read;
    if (ReadHeader(read, part) != 0) return false;
    const int64_t width = read.info.image_width, height = read.info.image_height;
    return width <= 8192 && width * height > zk::fuzzing::kFuzzMaxPixels;
}

std::span<const uint8_t> Part(const zk::FrameSequence& sequence, int64_t start, int64_t length) {
    if (length <= 0 || start < 0 || uint64_t(start) + uint64_t(length) > sequence.data.size()) return {};
    return std::span<const uint8_t>(sequence.data).subspan(size_t(start), size_t(length));
}

void CheckPixels(const zk::CgImage& image) {
    if (image.current_pixels == nullptr) return;
    if (image.current_pixels != image.owned_block.data()) std::abort();
    if (image.width < 0 || image.height < 0) std::abort();
    if (image.owned_block.size() < uint64_t(image.width) * uint64_t(image.height) * 4) std::abort();
}

struct Layer {
    zk::NamedTreeNode* root = nullptr;
    zk::NamedTreeNode* node = nullptr;
    std::vector<uint8_t> good;  // a two-frame sequence with alpha
};

Layer& TheLayer() {
    static Layer layer = [] {
        Layer made;
        zk::InitPathCharTable();
        made.root = zk::CreateRootNode();
        zk::TheRootTrees().layers = made.root;
        made.node = zk::CreateTreeNode(made.root, "s", false, 1);
        zk::CreateCgImage(made.node);
        zk::tools::FrameSequenceSpec spec;
        spec.alpha_flag = 1;
        for (int i = 0; i < 2; ++i) {
            spec.frames.push_back(
                {zk::tools::EncodeJpeg(zk::tools::MakeJpegPicture(4, 4, 3, [i](int x, int y, int c) {
                     return uint8_t(x * 40 + y * 20 + c * 60 + i * 9);
                 })),
                 zk::tools::EncodeJpeg(zk::tools::MakeJpegPicture(4, 4, 1, [](int x, int, int) {
                     return uint8_t(x * 60);
                 }))});
        }
        made.good = zk::tools::BuildFrameSequence(spec);
        return made;
    }();
    return layer;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zk::fuzzing::SetUpDecoderFuzzing();
    Layer& layer = TheLayer();
    zk::CgImage& image = *zk::LayerImage(layer.node);
    if (zk::LoadFrameSequenceBytes(layer.node, layer.good, "good.seq") != 0) std::abort();
    const zk::FrameSequence* good = image.frame_sequence.get();
    zk::SelectSequenceFrame(layer.node, 1);
    CheckPixels(image);

    std::vector<uint8_t> bytes(data, data + size);
    const bool fits = zk::FrameSequenceFileFits(bytes);
    const int32_t loaded = zk::LoadFrameSequenceBytes(layer.node, std::move(bytes), "fuzz.seq");
    if (loaded != 0) {
        if (fits || image.frame_sequence.get() != good) std::abort();
        return 0;
    }
    if (!fits) std::abort();
    const zk::FrameSequence* sequence = image.frame_sequence.get();
    if (sequence == nullptr) return 0;  // no memory for it (reported)
    const int32_t n = sequence->frame_count;
    if (n > 0 && (sequence->offsets.size() != size_t(n) || sequence->colour_lengths.size() != size_t(n) ||
                  sequence->alpha_lengths.size() != size_t(n))) {
        std::abort();
    }
    if (n <= 0) return 0;
    for (int32_t frame : {0, 1, n - 1, 0x7FFFFFFF}) {
        const size_t i = size_t(std::clamp(frame, 0, n - 1));
        const int64_t offset = sequence->offsets[i];
        const int64_t colour = sequence->colour_lengths[i];
        if (TooLargeToShow(Part(*sequence, offset, colour))) continue;
        zk::SelectSequenceFrame(layer.node, frame);
        CheckPixels(image);
    }
    zk::ResetDirtyRects(layer.root->first_child);
    return 0;
}
