// Drawing one layer's image onto another, mixing two images into a third
// and comparing two images pixel by pixel. The target's image is the
// source, placed with its top-left corner at (x, y) in the receiving image
// and clipped to it; only the overlap is touched, row by row, in the
// receiving layer's own pixels (its toned or desaturated copy is dropped,
// to be derived again from the result). The target keeps its pixels.
#include <algorithm>
#include <cstring>
#include <vector>

#include "effects/cg_operations.h"
#include "effects/cg_result_block.h"
#include "layers/cg_image.h"
#include "layers/dirty_rect.h"
#include "layers/pixel_kernels.h"

namespace zk {

namespace {

// The overlap of the source placed at (x, y) with the receiving image.
struct Overlap {
    int64_t source_x = 0, source_y = 0;  // its start in the source
    int64_t x = 0, y = 0;                // its start in the receiving image
    int64_t width = 0, height = 0;
    bool Empty() const { return width <= 0 || height <= 0; }
};

Overlap OverlapOf(const CgImage& source, int64_t x, int64_t y, const CgImage& receiver) {
    BlitRect blit;
    blit.a_x = x;
    blit.a_y = y;
    blit.a_width = source.width;
    blit.a_height = source.height;
    blit.b_width = receiver.width;
    blit.b_height = receiver.height;
    IntersectBlitRects(blit);
    return Overlap{blit.offset_x, blit.offset_y, blit.start_x, blit.start_y, blit.overlap_width,
                   blit.overlap_height};
}

// The source's pixels, read as they were before the operation: a copy when
// the source is the receiving image itself, whose rows the operation writes
// while later rows still read them.
class SourceRows {
public:
    SourceRows(const CgImage& source, const CgImage& receiver) : width_(source.width) {
        pixels_ = source.current_pixels;
        if (&source == &receiver) {
            copy_.assign(pixels_, pixels_ + size_t(source.width) * size_t(source.height) * 4);
            pixels_ = copy_.data();
        }
    }
    const uint8_t* Row(int64_t x, int64_t y) const { return pixels_ + (y * width_ + x) * 4; }

private:
    int64_t width_;
    const uint8_t* pixels_;
    std::vector<uint8_t> copy_;
};

// The receiving image's own pixels, which the operation writes. Called
// once nothing stops the operation any more, and before the source rows
// are read, so that a layer drawn over itself reads its own pixels.
class ReceiverRows {
public:
    explicit ReceiverRows(CgImage& receiver) : width_(receiver.width), pixels_(OwnedPixelsForWriting(receiver)) {}
    uint8_t* Row(int64_t x, int64_t y) const { return pixels_ + (y * width_ + x) * 4; }

private:
    int64_t width_;
    uint8_t* pixels_;  // never null: PixelsOf checked the owned block
};

// Both layers' images, when the source's pixels and the receiver's own
// block hold their images.
bool PixelsOf(NamedTreeNode* target, NamedTreeNode* other, CgImage*& source, CgImage*& receiver) {
    source = LayerImage(target);
    receiver = LayerImage(other);
    return source != nullptr && receiver != nullptr && CurrentPixelsHoldImage(*source) &&
           OwnedBlockHoldsImage(*receiver);
}

// Compares whole pixels of the overlap; `keep_different` chooses the rule.
void ComparePixels(NamedTreeNode* target, NamedTreeNode* other, int32_t x, int32_t y, bool keep_different) {
    CgImage *source, *receiver;
    if (!PixelsOf(target, other, source, receiver)) return;
    receiver->alpha_in_use = 1;
    const Overlap overlap = OverlapOf(*source, x, y, *receiver);
    if (overlap.Empty()) return;
    const ReceiverRows out(*receiver);
    const SourceRows rows(*source, *receiver);
    for (int64_t r = 0; r < overlap.height; ++r) {
        const uint8_t* s = rows.Row(overlap.source_x, overlap.source_y + r);
        uint8_t* d = out.Row(overlap.x, overlap.y + r);
        for (int64_t i = 0; i < overlap.width; ++i, s += 4, d += 4) {
            const bool equal = std::memcmp(s, d, 4) == 0;
            if (keep_different) {
                if (equal) std::memset(d, 0, 4);
                else std::memcpy(d, s, 4);
            } else if (!equal) {
                std::memset(d, 0, 4);
            }
        }
    }
}

}  // namespace

int32_t DrawCgOver(NamedTreeNode* target, NamedTreeNode* other, int32_t x1, int32_t y1, int32_t, int32_t,
                   int32_t) {
    CgImage *source, *receiver;
    if (!PixelsOf(target, other, source, receiver)) return 0;
    const int32_t opacity = source->opacity;
    if (opacity == 0) return 0;
    receiver->alpha_in_use = 1;
    const Overlap overlap = OverlapOf(*source, x1, y1, *receiver);
    if (overlap.Empty()) return 0;
    const ReceiverRows out(*receiver);
    const SourceRows rows(*source, *receiver);
    for (int64_t r = 0; r < overlap.height; ++r) {
        const uint8_t* s = rows.Row(overlap.source_x, overlap.source_y + r);
        uint8_t* d = out.Row(overlap.x, overlap.y + r);
        if (opacity == 256) PixelKernels.alpha_over_alpha(d, s, overlap.width * 4);
        else PixelKernels.alpha_over_alpha_source_opacity(d, s, opacity, overlap.width * 4);
    }
    return 0;
}

int32_t DrawCgOverWithOpacity(NamedTreeNode* target, NamedTreeNode* other, int32_t x1, int32_t y1, int32_t,
                              int32_t, int32_t) {
    CgImage *source, *receiver;
    if (!PixelsOf(target, other, source, receiver)) return 0;
    receiver->alpha_in_use = 1;
    const Overlap overlap = OverlapOf(*source, x1, y1, *receiver);
    if (overlap.Empty()) return 0;
    const int32_t opacity = source->opacity;
    const int32_t destination_opacity = receiver->opacity;
    const ReceiverRows out(*receiver);
    const SourceRows rows(*source, *receiver);
    for (int64_t r = 0; r < overlap.height; ++r) {
        const uint8_t* s = rows.Row(overlap.source_x, overlap.source_y + r);
        uint8_t* d = out.Row(overlap.x, overlap.y + r);
        if (opacity == 256) {
            PixelKernels.alpha_over_alpha_destination_opacity(d, s, destination_opacity, overlap.width * 4);
        } else {
            PixelKernels.alpha_over_alpha_both_opacity(d, s, destination_opacity, opacity, overlap.width * 4);
        }
    }
    return 0;
}

int32_t KeepDifferentPixels(NamedTreeNode* target, NamedTreeNode* other, int32_t x1, int32_t y1, int32_t, int32_t,
                            int32_t, uint8_t) {
    ComparePixels(target, other, x1, y1, true);
    return 0;
}

int32_t KeepEqualPixels(NamedTreeNode* target, NamedTreeNode* other, int32_t x1, int32_t y1, int32_t, int32_t,
                        int32_t, uint8_t) {
    ComparePixels(target, other, x1, y1, false);
    return 0;
}

int32_t MixCgsIntoThird(NamedTreeNode* target, NamedTreeNode* other, NamedTreeNode* second_other, int32_t x1,
                        int32_t y1, int32_t, int32_t, int64_t value, int32_t) {
    // Without a second other layer there is nothing to mix into.
    CgImage* receiver = LayerImage(second_other);
    if (receiver == nullptr) return 0;
    receiver->alpha_in_use = 1;
    CgImage* source = LayerImage(target);
    const CgImage* first = LayerImage(other);
    if (source == nullptr || first == nullptr || !CurrentPixelsHoldImage(*source) ||
        !CurrentPixelsHoldImage(*first) || !OwnedBlockHoldsImage(*receiver)) {
        return 0;
    }
    // Ratios outside 0..256 would push bytes past either image.
    const int32_t ratio = int32_t(std::clamp<int64_t>(value <= 255 ? value + 1 : 256, 0, 256));
    Overlap overlap = OverlapOf(*source, x1, y1, *receiver);
    // The first other image is read at the target's coordinates: only where
    // it has pixels there.
    const int64_t source_end_x = std::min<int64_t>(overlap.source_x + overlap.width, first->width);
    const int64_t source_end_y = std::min<int64_t>(overlap.source_y + overlap.height, first->height);
    overlap.width = source_end_x - overlap.source_x;
    overlap.height = source_end_y - overlap.source_y;
    if (overlap.Empty()) return 0;
    const ReceiverRows out(*receiver);
    const SourceRows target_rows(*source, *receiver);
    const SourceRows first_rows(*first, *receiver);
    for (int64_t r = 0; r < overlap.height; ++r) {
        const uint8_t* t = target_rows.Row(overlap.source_x, overlap.source_y + r);
        const uint8_t* f = first_rows.Row(overlap.source_x, overlap.source_y + r);
        uint8_t* d = out.Row(overlap.x, overlap.y + r);
        PixelKernels.mix(d, t, f, ratio, overlap.width * 4);
    }
    return 0;
}

}  // namespace zk
