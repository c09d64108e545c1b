// The PNG and WebP codec libraries (ZKPNG.DLL and ZKWBP.DLL in the engine's
// own words), here over libpng and libwebp. Whether a library counts as
// loaded is the codec registry's "available" state (platform/
// codec_registry.h), so the engine's missing-library paths stay testable;
// the entries themselves live here because the registry carries none for
// the two libraries.
//
// The PNG entries take the byte count of the file, which the engine's own
// calling convention left out: a decoder of untrusted bytes must know where
// they end.
//
// Threading: the script thread. The PNG library holds the image it is
// decoding between its three calls, so one PNG decode runs at a time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zk {

// ZKPNG_PRELOAD statuses.
constexpr int32_t kPngOk = 0;
constexpr int32_t kPngRefused = 101;   // not a PNG the library can decode
constexpr int32_t kPngTooLarge = 102;  // width or height outside 1..8192
constexpr int32_t kPngNoMemory = 1;

struct PngCodecEntries {
    // Reads and decodes the whole file; stores its size and whether it is
    // opaque (no alpha channel and no transparency chunk). A status.
    int32_t (*preload)(const char* file_name, const uint8_t* bytes, size_t byte_count, int32_t* width,
                       int32_t* height, int32_t* opaque) = nullptr;
    // Writes the image as B, G, R, A rows, top row first: `height` rows of
    // `row_bytes` bytes (width x 4).
    void (*load)(uint8_t* pixels, int32_t height, int32_t row_bytes) = nullptr;
    // Ends the decode begun by a successful preload.
    void (*end)() = nullptr;
};

struct WebpCodecEntries {
    // The image's size: 1, or 0 for data that is no WebP image.
    int32_t (*get_info)(const uint8_t* bytes, size_t byte_count, int32_t* width, int32_t* height) = nullptr;
    // Writes the width x height image as B, G, R, A rows, top row first,
    // stride width x 4, into `pixels` (room for width x height x 4 bytes):
    // 1, or 0 when the data does not decode to exactly that size.
    int32_t (*decode)(const uint8_t* bytes, uint8_t* pixels, size_t byte_count, int32_t width,
                      int32_t height) = nullptr;
};

// The PNG library's entries, or null when ZKPNG is not loaded or one of its
// three entries could not be bound.
const PngCodecEntries* BoundPngCodec();

// Loads the WebP library once at start-up (no message when it is missing)
// and binds its entries; UnloadWebpLibrary is shutdown's counterpart.
void LoadWebpLibrary();
void UnloadWebpLibrary();
// The WebP library's entries, or null when it is not loaded.
const WebpCodecEntries* BoundWebpCodec();

// The libraries' implementations (png_codec.cpp, webp_codec.cpp).
const PngCodecEntries& PngCodecImplementation();
const WebpCodecEntries& WebpCodecImplementation();

}  // namespace zk
