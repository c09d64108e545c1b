#include "images/image_decode.h"

#include <array>
#include <vector>

#include "core/engine_hooks.h"
#include "core/error_report.h"
#include "layers/cg_image.h"
#include "images/decode_gif.h"
#include "images/image_codecs.h"
#include "images/load_psb.h"
#include "script/compiled_tables.h"
#include "storage/asset_name.h"
#include "storage/file_source.h"

namespace zk {

namespace {

constexpr uint32_t kLayerCommand = 1;  // the command that loads images into layers

struct DecoderRow {
    FileKind kind;
    ImageDecodeFn decode;
    uint32_t failure_error;  // reported by the dispatch after the decoder's own report; 0: none
};

// Kinds without a row (0, 5 and 6, and every number above 10) have no
// decoder.
constexpr std::array<DecoderRow, 8> kDecoders{{
    {kFileKindBmp, DecodeBmpImage, 0},
    {kFileKindPng, DecodePngImage, 0},
    {kFileKindJpg, DecodeJpegImage, kErrJpegFailed},
    {kFileKindGif, DecodeGifImage, kErrGifFailed},
    {kFileKindPsd, RefusePsdImage, 0},
    {kFileKindZcg, DecodeZcgImage, 0},
    {kFileKindPsb, LoadPsbIntoLayer, 0},
    {kFileKindWebp, DecodeWebpImage, 0},
}};

const DecoderRow* FindDecoder(uint8_t kind) {
    for (const DecoderRow& row : kDecoders) {
        if (row.kind == kind) return &row;
    }
    return nullptr;
}

}  // namespace

int32_t RefusePsdImage(FileSource& source, CgImage&, std::string_view name) {
    // The file is read (its loader may report) before it is refused,
    // whatever it holds.
    std::vector<uint8_t> bytes;
    if (FetchFileSourceBytes(source, name, bytes) != 0) return -1;
    ReportScriptErrorF(kErrPsdRefused, true, {name});
    return -1;
}

int32_t DecodeImageFile(FileSource& source, CgImage& image, std::string_view name) {
    image.alpha_in_use = 0;
    const DecoderRow* row = FindDecoder(source.kind);
    if (row == nullptr) {
        ReportEngineErrorF(kErrUnknownFileKind, true, {CommandName(kLayerCommand), name});
        return -1;
    }
    if (row->decode(source, image, name) == 0) return 0;
    if (row->failure_error != 0) ReportEngineError(row->failure_error, true);
    return -1;
}

void RegisterImageDecoders() {
    TheCgFileLoaders().decode_image_file = DecodeImageFile;
    Hooks().load_webp_library = LoadWebpLibrary;
    RegisterZcgJobs();
}

}  // namespace zk
