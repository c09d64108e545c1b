#include "layers/cg_image.h"

#include <new>

#include "core/error_report.h"
#include "core/system_text.h"

namespace zk {

namespace {
// Largest block the engine will try to hold: an 8192-wide image of 8192
// rows is 256 MiB; anything beyond 1 GiB is refused as out of memory
// rather than risking a 32-bit overflow downstream.
constexpr uint64_t kMaxPixelBlockBytes = uint64_t{1} << 30;

}  // namespace

uint64_t CgPixelBlockBytes(int64_t width, int64_t height) {
    if (width < 0 || height < 0 || width > kMaxCgWidth) return 0;
    uint64_t bytes = uint64_t(width) * 4 * (uint64_t(height) + 1) + 4;
    return bytes <= kMaxPixelBlockBytes ? bytes : 0;
}

bool AllocCgPixels(CgImage& image, int32_t width, int32_t height) {
    if (width > kMaxCgWidth) {
        ShowMessageBox("", Sjis("ＣＧサイズが大きすぎます。X=%d, Y=%d"), {int64_t{width}, int64_t{height}});
        ReportEngineError(100010, true);
        return false;
    }
    uint64_t bytes = CgPixelBlockBytes(width, height);
    if (bytes == 0) {
        ReportEngineErrorF(104030, true, {int64_t{0}});
        return false;
    }
    try {
        image.owned_block.assign(bytes, 0);
    } catch (const std::bad_alloc&) {
        image.owned_block.clear();
        ReportEngineErrorF(104030, true, {int64_t{0}});
        return false;
    }
    image.current_pixels = image.owned_block.data();
    image.allocated_width = width;
    image.allocated_height = height;
    return true;
}

std::unique_ptr<CgImage> NewCgImageRecord() { return std::make_unique<CgImage>(); }

}  // namespace zk
