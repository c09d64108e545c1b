#include "effects/cg_result_block.h"

#include <algorithm>

#include "core/error_codes.h"
#include "core/error_report.h"
#include "layers/cg_image.h"
#include "layers/compositor.h"
#include "layers/dirty_rect.h"

namespace zk {

PixelBlock AllocCgResultBlock(int64_t width, int64_t height) {
    if (width > kMaxCgWidth) {
        ReportCgTooWide(width, height);
        return PixelBlock();
    }
    const uint64_t bytes = CgPixelBlockBytes(width, height);
    PixelBlock block;
    if (bytes != 0) block = PixelBlock::Allocate(bytes);
    if (block.empty()) ReportEngineErrorF(kErrFileNoMemory, true, {int64_t{0}});
    return block;
}

CgImage* ImageWithPixels(NamedTreeNode* node) {
    CgImage* image = LayerImage(node);
    if (image == nullptr || image->owned_block.empty() || image->width < 0 || image->height < 0) return nullptr;
    if (uint64_t(image->width) * uint64_t(image->height) * 4 > image->owned_block.size()) return nullptr;
    return image;
}

bool CurrentPixelsHoldImage(const CgImage& image) {
    if (image.current_pixels == nullptr || image.width < 0 || image.height < 0) return false;
    return uint64_t(image.width) * uint64_t(image.height) * 4 <= CurrentPixelBytes(image);
}


CgArea ClampedArea(int64_t x1, int64_t y1, int64_t x2, int64_t y2, int32_t width, int32_t height) {
    auto clamp = [](int64_t v, int32_t size) { return int32_t(std::clamp<int64_t>(v, 0, std::max(size - 1, 0))); };
    return CgArea{clamp(x1, width), clamp(y1, height), clamp(x2, width), clamp(y2, height), width, height};
}

}  // namespace zk
