// Fuzzes the Theora movie library on a whole file image: whatever the
// bytes, loading gives a result, the picture fits the frame limits, and
// decoding frames forward, back and past the end reads nothing outside the
// bytes and writes only into the rows handed out.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "platform/theora_movie.h"

namespace {

struct Sink {
    std::span<const uint8_t> file;
    int32_t width = 0, height = 0;
    std::vector<uint8_t> pixels;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Sink sink;
    sink.file = std::span<const uint8_t>(data, size);
    zk::platform::TheoraMovieCallbacks c;
    c.user = &sink;
    c.read = [](void* user, uint8_t* destination, uint64_t position, size_t count) -> size_t {
        const auto& file = static_cast<Sink*>(user)->file;
        if (position >= file.size()) return 0;
        const size_t n = std::min<uint64_t>(count, file.size() - position);
        std::memcpy(destination, file.data() + position, n);
        return n;
    };
    c.size = [](void* user) -> uint64_t { return static_cast<Sink*>(user)->file.size(); };
    c.row = [](void* user, int32_t row) -> uint8_t* {
        auto* self = static_cast<Sink*>(user);
        if (row < 0 || row >= self->height) std::abort();  // the library asked for a row it was not given
        return self->pixels.data() + size_t(row) * size_t(self->width) * 4;
    };
    c.resize = [](void* user, int32_t width, int32_t height) -> int32_t {
        auto* self = static_cast<Sink*>(user);
        if (width <= 0 || height <= 0 || uint32_t(width) > zk::platform::kTheoraMaxFrameSide ||
            uint32_t(height) > zk::platform::kTheoraMaxFrameSide)
            std::abort();
        // Large pictures are refused here as an allocation failure would be:
        // the fuzzer looks for faults, not for memory.
        if (int64_t(width) * height > 1 << 20) return -1;
        self->width = width;
        self->height = height;
        self->pixels.assign(size_t(width) * size_t(height) * 4, 0);
        return 0;
    };
    zk::platform::TheoraVideoDecoder decoder;
    decoder.SetVerticalReverse(1);
    if (decoder.Load(c) != 0) {
        if (decoder.TotalFrames() != 0) std::abort();
        return 0;
    }
    const int32_t total = decoder.TotalFrames();
    const int32_t last = std::min(total - 1, 40);
    for (int32_t f = 0; f <= last; f += 7) decoder.DecodeFrame(f);
    decoder.DecodeFrame(0);
    decoder.DecodeFrame(last);
    if (total < INT32_MAX && decoder.DecodeFrame(total) != 0) std::abort();
    zk::platform::TheoraAudioDecoder audio;
    audio.Load(c);
    return audio.NowSample();
}
