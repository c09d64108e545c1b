#include "sound/window_movie_state.h"

#include <array>

#include "base/sjis.h"
#include "platform/file_stream.h"

namespace zk {

WindowMovieState& TheWindowMovieState() {
    static WindowMovieState state;
    return state;
}

int32_t ProbeMovieFile(std::string_view name) {
    const std::string path = SjisReplaceByte(SjisLowerAscii(name), '/', '\\');
    platform::FileStream stream;
    if (!stream.Open(path)) return 0;
    std::array<uint8_t, 5> bytes{};
    if (!stream.ReadExact(bytes)) return 255;
    if (bytes[0] != 0x00 || bytes[1] != 0x00 || bytes[2] != 0x01 || bytes[3] != 0xBA) return 255;
    if (bytes[4] >= 0x20 && bytes[4] <= 0x2F) return 1;
    if (bytes[4] >= 0x40 && bytes[4] <= 0x7F) return 2;
    return 255;
}

}  // namespace zk
