// A glyph rasteriser with known bitmaps, and a font list of three faces,
// for the text drawing tests. Each one-byte character names a pattern
// drawn into the cell (0 bits are ink):
//   'F' every pixel ink          'N' no ink
//   'H' ink in rows r % 4 < 2 (half of every 4 x 4 block)
//   'L' ink in columns 0..19 from row 8 down
// Any other character draws 'F'.
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "base/text_encoding.h"
#include "layers/text_style.h"
#include "platform/glyph_rasteriser.h"

namespace zk::text_test {

struct FakeGlyphLog {
    int prepares = 0;
    int draws = 0;
    std::string face;
    int32_t font_height = 0;
    bool bold = false;
    bool fail = false;  // Prepare refuses
};
inline FakeGlyphLog& GlyphLog() {
    static FakeGlyphLog log;
    return log;
}

class FakeRasteriser final : public platform::GlyphRasteriser {
public:
    bool Prepare(std::string_view face, int32_t font_height, bool bold) override {
        FakeGlyphLog& log = GlyphLog();
        ++log.prepares;
        log.face = std::string(face);
        log.font_height = font_height;
        log.bold = bold;
        return !log.fail;
    }
    void Draw(std::string_view character, std::span<uint8_t> bits, int32_t cell) override {
        ++GlyphLog().draws;
        const size_t row_bytes = size_t(cell) / 8;
        const char pattern = character.size() == 1 ? character[0] : 'F';
        for (int32_t r = 0; r < cell; ++r) {
            uint8_t* row = bits.data() + size_t(r) * row_bytes;
            for (int32_t c = 0; c < cell; ++c) {
                bool ink = true;
                if (pattern == 'N') ink = false;
                if (pattern == 'H') ink = r % 4 < 2;
                if (pattern == 'L') ink = c < 20 && r >= 8;
                if (ink) row[c >> 3] = uint8_t(row[c >> 3] & ~(0x80 >> (c & 7)));
            }
        }
    }
};

// "Fake Gothic" (Japanese, proportional), "Fake Mono" (fixed) and the
// alias "ＭＳ ゴシック" (proportional) at entry 2.
inline std::vector<platform::FontFamilyEntry> FakeFamilies() {
    return {{"Fake Gothic", 1, platform::kPitchVariable},
            {"Fake Mono", 0, platform::kPitchFixed},
            {Utf8ToCp932("ＭＳ ゴシック"), 1, platform::kPitchVariable}};
}

// Puts the fakes in and builds the list and slots from them.
inline void UseFakeGlyphs() {
    GlyphLog() = FakeGlyphLog{};
    TheTextFontBackend().list_families = FakeFamilies;
    TheTextFontBackend().create_rasteriser = [] {
        return std::unique_ptr<platform::GlyphRasteriser>(std::make_unique<FakeRasteriser>());
    };
    EnumerateFonts();
}

inline void RestoreGlyphBackend() {
    DeleteTextSlotObjects();
    TheTextFontBackend() = TextFontBackend{};
}

}  // namespace zk::text_test
