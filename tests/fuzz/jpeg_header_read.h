// The libjpeg objects of one header read in a fuzz harness, kept out of
// the frame that sets the error jump (see images/jpeg_source.h).
#pragma once

#include "images/jpeg_source.h"

namespace zk::fuzzing {

struct JpegHeaderRead {
    jpeg_decompress_struct info{};
    JpegErrorManager errors{};
    JpegMemorySource source{};
    bool created = false;
    ~JpegHeaderRead() {
        if (created) jpeg_destroy_decompress(&info);
    }
};

}  // namespace zk::fuzzing
