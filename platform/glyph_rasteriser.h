// Fonts for text drawn into layer images: the installed font families, and
// a rasteriser that draws one character into a 1-bit glyph cell, over
// fontconfig and FreeType.
//
// Names and characters cross this boundary as CP932 bytes (the engine's
// text) and are converted here. The face names Japanese games ask for
// ("ＭＳ ゴシック", "ＭＳ 明朝", ...) answer to the IPA faces through a small
// alias table: the family list carries each alias whose face is installed,
// and the rasteriser opens the face behind it.
//
// Threading: the script thread (each rasteriser is used by one thread).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zk::platform {

// Pitch flags of a family entry: 1 proportional or unknown, 0 fixed
// (including dual-width faces, whose one-byte characters are half wide).
inline constexpr uint8_t kPitchVariable = 1;
inline constexpr uint8_t kPitchFixed = 0;

struct FontFamilyEntry {
    std::string name;         // CP932
    uint8_t japanese = 0;     // 1 for the entry of a family that covers Japanese
    uint8_t pitch = kPitchVariable;
};

// Every installed family: one entry per family and script (a family that
// covers Japanese and Latin text has a Japanese entry followed by a Latin
// one), sorted by name for a stable numbering, then one entry for each
// alias whose face is installed.
std::vector<FontFamilyEntry> ListFontFamilies();

// The family an alias stands for ("ＭＳ ゴシック" -> "IPAGothic"), or the name
// itself when it is no alias. CP932 in and out.
std::string ResolveFaceAlias(std::string_view face);

// Draws characters of one face at one height into 1-bit cells: a square
// of `cell` x `cell` pixels, rows of cell / 8 bytes, top row first, most
// significant bit leftmost, 0 ink and 1 background. The character's cell
// box starts at (0, 0): the baseline lies on the row the face's ascent
// gives, the pen starts at column 0.
class GlyphRasteriser {
public:
    virtual ~GlyphRasteriser() = default;
    // Opens `face` (CP932, an alias or a family name) for a cell height of
    // `font_height` pixels (ascent + descent), with the bold face when one
    // exists, else emboldened outlines. False when no face can be opened
    // or the height is not positive.
    virtual bool Prepare(std::string_view face, int32_t font_height, bool bold) = 0;
    // Draws one character (one or two CP932 bytes) in black over `bits`,
    // which the caller has filled with 0xFF. A character the face lacks
    // draws the face's missing-glyph box; nothing is drawn before a
    // successful Prepare.
    virtual void Draw(std::string_view character, std::span<uint8_t> bits, int32_t cell) = 0;
};

// A FreeType rasteriser. It keeps the cells it has drawn for the prepared
// face and height, so a character drawn again is copied, not rendered.
std::unique_ptr<GlyphRasteriser> CreateFreeTypeRasteriser();

}  // namespace zk::platform
