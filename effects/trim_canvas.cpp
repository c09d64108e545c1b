// Cropping an image to the box of its visible pixels, and growing or
// cutting its canvas by margins. The result goes into the target itself or,
// when other layers are named, into the first of them.
#include <algorithm>
#include <cstring>

#include "base/system_text.h"
#include "core/error_report.h"
#include "effects/cg_operations.h"
#include "effects/cg_result_block.h"
#include "layers/cg_image.h"
#include "layers/dirty_rect.h"
#include "layers/pixel_kernels.h"
#include "base/never.h"

namespace zk {

namespace {

// Copies `columns` x `rows` pixels from the source at (sx, sy) to the
// destination at (dx, dy), each image addressed by its own width.
void CopyCanvasRows(uint8_t* destination, int64_t destination_width, int64_t dx, int64_t dy,
                    const uint8_t* source, int64_t source_width, int64_t sx, int64_t sy, int64_t columns,
                    int64_t rows) {
    if (columns <= 0) return;
    for (int64_t r = 0; r < rows; ++r) {
        PixelKernels.copy_bytes(destination + ((dy + r) * destination_width + dx) * 4,
                                source + ((sy + r) * source_width + sx) * 4, columns * 4);
    }
}

// The smallest box holding every pixel whose alpha is above the threshold
// (taken as a signed byte); false when no pixel is.
bool VisibleBox(const CgImage& image, int8_t threshold, int64_t& left, int64_t& top, int64_t& right,
                int64_t& bottom) {
    left = image.width;
    top = image.height;
    right = bottom = -1;
    for (int64_t y = 0; y < image.height; ++y) {
        const uint8_t* p = image.current_pixels + y * int64_t{image.width} * 4;
        for (int64_t x = 0; x < image.width; ++x, p += 4) {
            if (int32_t{p[3]} <= int32_t{threshold}) continue;
            left = std::min(left, x);
            right = std::max(right, x);
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    }
    return right >= 0;
}

}  // namespace

int32_t TrimCgToAlpha(NamedTreeNode* target, NamedTreeNode* other, int32_t count, uint8_t side_mask,
                      uint8_t threshold) {
    CgImage* source = LayerImage(target);
    NamedTreeNode* receiving_node = count != 0 ? other : target;
    CgImage* receiver = LayerImage(receiving_node);
    if (source == nullptr || receiver == nullptr || !CurrentPixelsHoldImage(*source)) return 0;
    InvalidateLayer(receiving_node);

    int64_t left, top, right, bottom;
    const bool found = VisibleBox(*source, int8_t(threshold), left, top, right, bottom);
    // Nothing visible leaves no box to crop to on the sides asked for.
    if (!found && (side_mask & 15) != 0) return 0;
    if ((side_mask & 8) == 0) top = 0;
    if ((side_mask & 4) == 0) bottom = source->height - 1;
    if ((side_mask & 2) == 0) left = 0;
    if ((side_mask & 1) == 0) right = source->width - 1;
    const int64_t rw = right - left + 1, rh = bottom - top + 1;
    if (ZK_NEVER(rw <= 0 || rh <= 0)) return 0;  // the box lies inside a non-empty image

    // Another layer of the result's size is written over, unless it is the
    // target itself, whose pixels are still being read.
    const bool reuse = count != 0 && receiver != source && receiver->width == rw && receiver->height == rh &&
                       OwnedBlockHoldsImage(*receiver);
    receiver->alpha_in_use = source->alpha_in_use;
    if (reuse) {
        CopyCanvasRows(OwnedPixelsForWriting(*receiver), rw, 0, 0, source->current_pixels, source->width, left, top,
                       rw, rh);
    } else {
        PixelBlock block = AllocCgResultBlock(rw, rh);
        if (block.empty()) return -1;
        CopyCanvasRows(block.data(), rw, 0, 0, source->current_pixels, source->width, left, top, rw, rh);
        InstallCgPixels(*receiver, std::move(block), int32_t(rw), int32_t(rh));
    }
    InvalidateLayer(receiving_node);
    return 0;
}

int32_t ResizeCgCanvas(NamedTreeNode* target, NamedTreeNode* other, int32_t count, int32_t left, int32_t right,
                       int32_t top, int32_t bottom) {
    CgImage* source = LayerImage(target);
    NamedTreeNode* receiving_node = count != 0 ? other : target;
    CgImage* receiver = LayerImage(receiving_node);
    if (source == nullptr || receiver == nullptr || !CurrentPixelsHoldImage(*source)) return 0;
    InvalidateLayer(receiving_node);

    const int64_t w = source->width, h = source->height;
    const int64_t nw = w + left + right, nh = h + top + bottom;
    if (nw <= 0 || nh <= 0) {
        ShowMessageBox("", Sjis("リサイズ後のサイズが不正です。"));
        return -1;
    }
    PixelBlock block = AllocCgResultBlock(nw, nh);
    if (block.empty()) return -1;
    PixelKernels.fill_cells(block.data(), nw * nh * 4, kTransparentFillColour);

    const uint8_t flag = (left > 0 || right > 0 || top > 0 || bottom > 0) ? 1 : source->alpha_in_use;
    const int64_t first_column = std::max<int64_t>(-int64_t{left}, 0);
    const int64_t last_column = std::min<int64_t>(w - 1 + right, w - 1);
    const int64_t first_row = std::max<int64_t>(-int64_t{top}, 0);
    const int64_t last_row = std::min<int64_t>(h - 1 + bottom, h - 1);
    CopyCanvasRows(block.data(), nw, std::max<int64_t>(left, 0), std::max<int64_t>(top, 0), source->current_pixels,
                   w, first_column, first_row, last_column - first_column + 1, last_row - first_row + 1);
    receiver->alpha_in_use = flag;
    InstallCgPixels(*receiver, std::move(block), int32_t(nw), int32_t(nh));
    InvalidateLayer(receiving_node);
    return 0;
}

}  // namespace zk
