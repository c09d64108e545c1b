#include "layers/text_style.h"

#include <algorithm>

#include "base/text_encoding.h"

namespace zk {

std::array<int32_t, 256> NibbleInkCountTable{};
std::array<uint8_t, 32> CoverageAlphaRamp{};
std::array<int32_t, kMaxGlyphSize + 1> GlyphCellTable{};

namespace {

// The faces a slot looks for at start-up, first installed wins (UTF-8).
constexpr const char* kDefaultFaces[] = {"ＭＳ ゴシック", "標準ゴシック", "ＭＳ Ｐゴシック", "ＭＳ 明朝", "標準明朝"};

int32_t ZeroBits(uint32_t nibble) { return 4 - __builtin_popcount(nibble & 0xF); }

}  // namespace

FontList& TheFontList() {
    static FontList list;
    return list;
}

TextFontBackend& TheTextFontBackend() {
    static TextFontBackend backend;
    return backend;
}

void EnumerateFonts() {
    FontList& list = TheFontList();
    list.entries = TheTextFontBackend().list_families();
    for (int32_t slot = 0; slot < kTextSlotCount; ++slot) {
        SelectFontSlot(slot);
        list.slots[size_t(slot)].font_index = 0;
        for (const char* face : kDefaultFaces) {
            if (SelectFaceByName(Utf8ToCp932(face)) == 1) break;
        }
    }
    SelectFontSlot(0);
    InitTextSlots();
}

void InitTextSlots() {
    for (uint32_t b = 0; b < 256; ++b) NibbleInkCountTable[b] = 256 * ZeroBits(b >> 4) + ZeroBits(b);
    for (int32_t n = 0; n < 32; ++n) CoverageAlphaRamp[size_t(n)] = uint8_t(std::min(18 * n, 255));
    for (int32_t s = 0; s <= kMaxGlyphSize; ++s) GlyphCellTable[size_t(s)] = ((4 * s) & ~31) + 64;
    for (TextSlot& slot : TheFontList().slots) {
        slot.style = TextStyle{};
        slot.glyph = GlyphSlotState{};
    }
}

void DeleteTextSlotObjects() {
    for (TextSlot& slot : TheFontList().slots) slot.glyph = GlyphSlotState{};
}

int32_t SelectFontSlot(int32_t slot) {
    if (slot >= 0 && slot < kTextSlotCount) TheFontList().current = slot;
    return 0;
}

TextSlot& CurrentTextSlot() {
    FontList& list = TheFontList();
    return list.slots[size_t(std::clamp(list.current, 0, kTextSlotCount - 1))];
}

int32_t SetSlotFontIndex(int32_t index) {
    if (index < 0 || index >= GetFontCount()) return 0;
    CurrentTextSlot().font_index = index;
    return 1;
}

int32_t SelectFaceByName(std::string_view name) {
    const auto& entries = TheFontList().entries;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].name == name) {
            CurrentTextSlot().font_index = int32_t(i);
            return 1;
        }
    }
    return 0;
}

std::string_view GetSlotFaceName() { return GetFontName(GetSlotFontIndex()); }

uint8_t GetSlotPitchFlag() {
    const auto& entries = TheFontList().entries;
    const int32_t index = GetSlotFontIndex();
    return index >= 0 && size_t(index) < entries.size() ? entries[size_t(index)].pitch : platform::kPitchVariable;
}

int32_t GetSlotFontIndex() { return CurrentTextSlot().font_index; }

std::string_view GetFontName(int32_t index) {
    const auto& entries = TheFontList().entries;
    return index >= 0 && size_t(index) < entries.size() ? std::string_view(entries[size_t(index)].name)
                                                        : std::string_view();
}

uint8_t GetFontScriptFlag(int32_t index) {
    const auto& entries = TheFontList().entries;
    if (index < 0 || size_t(index) >= entries.size()) return 1;
    return entries[size_t(index)].japanese != 0 ? 0 : 1;
}

int32_t GetFontCount() { return int32_t(TheFontList().entries.size()); }

}  // namespace zk
