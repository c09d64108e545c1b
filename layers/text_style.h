// Fonts and text style: the installed font families (FontList), the eight
// text slots with their TextStyle and glyph drawing state, the lookup
// tables the glyph drawing uses, and the two script commands that set and
// read the style (26 CmdSetTextStyle, 27 CmdQueryTextStyle).
//
// Script thread only; the list is built once at start-up.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/glyph_rasteriser.h"

namespace zk {

inline constexpr uint8_t kCmdSetTextStyle = 26;
inline constexpr uint8_t kCmdQueryTextStyle = 27;

inline constexpr int32_t kTextSlotCount = 8;
inline constexpr int32_t kMaxGlyphSize = 256;

struct TextStyle {
    int32_t size = 20;    // glyph box width, and the font's height
    int32_t height = 20;  // glyph box height (the glyph is stretched to it)
    uint32_t colour = 0xFFFFFF;
    uint32_t second_colour = 0xFFFFFF;  // 0xFFFFFFFF (-1) stands for the first colour
    uint8_t gradient_layout = 1;
    uint8_t orientation = 0;
    int32_t bold = 0;
    uint8_t draw_mode = 0;  // 0 the box replaces the pixels, 1 the glyph is blended over them
    uint8_t smoothing = 1;  // 1: four-times glyphs drawn with 16 coverage levels
};

// A character drawn with a slot's prepared key: its cell, the extent
// measured from it, and (once a line drew it) the coverage of its box.
struct CachedGlyph {
    std::vector<uint8_t> bits;  // the cell, as GlyphSlotState::bits
    int32_t width = 0, height = 0;
    std::vector<uint8_t> coverage;   // size x height; empty until planned
    std::vector<uint8_t> row_drawn;  // height
};

// The prepared drawing state of a slot: the rasteriser with its face, the
// glyph cell bitmap and the key it was prepared for, and the characters
// drawn with that key (dropped when the slot is prepared anew).
struct GlyphSlotState {
    std::unique_ptr<platform::GlyphRasteriser> rasteriser;
    std::vector<uint8_t> bits;  // cell x cell / 8 bytes
    int32_t cell = 0;
    bool key_set = false;
    int32_t key_size = 0, key_height = 0, key_font_height = 0, key_bold = 0, key_font_index = 0;
    std::unordered_map<uint32_t, CachedGlyph> glyphs;  // by CP932 bytes and their count
};

struct TextSlot {
    TextStyle style;
    int32_t font_index = 0;  // 0-based entry of the FontList
    GlyphSlotState glyph;
};

struct FontList {
    std::vector<platform::FontFamilyEntry> entries;
    std::array<TextSlot, kTextSlotCount> slots;
    int32_t current = 0;
};
FontList& TheFontList();

// Where the family list and the rasterisers come from: FreeType and
// fontconfig unless a test puts doubles in (before EnumerateFonts).
struct TextFontBackend {
    std::vector<platform::FontFamilyEntry> (*list_families)() = platform::ListFontFamilies;
    std::unique_ptr<platform::GlyphRasteriser> (*create_rasteriser)() = platform::CreateFreeTypeRasteriser;
};
TextFontBackend& TheTextFontBackend();

// The lookup tables of the glyph drawing.
// NibbleInkCountTable[b] = 256 x (0 bits among bits 7..4) + (0 bits among 3..0).
extern std::array<int32_t, 256> NibbleInkCountTable;
// CoverageAlphaRamp[n] = min(18 n, 255).
extern std::array<uint8_t, 32> CoverageAlphaRamp;
// GlyphCellTable[s] = ((4 s) & ~31) + 64: the side of the square glyph cell.
extern std::array<int32_t, kMaxGlyphSize + 1> GlyphCellTable;

// Start-up: builds the list, gives each slot the first installed of the
// default faces ("ＭＳ ゴシック", "標準ゴシック", "ＭＳ Ｐゴシック", "ＭＳ 明朝",
// "標準明朝"; entry 0 when none is), selects slot 0 and runs InitTextSlots.
void EnumerateFonts();
// The tables, and every slot's style back to the defaults with its drawing
// state released.
void InitTextSlots();
// Releases every slot's drawing state (shutdown).
void DeleteTextSlotObjects();

// Slot 0..7 becomes current (others are ignored). 0.
int32_t SelectFontSlot(int32_t slot);
TextSlot& CurrentTextSlot();
// 1 and the current slot's font := index when 0 <= index < count; else 0.
int32_t SetSlotFontIndex(int32_t index);
// 1 when an entry's name equals `name` byte for byte (the first becomes the
// current slot's font); 0 and no change otherwise.
int32_t SelectFaceByName(std::string_view name);
std::string_view GetSlotFaceName();
uint8_t GetSlotPitchFlag();
int32_t GetSlotFontIndex();
std::string_view GetFontName(int32_t index);  // empty beyond the list
uint8_t GetFontScriptFlag(int32_t index);     // 0 Japanese, 1 other
int32_t GetFontCount();

int32_t CmdSetTextStyle();
int32_t CmdQueryTextStyle();

// Commands 26 and 27 into the command table.
void RegisterTextStyleCommands();

}  // namespace zk
