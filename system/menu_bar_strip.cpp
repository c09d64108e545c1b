#include "system/menu_bar_strip.h"

#include <algorithm>
#include <memory>
#include <mutex>

#include "base/sjis.h"
#include "base/text_encoding.h"
#include "layers/text_style.h"
#include "platform/glyph_rasteriser.h"

namespace zk {

namespace {

constexpr int32_t kCaptionFontHeight = 14;
constexpr int32_t kCaptionCell = 16;  // the rasteriser's cell for the face
constexpr int32_t kCaptionPadding = 7;
constexpr int32_t kBarLeftMargin = 2;
// A bar wider than any screen draws no further.
constexpr int32_t kMaxStripWidth = 8192;

constexpr uint32_t kStripColour = 0xF0F0F0;
constexpr uint32_t kTextColour = 0x000000;
constexpr uint32_t kGrayedColour = 0x808080;
constexpr uint32_t kEdgeColour = 0xC8C8C8;

int32_t LabelWidth(std::string_view label) {
    int32_t width = 0;
    for (size_t i = 0; i < label.size();) {
        const size_t length = SjisCharLength(label, i);
        width += length == 2 ? kCaptionFontHeight : kCaptionFontHeight / 2;
        i += length;
    }
    return width;
}

struct StripGlyphs {
    std::mutex lock;
    std::unique_ptr<platform::GlyphRasteriser> rasteriser;
    bool tried = false;
    bool prepared = false;
};
StripGlyphs& TheStripGlyphs() {
    static StripGlyphs glyphs;
    return glyphs;
}

void Put(platform::ClientImage& image, int32_t x, int32_t y, uint32_t colour) {
    if (x < 0 || y < 0 || x >= image.width || y >= image.height) return;
    uint8_t* p = &image.pixels[(static_cast<size_t>(y) * static_cast<size_t>(image.width) + static_cast<size_t>(x)) * 4];
    p[0] = static_cast<uint8_t>(colour & 0xFF);
    p[1] = static_cast<uint8_t>((colour >> 8) & 0xFF);
    p[2] = static_cast<uint8_t>((colour >> 16) & 0xFF);
    p[3] = 0;
}

// Draws a label with its left edge at pen; the glyph lock is held.
void DrawLabel(platform::ClientImage& image, platform::GlyphRasteriser* glyphs, int32_t pen, int32_t top,
               std::string_view label, uint32_t colour) {
    std::vector<uint8_t> bits(static_cast<size_t>(kCaptionCell) * kCaptionCell / 8);
    for (size_t i = 0; i < label.size() && pen < image.width;) {
        const size_t length = SjisCharLength(label, i);
        const int32_t advance = length == 2 ? kCaptionFontHeight : kCaptionFontHeight / 2;
        if (glyphs != nullptr) {
            std::fill(bits.begin(), bits.end(), uint8_t{0xFF});
            glyphs->Draw(label.substr(i, length), bits, kCaptionCell);
            for (int32_t gy = 0; gy < kCaptionCell; ++gy) {
                for (int32_t gx = 0; gx < advance && gx < kCaptionCell; ++gx) {
                    const uint8_t byte = bits[static_cast<size_t>(gy) * (kCaptionCell / 8) + static_cast<size_t>(gx / 8)];
                    if ((byte & (0x80 >> (gx % 8))) == 0) Put(image, pen + gx, top + gy, colour);
                }
            }
        }
        pen += advance;
        i += length;
    }
}

}  // namespace

std::string MenuCaptionLabel(std::string_view caption) {
    std::string label;
    for (size_t i = 0; i < caption.size();) {
        const size_t length = SjisCharLength(caption, i);
        if (length == 1 && caption[i] == '&') {
            // "&&" is a literal '&'; a lone '&' marks the next letter.
            if (i + 1 < caption.size() && caption[i + 1] == '&') {
                label += '&';
                i += 2;
            } else {
                ++i;
            }
            continue;
        }
        label.append(caption.substr(i, length));
        i += length;
    }
    return label;
}

std::vector<MenuBarCaption> LayOutMenuBar(const std::vector<platform::PopupMenuItem>& bar) {
    std::vector<MenuBarCaption> captions;
    captions.reserve(bar.size());
    int32_t pen = kBarLeftMargin;
    for (const platform::PopupMenuItem& item : bar) {
        int32_t width = 0;
        if (item.kind == platform::PopupMenuItem::Kind::kSeparator) {
            width = kCaptionPadding;  // a gap, as a bar shows a separator
        } else {
            width = LabelWidth(MenuCaptionLabel(item.text)) + 2 * kCaptionPadding;
        }
        const int32_t right = std::min(kMaxStripWidth, pen + width);
        captions.push_back(MenuBarCaption{pen, right});
        pen = right;
    }
    return captions;
}

int HitMenuBarCaption(const std::vector<platform::PopupMenuItem>& bar, int32_t x) {
    const std::vector<MenuBarCaption> captions = LayOutMenuBar(bar);
    for (size_t i = 0; i < captions.size(); ++i) {
        if (bar[i].kind == platform::PopupMenuItem::Kind::kSeparator) continue;
        if (x >= captions[i].left && x < captions[i].right) return static_cast<int>(i);
    }
    return -1;
}

platform::ClientImage DrawMenuBarStrip(const std::vector<platform::PopupMenuItem>& bar) {
    const std::vector<MenuBarCaption> captions = LayOutMenuBar(bar);
    platform::ClientImage image;
    image.width = std::max<int32_t>(1, captions.empty() ? 1 : captions.back().right);
    image.height = kMenuStripHeight;
    image.pixels.resize(static_cast<size_t>(image.width) * static_cast<size_t>(image.height) * 4);
    for (int32_t y = 0; y < image.height; ++y) {
        // The bar's lowest row is its edge against the client area.
        const uint32_t colour = y == image.height - 1 ? kEdgeColour : kStripColour;
        for (int32_t x = 0; x < image.width; ++x) Put(image, x, y, colour);
    }
    StripGlyphs& glyphs = TheStripGlyphs();
    std::lock_guard lock(glyphs.lock);
    if (!glyphs.tried) {
        glyphs.tried = true;
        if (TheTextFontBackend().create_rasteriser != nullptr) glyphs.rasteriser = TheTextFontBackend().create_rasteriser();
        glyphs.prepared = glyphs.rasteriser != nullptr &&
                          glyphs.rasteriser->Prepare(Utf8ToCp932("ＭＳ ゴシック"), kCaptionFontHeight, false);
    }
    platform::GlyphRasteriser* rasteriser = glyphs.prepared ? glyphs.rasteriser.get() : nullptr;
    const int32_t top = (kMenuStripHeight - 1 - kCaptionCell) / 2 + 1;
    for (size_t i = 0; i < bar.size(); ++i) {
        if (bar[i].kind == platform::PopupMenuItem::Kind::kSeparator) continue;
        DrawLabel(image, rasteriser, captions[i].left + kCaptionPadding, top, MenuCaptionLabel(bar[i].text),
                  bar[i].enabled ? kTextColour : kGrayedColour);
    }
    return image;
}

}  // namespace zk
