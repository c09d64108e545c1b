// Glyph drawing with any style a script can store (plain sets go past the
// limits), any position and edge distance, any image size and any glyph
// bitmap: nothing is written outside the image, nothing divides by zero.
// The cell's bits come from the input through a rasteriser double.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>

#include "base/byte_reader.h"
#include "core/named_tree.h"
#include "layers/cg_image.h"
#include "layers/text_draw.h"
#include "layers/text_style.h"
#include "platform/glyph_rasteriser.h"

namespace {

std::span<const uint8_t> glyph_bytes;

class InputRasteriser final : public zk::platform::GlyphRasteriser {
public:
    bool Prepare(std::string_view, int32_t, bool) override { return true; }
    void Draw(std::string_view, std::span<uint8_t> bits, int32_t) override {
        for (size_t i = 0; i < bits.size() && !glyph_bytes.empty(); ++i) bits[i] = glyph_bytes[i % glyph_bytes.size()];
    }
};

std::vector<zk::platform::FontFamilyEntry> Families() {
    return {{"Proportional", 1, zk::platform::kPitchVariable}, {"Fixed", 0, zk::platform::kPitchFixed},
            {"Other", 0, 255}};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = [] {
        zk::InitPathCharTable();
        zk::TheTextFontBackend().list_families = Families;
        zk::TheTextFontBackend().create_rasteriser = [] {
            return std::unique_ptr<zk::platform::GlyphRasteriser>(std::make_unique<InputRasteriser>());
        };
        zk::EnumerateFonts();
        return true;
    }();
    (void)ready;
    zk::ByteReader in(std::span<const uint8_t>(data, size));
    const uint8_t font = in.U8().value_or(0);
    const int32_t width = in.U8().value_or(1) + 1;
    const int32_t height = in.U8().value_or(1) + 1;
    const auto colour = in.U32().value_or(0);
    const auto second = in.U32().value_or(0);
    const int32_t layout = in.U8().value_or(0);
    const int32_t orientation = in.U8().value_or(0);
    const auto glyph_size = int32_t(in.U16().value_or(0)) - 8;
    const auto glyph_height = int32_t(in.U16().value_or(0)) - 8;
    const int32_t bold = in.U8().value_or(0) & 1;
    const int32_t smoothing = in.U8().value_or(0);
    const auto edge = int64_t(int32_t(in.U32().value_or(0)));
    const auto x = int32_t(int16_t(in.U16().value_or(0)));
    const auto y = int32_t(int16_t(in.U16().value_or(0)));
    const int32_t mode = in.U8().value_or(0) & 1;
    const uint8_t character_bytes = in.U8().value_or(1) % 2 + 1;
    std::string character;
    for (uint8_t i = 0; i < character_bytes; ++i) character += char(in.U8().value_or('A'));
    glyph_bytes = std::span<const uint8_t>(data, size).subspan(std::min(size, size_t{40}));

    zk::SelectFontSlot(font % zk::kTextSlotCount);
    zk::SetSlotFontIndex(font / zk::kTextSlotCount % 3);
    zk::NamedTreeNode* root = zk::CreateRootNode();
    zk::NamedTreeNode* layer = zk::CreateTreeNode(root, "t", false, 1);
    zk::CgImage* image = zk::CreateCgImage(layer);
    image->width = width;
    image->height = height;
    if (zk::AllocCgPixels(*image, width, height)) {
        zk::DrawTextGlyphToCg(character, colour, second, layout, orientation, glyph_size, glyph_height, bold,
                              smoothing, edge, x, y, mode, layer);
    }
    zk::FreeTreeNode(root);
    return 0;
}
