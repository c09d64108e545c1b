#include "platform/glyph_rasteriser.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <map>
#include <unordered_map>

#include "base/text_encoding.h"

namespace zk::platform {

namespace {

// The face names Japanese games ask for, and the installed faces that
// answer to them (both UTF-8).
struct FaceAlias {
    const char* alias;
    const char* family;
};
constexpr FaceAlias kFaceAliases[] = {
    {"ＭＳ ゴシック", "IPAGothic"}, {"ＭＳ Ｐゴシック", "IPAPGothic"}, {"ＭＳ 明朝", "IPAMincho"},
    {"ＭＳ Ｐ明朝", "IPAPMincho"},  {"標準ゴシック", "IPAGothic"},   {"標準明朝", "IPAMincho"},
};

// Cells kept per prepared face and height before the cache starts afresh.
constexpr size_t kCachedCellLimit = 4096;

struct FamilyFacts {
    bool japanese = false;
    bool latin = false;
    uint8_t pitch = kPitchVariable;
};

uint8_t PitchOf(int spacing) {
    switch (spacing) {
        case FC_MONO:
        case FC_DUAL:
        case FC_CHARCELL: return kPitchFixed;
        default: return kPitchVariable;
    }
}

// Installed families by their first (UTF-8) name.
std::map<std::string, FamilyFacts> InstalledFamilies() {
    std::map<std::string, FamilyFacts> families;
    if (FcInit() == FcFalse) return families;
    FcPattern* pattern = FcPatternCreate();
    FcObjectSet* objects = FcObjectSetBuild(FC_FAMILY, FC_SPACING, FC_LANG, nullptr);
    FcFontSet* set = pattern != nullptr && objects != nullptr ? FcFontList(nullptr, pattern, objects) : nullptr;
    if (set != nullptr) {
        for (int i = 0; i < set->nfont; ++i) {
            FcChar8* name = nullptr;
            if (FcPatternGetString(set->fonts[i], FC_FAMILY, 0, &name) != FcResultMatch || name == nullptr) continue;
            auto [it, fresh] = families.try_emplace(reinterpret_cast<const char*>(name));
            FamilyFacts& facts = it->second;
            int spacing = FC_PROPORTIONAL;
            if (FcPatternGetInteger(set->fonts[i], FC_SPACING, 0, &spacing) == FcResultMatch && fresh) {
                facts.pitch = PitchOf(spacing);
            }
            FcLangSet* langs = nullptr;
            if (FcPatternGetLangSet(set->fonts[i], FC_LANG, 0, &langs) == FcResultMatch && langs != nullptr) {
                if (FcLangSetHasLang(langs, reinterpret_cast<const FcChar8*>("ja")) == FcLangEqual) facts.japanese = true;
                if (FcLangSetHasLang(langs, reinterpret_cast<const FcChar8*>("en")) == FcLangEqual) facts.latin = true;
            }
        }
        FcFontSetDestroy(set);
    }
    if (objects != nullptr) FcObjectSetDestroy(objects);
    if (pattern != nullptr) FcPatternDestroy(pattern);
    return families;
}

FT_Library Library() {
    // One library for the run: the faces of every slot hang on it.
    static FT_Library library = [] {
        FT_Library made = nullptr;
        if (FT_Init_FreeType(&made) != 0) return FT_Library{nullptr};
        return made;
    }();
    return library;
}

// The code point of one CP932 character; 0 when it does not convert.
uint32_t CodePointOf(std::string_view character) {
    const std::string utf8 = Cp932ToUtf8(character);
    if (utf8.empty()) return 0;
    const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
    const size_t n = utf8.size();
    if (s[0] < 0x80) return s[0];
    if ((s[0] & 0xE0) == 0xC0 && n >= 2) return (uint32_t(s[0] & 0x1F) << 6) | (s[1] & 0x3F);
    if ((s[0] & 0xF0) == 0xE0 && n >= 3) {
        return (uint32_t(s[0] & 0x0F) << 12) | (uint32_t(s[1] & 0x3F) << 6) | (s[2] & 0x3F);
    }
    if ((s[0] & 0xF8) == 0xF0 && n >= 4) {
        return (uint32_t(s[0] & 0x07) << 18) | (uint32_t(s[1] & 0x3F) << 12) | (uint32_t(s[2] & 0x3F) << 6) |
               (s[3] & 0x3F);
    }
    return 0;
}

class FreeTypeRasteriser final : public GlyphRasteriser {
public:
    ~FreeTypeRasteriser() override { CloseFace(); }

    bool Prepare(std::string_view face, int32_t font_height, bool bold) override {
        prepared_ = false;
        cells_.clear();
        if (font_height <= 0 || Library() == nullptr) return false;
        const std::string family = Cp932ToUtf8(ResolveFaceAlias(face));
        std::string file;
        int index = 0;
        int weight = FC_WEIGHT_REGULAR;
        if (!MatchFace(family, bold, file, index, weight)) return false;
        if (face_ == nullptr || file != file_ || index != index_) {
            CloseFace();
            if (FT_New_Face(Library(), file.c_str(), index, &face_) != 0) {
                face_ = nullptr;
                return false;
            }
            file_ = file;
            index_ = index;
        }
        if (!FT_IS_SCALABLE(face_)) return false;
        // The height is the face's cell (ascent + descent), as the engine's
        // text sizes have always meant; the em follows from it.
        int32_t ascent = face_->ascender;
        int32_t descent = -face_->descender;
        if (const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face_, FT_SFNT_OS2));
            os2 != nullptr && os2->version != 0xFFFF && os2->usWinAscent + os2->usWinDescent > 0) {
            ascent = os2->usWinAscent;
            descent = os2->usWinDescent;
        }
        if (ascent + descent <= 0 || face_->units_per_EM == 0) return false;
        const int64_t em26_6 = int64_t{font_height} * 64 * face_->units_per_EM / (ascent + descent);
        if (em26_6 <= 0 || FT_Set_Char_Size(face_, 0, static_cast<FT_F26Dot6>(em26_6), 72, 72) != 0) return false;
        baseline_ = static_cast<int32_t>((int64_t{ascent} * font_height + (ascent + descent) / 2) / (ascent + descent));
        embolden_ = bold && weight < FC_WEIGHT_DEMIBOLD;
        prepared_ = true;
        return true;
    }

    void Draw(std::string_view character, std::span<uint8_t> bits, int32_t cell) override {
        if (!prepared_ || cell <= 0 || cell % 8 != 0) return;
        const size_t row_bytes = size_t(cell) / 8;
        const size_t bytes = row_bytes * size_t(cell);
        if (bits.size() < bytes || character.empty() || character.size() > 2) return;
        if (cell != cached_cell_) {
            cells_.clear();
            cached_cell_ = cell;
        }
        const uint32_t key = character.size() == 2
                                 ? (uint32_t(uint8_t(character[0])) << 8 | uint8_t(character[1])) | 0x10000
                                 : uint8_t(character[0]);
        if (auto found = cells_.find(key); found != cells_.end()) {
            std::copy(found->second.begin(), found->second.end(), bits.begin());
            return;
        }
        Render(character, bits.first(bytes), cell, row_bytes);
        if (cells_.size() >= kCachedCellLimit) cells_.clear();
        cells_.emplace(key, std::vector<uint8_t>(bits.begin(), bits.begin() + static_cast<ptrdiff_t>(bytes)));
    }

private:
    void CloseFace() {
        if (face_ != nullptr) FT_Done_Face(face_);
        face_ = nullptr;
        file_.clear();
    }

    static bool MatchFace(const std::string& family, bool bold, std::string& file, int& index, int& weight) {
        if (FcInit() == FcFalse) return false;
        FcPattern* pattern = FcPatternCreate();
        if (pattern == nullptr) return false;
        FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
        FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
        FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
        FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
        FcDefaultSubstitute(pattern);
        FcResult result = FcResultNoMatch;
        FcPattern* match = FcFontMatch(nullptr, pattern, &result);
        FcPatternDestroy(pattern);
        if (match == nullptr) return false;
        FcChar8* path = nullptr;
        bool found = FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch && path != nullptr;
        if (found) {
            file = reinterpret_cast<const char*>(path);
            if (FcPatternGetInteger(match, FC_INDEX, 0, &index) != FcResultMatch) index = 0;
            if (FcPatternGetInteger(match, FC_WEIGHT, 0, &weight) != FcResultMatch) weight = FC_WEIGHT_REGULAR;
            // The match reports the weight asked for; a face lighter than it
            // comes with the embolden flag, and is drawn emboldened.
            FcBool embolden = FcFalse;
            if (FcPatternGetBool(match, FC_EMBOLDEN, 0, &embolden) == FcResultMatch && embolden == FcTrue) {
                weight = FC_WEIGHT_REGULAR;
            }
        }
        FcPatternDestroy(match);
        return found;
    }

    void Render(std::string_view character, std::span<uint8_t> bits, int32_t cell, size_t row_bytes) {
        const FT_UInt glyph = FT_Get_Char_Index(face_, CodePointOf(character));
        if (FT_Load_Glyph(face_, glyph, FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_MONO) != 0) return;
        FT_GlyphSlot slot = face_->glyph;
        if (embolden_ && slot->format == FT_GLYPH_FORMAT_OUTLINE) FT_GlyphSlot_Embolden(slot);
        if (FT_Render_Glyph(slot, FT_RENDER_MODE_MONO) != 0) return;
        const FT_Bitmap& bitmap = slot->bitmap;
        if (bitmap.pixel_mode != FT_PIXEL_MODE_MONO || bitmap.buffer == nullptr) return;
        const int32_t left = slot->bitmap_left;
        const int32_t top = baseline_ - slot->bitmap_top;
        const int32_t pitch = bitmap.pitch;
        for (int32_t r = 0; r < int32_t(bitmap.rows); ++r) {
            const int32_t y = top + r;
            if (y < 0 || y >= cell) continue;
            const uint8_t* source = pitch >= 0 ? bitmap.buffer + int64_t{r} * pitch
                                               : bitmap.buffer + (int64_t(bitmap.rows) - 1 - r) * -int64_t{pitch};
            uint8_t* out = bits.data() + size_t(y) * row_bytes;
            for (int32_t c = 0; c < int32_t(bitmap.width); ++c) {
                if ((source[c >> 3] & (0x80 >> (c & 7))) == 0) continue;
                const int32_t x = left + c;
                if (x < 0 || x >= cell) continue;
                out[x >> 3] = uint8_t(out[x >> 3] & ~(0x80 >> (x & 7)));
            }
        }
    }

    FT_Face face_ = nullptr;
    std::string file_;
    int index_ = 0;
    int32_t baseline_ = 0;
    bool embolden_ = false;
    bool prepared_ = false;
    int32_t cached_cell_ = 0;
    std::unordered_map<uint32_t, std::vector<uint8_t>> cells_;
};

}  // namespace

std::vector<FontFamilyEntry> ListFontFamilies() {
    const std::map<std::string, FamilyFacts> families = InstalledFamilies();
    std::vector<FontFamilyEntry> entries;
    for (const auto& [name, facts] : families) {
        const std::string cp932 = Utf8ToCp932(name);
        if (facts.japanese) entries.push_back({cp932, 1, facts.pitch});
        if (facts.latin || !facts.japanese) entries.push_back({cp932, 0, facts.pitch});
    }
    for (const FaceAlias& alias : kFaceAliases) {
        auto target = families.find(alias.family);
        if (target == families.end()) continue;
        entries.push_back({Utf8ToCp932(alias.alias), uint8_t(target->second.japanese ? 1 : 0), target->second.pitch});
    }
    return entries;
}

std::string ResolveFaceAlias(std::string_view face) {
    for (const FaceAlias& alias : kFaceAliases) {
        if (Utf8ToCp932(alias.alias) == face) return Utf8ToCp932(alias.family);
    }
    return std::string(face);
}

std::unique_ptr<GlyphRasteriser> CreateFreeTypeRasteriser() { return std::make_unique<FreeTypeRasteriser>(); }

}  // namespace zk::platform

// fontconfig's initialisation keeps a few blocks that it never frees and no
// longer points at (FcInit alone leaves them). The engine initialises it once
// and cannot release it while the desktop's dialogs may still use it, so the
// leak checker is told to pass over allocations made inside fontconfig.
// So it is with D-Bus, which SDL's X11 video driver starts: its library
// keeps a buffer for the life of the process.
#if defined(__SANITIZE_ADDRESS__)
#define ZORVEK_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZORVEK_LEAK_CHECKED 1
#endif
#endif
#if defined(ZORVEK_LEAK_CHECKED)
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\nleak:libdbus-1.so\n"; }
// The statistics of used suppressions would go into every run's output.
extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }
#endif
