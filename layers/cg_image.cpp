#include "layers/cg_image.h"

#include <algorithm>
#include <cstring>

#include "core/engine_state.h"
#include "core/error_report.h"
#include "core/named_tree.h"
#include "core/root_trees.h"
#include "base/system_text.h"
#include "core/window_requests.h"
#include "core/window_record.h"
#include "layers/dirty_rect.h"
#include "storage/asset_name.h"
#include "storage/file_source.h"
#include "base/never.h"

namespace zk {

namespace {

void DropPixels(CgImage& image) {
    image.owned_block.Reset();
    image.derived_copy.Reset();
    image.current_pixels = nullptr;
}

enum class BlockResult { kOk, kTooWide, kNoMemory };

// The one place an image's owned block changes size. The current pixels
// always move with the block: left on the old address (or on a derived copy
// of the old size) they would read freed or too small memory.
BlockResult ResizeOwnedBlock(CgImage& image, int32_t width, int32_t height) {
    if (width > kMaxCgWidth) {
        DropPixels(image);
        return BlockResult::kTooWide;
    }
    uint64_t bytes = CgPixelBlockBytes(width, height);
    if (bytes == 0 || !image.owned_block.Resize(bytes)) {
        DropPixels(image);
        return BlockResult::kNoMemory;
    }
    image.derived_copy.Reset();
    image.derived_copy_frame = 0;
    image.current_pixels = image.owned_block.data();
    image.allocated_width = width;
    image.allocated_height = height;
    return BlockResult::kOk;
}

// Stores `image` as the node's payload; an earlier, different payload is
// released, since nothing else would ever free it.
void AttachPayload(NamedTreeNode& node, CgImage* image) {
    if (node.payload != nullptr && node.payload != image && node.payload_free != nullptr) {
        node.payload_free(node.payload);
    }
    node.payload = image;
    node.payload_free = ReleaseCgImagePayload;
}

// The record's last reference is gone: textures first (they were made from
// the pixels), then the pixels, the texts, the sequence and the model.
void DestroyCgImage(CgImage* image) {
    std::unique_ptr<CgImage> owner(image);
    owner->textures.reset();
    DropPixels(*owner);
    owner->mask_layer_name.clear();
    owner->drawing_text.clear();
    ReleaseFrameSequenceData(owner.get());
    owner->emote_player.reset();
    owner->gif_frames.reset();
    owner->texture_kind = kTextureKindCpu;
}

// Calls `visit` for the node and every node below it, parents first.
template <class Visit>
void ForEachInSubtree(NamedTreeNode* top, Visit visit) {
    NamedTreeNode* node = top;
    while (node != nullptr) {
        visit(node);
        if (node->first_child != nullptr) {
            node = node->first_child;
            continue;
        }
        while (node != top && node->next_sibling == nullptr) node = node->parent;
        if (node == top) break;
        node = node->next_sibling;
    }
}

// What points at a layer that is about to be freed lets go of it: a window
// whose root layer it is (every window is checked, not only those of
// records marked as a window root: the main window's "W0" is a root
// without the mark), and the drag layer, whose next press would read it.
void ForgetLayerUses(NamedTreeNode* node) {
    ForgetDragLayer(node);
    bool was_root = false;
    for (int number = 0; number < kWindowCount; ++number) {
        WindowRecord* record = GetWindowRecord(number);
        if (record != nullptr && record->shown_layer_set == node) {
            record->shown_layer_set = nullptr;
            was_root = true;
        }
    }
    CgImage* image = LayerImage(node);
    if (image != nullptr && (was_root || image->window_root != 0)) image->window_root = 0;
}

void ForgetLayerUsesBelow(NamedTreeNode* top, bool include_top) {
    ForEachInSubtree(top, [&](NamedTreeNode* node) {
        if (node != top || include_top) ForgetLayerUses(node);
    });
}

int32_t DecodeWithoutDecoder(FileSource&, CgImage& image, std::string_view found_name) {
    image.alpha_in_use = 0;
    ReportScriptErrorF(kErrUnknownFileKind, true, {found_name});
    return -1;
}

}  // namespace

uint64_t CgPixelBlockBytes(int64_t width, int64_t height) {
    if (width < 0 || height < 0 || width > kMaxCgWidth || height > int64_t{kMaxPixelBlockBytes}) return 0;
    // At most 2^15 * 2^31 here: no overflow.
    uint64_t bytes = uint64_t(width) * 4 * (uint64_t(height) + 1) + 4;
    return bytes <= kMaxPixelBlockBytes ? bytes : 0;
}

void ReportCgTooWide(int64_t width, int64_t height) {
    ShowMessageBox("", Sjis("ＣＧサイズが大きすぎます。X=%d, Y=%d"), {width, height});
    ReportEngineError(kErrOutOfMemory, true);
}

bool AllocCgPixels(CgImage& image, int32_t width, int32_t height) {
    switch (ResizeOwnedBlock(image, width, height)) {
        case BlockResult::kOk: return true;
        case BlockResult::kTooWide: ReportCgTooWide(width, height); return false;
        case BlockResult::kNoMemory: ReportEngineError(kErrOutOfMemory, true); return false;
    }
    return false;
}

bool ResizeGroupCanvas(CgImage& image, int32_t width, int32_t height) {
    switch (ResizeOwnedBlock(image, width, height)) {
        case BlockResult::kOk: break;
        case BlockResult::kTooWide: ReportCgTooWide(width, height); return false;
        case BlockResult::kNoMemory: ReportEngineErrorF(kErrFileNoMemory, true, {std::string_view()}); return false;
    }
    std::memset(image.owned_block.data(), 0, size_t(width) * 4 * size_t(height));
    return true;
}

std::unique_ptr<CgImage> NewCgImageRecord() { return std::make_unique<CgImage>(); }

CanvasOwner OwnCanvas(std::unique_ptr<CgImage> image) {
    return CanvasOwner(image.release(), [](CgImage* canvas) { std::default_delete<CgImage>()(canvas); });
}

bool OwnedBlockHoldsImage(const CgImage& image) {
    if (image.owned_block.empty() || image.width < 0 || image.height < 0) return false;
    return uint64_t(image.width) * uint64_t(image.height) * 4 <= image.owned_block.size();
}

uint8_t* OwnedPixelsForWriting(CgImage& image) {
    if (!OwnedBlockHoldsImage(image)) return nullptr;
    image.derived_copy.Reset();
    image.derived_copy_frame = 0;
    image.current_pixels = image.owned_block.data();
    return image.current_pixels;
}

int32_t NewCgImage(NamedTreeNode* node) {
    if (node == nullptr) return 1;
    std::unique_ptr<CgImage> record = AllocZeroed<CgImage>();
    if (record == nullptr) {
        ReportEngineError(kErrOutOfMemory, true);
        return 1;
    }
    AttachPayload(*node, record.release());
    return 0;
}

CgImage* CreateCgImage(NamedTreeNode* node) {
    if (NewCgImage(node) != 0) return nullptr;
    return LayerImage(node);
}

CgImage* ShareCgImage(NamedTreeNode* node, CgImage* image) {
    if (node == nullptr || image == nullptr) return nullptr;
    if (node->payload == image) return image;  // already held: a second count would never be dropped
    ++image->reference_count;
    AttachPayload(*node, image);
    return image;
}

void ReleaseCgImagePayload(void* payload) {
    auto* image = static_cast<CgImage*>(payload);
    if (image == nullptr) return;
    // A record held by a node has a positive count. Should one be
    // found, leaking it is safer than freeing what another node may hold.
    if (ZK_NEVER(image->reference_count <= 0)) return;
    if (--image->reference_count > 0) return;
    DestroyCgImage(image);
}

CgImage* CreateBlankGroupLayer(std::string_view path, int32_t width, int32_t height, int64_t order_key) {
    NamedTreeNode* root = TheRootTrees().layers;
    if (root == nullptr) return nullptr;
    NamedTreeNode* node = CreateTreeNode(root, path, true, order_key);
    if (node == nullptr) return nullptr;
    CgImage* image = CreateCgImage(node);
    if (image == nullptr) return nullptr;
    image->width = width;
    image->height = height;
    image->allocated_width = width;
    image->allocated_height = height;
    switch (ResizeOwnedBlock(*image, width, height)) {
        case BlockResult::kOk: break;
        case BlockResult::kTooWide: ReportCgTooWide(width, height); return nullptr;
        case BlockResult::kNoMemory: ReportEngineErrorF(kErrFileNoMemory, true, {std::string_view()}); return nullptr;
    }
    // A fresh block is already all zero: transparent black.
    image->whole_dirty = 1;
    image->dirty_valid = 1;
    image->dirty_rect = {0, 0, int64_t{width} - 1, int64_t{height} - 1};
    PropagateDirtyRect(node);
    return image;
}

int32_t LoadCgFile(CgImage& image, std::string_view name) {
    if (name.empty()) return ResetCgToEmpty(image);
    CgFileLoaders& loaders = TheCgFileLoaders();
    FileSource source;
    std::string found_name;
    auto resolve = loaders.resolve_image_name != nullptr ? loaders.resolve_image_name : ResolveImageName;
    int32_t resolved = resolve(source, found_name, name);
    if (resolved < 0) return -1;
    if (resolved != 0) return ResetCgToEmpty(image);

    auto decode = loaders.decode_image_file != nullptr ? loaders.decode_image_file : DecodeWithoutDecoder;
    if (decode(source, image, found_name) != 0) return -1;

    image.allocated_width = image.width;
    image.allocated_height = image.height;
    FillTransparentPixels(image);
    image.derived_copy.Reset();
    image.current_pixels = image.owned_block.empty() ? nullptr : image.owned_block.data();
    ResetFrameClock();
    return 0;
}

int32_t ResetCgToEmpty(CgImage& image) {
    image.alpha_in_use = 0;
    image.width = image.height = 1;
    image.allocated_width = image.allocated_height = 1;
    if (!AllocCgPixels(image, 1, 1)) return -1;
    std::memset(image.owned_block.data(), 0, 4);
    FillTransparentPixels(image);
    ResetFrameClock();
    return 0;
}

void FillTransparentPixels(CgImage& image) {
    if (image.width <= 0 || image.height <= 0) return;
    // Never past the block, whatever the size fields say.
    uint64_t pixels = std::min<uint64_t>(uint64_t(image.width) * uint64_t(image.height), image.owned_block.size() / 4);
    uint8_t* p = image.owned_block.data();
    for (uint64_t i = 0; i < pixels; ++i, p += 4) {
        if (p[3] == 0) {
            p[0] = p[1] = p[2] = 0x80;
        }
    }
}

int32_t InstallCgPixels(CgImage& image, PixelBlock block, int32_t width, int32_t height) {
    // Callers make the block for the size; one that cannot hold it is
    // refused, or every reader would run off its end.
    if (width < 0 || height < 0 || block.size() < uint64_t(width) * 4 * uint64_t(height)) return -1;
    image.owned_block = std::move(block);
    image.derived_copy.Reset();
    image.current_pixels = image.owned_block.empty() ? nullptr : image.owned_block.data();
    image.derived_copy_frame = 0;
    image.width = width;
    image.height = height;
    image.allocated_width = width;
    image.allocated_height = height;
    return 0;
}

int32_t CopyLayerAttributes(const NamedTreeNode* source, NamedTreeNode* destination) {
    const CgImage* from = LayerImage(source);
    CgImage* to = LayerImage(destination);
    if (from == nullptr || to == nullptr) return -1;
    // The destination's frames belong to pixels it no longer shows.
    to->gif_frames.reset();
    if (from == to) return 0;
    to->visible = from->visible;
    to->opacity = from->opacity;
    to->user_value1 = from->user_value1;
    to->user_value2 = from->user_value2;
    to->x = from->x;
    to->y = from->y;
    to->mask_level = from->mask_level;
    to->mask_softness = from->mask_softness;
    to->blend_mode = from->blend_mode;
    to->alpha_in_use = from->alpha_in_use;
    to->mask_layer_name = from->mask_layer_name;
    to->drawing_text = from->drawing_text;
    to->x100 = from->x100;
    to->y100 = from->y100;
    to->zoom_x = from->zoom_x;
    to->zoom_y = from->zoom_y;
    to->placement = from->placement;
    to->angles = from->angles;
    to->saturation2 = from->saturation2;
    to->tone2 = from->tone2;
    to->drawing_option = from->drawing_option;
    to->drawing_level = from->drawing_level;
    return 0;
}

void FreeLayerNode(NamedTreeNode* node) {
    if (node == nullptr) return;
    // The layer tree's root stays for the whole run (FreeRootTrees frees it).
    if (node == TheRootTrees().layers) {
        FreeLayerChildren(node);
        return;
    }
    // Freeing a node frees what hangs below it too: children left behind
    // would point at a parent that no longer exists.
    ForgetLayerUsesBelow(node, true);
    FreeTreeNode(node);
}

void FreeLayerChildren(NamedTreeNode* node) {
    if (node == nullptr) return;
    ForgetLayerUsesBelow(node, false);
    FreeSubtree(node);
}

void FreeLayerSubtree(NamedTreeNode* node) {
    FreeLayerChildren(node);
    FreeLayerNode(node);
}

void ReleaseFrameSequenceData(CgImage* image) {
    if (image == nullptr) return;
    image->frame_sequence.reset();
}

CgFileLoaders& TheCgFileLoaders() {
    static CgFileLoaders loaders{ResolveImageName, nullptr};
    return loaders;
}

int32_t ResolveImageName(FileSource& source, std::string& found_name, std::string_view name) {
    std::string working(name);
    return ResolveAssetName(source, found_name, working, kAssetModeImage);
}

}  // namespace zk
