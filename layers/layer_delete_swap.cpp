#include "layers/layer_delete_swap.h"

#include <string>
#include <utility>

#include "core/named_tree.h"
#include "core/root_trees.h"
#include "layers/cg_image.h"
#include "layers/dirty_rect.h"
#include "layers/layer_command.h"
#include "layers/layer_gpu_requests.h"
#include "script/command_table.h"
#include "base/never.h"

namespace zk {

namespace {

// Renames both nodes at once: out of their parents' indexes under the old
// keys, names exchanged, keys made from the new name and the node's own
// kind, back into the indexes. Exchanging the keys as they were would carry
// the group bit to the other node and lose it from every lookup.
void ExchangeNames(NamedTreeNode* a, NamedTreeNode* b) {
    RemoveChildKey(a->parent, a);
    RemoveChildKey(b->parent, b);
    std::swap(a->name, b->name);
    std::swap(a->name_length, b->name_length);
    a->key = TreeNameKey(a->name, a->group != 0);
    b->key = TreeNameKey(b->name, b->group != 0);
    // Each index just lost an entry, so there is room for it again.
    InsertChildKey(a->parent, a);
    InsertChildKey(b->parent, b);
}

void ExchangePositions(CgImage& a, CgImage& b) {
    std::swap(a.x, b.x);
    std::swap(a.y, b.y);
    // The 1/100-pixel position is the same place: it moves with x and y.
    std::swap(a.x100, b.x100);
    std::swap(a.y100, b.y100);
}

void ExchangeAttributes(CgImage& a, CgImage& b) {
    std::swap(a.visible, b.visible);
    std::swap(a.opacity, b.opacity);
    std::swap(a.mask_level, b.mask_level);
    std::swap(a.mask_softness, b.mask_softness);
    std::swap(a.blend_mode, b.blend_mode);
}

}  // namespace

int32_t CmdDeleteLayer() {
    if (DecodeCommandArgs(kCmdDeleteLayer) != 0) return -1;
    const RootTrees& trees = TheRootTrees();
    // The trees exist from start-up to shutdown.
    if (ZK_NEVER(trees.layers == nullptr)) return 0;
    const std::optional<AddressedLayer> layer = FindAddressedLayer(Args());
    if (!layer) return -1;
    NamedTreeNode* node = layer->node;
    if (node == nullptr || LayerImage(node) == nullptr) return 0;
    InvalidateLayer(node);
    ForgetCaptureLayerIn(node);
    if (layer->kind == 1) {
        FreeLayerSubtree(node);
    } else {
        FreeLayerNode(node);
    }
    return 0;
}

int32_t SwapLayerPriorities(NamedTreeNode* a, NamedTreeNode* b) {
    if (a == nullptr || b == nullptr) return 0;
    const int64_t key_a = a->order_key;
    const int64_t key_b = b->order_key;
    SetNodePriority(a, key_b);
    SetNodePriority(b, key_a);
    return 1;
}

int32_t SwapLayers(NamedTreeNode* a, NamedTreeNode* b, int32_t mode) {
    if (a == nullptr || b == nullptr || a->parent == nullptr || b->parent == nullptr) return -1;
    if (a->group != b->group) return -1;
    if (a == b) return 0;
    InvalidateLayer(a);
    InvalidateLayer(b);
    SwapLayerPriorities(a, b);
    ExchangeNames(a, b);
    CgImage* image_a = LayerImage(a);
    CgImage* image_b = LayerImage(b);
    // Two nodes sharing one record have nothing of it to exchange.
    if (image_a != nullptr && image_b != nullptr && image_a != image_b) {
        if (mode == kSwapPositions || mode == kSwapAttributes) ExchangePositions(*image_a, *image_b);
        if (mode == kSwapAttributes) ExchangeAttributes(*image_a, *image_b);
    }
    // The pictures may now cover areas that neither covered before.
    InvalidateLayer(a);
    InvalidateLayer(b);
    return 0;
}

}  // namespace zk
