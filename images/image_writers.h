// The four writers that store a layer's pixels in a file: BMP (written
// field by field here), PNG (libpng), JPEG (libjpeg) and WebP (libwebp).
// Command 20 is their only caller; it clamps the quality and appends the
// suffix before it calls them.
//
// Every writer reads the image's width, height and current pixels (B, G,
// R, A, top row first, stride width x 4) and changes nothing of the image.
// The path is a host path the caller has already confined to a folder the
// game may write. The file is created or truncated; every write and the
// close are checked, and a file that could not be written completely is
// removed again, so a failed export never leaves a damaged image behind.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "layers/cg_image.h"

namespace zk {

// The pixels of an image when they hold the whole image, else empty (a
// layer without pixels is not written).
std::span<const uint8_t> WritablePixels(const CgImage& image);

// 0 written; -1 the file could not be created or written ("File Create
// Error." when it could not be created), or the image has no pixels.
int32_t SaveBMP(const CgImage& image, const std::string& host_path);
// 0 written, 1 the engine's QuitFlag is set after encoding, -1 the file
// could not be created or written (or the encoder failed). RGBA when the
// image's alpha is in use, else RGB; `level` 0..9 is zlib's.
int32_t SavePNG(const CgImage& image, const std::string& host_path, int32_t level);
// 0 written, -1 the file could not be created or written, -2 the library
// reported an error. RGB, the library's defaults, `quality` 1..100 with
// baseline forced.
int32_t SaveJPEG(const CgImage& image, int32_t quality, const std::string& host_path);
// 0 written, -1 the encoder failed ("エンコードエラー.") or the file could
// not be created or written. Method 6; quality 0..100 lossy, 101 lossless.
int32_t SaveWEBP(const CgImage& image, const std::string& host_path, int32_t quality);

// The BMP file SaveBMP writes, as bytes (tests and the writer share it).
std::string EncodeBmp(std::span<const uint8_t> pixels, int32_t width, int32_t height);

}  // namespace zk
