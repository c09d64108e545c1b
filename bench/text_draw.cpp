// A 40-character Japanese line drawn smoothed with an edge (five passes a
// glyph) into a layer image, with the slot's glyph cells kept (cached) and
// with every glyph rendered afresh (uncached: the size alternates, so the
// slot is prepared anew for every line), against FreeType rendering the
// same glyphs bare (FT_Load_Char + FT_Render_Glyph, mono, same pixel size)
// in the same run. Prints lines per second and the ratios to the bare
// rendering.
//
// The like-for-like line: the cached drawing against FreeType with cached
// bitmaps (each glyph rendered once, anti-aliased at the box size) blitted
// into the same image with the same five passes, a plain per-pixel blend
// of the colour by the bitmap's coverage, each line onto a cleared image;
// best of interleaved rounds.
// Informational only: it never fails.
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <string>
#include <vector>

#include "base/text_encoding.h"
#include "core/named_tree.h"
#include "layers/cg_image.h"
#include "layers/text_draw.h"
#include "layers/text_style.h"
#include "bench/bench_rounds.h"

namespace {

constexpr double kMinSeconds = 0.3;
constexpr int32_t kSize = 20;

const char* const kLine = "吾輩は猫である。名前はまだ無い。どこで生れたかとんと見当がつかぬ。何でも薄暗いじ";

template <class F>
double LinesPerSecond(F&& line) {
    using Clock = std::chrono::steady_clock;
    int64_t lines = 0;
    const auto start = Clock::now();
    double seconds = 0;
    do {
        line(lines);
        ++lines;
        seconds = std::chrono::duration<double>(Clock::now() - start).count();
    } while (seconds < kMinSeconds);
    return double(lines) / seconds;
}

std::vector<std::string> Characters(const std::string& cp932) {
    std::vector<std::string> out;
    for (size_t i = 0; i < cp932.size();) {
        const size_t n = (uint8_t(cp932[i]) >= 0x81 && i + 1 < cp932.size()) ? 2 : 1;
        out.push_back(cp932.substr(i, n));
        i += n;
    }
    return out;
}

std::string FaceFile(const char* family) {
    FcInit();
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(family));
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    std::string file;
    FcChar8* path = nullptr;
    if (match != nullptr && FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch) file = (const char*)path;
    if (match != nullptr) FcPatternDestroy(match);
    FcPatternDestroy(pattern);
    return file;
}

}  // namespace

int main() {
    using namespace zk;
    const std::string line = Utf8ToCp932(kLine);
    const std::vector<std::string> characters = Characters(line);
    const std::u32string code_points = [&] {
        std::u32string out;
        const std::string utf8 = kLine;
        for (size_t i = 0; i < utf8.size();) {
            const auto c = uint8_t(utf8[i]);
            const size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
            uint32_t cp = n == 1 ? c : n == 2 ? c & 0x1F : n == 3 ? c & 0x0F : c & 0x07;
            for (size_t k = 1; k < n; ++k) cp = cp << 6 | (uint8_t(utf8[i + k]) & 0x3F);
            out.push_back(cp);
            i += n;
        }
        return out;
    }();

    InitPathCharTable();
    EnumerateFonts();
    NamedTreeNode* root = CreateRootNode();
    NamedTreeNode* layer = CreateTreeNode(root, "line", false, 1);
    CgImage* image = CreateCgImage(layer);
    image->width = kSize * int32_t(characters.size()) + 8;
    image->height = kSize + 8;
    AllocCgPixels(*image, image->width, image->height);

    auto draw_line = [&](int32_t size) {
        int32_t pen = 2;
        for (const std::string& c : characters) {
            pen += DrawTextGlyphToCg(c, 0xFFFFFF, 0x8080FF, 1, 0, size, kSize, 0, 1, 1, pen, 2, 1, layer);
        }
    };
    draw_line(kSize);  // prepare the slot and keep the cells
    const double cached = LinesPerSecond([&](int64_t) { draw_line(kSize); });
    const double uncached = LinesPerSecond([&](int64_t n) { draw_line(n % 2 == 0 ? kSize - 1 : kSize); });

    FT_Library library = nullptr;
    FT_Face face = nullptr;
    const std::string file = FaceFile("IPAGothic");
    if (FT_Init_FreeType(&library) != 0 || file.empty() || FT_New_Face(library, file.c_str(), 0, &face) != 0) {
        std::printf("text_draw: IPAGothic not found; cached %.0f lines/s, uncached %.0f lines/s\n", cached, uncached);
        return 0;
    }
    FT_Set_Pixel_Sizes(face, 0, 4 * kSize);
    const double bare = LinesPerSecond([&](int64_t) {
        for (char32_t cp : code_points) {
            if (FT_Load_Char(face, cp, FT_LOAD_TARGET_MONO) == 0) FT_Render_Glyph(face->glyph, FT_RENDER_MODE_MONO);
        }
    });
    // FreeType with cached bitmaps and a blit: each glyph rendered once at
    // the box size, then blended into the image by five passes per glyph.
    struct Bitmap {
        int32_t width = 0, rows = 0, left = 0, top = 0;
        std::vector<uint8_t> coverage;
    };
    std::vector<Bitmap> bitmaps;
    FT_Set_Pixel_Sizes(face, 0, kSize);
    for (char32_t cp : code_points) {
        Bitmap b;
        if (FT_Load_Char(face, cp, FT_LOAD_RENDER) == 0) {
            const FT_Bitmap& bm = face->glyph->bitmap;
            b.width = int32_t(bm.width);
            b.rows = int32_t(bm.rows);
            b.left = face->glyph->bitmap_left;
            b.top = kSize - 4 - face->glyph->bitmap_top;
            for (int32_t r = 0; r < b.rows; ++r)
                for (int32_t c = 0; c < b.width; ++c) b.coverage.push_back(bm.buffer[r * bm.pitch + c]);
        }
        bitmaps.push_back(std::move(b));
    }
    std::vector<uint8_t> canvas(size_t(image->width) * size_t(image->height) * 4, 0);
    const uint32_t colour = 0xFFFFFF;
    auto blit = [&](const Bitmap& b, int32_t x, int32_t y) {
        x += b.left;
        y += std::max(0, b.top);
        if (x < 0 || y < 0 || x + b.width > image->width || y + b.rows > image->height) return;
        for (int32_t r = 0; r < b.rows; ++r) {
            uint8_t* p = canvas.data() + (size_t(y + r) * size_t(image->width) + size_t(x)) * 4;
            const uint8_t* cov = b.coverage.data() + size_t(r) * size_t(b.width);
            for (int32_t c = 0; c < b.width; ++c, p += 4) {
                const uint32_t a = cov[c];
                for (int k = 0; k < 3; ++k) {
                    const uint32_t sv = (colour >> (8 * k)) & 0xFF;
                    p[k] = uint8_t((sv * a + p[k] * (255 - a) + 127) / 255);
                }
                p[3] = uint8_t(a + (p[3] * (255 - a) + 127) / 255);
            }
        }
    };
    auto blit_line = [&] {
        int32_t pen = 2;
        for (const Bitmap& b : bitmaps) {
            blit(b, pen + 1, 2);
            blit(b, pen, 1);
            blit(b, pen, 2);
            blit(b, pen, 3);
            blit(b, pen - 1, 2);
            pen += kSize;
        }
    };
    constexpr int kLinesPerBatch = 200;
    // Each line goes onto a cleared image, as a new line of a message does;
    // both sides clear the same number of bytes.
    const size_t image_bytes = canvas.size();
    const std::vector<zk::bench::Timing> text = zk::bench::Interleaved(
        7, {[&] {
                for (int i = 0; i < kLinesPerBatch; ++i) {
                    std::memset(image->owned_block.data(), 0, image_bytes);
                    draw_line(kSize);
                }
            },
            [&] {
                for (int i = 0; i < kLinesPerBatch; ++i) {
                    std::memset(canvas.data(), 0, image_bytes);
                    blit_line();
                }
            }});

    std::printf("text_draw: %zu characters at size %d, smoothed, edge 1 (five passes)\n", characters.size(), kSize);
    std::printf("  bare FreeType render (mono at 4x, no blit)  %9.0f lines/s\n", bare);
    std::printf("  drawn, cached         %9.0f lines/s   ratio to the bare render %.2f\n", cached, cached / bare);
    std::printf("  drawn, uncached       %9.0f lines/s   ratio to the bare render %.2f\n", uncached, uncached / bare);
    std::printf("  per line: drawn from cache %.1f us, FreeType cached bitmaps + blit %.1f us\n",
                text[0].best / kLinesPerBatch * 1e6, text[1].best / kLinesPerBatch * 1e6);
    zk::bench::PrintRatio("text vs FreeType cached + blit", text[0], text[1], 1e6 / kLinesPerBatch, "us/line");
    FT_Done_Face(face);
    FT_Done_FreeType(library);
    DeleteTextSlotObjects();
    FreeTreeNode(root);
    return 0;
}
