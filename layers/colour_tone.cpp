#include "layers/colour_tone.h"

#include <algorithm>
#include <array>

namespace zk {

namespace {

bool FitsImage(size_t bytes, int32_t width, int32_t height) {
    if (width <= 0 || height <= 0) return false;
    return uint64_t(width) * uint64_t(height) * 4 <= bytes;
}

// Runs `pixel` (destination pixel, source pixel) over the rectangle clipped
// to both images.
template <class PixelFn>
void ForEachPixel(std::span<uint8_t> destination, std::span<const uint8_t> source, const LayerRect& rect,
                  int32_t dst_w, int32_t dst_h, int32_t src_w, int32_t src_h, PixelFn pixel) {
    if (!FitsImage(destination.size(), dst_w, dst_h) || !FitsImage(source.size(), src_w, src_h)) return;
    const int64_t left = std::max<int64_t>(rect[kRectLeft], 0);
    const int64_t top = std::max<int64_t>(rect[kRectTop], 0);
    const int64_t right = std::min<int64_t>({rect[kRectRight], int64_t{dst_w} - 1, int64_t{src_w} - 1});
    const int64_t bottom = std::min<int64_t>({rect[kRectBottom], int64_t{dst_h} - 1, int64_t{src_h} - 1});
    for (int64_t y = top; y <= bottom; ++y) {
        uint8_t* d = destination.data() + (y * dst_w + left) * 4;
        const uint8_t* s = source.data() + (y * src_w + left) * 4;
        for (int64_t x = left; x <= right; ++x, d += 4, s += 4) pixel(d, s);
    }
}

}  // namespace

void ApplyColourTone(std::span<uint8_t> destination, std::span<const uint8_t> source, const LayerRect& rect,
                     int32_t destination_width, int32_t destination_height, int32_t source_width,
                     int32_t source_height, uint32_t tone) {
    // One table per channel, in B, G, R byte order.
    std::array<std::array<uint8_t, 256>, 3> table;
    for (int c = 0; c < 3; ++c) {
        const int t = static_cast<int>((tone >> (8 * c)) & 0xFF);
        const int up = t >= 128 ? t - 128 : 0;
        const int down = t <= 128 ? 128 - t : 0;
        for (int v = 0; v < 256; ++v)
            table[c][v] = static_cast<uint8_t>(v + (((255 - v) * up) >> 7) - ((v * down) >> 7));
    }
    ForEachPixel(destination, source, rect, destination_width, destination_height, source_width, source_height,
                 [&](uint8_t* d, const uint8_t* s) {
                     d[0] = table[0][s[0]];
                     d[1] = table[1][s[1]];
                     d[2] = table[2][s[2]];
                     d[3] = s[3];
                 });
}

void ApplySaturation(std::span<uint8_t> destination, std::span<const uint8_t> source, const LayerRect& rect,
                     int32_t destination_width, int32_t destination_height, int32_t source_width,
                     int32_t source_height, int32_t saturation) {
    // Outside 0..256 the pull towards grey would overshoot past 0 or 255.
    const int s = std::clamp(saturation, 0, 256);
    ForEachPixel(destination, source, rect, destination_width, destination_height, source_width, source_height,
                 [&](uint8_t* d, const uint8_t* p) {
                     const int c[3] = {p[0], p[1], p[2]};
                     const int grey = (c[0] + c[1] + c[2]) / 3;
                     if (s < 128) {
                         for (int i = 0; i < 3; ++i)
                             d[i] = static_cast<uint8_t>(c[i] + (((grey - c[i]) * (128 - s)) >> 7));
                     } else {
                         int k = s - 128;
                         for (int i = 0; i < 3; ++i) {
                             const int away = c[i] - grey;
                             const int v = c[i] + ((k * away) >> 7);
                             if (v > 255) k = std::min(k, ((255 - c[i]) * 128) / away);
                             if (v < 0) k = std::min(k, (c[i] * -128) / away);
                         }
                         for (int i = 0; i < 3; ++i) d[i] = static_cast<uint8_t>(c[i] + ((k * (c[i] - grey)) >> 7));
                     }
                     d[3] = p[3];
                 });
}

}  // namespace zk
