// The FreeType rasteriser and the font list over the IPA faces that the
// install step provides: properties of the drawn cells rather than pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "base/text_encoding.h"
#include "platform/glyph_rasteriser.h"

namespace zk::platform {
namespace {

constexpr int32_t kCell = 128;

struct Cell {
    std::vector<uint8_t> bits = std::vector<uint8_t>(kCell * kCell / 8, 0xFF);
    bool Ink(int32_t x, int32_t y) const { return (bits[size_t(y) * (kCell / 8) + size_t(x) / 8] & (0x80 >> (x & 7))) == 0; }
    int Count() const {
        int n = 0;
        for (int32_t y = 0; y < kCell; ++y)
            for (int32_t x = 0; x < kCell; ++x) n += Ink(x, y) ? 1 : 0;
        return n;
    }
    // Inclusive ink bounds: left, top, right, bottom (-1 when empty).
    std::array<int32_t, 4> Bounds() const {
        std::array<int32_t, 4> b = {kCell, kCell, -1, -1};
        for (int32_t y = 0; y < kCell; ++y)
            for (int32_t x = 0; x < kCell; ++x) {
                if (!Ink(x, y)) continue;
                b[0] = std::min(b[0], x), b[1] = std::min(b[1], y), b[2] = std::max(b[2], x), b[3] = std::max(b[3], y);
            }
        return b;
    }
};

Cell DrawOne(GlyphRasteriser& r, std::string_view utf8) {
    Cell cell;
    r.Draw(Utf8ToCp932(utf8), cell.bits, kCell);
    return cell;
}

TEST(GlyphRasteriserTest, FamilyListCarriesTheIpaFacesAndTheirAliases) {
    const std::vector<FontFamilyEntry> families = ListFontFamilies();
    auto find = [&](std::string_view utf8, uint8_t japanese) -> const FontFamilyEntry* {
        for (const FontFamilyEntry& e : families)
            if (e.name == Utf8ToCp932(utf8) && e.japanese == japanese) return &e;
        return nullptr;
    };
    const FontFamilyEntry* gothic = find("IPAGothic", 1);
    ASSERT_NE(gothic, nullptr);
    EXPECT_EQ(gothic->pitch, kPitchFixed);  // dual width: half-width Latin
    EXPECT_NE(find("IPAGothic", 0), nullptr) << "the Latin entry of the same family";
    const FontFamilyEntry* proportional = find("IPAPGothic", 1);
    ASSERT_NE(proportional, nullptr);
    EXPECT_EQ(proportional->pitch, kPitchVariable);
    for (const char* alias : {"ＭＳ ゴシック", "ＭＳ Ｐゴシック", "ＭＳ 明朝", "ＭＳ Ｐ明朝", "標準ゴシック", "標準明朝"}) {
        EXPECT_NE(find(alias, 1), nullptr) << alias;
    }
    EXPECT_EQ(find("ＭＳ Ｐゴシック", 1)->pitch, kPitchVariable);
    EXPECT_EQ(ResolveFaceAlias(Utf8ToCp932("ＭＳ ゴシック")), "IPAGothic");
    EXPECT_EQ(ResolveFaceAlias(Utf8ToCp932("ＭＳ Ｐゴシック")), "IPAPGothic");
    EXPECT_EQ(ResolveFaceAlias(Utf8ToCp932("ＭＳ 明朝")), "IPAMincho");
    EXPECT_EQ(ResolveFaceAlias("DejaVu Sans"), "DejaVu Sans");
}

TEST(GlyphRasteriserTest, JapaneseGlyphInsideItsBoxOnTheBaseline) {
    std::unique_ptr<GlyphRasteriser> r = CreateFreeTypeRasteriser();
    ASSERT_TRUE(r->Prepare(Utf8ToCp932("ＭＳ ゴシック"), 80, false));
    const Cell a = DrawOne(*r, "あ");
    const std::array<int32_t, 4> box = a.Bounds();
    ASSERT_GE(box[2], 0) << "ink";
    // Inside the 80-pixel character cell from (0, 0).
    EXPECT_GE(box[0], 0);
    EXPECT_GE(box[1], 0);
    EXPECT_LT(box[2], 80);
    EXPECT_LT(box[3], 80);
    EXPECT_GT(box[2] - box[0], 40) << "a full-width character";
    // Not the missing-glyph box: a private-use character draws that.
    const Cell missing = DrawOne(*r, "\xEE\x80\x80");
    EXPECT_NE(a.bits, missing.bits);
    const Cell i = DrawOne(*r, "い");
    EXPECT_NE(a.bits, i.bits);
    // Latin letters stand on one baseline; a descender goes below it.
    const Cell h = DrawOne(*r, "H");
    const Cell x = DrawOne(*r, "x");
    const Cell g = DrawOne(*r, "g");
    EXPECT_EQ(h.Bounds()[3], x.Bounds()[3]);
    EXPECT_GT(g.Bounds()[3], h.Bounds()[3]);
    EXPECT_GT(h.Bounds()[3], 40);
    EXPECT_LT(h.Bounds()[3], 80);
    // A character drawn again comes out the same (from the kept cells).
    EXPECT_EQ(DrawOne(*r, "あ").bits, a.bits);
}

TEST(GlyphRasteriserTest, BoldIsHeavierAndHeightScalesTheGlyph) {
    std::unique_ptr<GlyphRasteriser> r = CreateFreeTypeRasteriser();
    ASSERT_TRUE(r->Prepare(Utf8ToCp932("ＭＳ Ｐゴシック"), 80, false));
    const Cell regular = DrawOne(*r, "漢");
    ASSERT_TRUE(r->Prepare(Utf8ToCp932("ＭＳ Ｐゴシック"), 80, true));
    const Cell bold = DrawOne(*r, "漢");
    EXPECT_GT(bold.Count(), regular.Count() * 11 / 10);
    EXPECT_GE(bold.Bounds()[2] - bold.Bounds()[0], regular.Bounds()[2] - regular.Bounds()[0]);
    ASSERT_TRUE(r->Prepare(Utf8ToCp932("ＭＳ Ｐゴシック"), 40, false));
    const Cell small = DrawOne(*r, "漢");
    const int32_t small_height = small.Bounds()[3] - small.Bounds()[1];
    const int32_t big_height = regular.Bounds()[3] - regular.Bounds()[1];
    EXPECT_NEAR(small_height * 2, big_height, 4);
}

TEST(GlyphRasteriserTest, RefusalsAndBadInput) {
    std::unique_ptr<GlyphRasteriser> r = CreateFreeTypeRasteriser();
    Cell before;
    r->Draw("A", before.bits, kCell);  // nothing prepared: nothing drawn
    EXPECT_EQ(before.Count(), 0);
    EXPECT_FALSE(r->Prepare("IPAGothic", 0, false));
    EXPECT_FALSE(r->Prepare("IPAGothic", -20, false));
    ASSERT_TRUE(r->Prepare("IPAGothic", 40, false));
    // A lone lead byte, a cell that is not a multiple of 8, a buffer too
    // small for the cell: no crash, nothing outside the buffer.
    Cell lead;
    r->Draw("\x82", lead.bits, kCell);
    std::vector<uint8_t> small(16, 0xFF);
    r->Draw("A", small, kCell);
    EXPECT_EQ(small, std::vector<uint8_t>(16, 0xFF));
    r->Draw("A", lead.bits, 100);
}

}  // namespace
}  // namespace zk::platform
