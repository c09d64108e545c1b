// PNG through the PNG codec library's three calls: preload (size and
// opacity), load (the rows), end.
#include <string>

#include "core/error_report.h"
#include "layers/cg_image.h"
#include "images/image_codecs.h"
#include "images/image_decoders.h"
#include "base/never.h"

namespace zk {

namespace {

// Status for a library that is not there: the decode fails without a
// further message (start-up has already said the library is missing).
constexpr int32_t kPngUnavailable = -1;

}  // namespace

int32_t DecodePngImage(FileSource& source, CgImage& image, std::string_view name) {
    std::vector<uint8_t> bytes;
    if (FetchFileSourceBytes(source, name, bytes) != 0) return 1;
    return DecodePngBytes(bytes, image, name);
}

int32_t DecodePngBytes(std::span<const uint8_t> bytes, CgImage& image, std::string_view name) {
    const PngCodecEntries* codec = BoundPngCodec();
    if (codec == nullptr) return kPngUnavailable;

    const std::string file_name(name);
    int32_t width = 0, height = 0, opaque = 0;
    int32_t status = codec->preload(file_name.c_str(), bytes.data(), bytes.size(), &width, &height, &opaque);
    // The library refuses such sizes itself with its own status.
    if (ZK_NEVER(status == kPngOk && !ImageSizeAcceptable(width, height))) {
        codec->end();
        status = kPngTooLarge;
    }
    bool have_pixels = false;
    if (status == kPngOk) {
        have_pixels = GiveImagePixels(image, width, height);
        if (have_pixels) {
            image.alpha_in_use = opaque == 0 ? 1 : 0;
            codec->load(image.owned_block.data(), height, width * 4);
        }
        codec->end();
    }
    switch (status) {
        case kPngOk: break;
        case kPngRefused: ReportEngineError(kErrPngRefused, true); break;
        case kPngTooLarge: ReportScriptErrorF(kErrImageSize, true, {name}); break;
        default: break;
    }
    if (status != kPngOk) return status;
    // A pixel block that could not be had has reported itself.
    return have_pixels ? 0 : 1;
}

}  // namespace zk
