#include "platform/codec_registry.h"

#include <libdeflate.h>
#include <snappy-c.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <memory>

#include "base/system_text.h"

namespace zk::platform {
namespace {

// ---- zlib-style ------------------------------------------------------------

int32_t DevodUncompress(uint8_t* destination, uint32_t* destination_length, const uint8_t* source,
                        uint32_t source_length) {
    uLongf length = *destination_length;
    int status = ::uncompress(destination, &length, source, source_length);
    *destination_length = static_cast<uint32_t>(length);  // never above what went in
    return status;
}

// Compression goes through libdeflate's whole-buffer zlib format: the same
// RFC 1950 streams, readable by zlib's uncompress, many times faster than
// zlib at its high levels. Its level 6 gives output no larger than zlib's
// level 9 on layer pictures (and within a few bytes of it on noise that
// does not compress), so every level from 6 up maps to it; the lower levels
// (memory rows use 1) keep their number.
constexpr int kLibdeflateTopLevel = 6;

struct CompressorFree {
    void operator()(libdeflate_compressor* compressor) const { ::libdeflate_free_compressor(compressor); }
};
using Compressor = std::unique_ptr<libdeflate_compressor, CompressorFree>;

// A compressor holds its match finder's tables (up to a few MB): one per
// level and thread, made on first use and kept.
libdeflate_compressor* CompressorFor(int level) {
    thread_local std::array<Compressor, kLibdeflateTopLevel + 1> compressors;
    Compressor& slot = compressors[static_cast<size_t>(level)];
    if (!slot) slot.reset(::libdeflate_alloc_compressor(level));
    return slot.get();
}

int32_t DevodCompress(uint8_t* destination, uint32_t* destination_length, const uint8_t* source,
                      uint32_t source_length, int32_t level) {
    if (level == Z_DEFAULT_COMPRESSION) level = kLibdeflateTopLevel;
    if (level < 0 || level > 9) return Z_STREAM_ERROR;
    libdeflate_compressor* compressor = CompressorFor(std::min(level, kLibdeflateTopLevel));
    if (compressor == nullptr) return Z_MEM_ERROR;
    const size_t length =
        ::libdeflate_zlib_compress(compressor, source, source_length, destination, *destination_length);
    if (length == 0) return Z_BUF_ERROR;  // the stream did not fit
    *destination_length = static_cast<uint32_t>(length);
    return Z_OK;
}

// ---- Snappy-style ----------------------------------------------------------

size_t ZksnpCompressedLength(size_t source_length) { return ::snappy_max_compressed_length(source_length); }

int32_t ZksnpCompress(const uint8_t* source, size_t source_length, uint8_t* destination, size_t* destination_length) {
    return static_cast<int32_t>(::snappy_compress(reinterpret_cast<const char*>(source), source_length,
                                                  reinterpret_cast<char*>(destination), destination_length));
}

int32_t ZksnpUncompressedLength(const uint8_t* source, size_t source_length, size_t* result) {
    return static_cast<int32_t>(
        ::snappy_uncompressed_length(reinterpret_cast<const char*>(source), source_length, result));
}

int32_t ZksnpUncompress(const uint8_t* source, size_t source_length, uint8_t* destination,
                        size_t* destination_length) {
    return static_cast<int32_t>(::snappy_uncompress(reinterpret_cast<const char*>(source), source_length,
                                                    reinterpret_cast<char*>(destination), destination_length));
}

constexpr const char* kFileNames[kCodecLibraryCount] = {"DEVOD.DLL", "ZKPNG.DLL", "ZKSNP.DLL", "ZKWBP.DLL",
                                                        "TheoraLib.dll"};
// ZKWBP's entries belong to the WebP loader, which binds them itself; the
// PNG entries are counted so that tests can mark one missing.
constexpr size_t kEntryCounts[kCodecLibraryCount] = {2, 3, 4, 0, 0};

size_t Index(CodecLibraryId id) { return static_cast<size_t>(id); }

}  // namespace

CodecRegistry& Codecs() {
    static CodecRegistry registry;
    return registry;
}

CodecLibraryState& CodecLibrary(CodecLibraryId id) { return Codecs().libraries[Index(id)]; }

const char* CodecLibraryFileName(CodecLibraryId id) { return kFileNames[Index(id)]; }

size_t CodecEntryCount(CodecLibraryId id) { return kEntryCounts[Index(id)]; }

void SetCodecAvailable(CodecLibraryId id, bool available) { CodecLibrary(id).provision.available = available; }

void SetCodecEntryMissing(CodecLibraryId id, uint8_t entry, bool missing) {
    if (entry >= 32) return;
    uint32_t bit = 1u << entry;
    uint32_t& mask = CodecLibrary(id).provision.missing_entries;
    mask = missing ? (mask | bit) : (mask & ~bit);
}

void ResetCodecRegistry() {
    for (size_t i = 0; i < kCodecLibraryCount; ++i) {
        auto id = static_cast<CodecLibraryId>(i);
        UnloadCodecLibrary(id);
        CodecLibrary(id).provision = CodecProvision{};
    }
}

bool LoadCodecLibrary(CodecLibraryId id, CodecLoadFailure* failure) {
    CodecLibraryState& library = CodecLibrary(id);
    if (library.loaded) return true;
    if (!library.provision.available) {
        if (failure != nullptr) {
            failure->error_code = library.provision.load_error;
            // The system's own wording (a Japanese system), as the message
            // box of a failed load quotes it.
            failure->system_text = library.provision.load_error == kModuleNotFoundError
                                       ? std::string(Sjis("指定されたモジュールが見つかりません。\r\n"))
                                       : std::string(Sjis("エラーの説明がありません。\r\n"));
        }
        return false;
    }
    library.loaded = true;
    return true;
}

bool BindCodecEntry(CodecLibraryId id, uint8_t entry) {
    CodecLibraryState& library = CodecLibrary(id);
    if (!library.loaded || entry >= CodecEntryCount(id)) return false;
    bool present = (library.provision.missing_entries & (1u << entry)) == 0;
    CodecRegistry& codecs = Codecs();
    switch (id) {
        case CodecLibraryId::kDevod:
            if (entry == kDevodUncompress) codecs.devod.uncompress = present ? &DevodUncompress : nullptr;
            if (entry == kDevodCompress) codecs.devod.compress = present ? &DevodCompress : nullptr;
            break;
        case CodecLibraryId::kZkpng: break;  // the image codecs hold these
        case CodecLibraryId::kZksnp:
            if (entry == kZksnpCompressedLength)
                codecs.zksnp.compressed_length = present ? &ZksnpCompressedLength : nullptr;
            if (entry == kZksnpCompress) codecs.zksnp.compress = present ? &ZksnpCompress : nullptr;
            if (entry == kZksnpUncompressedLength)
                codecs.zksnp.uncompressed_length = present ? &ZksnpUncompressedLength : nullptr;
            if (entry == kZksnpUncompress) codecs.zksnp.uncompress = present ? &ZksnpUncompress : nullptr;
            break;
        case CodecLibraryId::kZkwbp: break;
        case CodecLibraryId::kTheoraLib: break;
    }
    return present;
}

void UnloadCodecLibrary(CodecLibraryId id) {
    CodecRegistry& codecs = Codecs();
    switch (id) {
        case CodecLibraryId::kDevod: codecs.devod = DevodEntries{}; break;
        case CodecLibraryId::kZkpng: break;
        case CodecLibraryId::kZksnp: codecs.zksnp = ZksnpEntries{}; break;
        case CodecLibraryId::kZkwbp: break;
        case CodecLibraryId::kTheoraLib: break;
    }
    CodecLibrary(id).loaded = false;
}

}  // namespace zk::platform
