#include "layers/layer_query.h"

#include <algorithm>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/error_report.h"
#include "core/named_tree.h"
#include "core/window_record.h"
#include "layers/cg_image.h"
#include "layers/compositor.h"
#include "layers/dirty_rect.h"
#include "layers/layer_command.h"
#include "script/command_table.h"
#include "script/compiled_tables.h"
#include "script/variables.h"

namespace zk {

namespace {

// What a selector answers: a number, a text, or nothing (the row is passed
// over and the next selectors are tried).
struct Answer {
    bool is_text = false;
    int64_t number = 0;
    std::string text;
};
std::optional<Answer> Number(int64_t value) { return Answer{false, value, {}}; }
std::optional<Answer> Text(std::string_view value) { return Answer{true, 0, std::string(value)}; }

// ---- storing ----------------------------------------------------------------------

void Store(const CommandArgSlot* result, const Answer& answer) {
    if (result == nullptr) return;
    if (answer.is_text) {
        SetStringElement(result->var_number, result->var_element, answer.text);
    } else {
        SetNumberElement(result->var_number, result->var_element, answer.number);
    }
}

// The answer for a layer that is not there: 0, 0.0 or the empty text by
// the variable's type; a variable of any other type is left alone.
void StoreNothingFound(const CommandArgSlot* result) {
    if (result != nullptr) ClearAnswerElement(result->var_number, result->var_element);
}

// ---- pixels -----------------------------------------------------------------------

uint32_t LoadPixel(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

int64_t Colour(uint32_t pixel) { return pixel & 0xFFFFFF; }

// The layer's origin in the window: its own x and y and those of each
// ancestor below the tree root, each as the 32-bit value the position
// fields are read as, summed in 64 bits.
void LayerOrigin(const NamedTreeNode* node, int64_t& x, int64_t& y) {
    x = 0;
    y = 0;
    for (const NamedTreeNode* at = node; at != nullptr && at->parent != nullptr; at = at->parent) {
        if (const CgImage* image = LayerImage(at)) {
            x += static_cast<int32_t>(image->x);
            y += static_cast<int32_t>(image->y);
        }
    }
}

// Keywords 21..23: the pixel under window `keyword`'s point (its mouse
// position, keywords 34 and 35 replacing x and y). Nullopt when the point is
// outside the window's client area, outside the layer, or the layer has no
// pixels there.
std::optional<uint32_t> PixelUnderWindowPoint(const CommandArgBlock& args, uint8_t keyword, const NamedTreeNode* node,
                                              const CgImage& image) {
    const int window = static_cast<int>(std::clamp<int64_t>(args.Find(keyword)->value, 0, kWindowCount - 1));
    const WindowRecord* record = GetWindowRecord(window);
    if (record == nullptr) return std::nullopt;
    int64_t x = record->mouse_x;
    int64_t y = record->mouse_y;
    if (const CommandArgSlot* px = args.Find(kQueryPointX)) x = px->value;
    if (const CommandArgSlot* py = args.Find(kQueryPointY)) y = py->value;
    if (x < 0 || y < 0 || x >= record->client_width || y >= record->client_height) return std::nullopt;
    int64_t origin_x = 0, origin_y = 0;
    LayerOrigin(node, origin_x, origin_y);
    uint32_t pixel = 0;
    // Both differences stay far inside 64 bits: x and y are below 2^31,
    // the origins below 2^31 times the tree's depth.
    if (!ReadLayerPixelAt(image, x - origin_x, y - origin_y, pixel)) return std::nullopt;
    return pixel;
}

// Keyword 25: one side of the bounding box of the pixels whose alpha is
// above `threshold`; -1 when none is, or the layer has no pixels.
int64_t BoundingBoxSide(const CgImage& image, int64_t selector, int64_t threshold) {
    if (selector < 1 || selector > 4) return 0;
    std::span<const uint8_t> pixels = WholeImagePixels(image);
    if (pixels.empty()) return -1;
    const int64_t width = image.width, height = image.height;
    int64_t top = -1, bottom = -1, left = -1, right = -1;
    for (int64_t y = 0; y < height; ++y) {
        const uint8_t* row = pixels.data() + size_t(y) * size_t(width) * 4;
        for (int64_t x = 0; x < width; ++x) {
            if (int64_t{row[x * 4 + 3]} <= threshold) continue;
            if (top < 0) top = y;
            bottom = y;
            if (left < 0 || x < left) left = x;
            if (x > right) right = x;
        }
    }
    switch (selector) {
        case 1: return top;
        case 2: return bottom;
        case 3: return left;
        default: return right;
    }
}

// ---- children ------------------------------------------------------------------------

// Child n of a group, counted from the last child (1 = the last); null when
// n is outside 1..child count or the list is shorter than its count.
NamedTreeNode* ChildFromLast(const NamedTreeNode* group, int64_t n) {
    if (n < 1 || n > group->child_count) return nullptr;
    NamedTreeNode* child = group->last_child;
    for (int64_t i = 1; i < n && child != nullptr; ++i) child = child->prev_sibling;
    return child;
}

// Keyword 28: the first child from position keyword 32 on (counted from the
// last child) whose user values match keywords 26 and 27, as given.
int64_t FindChildByUserValues(const CommandArgBlock& args, const NamedTreeNode* group) {
    const CommandArgSlot* user1 = args.Find(kQueryUser1);
    const CommandArgSlot* user2 = args.Find(kQueryUser2);
    if (user1 == nullptr && user2 == nullptr) return 0;
    int64_t start = 1;
    if (const CommandArgSlot* n = args.Find(kQueryChildNumber); n != nullptr && n->value > 1) start = n->value;
    if (start > group->child_count) return -1;
    const NamedTreeNode* child = ChildFromLast(group, start);
    for (int64_t position = start; child != nullptr && position <= group->child_count;
         ++position, child = child->prev_sibling) {
        const CgImage* image = LayerImage(child);
        if (image == nullptr) continue;
        if (user1 != nullptr && image->user_value1 != user1->value) continue;
        if (user2 != nullptr && image->user_value2 != user2->value) continue;
        return position;
    }
    return -1;
}

// ---- the selectors -------------------------------------------------------------------------

// The answer of the first selector present, in the command's own order; an
// empty optional with `failed` set after error 101295.
std::optional<Answer> Select(const CommandArgBlock& args, NamedTreeNode* node, const CgImage& image, bool names_group,
                             bool& failed) {
    auto given = [&](uint8_t keyword) { return args.Given(keyword); };
    if (given(kQueryExists)) return Number(1);
    if (given(kQueryVisible)) return Number(image.visible);
    if (given(kQueryOpacity)) return Number(image.opacity);
    if (given(kQueryMaskLevel)) return Number(image.mask_level);
    if (given(kQueryMaskName)) return Text(image.mask_layer_name);
    if (given(kQueryMaskSoftness)) return Number(image.mask_softness);
    if (given(kQueryX)) return Number(image.x);
    if (given(kQueryY)) return Number(image.y);
    if (given(kQueryOrderKey)) return Number(node->order_key);
    if (given(kQueryBlendMode)) return Number(image.blend_mode);
    if (given(kQueryWidth)) return Number(image.width);
    if (given(kQueryHeight)) return Number(image.height);
    if (given(kQueryZoomX)) return Number(image.zoom_x);
    if (given(kQueryZoomY)) return Number(image.zoom_y);
    for (uint8_t i = 0; i < 3; ++i) {
        if (given(kQueryPlacement3 + i)) return Number(image.placement[2 + i]);
    }
    if (given(kQueryTextureKind)) return Number(image.texture_kind);
    if (names_group && given(kQueryFindChild)) return Number(FindChildByUserValues(args, node));
    if (given(kQueryUser1)) return Number(image.user_value1);
    if (given(kQueryUser2)) return Number(image.user_value2);
    if (names_group && given(kQueryChildCount)) return Number(node->child_count);
    if (names_group && (given(kQueryChildName) || given(kQueryChildIsGroup))) {
        // n is checked against the count before it is used; a child that is
        // not there passes both rows over.
        const CommandArgSlot* n = args.Find(kQueryChildNumber);
        if (const NamedTreeNode* child = ChildFromLast(node, n != nullptr ? n->value : 0)) {
            if (given(kQueryChildName)) return Text(child->name);
            return Number(child->group);
        }
    }
    for (uint8_t keyword : {kQueryWindowColour, kQueryWindowAlpha, kQueryWindowPixel}) {
        if (!given(keyword)) continue;
        const std::optional<uint32_t> pixel = PixelUnderWindowPoint(args, keyword, node, image);
        if (!pixel) return Number(-1);
        if (keyword == kQueryWindowColour) return Number(Colour(*pixel));
        if (keyword == kQueryWindowAlpha) return Number(*pixel >> 24);
        return Number(static_cast<int32_t>(*pixel));
    }
    if (given(kQueryPixelColour)) {
        const CommandArgSlot* x = args.Find(kQueryPointX);
        const CommandArgSlot* y = args.Find(kQueryPointY);
        if (x == nullptr || y == nullptr) {
            ReportScriptErrorF(kErrPixelNeedsPoint, true,
                               {CommandName(kCmdQueryLayer), KeywordName(kCmdQueryLayer, kQueryPixelColour)});
            failed = true;
            return std::nullopt;
        }
        uint32_t pixel = 0;
        if (!ReadLayerPixelAt(image, x->value, y->value, pixel)) return Number(-1);
        return Number(Colour(pixel));
    }
    if (given(kQueryBoundingBox)) {
        const CommandArgSlot* selector = args.Find(kQueryPointX);
        const CommandArgSlot* threshold = args.Find(kQueryPointY);
        return Number(BoundingBoxSide(image, selector != nullptr ? selector->value : 0,
                                      threshold != nullptr ? threshold->value : 0));
    }
    return Number(0);
}

}  // namespace

bool ReadLayerPixelAt(const CgImage& image, int64_t x, int64_t y, uint32_t& pixel) {
    if (x < 0 || y < 0 || x >= image.width || y >= image.height) return false;
    std::span<const uint8_t> pixels = WholeImagePixels(image);
    if (pixels.empty()) return false;
    pixel = LoadPixel(pixels.data() + (size_t(y) * size_t(image.width) + size_t(x)) * 4);
    return true;
}

int32_t CmdQueryLayer() {
    if (DecodeCommandArgs(kCmdQueryLayer) != 0) return -1;
    const CommandArgBlock& args = Args();
    const CommandArgSlot* result = args.Find(kQueryResult);
    const std::optional<AddressedLayer> layer = FindAddressedLayer(args);
    if (!layer) return -1;
    NamedTreeNode* node = layer->node;
    const CgImage* image = LayerImage(node);
    if (image == nullptr) {
        StoreNothingFound(result);
        return 0;
    }
    bool failed = false;
    const std::optional<Answer> answer = Select(args, node, *image, layer->kind == 1, failed);
    if (failed) return -1;
    if (answer) Store(result, *answer);
    return 0;
}

void InstallLayerQueryCommand() { RegisterCommandHandler(kCmdQueryLayer, CmdQueryLayer); }

}  // namespace zk
