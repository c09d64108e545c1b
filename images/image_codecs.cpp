#include "images/image_codecs.h"

#include "platform/codec_registry.h"

namespace zk {

namespace {

using platform::CodecLibraryId;

constexpr uint32_t kPngEntryBits = (1u << platform::kZkpngPreload) | (1u << platform::kZkpngLoad) |
                                   (1u << platform::kZkpngEnd);

}  // namespace

const PngCodecEntries* BoundPngCodec() {
    const platform::CodecLibraryState& library = platform::CodecLibrary(CodecLibraryId::kZkpng);
    // Start-up has said which entries it could not bind; the decoder must
    // not call any of them.
    if (!library.loaded || (library.provision.missing_entries & kPngEntryBits) != 0) return nullptr;
    return &PngCodecImplementation();
}

void LoadWebpLibrary() {
    // A missing library says nothing here: the decoder says it when a WebP
    // image is asked for.
    platform::LoadCodecLibrary(CodecLibraryId::kZkwbp);
}

void UnloadWebpLibrary() {
    if (platform::CodecLibrary(CodecLibraryId::kZkwbp).loaded) platform::UnloadCodecLibrary(CodecLibraryId::kZkwbp);
}

const WebpCodecEntries* BoundWebpCodec() {
    if (!platform::CodecLibrary(CodecLibraryId::kZkwbp).loaded) return nullptr;
    return &WebpCodecImplementation();
}

}  // namespace zk
