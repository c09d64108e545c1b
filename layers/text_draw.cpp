#include "layers/text_draw.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/error_report.h"
#include "layers/cg_image.h"
#include "layers/dirty_rect.h"
#include "layers/text_style.h"

namespace zk {

namespace {

constexpr int32_t kMinGlyphSide = 2;
// Characters a slot keeps per prepared key; past this the cache starts over.
constexpr size_t kMaxCachedGlyphs = 4096;

// The cache key of a character: its one or two bytes and their count.
uint32_t GlyphCode(std::string_view character) {
    uint32_t code = uint32_t(character.size()) << 16;
    for (char c : character) code = (code & 0xFFFF0000u) | ((code & 0xFFu) << 8) | uint8_t(c);
    return code;
}

bool DrawableSize(int32_t size, int32_t height) {
    return size >= kMinGlyphSide && size <= kMaxGlyphSize && height >= kMinGlyphSide && height <= kMaxGlyphSize;
}

// A channel of 0xRRGGBB (shift 16, 8, 0).
int32_t Channel(uint32_t colour, int shift) { return int32_t((colour >> shift) & 0xFF); }

uint32_t Midpoint(uint32_t a, uint32_t b) {
    uint32_t m = 0;
    for (int shift : {16, 8, 0}) {
        const int32_t ca = Channel(a, shift);
        m |= uint32_t((ca + (Channel(b, shift) - ca) / 2) & 0xFF) << shift;
    }
    return m;
}

// a + (b - a) * t / span per channel, truncating toward zero, kept to 8 bits.
uint32_t Interpolate(uint32_t a, uint32_t b, int32_t t, int32_t span) {
    uint32_t out = 0;
    for (int shift : {16, 8, 0}) {
        const int32_t ca = Channel(a, shift);
        out |= uint32_t((ca + (Channel(b, shift) - ca) * t / span) & 0xFF) << shift;
    }
    return out;
}

// The layouts a quarter turn makes of layouts 1..8, for orientations 1..3.
constexpr uint8_t kTurnedLayout[3][8] = {
    {3, 4, 2, 1, 8, 5, 6, 7},
    {2, 1, 4, 3, 7, 8, 5, 6},
    {4, 3, 1, 2, 6, 7, 8, 5},
};

// Orientations beyond 3 place the glyph upright.
int32_t PlacedOrientation(int32_t orientation) { return orientation >= 0 && orientation <= 3 ? orientation : 0; }

// The target's pixels when the layer has an image whose block holds them.
uint8_t* TargetPixels(NamedTreeNode* target, int32_t& width, int32_t& height) {
    CgImage* image = LayerImage(target);
    if (image == nullptr || image->width <= 0 || image->height <= 0) return nullptr;
    if (image->owned_block.size() < uint64_t(image->width) * uint64_t(image->height) * 4) return nullptr;
    width = image->width;
    height = image->height;
    image->alpha_in_use = 1;
    return image->owned_block.data();
}

// What every pass of one glyph shares: the colour (0x00RRGGBB) and the
// coverage of each box pixel, by box row j and column i. The coverage is
// 255 or 0 for a plain glyph (ink or background) and 0..255 for a smoothed
// one; a row the cell does not reach is marked skipped.
struct GlyphPlan {
    bool smooth = false;
    int32_t size = 0;
    int32_t height = 0;
    int32_t orientation = 0;
    const uint32_t* colours = nullptr;  // size x height, row by row
    std::vector<uint8_t> coverage;      // size x height
    std::vector<uint8_t> row_drawn;     // height
};

// The gradient's colours over a box, kept for the style of the last glyph:
// a line of text asks for the same box again and again.
struct GradientCache {
    bool valid = false;
    std::array<uint32_t, 4> corners{};
    int32_t size = 0;
    int32_t height = 0;
    std::vector<uint32_t> colours;
};

const uint32_t* GradientColours(const std::array<uint32_t, 4>& corners, int32_t size, int32_t height) {
    static GradientCache cache;
    if (cache.valid && cache.corners == corners && cache.size == size && cache.height == height) {
        return cache.colours.data();
    }
    cache.colours.resize(size_t(size) * size_t(height));
    for (int32_t j = 0; j < height; ++j) {
        const uint32_t left = Interpolate(corners[0], corners[2], j, height - 1);
        const uint32_t right = Interpolate(corners[1], corners[3], j, height - 1);
        uint32_t* row = cache.colours.data() + size_t(j) * size_t(size);
        for (int32_t i = 0; i < size; ++i) row[i] = left == right ? left : Interpolate(left, right, i, size - 1);
    }
    cache.valid = true;
    cache.corners = corners;
    cache.size = size;
    cache.height = height;
    return cache.colours.data();
}

// The plan of the glyph in the current slot's cell; false when there is
// nothing to draw (a size outside the tables, no prepared cell).
bool PlanGlyph(bool smooth, uint32_t colour, uint32_t second_colour, int32_t layout, int32_t orientation,
               int32_t size, int32_t height, GlyphPlan& plan) {
    if (!DrawableSize(size, height)) return false;
    const GlyphSlotState& glyph = CurrentTextSlot().glyph;
    const int32_t cell = glyph.cell;
    if (cell <= 0 || glyph.bits.size() < size_t(cell) * size_t(cell) / 8) return false;
    if (second_colour == 0xFFFFFFFFu) second_colour = colour;
    plan.smooth = smooth;
    plan.size = size;
    plan.height = height;
    plan.orientation = PlacedOrientation(orientation);
    plan.colours = GradientColours(ComputeGradientCorners(layout, orientation, colour, second_colour), size, height);
    plan.coverage.assign(size_t(size) * size_t(height), 0);
    plan.row_drawn.assign(size_t(height), 0);
    // Rows of the cell per box row, in hundredths: at least 1, so that a box
    // much flatter than it is wide still steps through the cell.
    const int32_t ratio = std::max(1, 100 * height / size);
    const size_t row_bytes = size_t(cell) / 8;
    const uint8_t* bits = glyph.bits.data();
    for (int32_t j = 0; j < height; ++j) {
        const int32_t r = (smooth ? 400 : 100) * j / ratio;
        if (r + (smooth ? 3 : 0) >= cell) continue;
        plan.row_drawn[size_t(j)] = 1;
        const uint8_t* row = bits + size_t(r) * row_bytes;
        uint8_t* out = plan.coverage.data() + size_t(j) * size_t(size);
        if (!smooth) {
            for (int32_t i = 0; i < size; ++i) out[i] = (row[i >> 3] & (0x80 >> (i & 7))) == 0 ? 255 : 0;
            continue;
        }
        for (int32_t i = 0; i < size; ++i) {
            const size_t byte = size_t(i) >> 1;
            const int shift = (i & 1) == 0 ? 8 : 0;  // the high nibble's count sits in the table's upper byte
            int32_t count = 0;
            for (size_t k = 0; k < 4; ++k) count += (NibbleInkCountTable[row[k * row_bytes + byte]] >> shift) & 0xFF;
            out[i] = CoverageAlphaRamp[size_t(count)];
        }
    }
    return true;
}

// n / d truncated toward zero for |n| < 2^16 and 1 <= d <= 256, through a
// reciprocal rounded up (exact in that range: n times the rounding error
// stays below 2^32).
struct Reciprocals {
    std::array<uint64_t, 257> table{};
    Reciprocals() {
        for (uint64_t d = 1; d <= 256; ++d) table[d] = ((uint64_t{1} << 32) + d - 1) / d;
    }
};
const Reciprocals kReciprocals;

int32_t DivideTruncating(int32_t n, int32_t d) {
    const uint64_t magnitude = uint64_t(n < 0 ? -n : n);
    const auto q = int32_t((magnitude * kReciprocals.table[size_t(d)]) >> 32);
    return n < 0 ? -q : q;
}

// One pass of a planned glyph at (x, y).
void DrawPlannedPass(const GlyphPlan& plan, int32_t x, int32_t y, int32_t mode, NamedTreeNode* target) {
    int32_t image_width = 0;
    int32_t image_height = 0;
    uint8_t* pixels = TargetPixels(target, image_width, image_height);
    if (pixels == nullptr) return;
    const int32_t size = plan.size;
    const int32_t height = plan.height;
    // The whole box, as it is placed, must lie inside the image: a glyph is
    // drawn whole or not at all, never clipped into a neighbouring row.
    const bool quarter = plan.orientation == 1 || plan.orientation == 3;
    const int64_t box_width = quarter ? height : size;
    const int64_t box_height = quarter ? size : height;
    if (x < 0 || y < 0 || int64_t{x} + box_width > image_width || int64_t{y} + box_height > image_height) return;

    const ptrdiff_t stride = ptrdiff_t(image_width) * 4;
    for (int32_t j = 0; j < height; ++j) {
        if (plan.row_drawn[size_t(j)] == 0) continue;
        // The box pixel (0, j) and the step to (i + 1, j), by orientation.
        int32_t column = 0;
        int32_t line = 0;
        ptrdiff_t step = 4;
        switch (plan.orientation) {
            case 1: column = x + height - 1 - j; line = y; step = stride; break;
            case 2: column = x + size - 1; line = y + height - 1 - j; step = -4; break;
            case 3: column = x + j; line = y + size - 1; step = -stride; break;
            default: column = x; line = y + j; break;
        }
        uint8_t* p = pixels + ptrdiff_t(line) * stride + ptrdiff_t(column) * 4;
        const uint32_t* colours = plan.colours + size_t(j) * size_t(size);
        const uint8_t* coverage = plan.coverage.data() + size_t(j) * size_t(size);
        if (!plan.smooth) {
            for (int32_t i = 0; i < size; ++i, p += step) {
                const uint32_t s = colours[i];
                if (coverage[i] != 0) {
                    p[0] = uint8_t(s), p[1] = uint8_t(s >> 8), p[2] = uint8_t(s >> 16), p[3] = 255;
                } else if (mode == 0) {
                    p[0] = 0, p[1] = 0, p[2] = 0, p[3] = 255;
                }
            }
            continue;
        }
        if (mode == 0) {
            for (int32_t i = 0; i < size; ++i, p += step) {
                const uint32_t s = colours[i];
                p[0] = uint8_t(s), p[1] = uint8_t(s >> 8), p[2] = uint8_t(s >> 16), p[3] = coverage[i];
            }
            continue;
        }
        for (int32_t i = 0; i < size; ++i, p += step) {
            const uint32_t s = colours[i];
            const uint8_t sb = uint8_t(s), sg = uint8_t(s >> 8), sr = uint8_t(s >> 16);
            const int32_t c = coverage[i];
            const int32_t old_alpha = p[3];
            // Shortcuts that give the same bytes as the blend below. Over a
            // clear pixel the blend takes the colour with the coverage as
            // alpha; full coverage takes the colour, opaque; no coverage
            // keeps the alpha, and the colour too when the pixel is opaque
            // or already holds it.
            if (old_alpha == 0) {
                p[0] = sb, p[1] = sg, p[2] = sr, p[3] = uint8_t(c);
                continue;
            }
            if (c == 255) {
                p[0] = sb, p[1] = sg, p[2] = sr, p[3] = 255;
                continue;
            }
            if (c == 0 && (old_alpha == 255 || (p[0] == sb && p[1] == sg && p[2] == sr))) continue;
            const int32_t a = c + 1;
            const int32_t alpha = (old_alpha + a - ((old_alpha * a) >> 8) - 1) & 0xFF;
            p[0] = uint8_t(p[0] + DivideTruncating((sb - p[0]) * a, alpha + 1));
            p[1] = uint8_t(p[1] + DivideTruncating((sg - p[1]) * a, alpha + 1));
            p[2] = uint8_t(p[2] + DivideTruncating((sr - p[2]) * a, alpha + 1));
            p[3] = uint8_t(alpha);
        }
    }
    InvalidateLayer(target);
}

GlyphExtent MeasureGlyph(const GlyphSlotState& glyph, int32_t cell, int32_t size, int32_t height, int32_t smoothing,
                         size_t character_bytes);

void DrawGlyphPass(bool smooth, uint32_t colour, uint32_t second_colour, int32_t layout, int32_t orientation,
                   int32_t size, int32_t height, int32_t x, int32_t y, int32_t mode, NamedTreeNode* target) {
    GlyphPlan plan;
    if (PlanGlyph(smooth, colour, second_colour, layout, orientation, size, height, plan)) {
        DrawPlannedPass(plan, x, y, mode, target);
    }
}

}  // namespace

int32_t PrepareGlyphSlot(int32_t size, int32_t height, int32_t bold, int32_t font_height, int32_t cell) {
    TextSlot& slot = CurrentTextSlot();
    GlyphSlotState& glyph = slot.glyph;
    if (glyph.key_set && glyph.rasteriser != nullptr && glyph.key_size == size && glyph.key_height == height &&
        glyph.key_font_height == font_height && glyph.key_bold == bold && glyph.key_font_index == slot.font_index) {
        return 0;
    }
    glyph.key_set = false;
    glyph.glyphs.clear();
    if (glyph.rasteriser == nullptr) glyph.rasteriser = TheTextFontBackend().create_rasteriser();
    glyph.cell = cell;
    glyph.bits.assign(size_t(cell) * size_t(cell) / 8, 0xFF);
    if (glyph.rasteriser == nullptr || !glyph.rasteriser->Prepare(GetSlotFaceName(), font_height, bold != 0)) {
        // Left unprepared, so the next character tries again.
        ReportEngineError(kErrFontUnusable, true);
        return -1;
    }
    glyph.key_set = true;
    glyph.key_size = size;
    glyph.key_height = height;
    glyph.key_font_height = font_height;
    glyph.key_bold = bold;
    glyph.key_font_index = slot.font_index;
    return 1;
}

GlyphExtent RasteriseGlyph(std::string_view character, int32_t size, int32_t height, int32_t bold,
                           int32_t smoothing) {
    if (!DrawableSize(size, height) || character.empty()) return {};
    const int32_t cell = GlyphCellTable[size_t(size)];
    const int32_t font_height = smoothing == 1 ? 4 * size : size;
    if (PrepareGlyphSlot(size, height, bold, font_height, cell) < 0) return {};
    GlyphSlotState& glyph = CurrentTextSlot().glyph;
    const uint32_t code = GlyphCode(character.substr(0, 2));
    if (auto found = glyph.glyphs.find(code); found != glyph.glyphs.end() && found->second.bits.size() == glyph.bits.size()) {
        std::copy(found->second.bits.begin(), found->second.bits.end(), glyph.bits.begin());
        return {found->second.width, found->second.height};
    }
    std::fill(glyph.bits.begin(), glyph.bits.end(), uint8_t{0xFF});
    glyph.rasteriser->Draw(character.substr(0, 2), glyph.bits, cell);
    const GlyphExtent extent = MeasureGlyph(glyph, cell, size, height, smoothing, character.size());
    if (glyph.glyphs.size() >= kMaxCachedGlyphs) glyph.glyphs.clear();
    CachedGlyph& cached = glyph.glyphs[code];
    cached.bits = glyph.bits;
    cached.width = extent.width;
    cached.height = extent.height;
    cached.coverage.clear();
    cached.row_drawn.clear();
    return extent;
}

namespace {

GlyphExtent MeasureGlyph(const GlyphSlotState& glyph, int32_t cell, int32_t size, int32_t height, int32_t smoothing,
                         size_t character_bytes) {
    switch (GetSlotPitchFlag()) {
        case platform::kPitchVariable: {
            const size_t row_bytes = size_t(cell) / 8;
            int32_t right = 0;
            int32_t first_row = -1;
            for (int32_t r = 0; r < cell; ++r) {
                const uint8_t* row = glyph.bits.data() + size_t(r) * row_bytes;
                for (int32_t c = cell - 1; c >= 0; --c) {
                    if ((row[c >> 3] & (0x80 >> (c & 7))) == 0) {
                        right = std::max(right, c);
                        if (first_row < 0) first_row = r;
                        break;
                    }
                }
            }
            const int32_t ink_height = first_row < 0 ? 0 : cell - first_row;
            // The four-times cell is measured back in box pixels; a plain
            // cell already is in them.
            const int32_t scale = smoothing == 1 ? 4 : 1;
            return {std::min(size, right / scale + 4), std::min(height, ink_height / scale + 4)};
        }
        case platform::kPitchFixed:
            return {character_bytes >= 2 ? size : size / 2, height};
        default:
            return {std::min(size, 4), std::min(height, 4)};
    }
}

}  // namespace

std::array<uint32_t, 4> ComputeGradientCorners(int32_t layout, int32_t orientation, uint32_t a, uint32_t b) {
    if (layout < 0 || layout > 8) layout = 0;  // beyond the table: solid
    if (layout >= 1 && orientation >= 1 && orientation <= 3) layout = kTurnedLayout[orientation - 1][layout - 1];
    const uint32_t m = Midpoint(a, b);
    switch (layout) {
        case 1: return {a, a, b, b};
        case 2: return {b, b, a, a};
        case 3: return {a, b, a, b};
        case 4: return {b, a, b, a};
        case 5: return {a, m, m, b};
        case 6: return {m, a, b, m};
        case 7: return {b, m, m, a};
        case 8: return {m, b, a, m};
        default: return {a, a, a, a};
    }
}

void DrawPlainGlyph(uint32_t colour, uint32_t second_colour, int32_t layout, int32_t orientation, int32_t size,
                    int32_t height, int32_t x, int32_t y, int32_t mode, NamedTreeNode* target) {
    DrawGlyphPass(false, colour, second_colour, layout, orientation, size, height, x, y, mode, target);
}

void DrawSmoothGlyph(uint32_t colour, uint32_t second_colour, int32_t layout, int32_t orientation, int32_t size,
                     int32_t height, int32_t x, int32_t y, int32_t mode, NamedTreeNode* target) {
    DrawGlyphPass(true, colour, second_colour, layout, orientation, size, height, x, y, mode, target);
}

int32_t DrawTextGlyphToCg(std::string_view character, uint32_t colour, uint32_t second_colour, int32_t layout,
                          int32_t orientation, int32_t size, int32_t height, int32_t bold, int32_t smoothing,
                          int64_t edge_distance, int32_t x, int32_t y, int32_t mode, NamedTreeNode* target) {
    const GlyphExtent extent = RasteriseGlyph(character, size, height, bold, smoothing);
    if (CurrentTextSlot().glyph.key_set == false) return extent.width;
    // Every pass draws the same glyph in the same colours: planned once.
    static GlyphPlan plan;
    GlyphSlotState& glyph = CurrentTextSlot().glyph;
    const auto cached = glyph.glyphs.find(GlyphCode(character.substr(0, 2)));
    const bool smooth = smoothing == 1;
    if (cached != glyph.glyphs.end() && !cached->second.coverage.empty() && DrawableSize(size, height)) {
        if (second_colour == 0xFFFFFFFFu) second_colour = colour;
        plan.smooth = smooth;
        plan.size = size;
        plan.height = height;
        plan.orientation = PlacedOrientation(orientation);
        plan.colours =
            GradientColours(ComputeGradientCorners(layout, orientation, colour, second_colour), size, height);
        plan.coverage = cached->second.coverage;
        plan.row_drawn = cached->second.row_drawn;
    } else {
        if (!PlanGlyph(smooth, colour, second_colour, layout, orientation, size, height, plan)) return extent.width;
        if (cached != glyph.glyphs.end()) {
            cached->second.coverage = plan.coverage;
            cached->second.row_drawn = plan.row_drawn;
        }
    }
    auto pass = [&](int64_t px, int64_t py) {
        // Offsets that leave the 32-bit plane cannot fit any image.
        if (px < INT32_MIN || px > INT32_MAX || py < INT32_MIN || py > INT32_MAX) return;
        DrawPlannedPass(plan, int32_t(px), int32_t(py), mode, target);
    };
    // Distances past any image size all draw nothing; bounding them keeps
    // the offsets inside 64 bits.
    const int64_t d = std::min<int64_t>(edge_distance, int64_t{1} << 40);
    if (d <= 0) {
        pass(x, y);
    } else if (d <= 10) {
        pass(int64_t{x} + d, y);
        pass(x, int64_t{y} - d);
        pass(x, y);
        pass(x, int64_t{y} + d);
        pass(int64_t{x} - d, y);
    } else {
        const int64_t s = d - 10;
        pass(int64_t{x} + s, y);
        pass(x, int64_t{y} + s);
        pass(int64_t{x} + s, int64_t{y} + s);
    }
    return extent.width;
}

}  // namespace zk
