// The codec libraries the engine loads (DEVOD, ZKPNG, ZKSNP, ZKWBP at
// start-up, TheoraLib for a movie) stand here for the DLLs of the game
// folder. Each library has an "available" flag, as if its file were
// present, and a list of entries that can be bound; tests mark a library or an entry missing to drive the
// engine's missing-library paths. A bound entry is a plain function pointer
// that stays null while its library is not loaded or the entry is missing:
// every caller tests it before calling. The PNG and WebP entries are kept by
// the image codecs (layers/image_codecs.h), which ask the registry whether
// their library is loaded and which of its entries are present.
//
// Threading: loading and unloading run on the main thread during start-up
// and shutdown; the bound pointers are only read in between.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zk::platform {

// zlib-style (DEVOD ordinals 1 and 2): zlib's uncompress and a compress2
// through libdeflate, over RFC 1950 streams. Lengths are 32-bit, as the
// codec's callers pass them; the result is a zlib status (0 ok, -3 data error, -5 buffer too small, ...).
using DevodUncompressFn = int32_t (*)(uint8_t* destination, uint32_t* destination_length, const uint8_t* source,
                                      uint32_t source_length);
using DevodCompressFn = int32_t (*)(uint8_t* destination, uint32_t* destination_length, const uint8_t* source,
                                    uint32_t source_length, int32_t level);

// Snappy-style (ZKSNP, bound by name): libsnappy's C interface on raw
// blocks. Results: 0 ok, 1 invalid input, 2 buffer too small.
using ZksnpCompressedLengthFn = size_t (*)(size_t source_length);
using ZksnpCompressFn = int32_t (*)(const uint8_t* source, size_t source_length, uint8_t* destination,
                                    size_t* destination_length);
using ZksnpUncompressedLengthFn = int32_t (*)(const uint8_t* source, size_t source_length, size_t* result);
using ZksnpUncompressFn = int32_t (*)(const uint8_t* source, size_t source_length, uint8_t* destination,
                                      size_t* destination_length);

// kTheoraLib: the movie library (platform/theora_movie.h), loaded while a
// movie plays into a layer; its decoders are objects, not bound entries.
enum class CodecLibraryId : uint8_t { kDevod, kZkpng, kZksnp, kZkwbp, kTheoraLib };
inline constexpr size_t kCodecLibraryCount = 5;

// Entry numbers within each library, in the order of its bindable entries.
enum DevodEntry : uint8_t { kDevodUncompress = 0, kDevodCompress = 1 };
enum ZkpngEntry : uint8_t { kZkpngPreload = 0, kZkpngLoad = 1, kZkpngEnd = 2 };
enum ZksnpEntry : uint8_t {
    kZksnpCompressedLength = 0,
    kZksnpCompress = 1,
    kZksnpUncompressedLength = 2,
    kZksnpUncompress = 3,
};

// Windows' error number for a library file that is not there.
inline constexpr uint32_t kModuleNotFoundError = 126;

// What the game folder offers for one library (the test knob).
struct CodecProvision {
    bool available = true;                       // the file "loads"
    uint32_t load_error = kModuleNotFoundError;  // reported when it does not
    uint32_t missing_entries = 0;                // bit i set: entry i cannot be bound
};

struct CodecLibraryState {
    CodecProvision provision;
    bool loaded = false;
};

struct DevodEntries {
    DevodUncompressFn uncompress = nullptr;  // ordinal 1
    DevodCompressFn compress = nullptr;      // ordinal 2
};
struct ZksnpEntries {
    ZksnpCompressedLengthFn compressed_length = nullptr;      // ZKSnp_CompressedLength
    ZksnpCompressFn compress = nullptr;                      // ZKSnp_Compress
    ZksnpUncompressedLengthFn uncompressed_length = nullptr;  // ZKSnp_UncompressedLength
    ZksnpUncompressFn uncompress = nullptr;                  // ZKSnp_Uncompress
};

struct CodecRegistry {
    CodecLibraryState libraries[kCodecLibraryCount];
    DevodEntries devod;
    ZksnpEntries zksnp;
};
CodecRegistry& Codecs();

CodecLibraryState& CodecLibrary(CodecLibraryId id);
// The library's file name as the engine names it ("DEVOD.DLL").
const char* CodecLibraryFileName(CodecLibraryId id);
// The number of bindable entries of a library.
size_t CodecEntryCount(CodecLibraryId id);

// Tests: marks a library (un)available, or one of its entries missing.
void SetCodecAvailable(CodecLibraryId id, bool available);
void SetCodecEntryMissing(CodecLibraryId id, uint8_t entry, bool missing);
// Unloads everything and restores every provision to "present".
void ResetCodecRegistry();

struct CodecLoadFailure {
    uint32_t error_code = 0;
    std::string system_text;  // CP932, as the system words it (ends in CR LF)
};

// Loads a library: true when it is available. On failure `failure` gets the
// error number and the system's text for it. Loading a loaded library is a
// no-op that succeeds.
bool LoadCodecLibrary(CodecLibraryId id, CodecLoadFailure* failure = nullptr);
// Binds one entry of a loaded library: true when the library exports it,
// which fills the entry's pointer here (DEVOD, ZKSNP); false leaves it null.
bool BindCodecEntry(CodecLibraryId id, uint8_t entry);
// Unbinds every entry and marks the library not loaded.
void UnloadCodecLibrary(CodecLibraryId id);

}  // namespace zk::platform
