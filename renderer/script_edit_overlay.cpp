#include "renderer/script_edit_overlay.h"

#include <memory>

#include "base/sjis.h"
#include "base/text_encoding.h"
#include "core/engine_state.h"
#include "layers/text_style.h"
#include "platform/window_system.h"
#include "renderer/cpu_presentation.h"

namespace zk {

namespace {

constexpr int32_t kCell = 16;  // the rasteriser's cell for a 14-pixel face
constexpr int32_t kMaxFieldSide = 8192;

struct Rasteriser {
    std::unique_ptr<platform::GlyphRasteriser> glyphs;
    bool prepared = false;
    bool tried = false;
};
Rasteriser& TheRasteriser() {
    static Rasteriser rasteriser;
    return rasteriser;
}

platform::GlyphRasteriser* Glyphs() {
    Rasteriser& r = TheRasteriser();
    if (!r.tried) {
        r.tried = true;
        if (TheTextFontBackend().create_rasteriser != nullptr) r.glyphs = TheTextFontBackend().create_rasteriser();
        r.prepared = r.glyphs != nullptr && r.glyphs->Prepare(Utf8ToCp932("ＭＳ ゴシック"), kScriptEditFontHeight, false);
    }
    return r.prepared ? r.glyphs.get() : nullptr;
}

void Put(std::vector<uint8_t>& pixels, int32_t width, int32_t height, int32_t x, int32_t y, uint32_t colour) {
    if (x < 0 || y < 0 || x >= width || y >= height) return;
    uint8_t* p = &pixels[(size_t(y) * size_t(width) + size_t(x)) * 4];
    p[0] = colour & 0xFF;
    p[1] = (colour >> 8) & 0xFF;
    p[2] = (colour >> 16) & 0xFF;
    p[3] = 0;
}

// Draws a text from pen x; returns the pen after it.
int32_t DrawText(std::vector<uint8_t>& pixels, int32_t width, int32_t height, int32_t pen, int32_t top,
                 std::string_view text, bool underline) {
    platform::GlyphRasteriser* glyphs = Glyphs();
    std::vector<uint8_t> bits(size_t(kCell) * kCell / 8);
    for (size_t i = 0; i < text.size() && pen < width;) {
        const size_t length = SjisCharLength(text, i);
        const int32_t advance = length == 2 ? kScriptEditFontHeight : kScriptEditFontHeight / 2;
        if (glyphs != nullptr) {
            std::fill(bits.begin(), bits.end(), uint8_t{0xFF});
            glyphs->Draw(text.substr(i, length), bits, kCell);
            for (int32_t gy = 0; gy < kCell; ++gy) {
                for (int32_t gx = 0; gx < advance && gx < kCell; ++gx) {
                    const uint8_t byte = bits[size_t(gy) * (kCell / 8) + size_t(gx / 8)];
                    if ((byte & (0x80 >> (gx % 8))) == 0) Put(pixels, width, height, pen + gx, top + gy, 0x000000);
                }
            }
        }
        if (underline) {
            for (int32_t ux = 0; ux < advance; ++ux) Put(pixels, width, height, pen + ux, top + kScriptEditFontHeight, 0x000000);
        }
        pen += advance;
        i += length;
    }
    return pen;
}

}  // namespace

int32_t ScriptEditTextWidth(std::string_view text) {
    int32_t width = 0;
    for (size_t i = 0; i < text.size();) {
        const size_t length = SjisCharLength(text, i);
        width += length == 2 ? kScriptEditFontHeight : kScriptEditFontHeight / 2;
        i += length;
    }
    return width;
}

std::vector<uint8_t> RenderScriptEdit(const ScriptEditField& field) {
    if (field.width <= 0 || field.height <= 0 || field.width > kMaxFieldSide || field.height > kMaxFieldSide) return {};
    const int32_t w = field.width, h = field.height;
    std::vector<uint8_t> pixels(size_t(w) * size_t(h) * 4, 0xFF);
    for (size_t i = 3; i < pixels.size(); i += 4) pixels[i] = 0;
    // The static edge: one grey line around the box.
    for (int32_t x = 0; x < w; ++x) {
        Put(pixels, w, h, x, 0, 0x808080);
        Put(pixels, w, h, x, h - 1, 0x808080);
    }
    for (int32_t y = 0; y < h; ++y) {
        Put(pixels, w, h, 0, y, 0x808080);
        Put(pixels, w, h, w - 1, y, 0x808080);
    }
    const int32_t top = (h - kScriptEditFontHeight) / 2;
    const std::string_view text(field.text);
    const size_t scroll = std::min(field.scroll, text.size());
    const size_t caret = std::clamp(field.caret, scroll, text.size());
    int32_t pen = DrawText(pixels, w, h, 2, top, text.substr(scroll, caret - scroll), false);
    const int32_t caret_x = pen + ScriptEditTextWidth(field.composition);
    pen = DrawText(pixels, w, h, pen, top, field.composition, true);
    DrawText(pixels, w, h, pen, top, text.substr(caret), false);
    if (field.focused) {
        for (int32_t y = top; y < top + kScriptEditFontHeight; ++y) Put(pixels, w, h, caret_x, y, 0x000000);
    }
    return pixels;
}

void DrawScriptEditOverlay(const WindowRecord& record) {
    if (record.number != 0 || QuitFlag.load() != 0 || record.window == platform::kNoWindow || !platform::HasWindowSystem()) return;
    ScriptEditScrollToCaret(ScriptEditTextWidth);
    const ScriptEditField field = ScriptEditState();
    if (!field.exists) return;
    const std::vector<uint8_t> pixels = RenderScriptEdit(field);
    if (pixels.empty()) return;
    const LetterboxOffset& offset = TheLetterboxOffset();
    const platform::BlitArea destination{field.x + offset.x, field.y + offset.y, field.width, field.height};
    const platform::BlitArea source{0, 0, field.width, field.height};
    const platform::DibPixels block{pixels, field.width, -field.height};
    platform::GetWindowSystem().StretchBlit(record.window, destination, block, source);
}

void ResetScriptEditOverlay() { TheRasteriser() = Rasteriser{}; }

}  // namespace zk
