// Every entry of the four blend kernel tables against its rule, written out
// here from the mode formulas. One source image whose rows hold s and one
// destination whose columns hold d cover every (s, d) pair per channel.
// The entries served by the pixel kernel table are checked with its plain
// set, whose formulas are written out here too; the SSE set's agreement
// with the plain set is the pixel kernels' own test.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "layers/blend_kernels.h"
#include "layers/blend_lookup_tables.h"
#include "layers/blend_tables.h"
#include "layers/cg_image.h"
#include "layers/compositor.h"
#include "layers/mask_opacity_ramp.h"
#include "layers/pixel_kernels.h"
#include "tests/layers/blend_formulas.h"

#ifdef ZORVEK_HAVE_PIXMAN
#include <pixman.h>
#endif

namespace zk {
namespace {

using test::BlendFormula;
using test::Toward;

constexpr int kSide = 256;
using Pixel = std::array<int, 4>;

Pixel SourcePixel(int row, int column) {
    return {row, (row + 85) & 255, (row * 7) & 255, (column * 13 + row * 5) & 255};
}
Pixel DestinationPixel(int column) { return {column, (column * 3 + 1) & 255, 255 - column, (column * 11) & 255}; }
int MaskBlue(int row, int column) { return (row + column * 3) & 255; }

std::vector<uint8_t> Image(auto pixel_at) {
    std::vector<uint8_t> bytes(kSide * kSide * 4);
    for (int row = 0; row < kSide; ++row)
        for (int column = 0; column < kSide; ++column) {
            Pixel p = pixel_at(row, column);
            for (int c = 0; c < 4; ++c) bytes[(row * kSide + column) * 4 + c] = static_cast<uint8_t>(p[c]);
        }
    return bytes;
}

enum class Kind { kPlain, kSourceAlpha, kMask, kMaskSourceAlpha };

// The rule each entry follows, per pixel, with the plain pixel set's
// formulas for the entries it serves.
Pixel Expected(Kind kind, int mode, int opacity, const Pixel& s, const Pixel& d, int mask_weight) {
    Pixel out = d;
    const bool full = opacity >= 256;
    const int a = s[3];
    auto colour = [&](long long w, int shift) {
        for (int c = 0; c < 3; ++c) out[c] = Toward(d[c], BlendFormula(mode, s[c], d[c]), w, shift);
    };
    switch (kind) {
    case Kind::kPlain:
        for (int c = 0; c < 4; ++c) {
            const int f = BlendFormula(mode, s[c], d[c]);
            if (full) {
                out[c] = f;
                if (mode == 3) out[c] = (d[c] * (s[c] + 1)) >> 8;
                if (mode == 5) out[c] = test::Clamp255(d[c] + s[c] - ((d[c] * (s[c] + 1)) >> 8));
            } else if (mode == 0) {
                // Crossfade: halves at 128, complement form above it.
                if (opacity == 128) out[c] = (d[c] >> 1) + (s[c] >> 1);
                else if (opacity > 128) out[c] = Toward(s[c], d[c], 256 - opacity, 8);
                else out[c] = Toward(d[c], s[c], opacity, 8);
            } else if (mode == 1) {
                out[c] = std::min(d[c] + ((s[c] * opacity) >> 8), 255);
            } else {
                out[c] = Toward(d[c], f, opacity, 8);
            }
        }
        break;
    case Kind::kSourceAlpha:
        if (mode == 0) {
            // Alpha-over blends all four bytes with weights 256 - a and a + 1.
            const int w = full ? a : (opacity * a) >> 8;
            for (int c = 0; c < 4; ++c) out[c] = (d[c] * (256 - w) + s[c] * (w + 1)) >> 8;
        } else {
            colour(full ? a + 1 : (opacity * (a + 1)) >> 8, 8);
        }
        break;
    case Kind::kMask:
        if (mask_weight <= 1) break;
        if (mode == 0 && full) {
            for (int c = 0; c < 3; ++c) out[c] = d[c] - Toward(0, d[c] - s[c], mask_weight, 8);
        } else {
            colour(mask_weight, 8);
        }
        break;
    case Kind::kMaskSourceAlpha:
        if (mask_weight <= 1) break;
        colour(static_cast<long long>(mask_weight) * (mode == 0 ? a : a + 1), 16);
        break;
    }
    return out;
}

class BlendKernelsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        FillBlendLookupTables();
        BuildBlendTables();
    }
    void SetUp() override { ForcePlainPixelKernels(true); }
    void TearDown() override { ForcePlainPixelKernels(false); }

    // Runs one entry over every row and counts the pixels that differ from
    // the rule (reporting the first few).
    int Mismatches(Kind kind, int mode, int opacity) {
        const std::vector<uint8_t> source = Image(SourcePixel);
        const std::vector<uint8_t> mask = Image([](int row, int column) {
            return Pixel{MaskBlue(row, column), 0, 0, 0};
        });
        std::vector<uint8_t> destination = Image([](int, int column) { return DestinationPixel(column); });
        const BlendKernelTable& table = TheBlendKernelTable();
        const int entry = kind == Kind::kMaskSourceAlpha ? mode * 2 : BlendKernelEntry(mode, opacity);
        for (int row = 0; row < kSide; ++row) {
            uint8_t* d = destination.data() + row * kSide * 4;
            const uint8_t* s = source.data() + row * kSide * 4;
            const uint8_t* m = mask.data() + row * kSide * 4;
            switch (kind) {
            case Kind::kPlain: table.plain[entry](d, s, opacity, kSide * 4); break;
            case Kind::kSourceAlpha: table.source_alpha[entry](d, s, opacity, kSide * 4); break;
            case Kind::kMask: table.mask[entry](d, s, m, 0, 0, kSide * 4); break;
            case Kind::kMaskSourceAlpha: table.mask_source_alpha[entry](d, s, m, 0, 0, kSide * 4); break;
            }
        }
        int mismatches = 0;
        for (int row = 0; row < kSide; ++row) {
            for (int column = 0; column < kSide; ++column) {
                const Pixel want = Expected(kind, mode, opacity, SourcePixel(row, column), DestinationPixel(column),
                                            MaskOpacityRamp[MaskBlue(row, column)]);
                const uint8_t* got = destination.data() + (row * kSide + column) * 4;
                for (int c = 0; c < 4; ++c) {
                    if (got[c] == want[c]) continue;
                    if (++mismatches <= 3)
                        ADD_FAILURE() << "kind " << int(kind) << " mode " << mode << " opacity " << opacity << " row "
                                      << row << " column " << column << " byte " << c << ": got " << int(got[c])
                                      << ", want " << want[c];
                }
            }
        }
        return mismatches;
    }
};

constexpr int kOpacities[] = {0, 1, 77, 128, 200, 255, 256};

TEST_F(BlendKernelsTest, PlainTableFollowsItsRules) {
    for (int mode = 0; mode < kBlendModeCount; ++mode)
        for (int opacity : kOpacities) EXPECT_EQ(Mismatches(Kind::kPlain, mode, opacity), 0);
}

TEST_F(BlendKernelsTest, SourceAlphaTableFollowsItsRules) {
    for (int mode = 0; mode < kBlendModeCount; ++mode)
        for (int opacity : kOpacities) EXPECT_EQ(Mismatches(Kind::kSourceAlpha, mode, opacity), 0);
}

TEST_F(BlendKernelsTest, MaskTablesFollowTheirRules) {
    struct Ramp {
        int16_t level, softness, opacity;
    };
    // Hard edges, soft ramps (negative weights below them), softness 0
    // (level as opacity), and opacities below full.
    const Ramp ramps[] = {{128, 256, 256}, {0, 256, 256},  {256, 256, 200}, {100, 512, 256},
                          {200, 40, 256},  {128, 0, 256},  {90, 300, 150},  {256, 1000, 256}};
    for (const Ramp& r : ramps) {
        CgImage layer;
        layer.mask_level = r.level;
        layer.mask_softness = r.softness;
        layer.opacity = r.opacity;
        BuildMaskOpacityRamp(layer);
        for (int mode = 0; mode < kBlendModeCount; ++mode) {
            EXPECT_EQ(Mismatches(Kind::kMask, mode, r.opacity), 0) << "level " << r.level << " softness " << r.softness;
            EXPECT_EQ(Mismatches(Kind::kMaskSourceAlpha, mode, r.opacity), 0)
                << "level " << r.level << " softness " << r.softness;
        }
    }
}

TEST(MaskOpacityRampTest, HardEdgeAndRamp) {
    CgImage layer;
    layer.mask_softness = 256;
    layer.mask_level = 100;
    BuildMaskOpacityRamp(layer);
    EXPECT_EQ(MaskOpacityRamp[155], 0);
    EXPECT_EQ(MaskOpacityRamp[156], 256);
    layer.mask_level = 256;
    BuildMaskOpacityRamp(layer);
    EXPECT_EQ(MaskOpacityRamp[0], 256);
    layer.opacity = 128;
    BuildMaskOpacityRamp(layer);
    EXPECT_EQ(MaskOpacityRamp[0], 128);
    // Soft: e = 64 * 128 - 128 * 128 + 128 + i * 64, entry min(e, 255) + 1,
    // then (entry * 256) >> 8.
    layer = CgImage{};
    layer.mask_level = 128;
    layer.mask_softness = 128;
    BuildMaskOpacityRamp(layer);
    for (int i : {0, 100, 126, 127, 128, 255}) {
        int e = 64 * 128 - 128 * 128 + 128 + i * 64;
        EXPECT_EQ(MaskOpacityRamp[i], std::min(e, 255) + 1) << i;
    }
    // An opacity past full or below zero is clamped, not multiplied in.
    layer = CgImage{};
    layer.mask_softness = 256;
    layer.opacity = 1000;
    BuildMaskOpacityRamp(layer);
    EXPECT_EQ(MaskOpacityRamp[255], 256);
    layer.opacity = -5;
    BuildMaskOpacityRamp(layer);
    EXPECT_EQ(MaskOpacityRamp[255], 0);
}

TEST(BlendKernelEntryTest, ModeBytePastTheTablesDrawsNormal) {
    EXPECT_EQ(BlendKernelEntry(0, 256), 1);
    EXPECT_EQ(BlendKernelEntry(18, 255), 36);
    EXPECT_EQ(BlendKernelEntry(19, 256), 1);
    EXPECT_EQ(BlendKernelEntry(255, 100), 0);
}

TEST_F(BlendKernelsTest, UnusedEntriesDoNothing) {
    const BlendKernelTable& table = TheBlendKernelTable();
    std::vector<uint8_t> d(16, 7), s(16, 200), m(16, 255);
    for (int entry : {38, 39}) {
        table.plain[entry](d.data(), s.data(), 256, 16);
        table.source_alpha[entry](d.data(), s.data(), 256, 16);
        table.mask[entry](d.data(), s.data(), m.data(), 256, 256, 16);
        table.mask_source_alpha[entry](d.data(), s.data(), m.data(), 256, 256, 16);
    }
    EXPECT_EQ(d, std::vector<uint8_t>(16, 7));
}

#ifdef ZORVEK_HAVE_PIXMAN
// Normal, add, multiply and screen against pixman on opaque pixels, where
// premultiplied and straight colour are the same. Copy and saturated add
// agree exactly; pixman rounds s * d / 255 to nearest where the engine
// truncates or approximates, so multiply and screen agree to within one
// and exactly at 0 and 255.
TEST_F(BlendKernelsTest, AgreesWithPixmanOnOpaquePixels) {
    InstallPixelKernels();
    auto opaque_rows = Image([](int row, int) { return Pixel{row, row, row, 255}; });
    auto opaque_columns = [] { return Image([](int, int column) { return Pixel{column, column, column, 255}; }); };
    auto with_pixman = [&](pixman_op_t op) {
        std::vector<uint8_t> destination = opaque_columns();
        pixman_image_t* src = pixman_image_create_bits(PIXMAN_a8r8g8b8, kSide, kSide,
                                                       reinterpret_cast<uint32_t*>(opaque_rows.data()), kSide * 4);
        pixman_image_t* dst = pixman_image_create_bits(PIXMAN_a8r8g8b8, kSide, kSide,
                                                       reinterpret_cast<uint32_t*>(destination.data()), kSide * 4);
        pixman_image_composite32(op, src, nullptr, dst, 0, 0, 0, 0, 0, 0, kSide, kSide);
        pixman_image_unref(src);
        pixman_image_unref(dst);
        return destination;
    };
    auto with_table = [&](BlendRowKernel kernel) {
        std::vector<uint8_t> destination = opaque_columns();
        for (int row = 0; row < kSide; ++row)
            kernel(destination.data() + row * kSide * 4, opaque_rows.data() + row * kSide * 4, 256, kSide * 4);
        return destination;
    };
    const BlendKernelTable& table = TheBlendKernelTable();
    struct Case {
        const char* name;
        pixman_op_t op;
        BlendRowKernel kernel;
        int tolerance;
        bool plain_set_only;
    };
    const Case cases[] = {
        {"normal", PIXMAN_OP_OVER, table.plain[1], 0, false},
        {"normal, alpha", PIXMAN_OP_OVER, table.source_alpha[1], 0, false},
        {"add", PIXMAN_OP_ADD, table.plain[3], 0, false},
        // The SSE set caps the weight a + 1 at 255, so an opaque pixel
        // stops one short of the sum there: the formulas differ.
        {"add, alpha", PIXMAN_OP_ADD, table.source_alpha[3], 0, true},
        {"multiply", PIXMAN_OP_MULTIPLY, table.plain[7], 1, false},
        {"multiply, alpha", PIXMAN_OP_MULTIPLY, table.source_alpha[7], 1, false},
        {"screen", PIXMAN_OP_SCREEN, table.plain[11], 1, false},
        {"screen, alpha", PIXMAN_OP_SCREEN, table.source_alpha[11], 1, false},
    };
    for (const Case& c : cases) {
        for (bool plain_set : {true, false}) {
            if (!plain_set && c.plain_set_only) continue;
            ForcePlainPixelKernels(plain_set);
            const std::vector<uint8_t> theirs = with_pixman(c.op);
            const std::vector<uint8_t> ours = with_table(c.kernel);
            int worst = 0, bad_ends = 0;
            for (int row = 0; row < kSide; ++row) {
                for (int column = 0; column < kSide; ++column) {
                    const size_t i = size_t(row * kSide + column) * 4;
                    for (int ch = 0; ch < 3; ++ch) {
                        const int diff = std::abs(int(ours[i + ch]) - int(theirs[i + ch]));
                        worst = std::max(worst, diff);
                        const bool end = row == 0 || row == 255 || column == 0 || column == 255;
                        if (end && diff != 0) ++bad_ends;
                    }
                }
            }
            EXPECT_LE(worst, c.tolerance) << c.name << (plain_set ? " (plain set)" : " (installed set)");
            EXPECT_EQ(bad_ends, 0) << c.name << (plain_set ? " (plain set)" : " (installed set)");
        }
    }
}
#endif

}  // namespace
}  // namespace zk
