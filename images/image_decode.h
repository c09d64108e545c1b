// The decoder dispatch: one table of { file kind, decoder, error added on
// failure } that chooses how a game image file becomes the pixels of a
// CgImage. The load operation (LoadCgFile) calls it with the probed file
// source it resolved and the name that was found.
#pragma once

#include <cstdint>
#include <string_view>

#include "images/image_decoders.h"

namespace zk {

// Clears the image's alpha-in-use flag, runs the decoder of `source.kind`
// and adds the error of its row when the decoder fails: 100210 for JPEG,
// 100215 for GIF. A kind without a decoder (0, 5, 6, above 10) is error
// 100030 with the name of command 1 and the file name. 0, or -1.
int32_t DecodeImageFile(FileSource& source, CgImage& image, std::string_view name);

// Plugs the decoders into the engine at start-up: the load operation's
// decode entry, the WebP library's loader and the .zcg worker jobs.
void RegisterImageDecoders();

}  // namespace zk
