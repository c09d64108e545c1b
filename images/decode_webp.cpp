// WebP through the WebP codec library: the size first, then the pixels.
#include "core/error_report.h"
#include "base/system_text.h"
#include "layers/cg_image.h"
#include "images/image_codecs.h"
#include "images/image_decoders.h"

namespace zk {

namespace {

bool IsWebpFile(std::span<const uint8_t> bytes) {
    return bytes.size() >= 12 && bytes[0] == 'R' && bytes[1] == 'I' && bytes[2] == 'F' && bytes[3] == 'F' &&
           bytes[8] == 'W' && bytes[9] == 'E' && bytes[10] == 'B' && bytes[11] == 'P';
}

void ShowFileCheckError() { ShowMessageBox("", "File Check Error."); }

}  // namespace

int32_t DecodeWebpImage(FileSource& source, CgImage& image, std::string_view name) {
    if (BoundWebpCodec() == nullptr) {
        ShowMessageBox("", Sjis("WebP の読込に対応していません。"));
        return -1;
    }
    std::vector<uint8_t> bytes;
    if (FetchFileSourceBytes(source, name, bytes) != 0) return -1;
    return DecodeWebpBytes(bytes, image, name);
}

int32_t DecodeWebpBytes(std::span<const uint8_t> bytes, CgImage& image, std::string_view name) {
    const WebpCodecEntries* codec = BoundWebpCodec();
    if (codec == nullptr) {
        ShowMessageBox("", Sjis("WebP の読込に対応していません。"));
        return -1;
    }
    if (!IsWebpFile(bytes)) {
        ShowFileCheckError();
        return -1;
    }
    image.alpha_in_use = 1;
    int32_t width = 0, height = 0;
    // A file the library cannot read is as damaged as one with the wrong
    // signature.
    if (codec->get_info(bytes.data(), bytes.size(), &width, &height) == 0) {
        ShowFileCheckError();
        return -1;
    }
    if (!ImageSizeAcceptable(width, height)) {
        ReportImageSizeRefused(name);
        return -1;
    }
    if (!GiveImagePixels(image, width, height)) return -1;
    if (codec->decode(bytes.data(), image.owned_block.data(), bytes.size(), width, height) == 0) {
        ShowFileCheckError();
        return -1;
    }
    return 0;
}

}  // namespace zk
