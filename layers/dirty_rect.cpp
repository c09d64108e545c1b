#include "layers/dirty_rect.h"

#include <algorithm>
#include <limits>

#include "core/named_tree.h"
#include "core/window_record.h"
#include "layers/cg_image.h"

namespace zk {

namespace {

constexpr LayerRect kOutsideRect = {kOutsideRectValue, kOutsideRectValue, kOutsideRectValue, kOutsideRectValue};

bool IsTreeRoot(const NamedTreeNode* node) { return node->parent == nullptr; }

LayerRect Moved(const LayerRect& r, int64_t dx, int64_t dy) {
    return {SaturatingAdd(r[kRectLeft], dx), SaturatingAdd(r[kRectTop], dy), SaturatingAdd(r[kRectRight], dx),
            SaturatingAdd(r[kRectBottom], dy)};
}

// Merges `rect` into each ancestor of `node` in turn, moving it by each
// child's position on the way up.
void MergeIntoAncestors(NamedTreeNode* node, LayerRect rect) {
    for (NamedTreeNode* parent = node->parent; parent != nullptr && !IsTreeRoot(parent); parent = parent->parent) {
        CgImage* child_image = LayerImage(node);
        if (LayerImage(parent) == nullptr) return;
        rect = Moved(rect, child_image->x, child_image->y);
        if (MergeDirtyRect(parent, rect) < 0) return;
        node = parent;
    }
}

bool DrawableLeaf(const CgImage& image) {
    return image.visible != 0 && image.opacity > 0 && (image.mask_layer_name.empty() || image.mask_level != 0) &&
           image.texture_kind == kTextureKindCpu;
}

void ResetImageDirtyState(CgImage& image) {
    image.previous_dirty_count = image.dirty_count;
    image.dirty_count = 0;
    image.changed = 0;
    image.dirty_valid = 0;
    image.presented_rect = kEmptyPresentedRect;
}

void ResetGroupChain(NamedTreeNode* first) {
    for (NamedTreeNode* node = first; node != nullptr; node = node->next_sibling) {
        if (node->group == 0) continue;
        if (CgImage* image = LayerImage(node)) ResetImageDirtyState(*image);
        ResetGroupChain(node->first_child);
    }
}

}  // namespace

CgImage* LayerImage(const NamedTreeNode* node) {
    return node != nullptr ? static_cast<CgImage*>(node->payload) : nullptr;
}

int64_t SaturatingAdd(int64_t a, int64_t b) {
    int64_t sum;
    if (!__builtin_add_overflow(a, b, &sum)) return sum;
    return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
}

int MergeDirtyRect(NamedTreeNode* node, LayerRect& rect) {
    CgImage* image = LayerImage(node);
    if (image == nullptr) return -1;
    if (rect[kRectLeft] > rect[kRectRight] || rect[kRectTop] > rect[kRectBottom]) {
        rect = kOutsideRect;
        return -1;
    }
    const int64_t width = image->width;
    const int64_t height = image->height;
    if (width > 0 && height > 0) {
        if (rect[kRectLeft] >= width || rect[kRectTop] >= height || rect[kRectRight] < 0 || rect[kRectBottom] < 0) {
            rect = kOutsideRect;
            return -1;
        }
        rect[kRectLeft] = std::max<int64_t>(rect[kRectLeft], 0);
        rect[kRectTop] = std::max<int64_t>(rect[kRectTop], 0);
        rect[kRectRight] = std::min(rect[kRectRight], width - 1);
        rect[kRectBottom] = std::min(rect[kRectBottom], height - 1);
    }
    image->changed = 1;
    LayerRect& dirty = image->dirty_rect;
    if (image->dirty_count == 0 || image->dirty_valid == 0) {
        dirty = rect;
        image->dirty_valid = 1;
        image->dirty_count += 1;
    } else {
        dirty[kRectLeft] = std::min(dirty[kRectLeft], rect[kRectLeft]);
        dirty[kRectTop] = std::min(dirty[kRectTop], rect[kRectTop]);
        dirty[kRectRight] = std::max(dirty[kRectRight], rect[kRectRight]);
        dirty[kRectBottom] = std::max(dirty[kRectBottom], rect[kRectBottom]);
    }
    return 0;
}

int InvalidateLayer(NamedTreeNode* node) {
    CgImage* image = LayerImage(node);
    if (image == nullptr) return -1;
    MergeIntoAncestors(node, {0, 0, int64_t{image->width} - 1, int64_t{image->height} - 1});
    return 0;
}

int PropagateDirtyRect(NamedTreeNode* node) {
    CgImage* image = LayerImage(node);
    if (image == nullptr) return -1;
    UniteVisibleChildren(node);
    LayerRect rect = image->dirty_rect;
    if (MergeDirtyRect(node, rect) < 0) return 0;
    MergeIntoAncestors(node, rect);
    return 0;
}

int UniteVisibleChildren(NamedTreeNode* group) {
    if (LayerImage(group) == nullptr) return -1;
    for (NamedTreeNode* child = group->first_child; child != nullptr; child = child->next_sibling) {
        CgImage* image = LayerImage(child);
        if (image == nullptr) continue;
        if (child->group != 0) {
            UniteVisibleChildren(child);
        } else if (DrawableLeaf(*image)) {
            LayerRect area = {image->x, image->y, SaturatingAdd(image->x, int64_t{image->width} - 1),
                              SaturatingAdd(image->y, int64_t{image->height} - 1)};
            MergeDirtyRect(group, area);
        }
    }
    return 0;
}

void ResetDirtyRects(NamedTreeNode* first) {
    ResetGroupChain(first);
    for (int w = 0; w < kWindowCount; ++w) {
        WindowRecord* record = GetWindowRecord(w);
        if (record != nullptr && record->canvas != nullptr) ResetImageDirtyState(*record->canvas);
    }
}

void UpdatePresentedRect(CgImage& image) {
    LayerRect& shown = image.presented_rect;
    const LayerRect& dirty = image.dirty_rect;
    shown[kRectLeft] = std::min(shown[kRectLeft], dirty[kRectLeft]);
    shown[kRectTop] = std::min(shown[kRectTop], dirty[kRectTop]);
    shown[kRectRight] = std::max(shown[kRectRight], dirty[kRectRight]);
    shown[kRectBottom] = std::max(shown[kRectBottom], dirty[kRectBottom]);
    if (image.whole_dirty != 0) {
        image.whole_dirty = 0;
        shown = {0, 0, int64_t{image.width} - 1, int64_t{image.height} - 1};
    }
}

void IntersectBlitRects(BlitRect& blit) {
    struct Axis {
        uint8_t relation;
        int64_t overlap, start, offset;
    };
    auto axis = [](int64_t a, int64_t p, int64_t b, int64_t q) {
        const int64_t a_end = SaturatingAdd(a, p);
        const int64_t b_end = SaturatingAdd(b, q);
        Axis r{};
        r.relation = static_cast<uint8_t>((a < b ? 2 : 0) + (a_end > b_end ? 1 : 0));
        switch (r.relation) {
        case 0: r = {0, p, a, 0}; break;
        case 1: r = {1, SaturatingAdd(b_end, -a), a, 0}; break;
        case 2: r = {2, SaturatingAdd(a_end, -b), b, SaturatingAdd(b, -a)}; break;
        default: r = {3, q, b, SaturatingAdd(b, -a)}; break;
        }
        return r;
    };
    Axis x = axis(blit.a_x, blit.a_width, blit.b_x, blit.b_width);
    Axis y = axis(blit.a_y, blit.a_height, blit.b_y, blit.b_height);
    blit.x_relation = x.relation;
    blit.y_relation = y.relation;
    blit.overlap_width = x.overlap;
    blit.overlap_height = y.overlap;
    blit.start_x = x.start;
    blit.start_y = y.start;
    blit.offset_x = x.offset;
    blit.offset_y = y.offset;
}

}  // namespace zk
