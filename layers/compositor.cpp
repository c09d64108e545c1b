#include "layers/compositor.h"

#include <algorithm>
#include <string>

#include "core/engine_state.h"
#include "core/error_report.h"
#include "core/named_tree.h"
#include "core/root_trees.h"
#include "base/system_text.h"
#include "core/window_record.h"
#include "layers/blend_jobs.h"
#include "layers/blend_modes.h"
#include "layers/cg_image.h"
#include "layers/colour_tone.h"
#include "layers/layer_gpu_requests.h"
#include "layers/mask_opacity_ramp.h"
#include "layers/pixel_kernels.h"
#include "base/never.h"

namespace zk {

namespace {

bool IsEmpty(const LayerRect& r) { return r[kRectLeft] > r[kRectRight] || r[kRectTop] > r[kRectBottom]; }

LayerRect Intersection(const LayerRect& a, const LayerRect& b) {
    return {std::max(a[kRectLeft], b[kRectLeft]), std::max(a[kRectTop], b[kRectTop]),
            std::min(a[kRectRight], b[kRectRight]), std::min(a[kRectBottom], b[kRectBottom])};
}

// Union where an empty operand adds nothing.
LayerRect Union(const LayerRect& a, const LayerRect& b) {
    if (IsEmpty(a)) return b;
    if (IsEmpty(b)) return a;
    return {std::min(a[kRectLeft], b[kRectLeft]), std::min(a[kRectTop], b[kRectTop]),
            std::max(a[kRectRight], b[kRectRight]), std::max(a[kRectBottom], b[kRectBottom])};
}

int32_t ClampedOpacity(const CgImage& image) { return std::clamp<int32_t>(image.opacity, 0, 256); }

bool HasMaskName(const CgImage& image) { return !image.mask_layer_name.empty(); }

// A nested window-mode group of zero width or height: a plain folder that
// places its children without clipping them.
bool IsFolderGroup(const CgImage& image, bool window_mode, int depth) {
    return window_mode && depth != 0 && (image.width <= 0 || image.height <= 0);
}

int64_t RectSpan(int64_t first, int64_t last) { return SaturatingAdd(SaturatingAdd(last, -first), 1); }

// The layer's area against a rectangle of its parent's pixels.
BlitRect AreaAgainst(const CgImage& image, const LayerRect& rect) {
    BlitRect blit;
    blit.a_x = image.x;
    blit.a_y = image.y;
    blit.a_width = image.width;
    blit.a_height = image.height;
    blit.b_x = rect[kRectLeft];
    blit.b_y = rect[kRectTop];
    blit.b_width = RectSpan(rect[kRectLeft], rect[kRectRight]);
    blit.b_height = RectSpan(rect[kRectTop], rect[kRectBottom]);
    IntersectBlitRects(blit);
    return blit;
}

bool AreaMisses(const CgImage& image, const LayerRect& rect) {
    return image.x > rect[kRectRight] || image.y > rect[kRectBottom] ||
           SaturatingAdd(image.x, image.width) <= rect[kRectLeft] ||
           SaturatingAdd(image.y, image.height) <= rect[kRectTop];
}

bool AreaCovers(const CgImage& image, const LayerRect& rect) {
    return image.x <= rect[kRectLeft] && image.y <= rect[kRectTop] &&
           SaturatingAdd(image.x, int64_t{image.width} - 1) >= rect[kRectRight] &&
           SaturatingAdd(image.y, int64_t{image.height} - 1) >= rect[kRectBottom];
}

// The child that hides everything under it inside `work`: shown, normal,
// fully opaque without alpha or an active mask, with pixels, covering the
// whole area. In window mode a group never hides anything: it is not drawn
// itself, only its children are.
bool Occludes(const NamedTreeNode* node, const CgImage& image, bool window_mode, const LayerRect& work) {
    if (window_mode && node->group != 0) return false;
    return image.visible != 0 && DrawnBlendMode(image.blend_mode) == BlendMode::kNormal &&
           ClampedOpacity(image) == 256 && image.alpha_in_use == 0 &&
           (!HasMaskName(image) || image.mask_level >= 256) && image.texture_kind == kTextureKindCpu &&
           CurrentPixelBytes(image) != 0 &&
           AreaCovers(image, work);
}

void ClearRect(CgImage& image, const LayerRect& rect) {
    LayerRect r = Intersection(rect, {0, 0, int64_t{image.width} - 1, int64_t{image.height} - 1});
    if (IsEmpty(r)) return;
    const uint64_t row_bytes = uint64_t(r[kRectRight] - r[kRectLeft] + 1) * 4;
    const uint64_t end = (uint64_t(r[kRectBottom]) * uint64_t(image.width) + uint64_t(r[kRectRight]) + 1) * 4;
    if (ZK_NEVER(end > CurrentPixelBytes(image))) return;  // the image's block holds its size
    for (int64_t y = r[kRectTop]; y <= r[kRectBottom]; ++y)
        PixelKernels.zero_bytes(image.current_pixels + (y * image.width + r[kRectLeft]) * 4, int64_t(row_bytes));
}

uint64_t BytesFrom(const PixelBlock& block, const uint8_t* pointer) {
    const auto start = reinterpret_cast<uintptr_t>(block.data());
    const auto at = reinterpret_cast<uintptr_t>(pointer);
    if (start == 0 || at < start || at - start >= block.size()) return 0;
    return block.size() - (at - start);
}

// The mask image of a layer, or null when it names none that exists.
// False when the name cannot be normalised (reported).
bool FindMaskImage(const CgImage& image, const CgImage*& mask) {
    mask = nullptr;
    if (!HasMaskName(image)) return true;
    RootTrees& roots = TheRootTrees();
    std::string path;
    if (NormaliseNodePath(path, image.mask_layer_name, roots.layer_folder, false) < 0) return false;
    if (roots.layers == nullptr) return true;
    const CgImage* found = LayerImage(FindNodeByPath(roots.layers, path, kFindLeaf));
    if (found != nullptr && CurrentPixelBytes(*found) != 0) mask = found;
    return true;
}

void ReportMaskSize(const NamedTreeNode* node, const CgImage& image, const CgImage& mask) {
    ReportScriptErrorF(kErrMaskSize, true,
                       {std::string_view(node->name), int64_t{image.width}, int64_t{image.height},
                        std::string_view(image.mask_layer_name), int64_t{mask.width}, int64_t{mask.height}});
}

int ComposeChildren(NamedTreeNode* group, CgImage& target, CgImage& image, int window, int depth, int64_t offset_x,
                    int64_t offset_y, const LayerRect& work, int whole);

}  // namespace

uint64_t CurrentPixelBytes(const CgImage& image) {
    if (image.current_pixels == nullptr) return 0;
    if (uint64_t bytes = BytesFrom(image.owned_block, image.current_pixels)) return bytes;
    return BytesFrom(image.derived_copy, image.current_pixels);
}

std::span<const uint8_t> WholeImagePixels(const CgImage& image) {
    if (image.width <= 0 || image.height <= 0) return {};
    if (CurrentPixelBytes(image) / 4 / uint64_t(image.width) < uint64_t(image.height)) return {};
    return {image.current_pixels, size_t(image.width) * size_t(image.height) * 4};
}

int PrepareDrawnPixels(CgImage& image) {
    const uint32_t tone = image.tone & 0xFFFFFF;
    const int32_t saturation = image.saturation;
    const bool toned = tone != kNeutralTone;
    const bool saturated = saturation != kNeutralSaturation;
    if (!toned && !saturated) {
        // Back to neutral after a copy: draw the layer's own pixels again.
        if (image.derived_copy.data() != nullptr) {
            if (image.current_pixels == image.derived_copy.data()) image.current_pixels = image.owned_block.data();
            image.derived_copy.Reset();
        }
        return CurrentPixelBytes(image) != 0 ? 0 : 1;
    }

    // A copy is derived at most once a frame: a second composition in the
    // same frame reuses it, unless the settings changed in between.
    const int64_t frame = static_cast<int64_t>(TheFrameCounters.frame_count);
    if (image.derived_copy_frame == frame && image.derived_copy.data() != nullptr &&
        image.derived_copy_tone == tone && image.derived_copy_saturation == saturation) {
        image.current_pixels = image.derived_copy.data();
        return 0;
    }

    if (image.width > kMaxCgWidth) {
        ReportCgTooWide(image.width, image.height);
        return -1;
    }
    const uint64_t pixel_bytes = uint64_t(std::max(image.width, 0)) * uint64_t(std::max(image.height, 0)) * 4;
    if (pixel_bytes == 0 || BytesFrom(image.owned_block, image.owned_block.data()) < pixel_bytes) return 1;
    const uint64_t block_bytes = CgPixelBlockBytes(image.width, image.height);
    if (block_bytes == 0 || !image.derived_copy.Resize(block_bytes)) {
        if (image.current_pixels != image.owned_block.data()) image.current_pixels = image.owned_block.data();
        ReportEngineErrorF(kErrFileNoMemory, true, {std::string_view()});
        return -1;
    }

    const LayerRect whole = {0, 0, int64_t{image.width} - 1, int64_t{image.height} - 1};
    std::span<uint8_t> copy(image.derived_copy.data(), pixel_bytes);
    std::span<const uint8_t> from(image.owned_block.data(), pixel_bytes);
    if (toned) {
        ApplyColourTone(copy, from, whole, image.width, image.height, image.width, image.height, tone);
        from = copy;
    }
    if (saturated)
        ApplySaturation(copy, from, whole, image.width, image.height, image.width, image.height, saturation);
    image.current_pixels = image.derived_copy.data();
    image.derived_copy_frame = frame;
    image.derived_copy_tone = tone;
    image.derived_copy_saturation = saturation;
    return 0;
}

int ComposeWindow(int window_number) {
    const int quit = QuitFlag.load();
    WindowRecord* record = GetWindowRecord(window_number);
    if (record == nullptr) return quit;
    NamedTreeNode* root = record->shown_layer_set;
    CgImage* image = LayerImage(root);
    if (image == nullptr || record->canvas == nullptr || record->shown == 0 || image->visible == 0) return quit;
    record->drawn = 1;
    if (image->changed == 0) return quit;
    const LayerRect whole = {0, 0, int64_t{image->width} - 1, int64_t{image->height} - 1};
    // The GPU path draws its texture layers first, into the capture layer
    // that this composition then shows.
    LayerGpuRequests& gpu = TheLayerGpuRequests();
    if (window_number == 0 && gpu.full_redraw != 0 && InDirect3DLayerMode()) {
        gpu.full_redraw = 0;
        image->whole_dirty = 1;
        image->dirty_valid = 1;
        image->dirty_rect = whole;
        image->changed = 1;
        if (gpu.draw_layer_frame != nullptr) gpu.draw_layer_frame();
        if (InOffScreenMode()) return QuitFlag.load();
    }
    if (ComposeLayerTree(root, window_number, 0, 0, 0, 0, whole, 0) != 0) return -1;
    return QuitFlag.load();
}

int ComposeGroupLayer(NamedTreeNode* group) {
    CgImage* image = LayerImage(group);
    if (image == nullptr) return 0;
    return ComposeLayerTree(group, -1, 0, 0, 0, 0, image->dirty_rect, 1);
}

int ComposeLayerTree(NamedTreeNode* group, int window, int nested, int depth, int64_t offset_x, int64_t offset_y,
                     const LayerRect& clip, int whole) {
    CgImage* image = LayerImage(group);
    if (image == nullptr) return 0;
    const bool window_mode = window != -1 && whole == 0;
    CgImage* target = image;
    if (window_mode) {
        WindowRecord* record = GetWindowRecord(window);
        target = record != nullptr ? LayerImage(record->shown_layer_set) : nullptr;
        if (target == nullptr) return 0;
    }
    const bool folder = IsFolderGroup(*image, window_mode, depth);
    if (!folder && CurrentPixelBytes(*image) == 0) return 0;
    image->alpha_in_use = window_mode ? 1 : static_cast<uint8_t>(1 - (nested != 0 ? 1 : 0));

    // The area to draw, in the group's pixels. A window's root draws its
    // dirty rectangle (clip only narrows it). A nested group draws what
    // its parent needs of it (clip) and, keeping its own canvas in group
    // mode, whatever of its own changed.
    LayerRect work = clip;
    if (!folder) {
        const bool window_nested = window_mode && depth != 0;
        if (!window_nested && image->dirty_valid == 0) return 0;
        if (window_mode && depth == 0)
            work = Intersection(image->dirty_rect, clip);
        else if (image->dirty_valid != 0)
            work = Union(image->dirty_rect, clip);
        image->dirty_rect = work;
    }
    UpdatePresentedRect(*image);
    if (IsEmpty(work)) return 0;
    return ComposeChildren(group, *target, *image, window, depth, offset_x, offset_y, work, whole);
}

namespace {

int ComposeChildren(NamedTreeNode* group, CgImage& target, CgImage& image, int window, int depth, int64_t offset_x,
                    int64_t offset_y, const LayerRect& work, int whole) {
    const bool window_mode = window != -1 && whole == 0;

    NamedTreeNode* start = group->first_child;
    bool occluded = false;
    for (NamedTreeNode* node = group->last_child; node != nullptr; node = node->prev_sibling) {
        const CgImage* child = LayerImage(node);
        if (child != nullptr && Occludes(node, *child, window_mode, work)) {
            start = node;
            occluded = true;
            break;
        }
    }
    if (!occluded && !(window_mode && depth != 0)) ClearRect(image, work);

    // Layers go to the workers in runs; a nested group's composition (which
    // posts its own) and its reading of what is already drawn wait for
    // the run before it.
    BlendBatch batch;
    for (NamedTreeNode* node = start; node != nullptr; node = node->next_sibling) {
        CgImage* child = LayerImage(node);
        if (child == nullptr) continue;

        if (node->group != 0) {
            LayerRect child_clip;
            if (IsFolderGroup(*child, window_mode, depth + 1)) {
                // A folder does not clip: it needs all of the parent's area,
                // moved into its own coordinates.
                child_clip = {SaturatingAdd(work[kRectLeft], -child->x), SaturatingAdd(work[kRectTop], -child->y),
                              SaturatingAdd(work[kRectRight], -child->x),
                              SaturatingAdd(work[kRectBottom], -child->y)};
            } else {
                BlitRect overlap = AreaAgainst(*child, work);
                child_clip = {overlap.offset_x, overlap.offset_y,
                              SaturatingAdd(overlap.offset_x, overlap.overlap_width - 1),
                              SaturatingAdd(overlap.offset_y, overlap.overlap_height - 1)};
            }
            // In window mode a group outside the area has nothing to draw; a
            // group canvas may still have changes of its own to compose.
            if (!(window_mode && IsEmpty(child_clip))) {
                batch.Flush();
                if (ComposeLayerTree(node, window, 1, depth + 1, SaturatingAdd(offset_x, child->x),
                                     SaturatingAdd(offset_y, child->y), child_clip, whole) != 0)
                    return -1;
            }
            if (window_mode) continue;
        }

        if (child->visible == 0 || ClampedOpacity(*child) == 0) continue;
        if (HasMaskName(*child) && child->mask_level == 0) continue;
        if (child->texture_kind != kTextureKindCpu) continue;  // drawn by the GPU path
        if (AreaMisses(*child, work)) continue;

        // Where the child's rows land: first inside this group's area, then,
        // in window mode, moved into the window's image and cut to its dirty
        // rectangle.
        BlitRect inside = AreaAgainst(*child, work);
        if (inside.overlap_width <= 0 || inside.overlap_height <= 0) continue;
        BlendRows blend;
        WorkerBlendParams& job = blend.params;
        job.source_x = inside.offset_x;
        job.source_y = inside.offset_y;
        job.destination_x = inside.start_x;
        job.destination_y = inside.start_y;
        job.width = inside.overlap_width;
        blend.height = inside.overlap_height;
        if (window_mode) {
            BlitRect placed;
            placed.a_x = SaturatingAdd(offset_x, inside.start_x);
            placed.a_y = SaturatingAdd(offset_y, inside.start_y);
            placed.a_width = inside.overlap_width;
            placed.a_height = inside.overlap_height;
            const LayerRect& dirty = target.dirty_rect;
            placed.b_x = dirty[kRectLeft];
            placed.b_y = dirty[kRectTop];
            placed.b_width = RectSpan(dirty[kRectLeft], dirty[kRectRight]);
            placed.b_height = RectSpan(dirty[kRectTop], dirty[kRectBottom]);
            IntersectBlitRects(placed);
            if (placed.overlap_width <= 0 || placed.overlap_height <= 0) continue;
            job.source_x = SaturatingAdd(job.source_x, placed.offset_x);
            job.source_y = SaturatingAdd(job.source_y, placed.offset_y);
            job.destination_x = placed.start_x;
            job.destination_y = placed.start_y;
            job.width = placed.overlap_width;
            blend.height = placed.overlap_height;
        }

        const CgImage* mask = nullptr;
        if (!FindMaskImage(*child, mask)) return -1;
        if (CurrentPixelBytes(*child) == 0) continue;
        const int prepared = PrepareDrawnPixels(*child);
        if (prepared < 0) return -1;
        if (prepared > 0) continue;

        const bool masked = mask != nullptr && child->mask_level < 256;
        if (masked) {
            if (child->width != mask->width || child->height != mask->height) {
                ReportMaskSize(node, *child, *mask);
                return -1;
            }
            BuildMaskOpacityRamp(*child);
        }
        if (child->alpha_in_use != 0)
            blend.code = masked ? kJobBlendMaskSourceAlpha : kJobBlendSourceAlpha;
        else
            blend.code = masked ? kJobBlendMask : kJobBlendPlain;
        job.destination = window_mode ? &target : &image;
        job.source = child;
        job.mask = masked ? mask : nullptr;
        job.mask_pixels = masked ? mask->current_pixels : nullptr;
        batch.Add(blend);
    }
    return 0;
}

}  // namespace

}  // namespace zk
