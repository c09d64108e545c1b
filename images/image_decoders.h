// The image decoders, one per file kind, and the pieces they share. Every
// decoder has the same two entries: DecodeXxxImage loads the file through
// its probed FileSource and decodes it; DecodeXxxBytes decodes bytes that
// are already in memory (the fuzzers and the multi-frame sequences start
// there). Either one sets the image's width and height, obtains its pixel
// block with AllocCgPixels and writes the pixels, reporting its own errors.
//
// Every file is untrusted: a decoder checks each size and offset against
// the bytes before it reads them, and refuses a width or height below 1 or
// above 8192 before it asks for a block.
//
// Threading: the thread that runs the script; one decode at a time (the
// PNG library keeps the file it is decoding between its three calls).
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "core/error_codes.h"

namespace zk {

struct CgImage;
struct FileSource;

// Largest width and height a decoded image may have.
constexpr int32_t kMaxImageSide = 8192;

// The shape of every decoder entry over a file source.
using ImageDecodeFn = int32_t (*)(FileSource& source, CgImage& image, std::string_view name);

// Loads the file's bytes through the loader of `source.state` (1 loose
// file, 2 pack entry, 3 compiler list) into `bytes`. 0, the loader's
// non-zero result (the loader has reported it), or -2 for any other state.
int32_t FetchFileSourceBytes(FileSource& source, std::string_view name, std::vector<uint8_t>& bytes);

// True when width and height are both 1..8192.
bool ImageSizeAcceptable(int64_t width, int64_t height);
// Error 100091 with the file name and the script location, fatal.
void ReportImageSizeRefused(std::string_view name);
// Sets the image's width and height and obtains its pixel block (whose
// failures AllocCgPixels reports). The size must be acceptable. The block
// is the image's own, resized: it still holds the previous picture, so the
// decoder must write every pixel.
bool GiveImagePixels(CgImage& image, int32_t width, int32_t height);
// As GiveImagePixels, for a decoder that does not write every pixel: the
// old block is let go first, so the new one is all zero (transparent)
// without a byte of it being written.
bool GiveClearedImagePixels(CgImage& image, int32_t width, int32_t height);

// BMP: 1-, 4- and 8-bit palette images, 24 and 32 bits; other depths
// decode to a transparent image. 0, or -1 after its report.
int32_t DecodeBmpImage(FileSource& source, CgImage& image, std::string_view name);
int32_t DecodeBmpBytes(std::span<const uint8_t> bytes, CgImage& image, std::string_view name);

// PNG through the PNG codec library (image_codecs.h). 0, or the library's
// non-zero status: 101 refused (error 100200), 102 too large (100091),
// anything else without a message.
int32_t DecodePngImage(FileSource& source, CgImage& image, std::string_view name);
int32_t DecodePngBytes(std::span<const uint8_t> bytes, CgImage& image, std::string_view name);

// JPEG through libjpeg. 0; -1 file not loaded; -2 library error; -3 size
// refused or no pixel block. The dispatch adds 100210 to every failure.
int32_t DecodeJpegImage(FileSource& source, CgImage& image, std::string_view name);
int32_t DecodeJpegBytes(std::span<const uint8_t> bytes, CgImage& image, std::string_view name);

// WebP through the WebP codec library. 0, or -1 after its message.
int32_t DecodeWebpImage(FileSource& source, CgImage& image, std::string_view name);
int32_t DecodeWebpBytes(std::span<const uint8_t> bytes, CgImage& image, std::string_view name);

// The engine's own .zcg. 0, or -1 after its message or report.
int32_t DecodeZcgImage(FileSource& source, CgImage& image, std::string_view name);
int32_t DecodeZcgBytes(std::span<const uint8_t> bytes, CgImage& image, std::string_view name);
// The decode of an engine with one worker, whatever the pool: both parts
// unpacked on the calling thread (DecodeZcgBytes does that only when fewer
// than two workers run). Lets one process compare the two paths.
int32_t DecodeZcgBytesOnCallingThread(std::span<const uint8_t> bytes, CgImage& image, std::string_view name);
// Puts the .zcg unpacking jobs 1000..1003 into the worker pool's job table.
void RegisterZcgJobs();

// PSD files are always refused (error 100220): -1.
int32_t RefusePsdImage(FileSource& source, CgImage& image, std::string_view name);

}  // namespace zk
