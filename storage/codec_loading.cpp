#include "storage/codec_loading.h"

#include <cstdint>
#include <string_view>

#include "core/error_report.h"
#include "base/system_text.h"
#include "platform/codec_registry.h"

namespace zk {
namespace {

using platform::CodecLibraryId;

// The box of a library that did not load: the error number and the
// system's text for it, under an empty caption.
void ShowLoadFailure(const char* utf8_format, const platform::CodecLoadFailure& failure) {
    ShowMessageBox("", Sjis(utf8_format),
                   {static_cast<int64_t>(failure.error_code), std::string_view(failure.system_text)});
}

void ShowEntryMissing(const char* utf8_text) { ShowMessageBox(nullptr, Sjis(utf8_text)); }

void LoadDevod() {
    platform::CodecLoadFailure failure;
    if (!platform::LoadCodecLibrary(CodecLibraryId::kDevod, &failure)) {
        ShowLoadFailure("DEVOD.DLL エラーです。\r\n\r\nエラー番号 = %d\r\n\r\n%s", failure);
        return;
    }
    // Both ordinals share the one text.
    for (uint8_t entry : {platform::kDevodUncompress, platform::kDevodCompress}) {
        if (!platform::BindCodecEntry(CodecLibraryId::kDevod, entry)) ShowEntryMissing("DEVOD_PRELOAD が見つかりません。");
    }
}

void LoadZkpng() {
    platform::CodecLoadFailure failure;
    if (!platform::LoadCodecLibrary(CodecLibraryId::kZkpng, &failure)) {
        ShowLoadFailure("ZKPNG.DLL エラーです。\r\n\r\nエラー番号 = %d\r\n\r\n%s", failure);
        return;
    }
    if (!platform::BindCodecEntry(CodecLibraryId::kZkpng, platform::kZkpngPreload))
        ShowEntryMissing("ZKPNG_PRELOAD が見つかりません。");
    if (!platform::BindCodecEntry(CodecLibraryId::kZkpng, platform::kZkpngLoad))
        ShowEntryMissing("ZKPNG_LOAD が見つかりません。");
    if (!platform::BindCodecEntry(CodecLibraryId::kZkpng, platform::kZkpngEnd))
        ShowEntryMissing("ZKPNG_END が見つかりません。");
}

bool LoadZksnp() {
    platform::CodecLoadFailure failure;
    if (!platform::LoadCodecLibrary(CodecLibraryId::kZksnp, &failure)) {
        ShowLoadFailure("ZKSNP.DLL エラーです。\r\n\r\nエラー番号 = %d\r\n\r\n%s", failure);
        return false;
    }
    // ZKSnp_CompressedLength is bound without a message when missing; its
    // callers test the pointer like any other.
    platform::BindCodecEntry(CodecLibraryId::kZksnp, platform::kZksnpCompressedLength);
    bool compress = platform::BindCodecEntry(CodecLibraryId::kZksnp, platform::kZksnpCompress);
    bool uncompressed_length = platform::BindCodecEntry(CodecLibraryId::kZksnp, platform::kZksnpUncompressedLength);
    bool uncompress = platform::BindCodecEntry(CodecLibraryId::kZksnp, platform::kZksnpUncompress);
    if (!uncompress) ShowEntryMissing("ZKSnp_Uncompress が見つかりません。");
    if (!compress) ShowEntryMissing("ZKSnp_Compress が見つかりません。");
    if (!uncompressed_length) ShowEntryMissing("ZKSnp_UncompressedLength が見つかりません。");
    return true;
}

}  // namespace

bool LoadCodecLibraries() {
    LoadDevod();
    LoadZkpng();
    return LoadZksnp();
}

void UnloadCodecLibraries() {
    for (CodecLibraryId id : {CodecLibraryId::kZksnp, CodecLibraryId::kZkpng, CodecLibraryId::kDevod}) {
        if (platform::CodecLibrary(id).loaded) platform::UnloadCodecLibrary(id);
    }
}

}  // namespace zk
