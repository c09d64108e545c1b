// ScaleCg: scales a rectangle of the target layer's image to a destination
// size with one of five kinds, into the target itself or into the first
// other layer, whose block is reused when it already has the size (or may
// keep a larger block).
#include <cstring>
#include <span>

#include "effects/cg_operations.h"
#include "effects/cg_result_block.h"
#include "effects/scaling.h"
#include "layers/cg_image.h"
#include "layers/dirty_rect.h"
#include "layers/pixel_kernels.h"
#include "renderer/cpu_scalers.h"
#include "base/never.h"

namespace zk {

namespace {

enum class BlockUse { kNew, kSameSize, kShrink };

std::span<const uint8_t> CurrentPixelSpan(const CgImage& image) {
    if (image.current_pixels == image.derived_copy.data())
        return {image.derived_copy.data(), image.derived_copy.size()};
    return {image.owned_block.data(), image.owned_block.size()};
}

}  // namespace

int32_t ScaleCg(NamedTreeNode* target, NamedTreeNode* other, int32_t x1_100, int32_t y1_100, int32_t x2_100,
                int32_t y2_100, int32_t width100, int32_t height100, int32_t count, int32_t kind) {
    CgImage* source = LayerImage(target);
    NamedTreeNode* destination_node = count != 0 ? other : target;
    CgImage* destination = LayerImage(destination_node);
    if (source == nullptr || destination == nullptr || source->owned_block.empty() ||
        !CurrentPixelsHoldImage(*source)) {
        return 0;
    }
    const int32_t w = width100 / 100, h = height100 / 100;
    if (w <= 0 || h <= 0) return -1;  // not from the command, which checks 1..8192
    InvalidateLayer(destination_node);

    // Another layer keeps its block when it has the size, or when it may
    // keep a larger one; never when it shows the target's own image, which
    // the scaler is still reading.
    BlockUse use = BlockUse::kNew;
    if (count != 0 && destination != source) {
        if (destination->allocated_width == w && destination->allocated_height == h) use = BlockUse::kSameSize;
        else if (destination->keep_block == 1 && w < destination->allocated_width && h < destination->allocated_height)
            use = BlockUse::kShrink;
    }
    PixelBlock block;
    std::span<uint8_t> out;
    if (use == BlockUse::kNew) {
        block = AllocCgResultBlock(w, h);
        if (block.empty()) return -1;
        out = {block.data(), block.size()};
    } else {
        if (destination->owned_block.empty()) return -1;
        out = {destination->owned_block.data(), destination->owned_block.size()};
        if (ZK_NEVER(out.size() < uint64_t(w) * uint64_t(h) * 4)) return -1;  // the block is at least the allocated size
    }
    destination->alpha_in_use = source->alpha_in_use;

    const std::span<const uint8_t> owned(source->owned_block.data(), source->owned_block.size());
    const int32_t sw = source->width, sh = source->height;
    const int32_t x1 = x1_100 / 100, y1 = y1_100 / 100, x2 = x2_100 / 100, y2 = y2_100 / 100;
    switch (kind) {
        case kScaleNearest:
            ScaleNearestThreaded(out, CurrentPixelSpan(*source), x1, y1, x2, y2, sw, sh, w, h);
            break;
        case kScaleBilinear:
            if (InstalledKernelLevel() >= 2) {
                ScaleBilinearThreaded(out, owned, x1_100, y1_100, x2_100, y2_100, sw, sh, width100, height100);
            } else {
                ScaleBilinear(out, owned, x1_100, y1_100, x2_100, y2_100, sw, sh, width100, height100);
            }
            break;
        case kScaleBicubic: ScaleCgBicubic(out, owned, x1, y1, x2, y2, sw, sh, w, h); break;
        case kScaleSupersampled:
            ScaleCgSupersampled(out, owned, x1_100, y1_100, x2_100, y2_100, sw, sh, width100, height100);
            break;
        case kScaleLanczos:
            if (!ScaleCgLanczos(out, owned, sw, sh, w, h)) return -1;
            break;
        default:
            // A kind without a scaler: the new size shows transparent black.
            std::memset(out.data(), 0, size_t(w) * size_t(h) * 4);
            break;
    }

    switch (use) {
        case BlockUse::kNew:
            InstallCgPixels(*destination, std::move(block), w, h);
            InvalidateLayer(destination_node);
            break;
        case BlockUse::kShrink:
            destination->width = destination->allocated_width = w;
            destination->height = destination->allocated_height = h;
            InvalidateLayer(destination_node);
            break;
        case BlockUse::kSameSize: break;
    }
    return 0;
}

}  // namespace zk
