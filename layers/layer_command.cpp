#include "layers/layer_command.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>

#include "core/engine_state.h"
#include "core/error_report.h"
#include "core/named_tree.h"
#include "core/root_trees.h"
#include "base/sjis.h"
#include "base/system_text.h"
#include "layers/cg_image.h"
#include "layers/compositor.h"
#include "layers/dirty_rect.h"
#include "layers/layer_delete_swap.h"
#include "layers/layer_gpu_requests.h"
#include "script/arg_decoder.h"
#include "script/command_table.h"
#include "script/compiled_tables.h"
#include "base/never.h"

namespace zk {

namespace {

constexpr uint32_t kOpaqueBlack = 0xFF000000;
// Tile caps of the texture grid that keyword 25 builds.
constexpr int32_t kTextureWidthCap = 512;
constexpr int32_t kTextureHeightCap = 256;

// ---- argument helpers ------------------------------------------------------

uint8_t OperatorOf(const CommandArgSlot& slot) { return static_cast<uint8_t>(slot.op); }

int64_t Apply(const CommandArgSlot& slot, int64_t old_value) {
    return ApplyArgOperator(OperatorOf(slot), old_value, slot.value);
}

int64_t ApplyClamped(const CommandArgSlot& slot, int64_t old_value, int64_t maximum) {
    return ApplyArgOperatorClamped(OperatorOf(slot), old_value, slot.value, 0, maximum);
}

// x * 100 in 64 bits, wrapping as the stored position always has.
int64_t Hundredfold(int64_t value) { return static_cast<int64_t>(static_cast<uint64_t>(value) * 100u); }

// A size argument as the 32-bit size fields hold it. Larger values are
// refused by the block rules all the same (width above 8192, block too
// large), so clamping keeps the refusal and loses nothing else.
int32_t SizeField(int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, 0, std::numeric_limits<int32_t>::max()));
}

// An angle's float as a 64-bit integer, truncated. Values the integer
// cannot hold saturate and NaN counts as 0: converting them is undefined.
int64_t TruncateAngle(float angle) {
    if (std::isnan(angle)) return 0;
    if (angle >= 0x1p63f) return std::numeric_limits<int64_t>::max();
    if (angle < -0x1p63f) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(angle);
}

// A text for one of the record's 261-byte blocks: at most kCgTextMax bytes,
// cut before a double-byte character that would not fit whole.
std::string CgText(std::string_view text) {
    size_t end = 0;
    while (end < text.size()) {
        size_t next = end + SjisCharLength(text, end);
        if (next > kCgTextMax) break;
        end = next;
    }
    return std::string(text.substr(0, end));
}

void ReportLayerError(uint32_t code) { ReportScriptErrorF(code, true, {CommandName(kCmdSetLayer)}); }
void ReportLayerError(uint32_t code, std::string_view path) {
    ReportScriptErrorF(code, true, {CommandName(kCmdSetLayer), path});
}

// ---- the layer's area --------------------------------------------------------

// Makes the layer's area dirty the way its kind needs: a group's own dirty
// rectangle, with its visible children, goes up the tree; a leaf's whole
// area does.
void Invalidate(NamedTreeNode* node) {
    if (node->group != 0) {
        PropagateDirtyRect(node);
    } else {
        InvalidateLayer(node);
    }
}

// ---- creation ------------------------------------------------------------------

// The image of the layer `name` names, for a new leaf to share; null when
// there is none (a missing layer is reported, a failed normalisation has
// reported itself).
CgImage* FindShareSource(std::string_view name) {
    const RootTrees& trees = TheRootTrees();
    std::string path;
    if (NormaliseNodePath(path, name, trees.layer_folder, false) < 0) return nullptr;
    NamedTreeNode* source = FindNodeByPath(trees.layers, path, kFindLeaf);
    if (source == nullptr) {
        ReportLayerError(kErrLayerNotFound, path);
        return nullptr;
    }
    return LayerImage(source);
}

// A new leaf: its node, and its image made for a file or shared with
// another layer. A file wins over a share source given with it. A node
// whose image cannot be had is freed again: left in the tree without one,
// no later line could load it, and command 3 could never delete it.
CgImage* CreateLeafLayer(std::string_view path, int64_t order_key, const CommandArgSlot* file,
                         const CommandArgSlot* share, NamedTreeNode*& node) {
    node = CreateTreeNode(TheRootTrees().layers, path, false, order_key);
    if (node == nullptr) return nullptr;
    CgImage* image = nullptr;
    if (file != nullptr) {
        image = CreateCgImage(node);
    } else if (!share->Text().empty()) {
        image = ShareCgImage(node, FindShareSource(share->Text()));
    }
    if (image == nullptr) {
        FreeLayerNode(node);
        node = nullptr;
    }
    return image;
}

// A new group with a blank canvas. When the canvas cannot be had the group
// node that was made for it is freed again, as for a leaf.
CgImage* CreateGroupLayer(std::string_view path, int64_t width, int64_t height, int64_t order_key,
                          NamedTreeNode*& node) {
    NamedTreeNode* root = TheRootTrees().layers;
    CgImage* image = CreateBlankGroupLayer(path, SizeField(width), SizeField(height), order_key);
    // No group of this name existed, so the one found is the one just made.
    node = FindNodeByPath(root, path, kFindGroup);
    if (image == nullptr || node == nullptr || LayerImage(node) != image) {
        FreeLayerNode(node);
        node = nullptr;
        return nullptr;
    }
    return image;
}

// ---- pixels ----------------------------------------------------------------------

bool HoldsPixels(const CgImage& image) {
    return image.width >= 0 && image.height >= 0 &&
           image.owned_block.size() >= uint64_t(image.width) * uint64_t(image.height) * 4;
}

// Every pixel's alpha becomes the blue byte of the mask source's pixel at
// the same place. The sizes are equal; a record without the pixels its
// size promises is left alone.
void CopyBlueIntoAlpha(CgImage& image, const CgImage& source) {
    if (!HoldsPixels(image) || !HoldsPixels(source)) return;
    const uint64_t pixels = uint64_t(image.width) * uint64_t(image.height);
    uint8_t* to = image.owned_block.data();
    const uint8_t* from = source.owned_block.data();
    for (uint64_t i = 0; i < pixels; ++i) to[i * 4 + 3] = from[i * 4];
    image.alpha_in_use = 1;
}

// The file just loaded, cut or padded to width x height from the top-left:
// the area the file does not cover is opaque black. False after the block
// could not be had (reported).
bool CropOrPad(NamedTreeNode* node, CgImage& image, int64_t width, int64_t height) {
    InvalidateLayer(node);
    const int32_t new_width = SizeField(width);
    const int32_t new_height = SizeField(height);
    CgImage fresh;  // only lends its block rules and their reports
    if (!AllocCgPixels(fresh, new_width, new_height)) return false;
    uint8_t* out = fresh.owned_block.data();
    for (uint64_t i = 0; i < uint64_t(new_width) * uint64_t(new_height); ++i) {
        std::memcpy(out + i * 4, &kOpaqueBlack, 4);
    }
    if (HoldsPixels(image)) {
        const size_t row_bytes = size_t(std::min(new_width, image.width)) * 4;
        const int32_t rows = std::min(new_height, image.height);
        for (int32_t y = 0; y < rows; ++y) {
            std::memcpy(out + size_t(y) * size_t(new_width) * 4,
                        image.owned_block.data() + size_t(y) * size_t(image.width) * 4, row_bytes);
        }
    }
    InstallCgPixels(image, std::move(fresh.owned_block), new_width, new_height);
    InvalidateLayer(node);
    return true;
}

// One side of a group's canvas: the old area is made dirty, the size
// stored; once both sides are positive the canvas is made anew, all
// transparent and all dirty, and the group's children are composed into it
// at once. False after the canvas could not be had (reported).
bool SetGroupSide(NamedTreeNode* node, CgImage& image, int32_t CgImage::*side, int32_t CgImage::*allocated,
                  int64_t value) {
    PropagateDirtyRect(node);
    image.*side = SizeField(value);
    image.*allocated = image.*side;
    if (image.width <= 0 || image.height <= 0) return true;
    image.whole_dirty = 1;
    image.dirty_valid = 1;
    image.dirty_rect = {0, 0, int64_t{image.width} - 1, int64_t{image.height} - 1};
    if (!ResizeGroupCanvas(image, image.width, image.height)) return false;
    PropagateDirtyRect(node);
    ComposeGroupLayer(node);
    return true;
}

// ---- keywords that only change fields ------------------------------------------------

// Each applies its keyword when it is given and tells whether the field
// changed.
bool ApplyPlain(const CommandArgBlock& args, uint8_t keyword, int64_t& field) {
    const CommandArgSlot* slot = args.Find(keyword);
    if (slot == nullptr) return false;
    const int64_t value = Apply(*slot, field);
    const bool changed = value != field;
    field = value;
    return changed;
}

template <class Field>
bool ApplyLimited(const CommandArgBlock& args, uint8_t keyword, Field& field, int64_t maximum) {
    const CommandArgSlot* slot = args.Find(keyword);
    if (slot == nullptr) return false;
    const int64_t value = ApplyClamped(*slot, int64_t(field), maximum);
    if (value == int64_t(field)) return false;
    field = static_cast<Field>(value);
    return true;
}

// Keywords whose low bits are stored as they are, whatever the operator.
template <class Field>
bool ApplyLowBits(const CommandArgBlock& args, uint8_t keyword, Field& field) {
    const CommandArgSlot* slot = args.Find(keyword);
    if (slot == nullptr) return false;
    const Field value = static_cast<Field>(slot->value);
    if (value == field) return false;
    field = value;
    return true;
}

bool ApplyAngle(const CommandArgBlock& args, uint8_t keyword, float& angle) {
    const CommandArgSlot* slot = args.Find(keyword);
    if (slot == nullptr) return false;
    const float value = static_cast<float>(Apply(*slot, TruncateAngle(angle)));
    if (value == angle) return false;
    angle = value;
    return true;
}

// Keyword 4 or 5 (whole pixels) and 28 or 29 (1/100 pixel) of one axis;
// the two fields are kept in step. The old area is made dirty first unless
// the off-screen mode draws nothing of it.
bool MoveAxis(const CommandArgBlock& args, NamedTreeNode* node, uint8_t keyword, bool hundredths, int64_t& pixels,
              int64_t& fine) {
    const CommandArgSlot* slot = args.Find(keyword);
    if (slot == nullptr) return false;
    const int64_t value = Apply(*slot, hundredths ? fine : pixels);
    if (value == (hundredths ? fine : pixels)) return false;
    if (!InOffScreenMode()) Invalidate(node);
    if (hundredths) {
        fine = value;
        pixels = value / 100;
    } else {
        pixels = value;
        fine = Hundredfold(value);
    }
    return true;
}

// The GPU keywords: the texture grid (25), only in Direct3D layer mode.
// -1 when the grid could not be built, 1 when it was, 0 when nothing ran.
int32_t ApplyTextureForm(const CommandArgBlock& args, CgImage* image) {
    const CommandArgSlot* form = args.Find(kLayerTextureForm);
    if (form == nullptr || form->value != 1 || !InDirect3DLayerMode()) return 0;
    if (image == nullptr) {
        ShowMessageBox("Error", Sjis("CG_TEX エラー."));
        return -1;
    }
    if (image->texture_kind == kTextureKindCpu) image->texture_kind = kTextureKindGrid;
    const CommandArgSlot* option = args.Find(kLayerTextureOption);
    const uint8_t option_byte = option != nullptr ? static_cast<uint8_t>(option->value - 1) : 0;
    const LayerGpuRequests& gpu = TheLayerGpuRequests();
    if (gpu.create_layer_textures == nullptr ||
        gpu.create_layer_textures(*image, option_byte, kTextureWidthCap, kTextureHeightCap) != 0) {
        return -1;
    }
    return 1;
}

// Keywords 30..45 in their order; true when any changed a field (the
// drawing text always counts as a change).
bool ApplyDrawingParameters(const CommandArgBlock& args, CgImage& image) {
    bool changed = false;
    changed |= ApplyPlain(args, kLayerZoomX, image.zoom_x);
    changed |= ApplyPlain(args, kLayerZoomY, image.zoom_y);
    for (uint8_t i = 0; i < image.angles.size(); ++i) changed |= ApplyAngle(args, kLayerAngle1 + i, image.angles[i]);
    for (uint8_t i = 0; i < image.placement.size(); ++i) {
        changed |= ApplyPlain(args, kLayerPlacement1 + i, image.placement[i]);
    }
    changed |= ApplyLimited(args, kLayerSaturation2, image.saturation2, 256);
    changed |= ApplyLimited(args, kLayerTone2, image.tone2, 0x1000000);
    changed |= ApplyLowBits(args, kLayerDrawingOption, image.drawing_option);
    if (const CommandArgSlot* text = args.Find(kLayerDrawingText)) {
        image.drawing_text = CgText(text->Text());
        changed = true;
    }
    changed |= ApplyLimited(args, kLayerDrawingLevel, image.drawing_level, 256);
    changed |= ApplyLimited(args, kLayerKeepBlock, image.keep_block, 1);
    return changed;
}

// A width or height below -1 would become a negative size. Refused before
// the line changes anything.
bool SizeAcceptable(uint8_t keyword, int64_t value) {
    if (value >= kLayerSizeNotGiven) return true;
    ReportScriptErrorF(kErrBelowMinimum, true,
                       {CommandName(kCmdSetLayer), KeywordName(kCmdSetLayer, keyword), value, kLayerSizeNotGiven});
    return false;
}

int64_t SizeArgument(const CommandArgBlock& args, uint8_t keyword) {
    const CommandArgSlot* slot = args.Find(keyword);
    return slot != nullptr ? slot->value : kLayerSizeNotGiven;
}

}  // namespace

bool BuildLayerName(const CommandArgBlock& args, std::string& out) {
    const CommandArgSlot* name = args.Find(kLayerName);
    out.assign(name != nullptr ? name->Text() : std::string_view());
    const CommandArgSlot* number = args.Find(kLayerNumber);
    if (number == nullptr) return false;
    out += '.';
    out += std::to_string(number->value);
    return true;
}

std::optional<AddressedLayer> FindAddressedLayer(const CommandArgBlock& args) {
    const RootTrees& trees = TheRootTrees();
    std::string name;
    BuildLayerName(args, name);
    std::string path;
    // A number does not make the name a leaf here: "bg/" with a number
    // still names a group.
    const int32_t kind = NormaliseNodePath(path, name, trees.layer_folder, false);
    if (kind < 0) return std::nullopt;
    return AddressedLayer{trees.layers != nullptr ? FindNodeByPath(trees.layers, path, kind) : nullptr, kind};
}

int32_t CmdSetLayer() {
    if (DecodeCommandArgs(kCmdSetLayer) != 0) return -1;
    const CommandArgBlock& args = Args();
    const RootTrees& trees = TheRootTrees();
    // The trees exist from start-up to shutdown.
    if (ZK_NEVER(trees.layers == nullptr)) return 0;

    // The layer: its path, its kind and its node. A number makes it a leaf.
    std::string name;
    const bool numbered = BuildLayerName(args, name);
    int64_t order_key = numbered ? args.Find(kLayerNumber)->value : -1;
    std::string path;
    int32_t kind = NormaliseNodePath(path, name, trees.layer_folder, false);
    if (kind < 0) return -1;
    if (numbered) kind = 0;
    NamedTreeNode* node = FindNodeByPath(trees.layers, path, kind);

    const int64_t width = SizeArgument(args, kLayerWidth);
    const int64_t height = SizeArgument(args, kLayerHeight);
    if (!SizeAcceptable(kLayerWidth, width) || !SizeAcceptable(kLayerHeight, height)) return -1;
    const bool width_given = width != kLayerSizeNotGiven;
    const bool height_given = height != kLayerSizeNotGiven;

    bool changed = false;
    if (const CommandArgSlot* priority = args.Find(kLayerPriority)) {
        const int64_t old_key = node != nullptr ? node->order_key : 1;
        order_key = ApplyArgOperatorMin(OperatorOf(*priority), old_key, priority->value, 1);
        changed = SetNodePriority(node, order_key) == 1;
    }

    const CommandArgSlot* file = args.Find(kLayerFile);
    const CommandArgSlot* share = args.Find(kLayerShare);
    CgImage* image = LayerImage(node);
    if (node == nullptr) {
        if (kind == 1) {
            if (file != nullptr || share != nullptr) {
                ReportLayerError(kErrGroupWithImage);
                return -1;
            }
            if (!width_given || !height_given || order_key == -1) return 0;
            image = CreateGroupLayer(path, width, height, order_key, node);
            if (image == nullptr) return -1;
        } else {
            if (file == nullptr && share == nullptr) {
                if (CommandSwitches()[kCmdSetLayer] == 0) return 0;
                ReportLayerError(kErrLayerMissing, path);
                return -1;
            }
            if (order_key == -1) {
                ReportLayerError(kErrLayerWithoutOrder);
                return -1;
            }
            image = CreateLeafLayer(path, order_key, file, share, node);
            if (image == nullptr) return -1;
        }
    } else if (image == nullptr) {
        // A node another part of the engine left without a record: a file
        // gives it one; without one nothing here can be set on it.
        if (file == nullptr || node->group != 0) return 0;
        image = CreateCgImage(node);
        if (image == nullptr) return -1;
    }

    if (file != nullptr) {
        if (node->group != 0) {
            ReportLayerError(kErrGroupWithImage);
            return -1;
        }
        InvalidateLayer(node);
        if (LoadCgFile(*image, file->Text()) != 0) {
            QuitFlag = 1;
            return -1;
        }
        changed = true;
    }

    if (const CommandArgSlot* mask = args.Find(kLayerMaskSource); mask != nullptr && !mask->Text().empty()) {
        std::string mask_path;
        if (NormaliseNodePath(mask_path, mask->Text(), trees.layer_folder, false) < 0) return -1;
        if (const CgImage* source = LayerImage(FindNodeByPath(trees.layers, mask_path, kFindLeaf))) {
            if (source->width != image->width || source->height != image->height) {
                ShowMessageBox(nullptr, Sjis("レイヤ画像とマスクレイヤ画像のサイズが異なります。"));
                QuitFlag = 1;
                return -1;
            }
            CopyBlueIntoAlpha(*image, *source);
        }
    }

    if (const CommandArgSlot* mask_name = args.Find(kLayerMaskName)) {
        std::string text(mask_name->Text());
        if (const CommandArgSlot* number = args.Find(kLayerMaskNumber)) {
            text += '.';
            text += std::to_string(number->value);
        }
        image->mask_layer_name = CgText(text);
    }

    if (const CommandArgSlot* visible = args.Find(kLayerVisible); visible != nullptr && visible->value != image->visible) {
        Invalidate(node);
        image->visible = static_cast<uint8_t>(visible->value);
        changed = true;
    }
    if (ApplyLimited(args, kLayerOpacity, image->opacity, 256)) {
        Invalidate(node);
        changed = true;
    }

    changed |= MoveAxis(args, node, kLayerX, false, image->x, image->x100);
    changed |= MoveAxis(args, node, kLayerX100, true, image->x, image->x100);
    changed |= MoveAxis(args, node, kLayerY, false, image->y, image->y100);
    changed |= MoveAxis(args, node, kLayerY100, true, image->y, image->y100);

    changed |= ApplyLimited(args, kLayerTone, image->tone, 0x1000000);
    changed |= ApplyLimited(args, kLayerSaturation, image->saturation, 256);

    if (node->group != 0) {
        if (width_given && !SetGroupSide(node, *image, &CgImage::width, &CgImage::allocated_width, width)) return -1;
        if (height_given && !SetGroupSide(node, *image, &CgImage::height, &CgImage::allocated_height, height)) {
            return -1;
        }
    } else if (width_given || height_given) {
        if (file == nullptr) {
            // Without a file just loaded the size stays; the line still
            // counts as a change.
            changed = true;
        } else {
            if (!width_given || !height_given) {
                ReportLayerError(kErrLayerResizeHalf);
                return -1;
            }
            if (!CropOrPad(node, *image, width, height)) return -1;
        }
    }

    changed |= ApplyLimited(args, kLayerMaskLevel, image->mask_level, 256);
    changed |= ApplyLowBits(args, kLayerMaskSoftness, image->mask_softness);
    changed |= ApplyLowBits(args, kLayerBlendMode, image->blend_mode);

    const int32_t textures = ApplyTextureForm(args, image);
    if (textures < 0) return -1;
    changed |= textures > 0;

    LayerGpuRequests& gpu = TheLayerGpuRequests();
    if (const CommandArgSlot* capture = args.Find(kLayerCapture)) {
        if (capture->value == 1) gpu.capture_layer = node;
        if (capture->value == 0) gpu.capture_layer = nullptr;
    }

    changed |= ApplyDrawingParameters(args, *image);

    if (args.Given(kLayerDrawNow) && InDirect3DLayerMode() && gpu.draw_layer_frame != nullptr) {
        gpu.draw_layer_frame();
        changed = true;
    }

    // The user values are the script's own: they never redraw anything.
    ApplyPlain(args, kLayerUser1, image->user_value1);
    ApplyPlain(args, kLayerUser2, image->user_value2);

    if (changed) {
        gpu.full_redraw = 1;
        Invalidate(node);
    }
    return 0;
}

void InstallLayerCommands() {
    RegisterCommandHandler(kCmdSetLayer, CmdSetLayer);
    RegisterCommandHandler(kCmdDeleteLayer, CmdDeleteLayer);
}

}  // namespace zk
