#include "images/image_decoders.h"

#include <utility>

#include "core/error_report.h"
#include "layers/cg_image.h"
#include "storage/file_source.h"

namespace zk {

int32_t FetchFileSourceBytes(FileSource& source, std::string_view name, std::vector<uint8_t>& bytes) {
    if (source.state < 1 || source.state > 3) return -2;
    if (int32_t result = LoadFromSource(source, name); result != 0) return result;
    bytes = std::move(source.data);
    source.data.clear();
    source.size = 0;
    return 0;
}

bool ImageSizeAcceptable(int64_t width, int64_t height) {
    return width >= 1 && width <= kMaxImageSide && height >= 1 && height <= kMaxImageSide;
}

void ReportImageSizeRefused(std::string_view name) { ReportScriptErrorF(kErrImageSize, true, {name}); }

bool GiveImagePixels(CgImage& image, int32_t width, int32_t height) {
    image.width = width;
    image.height = height;
    return AllocCgPixels(image, width, height);
}

bool GiveClearedImagePixels(CgImage& image, int32_t width, int32_t height) {
    // Nothing reads the pixels before AllocCgPixels points them at the new
    // block (or, when it fails, at nothing).
    image.derived_copy.Reset();
    image.owned_block.Reset();
    image.current_pixels = nullptr;
    return GiveImagePixels(image, width, height);
}

}  // namespace zk
