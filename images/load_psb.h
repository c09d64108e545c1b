// Model files (.psb): the decoder row of image kind 9. With the model
// player library the file's bytes become a player in the image; the image
// itself is a 2 x 2 transparent placeholder either way.
#pragma once

#include <cstdint>
#include <string_view>

namespace zk {

struct CgImage;
struct FileSource;

// 0 loaded (or no library: the placeholder alone); 1 the file could not
// be read; -1 no placeholder block, or the player did not load (after
// "E-mote 読込に失敗しました. = %s" with the name). With the library the
// image is a model layer (texture kind 2) afterwards, even when its
// player did not load.
int32_t LoadPsbIntoLayer(FileSource& source, CgImage& image, std::string_view name);

}  // namespace zk
