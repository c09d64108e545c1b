// Test helper: every codec library the engine knows loaded, with all of its
// entries bound, so the decoder tests and fuzzers reach each decoder the
// machine has. A library that does not load is left out.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/codec_registry.h"

namespace zk::testing_support {

inline void LoadEveryCodecLibrary() {
    using platform::CodecLibraryId;
    for (CodecLibraryId id : {CodecLibraryId::kDevod, CodecLibraryId::kZkpng, CodecLibraryId::kZksnp,
                              CodecLibraryId::kZkwbp}) {
        if (!platform::LoadCodecLibrary(id)) continue;
        for (size_t entry = 0; entry < platform::CodecEntryCount(id); ++entry) {
            platform::BindCodecEntry(id, static_cast<uint8_t>(entry));
        }
    }
}

}  // namespace zk::testing_support
