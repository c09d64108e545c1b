// The layer tree's root at start-up: a zero layer record of the game
// screen's size, and under it the main window's layer set "W0" with its
// pixels, which the main window shows.
#include "layers/layer_tree_root.h"

#include "core/engine_hooks.h"
#include "core/named_tree.h"
#include "core/window_record.h"
#include "layers/cg_image.h"

namespace zk {

namespace {

void FreeCgImagePayload(void* payload) {
    auto* image = static_cast<CgImage*>(payload);
    if (--image->reference_count <= 0) delete image;
}

// A root with a zero layer record of the game screen's size.
NamedTreeNode* CreateLayerRoot(int32_t width, int32_t height) {
    NamedTreeNode* root = CreateRootNode();
    if (root == nullptr) return nullptr;
    auto image = NewCgImageRecord();
    image->width = width;
    image->height = height;
    image->allocated_width = width;
    image->allocated_height = height;
    root->payload = image.release();
    root->payload_free = FreeCgImagePayload;
    return root;
}

void CreateWindowLayerSet(NamedTreeNode* layers, int32_t width, int32_t height) {
    NamedTreeNode* w0 = CreateTreeNode(layers, "W0", true, 1);
    if (w0 == nullptr) return;
    auto image = NewCgImageRecord();
    image->width = width;
    image->height = height;
    image->allocated_width = width;
    image->allocated_height = height;
    CgImage* raw = image.release();
    w0->payload = raw;
    w0->payload_free = FreeCgImagePayload;
    if (AllocCgPixels(*raw, width, height)) {
        raw->changed = 1;
        raw->whole_dirty = 1;
        raw->dirty_valid = 1;
        raw->dirty_rect = {0, 0, int64_t{width} - 1, int64_t{height} - 1};
        if (Hooks().propagate_dirty_rect != nullptr) Hooks().propagate_dirty_rect(w0);
    }
    if (WindowRecord* main_record = MainWindowRecord()) main_record->shown_layer_set = w0;
}
}  // namespace

NamedTreeNode* CreateLayerTree(int32_t width, int32_t height) {
    NamedTreeNode* root = CreateLayerRoot(width, height);
    if (root != nullptr) CreateWindowLayerSet(root, width, height);
    return root;
}

}  // namespace zk
