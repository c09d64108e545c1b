#include "effects/rotation.h"

#include <cmath>
#include <cstring>

#include "effects/cg_operations.h"
#include "effects/cg_result_block.h"
#include "layers/cg_image.h"
#include "layers/dirty_rect.h"
#include "layers/pixel_kernels.h"

namespace zk {

namespace {

// The angle in 0..359 and its 16.16 cosine and sine.
struct Turn {
    int64_t degrees = 0;
    int64_t c = 0, s = 0;
};

Turn TurnOf(int64_t value) {
    Turn t;
    t.degrees = ((value % 360) + 360) % 360;
    const double theta = double(t.degrees) * 3.1415926535 / 180;
    t.c = int64_t(std::cos(theta) * 65536);
    t.s = int64_t(std::sin(theta) * 65536);
    return t;
}

// Walks every destination pixel with its source position (SX, SY), as the
// incremental sums give them: per pixel SX += c, SY += s; per row SX -= s,
// SY += c.
template <class Fn>
void ForEachPosition(int32_t width, int32_t height, const Turn& t, Fn pixel) {
    const int64_t h = width / 2, m = height / 2;
    int64_t row_sx = h * 65536 + t.c * (0 - h) - t.s * (0 - m);
    int64_t row_sy = m * 65536 + t.s * (0 - h) + t.c * (0 - m);
    for (int64_t y = 0; y < height; ++y, row_sx -= t.s, row_sy += t.c) {
        int64_t sx = row_sx, sy = row_sy;
        for (int64_t x = 0; x < width; ++x, sx += t.c, sy += t.s) pixel(x, y, sx, sy);
    }
}

bool Inside(int64_t sx, int64_t sy, int32_t width, int32_t height) {
    return sx >= 0 && sy >= 0 && sx / 65536 < width && sy / 65536 < height;
}

// The angles every method samples nearest: 0 copies, quarter turns move
// whole pixels. True when it handled the angle.
bool RotateByQuarterTurns(uint8_t* destination, const uint8_t* source, int32_t width, int32_t height,
                          const Turn& t) {
    if (t.degrees == 0) {
        PixelKernels.copy_bytes(destination, source, int64_t{width} * height * 4);
        return true;
    }
    if (t.degrees % 90 != 0) return false;
    ForEachPosition(width, height, t, [&](int64_t x, int64_t y, int64_t sx, int64_t sy) {
        uint8_t* d = destination + (y * width + x) * 4;
        if (Inside(sx, sy, width, height)) std::memcpy(d, source + ((sy / 65536) * width + sx / 65536) * 4, 4);
        else std::memset(d, 0, 4);
    });
    return true;
}

void RotateNearest(uint8_t* destination, const uint8_t* source, int32_t width, int32_t height, int64_t value,
                   bool fill) {
    const Turn t = TurnOf(value);
    if (RotateByQuarterTurns(destination, source, width, height, t)) return;
    ForEachPosition(width, height, t, [&](int64_t x, int64_t y, int64_t sx, int64_t sy) {
        uint8_t* d = destination + (y * width + x) * 4;
        if (Inside(sx, sy, width, height)) std::memcpy(d, source + ((sy / 65536) * width + sx / 65536) * 4, 4);
        else if (fill) std::memset(d, 0, 4);
    });
}

// Where the rotation writes its result.
struct RotationTarget {
    NamedTreeNode* node = nullptr;
    CgImage* image = nullptr;
    PixelBlock block;                // a new block, or
    uint8_t* reused = nullptr;       // the other layer's owned block
    uint8_t* Pixels() { return reused != nullptr ? reused : block.data(); }
};

using RotationKernel = void (*)(uint8_t*, const uint8_t*, int32_t, int32_t, int64_t);

int32_t Rotate(NamedTreeNode* target, NamedTreeNode* other, int64_t value, int32_t count, RotationKernel kernel) {
    CgImage* source = LayerImage(target);
    if (source == nullptr || !CurrentPixelsHoldImage(*source) || source->width <= 0 || source->height <= 0) return 0;
    const int32_t w = source->width, h = source->height;
    RotationTarget out;
    out.node = count != 0 ? other : target;
    out.image = LayerImage(out.node);
    if (out.image == nullptr) return 0;
    // Another layer of the same size is written in place (its own block,
    // not a toned copy the compositor would derive again), unless it shows
    // the target's own image, which the kernel is still reading.
    if (count != 0 && out.image != source && out.image->width == w && out.image->height == h &&
        OwnedBlockHoldsImage(*out.image)) {
        out.reused = OwnedPixelsForWriting(*out.image);
    } else {
        out.block = AllocCgResultBlock(w, h);
        if (out.block.empty()) return -1;
    }
    if (kernel != nullptr) {
        kernel(out.Pixels(), source->current_pixels, w, h, value);
    } else if (out.reused != nullptr) {
        // No kernel for the method: the result is transparent black, also
        // in a reused block (a new one is zero already).
        std::memset(out.reused, 0, size_t(w) * size_t(h) * 4);
    }
    const uint8_t flag = (value % 180 != 0) ? 1 : source->alpha_in_use;
    if (out.reused == nullptr) InstallCgPixels(*out.image, std::move(out.block), w, h);
    InvalidateLayer(out.node);
    out.image->alpha_in_use = flag;
    return 0;
}

}  // namespace

void RotateCgNearestFill(uint8_t* destination, const uint8_t* source, int32_t width, int32_t height, int64_t value) {
    RotateNearest(destination, source, width, height, value, true);
}

void RotateCgNearestKeep(uint8_t* destination, const uint8_t* source, int32_t width, int32_t height, int64_t value) {
    RotateNearest(destination, source, width, height, value, false);
}

void RotateCgBilinearKernel(uint8_t* destination, const uint8_t* source, int32_t width, int32_t height,
                            int64_t value) {
    const Turn t = TurnOf(value);
    if (RotateByQuarterTurns(destination, source, width, height, t)) return;
    auto inside = [&](int64_t column, int64_t row) {
        return column >= 0 && row >= 0 && column < width && row < height;
    };
    ForEachPosition(width, height, t, [&](int64_t x, int64_t y, int64_t sx, int64_t sy) {
        uint8_t* d = destination + (y * width + x) * 4;
        // The taps: this pixel's source position and the next pixel's.
        const int64_t x0 = sx >> 16, x1 = (sx + t.c) >> 16;
        const int64_t y0 = sy >> 16, y1 = (sy + t.s) >> 16;
        if (!inside(x0, y0) || !inside(x1, y0) || !inside(x0, y1) || !inside(x1, y1)) {
            std::memset(d, 0, 4);
            return;
        }
        const int64_t fx = (sx >> 8) & 255, fy = (sy >> 8) & 255;
        const uint8_t* p00 = source + (y0 * width + x0) * 4;
        const uint8_t* p10 = source + (y0 * width + x1) * 4;
        const uint8_t* p01 = source + (y1 * width + x0) * 4;
        const uint8_t* p11 = source + (y1 * width + x1) * 4;
        for (int c = 0; c < 4; ++c) {
            const int64_t top = p00[c] + (((int64_t{p10[c]} - p00[c]) * fx) >> 8);
            const int64_t bottom = p01[c] + (((int64_t{p11[c]} - p01[c]) * fx) >> 8);
            d[c] = uint8_t(top + (((bottom - top) * fy) >> 8));
        }
    });
}

int32_t RotateCg(NamedTreeNode* target, NamedTreeNode* other, int32_t, int32_t, int32_t, int32_t, int64_t value,
                 int32_t count, int32_t method) {
    RotationKernel kernel = nullptr;
    if (method == kRotateNearestFill) kernel = RotateCgNearestFill;
    if (method == kRotateNearestKeep) kernel = RotateCgNearestKeep;
    return Rotate(target, other, value, count, kernel);
}

int32_t RotateCgBilinear(NamedTreeNode* target, NamedTreeNode* other, int32_t, int32_t, int32_t, int32_t,
                         int64_t value, int32_t count, int32_t) {
    return Rotate(target, other, value, count, RotateCgBilinearKernel);
}

}  // namespace zk
