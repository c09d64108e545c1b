#include "renderer/gpu_layer_drawing.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "core/named_tree.h"
#include "core/root_trees.h"
#include "layers/cg_image.h"
#include "layers/dirty_rect.h"
#include "renderer/gpu_device.h"
#include "renderer/texture_grid.h"

namespace zk {

namespace {

using platform::GlBlendFactor;
using platform::GlBlendOp;
using platform::GlCombine;
using platform::GlDrawState;
using platform::GlTexture;
using platform::GlVertex;

constexpr double kRadiansPerDegree = 0.01745329238474369;

// The fractional part of p, same sign as p, in 16.16 fixed point.
double Frac(double p) {
    const int64_t fixed = static_cast<int64_t>(p * 65536.0);
    return static_cast<double>(fixed % 65536) / 65536.0;
}

// Row-vector rotation: roll about z, then pitch about x, then yaw about y.
struct Rotation {
    double m[3][3];
};
Rotation YawPitchRoll(double yaw, double pitch, double roll) {
    const double sy = std::sin(yaw), cy = std::cos(yaw);
    const double sp = std::sin(pitch), cp = std::cos(pitch);
    const double sr = std::sin(roll), cr = std::cos(roll);
    Rotation r{};
    r.m[0][0] = sr * sp * sy + cr * cy;
    r.m[0][1] = sr * cp;
    r.m[0][2] = sr * sp * cy - cr * sy;
    r.m[1][0] = cr * sp * sy - sr * cy;
    r.m[1][1] = cr * cp;
    r.m[1][2] = cr * sp * cy + sr * sy;
    r.m[2][0] = cp * sy;
    r.m[2][1] = -sp;
    r.m[2][2] = cp * cy;
    return r;
}

bool SameTiling(const TextureGrid& a, const TextureGrid* b) {
    if (b == nullptr || a.columns != b->columns || a.rows != b->rows || a.device_generation != b->device_generation)
        return false;
    for (int32_t c = 0; c < a.columns; ++c)
        if (a.tile_widths[static_cast<size_t>(c)] != b->tile_widths[static_cast<size_t>(c)]) return false;
    for (int32_t r = 0; r < a.rows; ++r)
        if (a.tile_heights[static_cast<size_t>(r)] != b->tile_heights[static_cast<size_t>(r)]) return false;
    return true;
}

// The node a mask or partner name names, or null; false when the name
// cannot be normalised.
bool FindLayerByName(const std::string& name, NamedTreeNode*& found) {
    found = nullptr;
    if (name.empty()) return true;
    const RootTrees& roots = TheRootTrees();
    std::string path;
    if (NormaliseNodePath(path, name, roots.layer_folder, false) < 0) return false;
    found = FindNodeByPath(roots.layers, path, kFindLeaf);
    return true;
}

void RenderEmoteLayer(CgImage& image) {
    GpuDeviceHooks& hooks = TheGpuDeviceHooks();
    RendererObjects& objects = TheRendererObjects();
    TextureGrid* grid = image.textures.get();
    if (grid == nullptr || grid->textures[0] == 0 || objects.device == nullptr) return;
    platform::GlDevice& device = *objects.device;
    const GlTexture previous = device.RenderTarget();
    const int32_t previous_width = device.TargetWidth(), previous_height = device.TargetHeight();
    const int32_t width = grid->tile_widths[0], height = grid->tile_heights[0];
    if (device.SetRenderTarget(grid->textures[0], width, height)) {
        device.Clear(kTransparentFillColour);
        if (hooks.render_emote_layer != nullptr) hooks.render_emote_layer(image, grid->textures[0], width, height);
        device.RestoreState();
    }
    if (previous != 0) device.SetRenderTarget(previous, previous_width, previous_height);
}

}  // namespace

int32_t BuildTileQuads(const CgImage& image, const TextureGrid& grid, bool emote, TileQuad* out, int32_t capacity) {
    double x = static_cast<double>(image.x100) / 100.0;
    double y = static_cast<double>(image.y100) / 100.0;
    double zoom_x = static_cast<double>(image.zoom_x) / 100.0;
    double zoom_y = static_cast<double>(image.zoom_y) / 100.0;
    double angles[3] = {image.angles[0] / 100.0, image.angles[1] / 100.0, image.angles[2] / 100.0};
    if (emote) {
        x = y = 0;
        zoom_x = zoom_y = 100;
        angles[0] = angles[1] = angles[2] = 0;
    }
    const double centre_x = static_cast<double>(image.placement[0]) / 100.0;
    const double centre_y = static_cast<double>(image.placement[1]) / 100.0;
    const bool rotated = angles[0] != 0 || angles[1] != 0 || angles[2] != 0;
    const Rotation rotation =
        YawPitchRoll(angles[0] * kRadiansPerDegree, angles[1] * kRadiansPerDegree, angles[2] * kRadiansPerDegree);

    int32_t count = 0;
    double top = y - 0.5;
    for (int32_t r = 0; r < grid.rows; ++r) {
        const int32_t tile_height = grid.tile_heights[static_cast<size_t>(r)];
        const double bottom = top + tile_height * zoom_y / 100.0;
        double left = x - 0.5;
        for (int32_t c = 0; c < grid.columns; ++c) {
            const int32_t tile_width = grid.tile_widths[static_cast<size_t>(c)];
            const double right = left + tile_width * zoom_x / 100.0;
            if (count >= capacity) return count;
            // The edges' offsets from whole pixels, as a fringe of the
            // texture coordinates (0 and 1 exactly at whole pixels).
            const double u_left = Frac(left + 0.5) / (4.0 * tile_width);
            const double u_right = 1.0 + Frac(right + 0.5) / (4.0 * tile_width);
            const double v_top = Frac(top + 0.5) / (4.0 * tile_height);
            const double v_bottom = 1.0 + Frac(bottom + 0.5) / (4.0 * tile_height);
            const double corners[4][4] = {{left, bottom, u_left, v_bottom},
                                          {right, bottom, u_right, v_bottom},
                                          {left, top, u_left, v_top},
                                          {right, top, u_right, v_top}};
            TileQuad& quad = out[count++];
            for (int i = 0; i < 4; ++i) {
                double px = corners[i][0], py = corners[i][1], pz = 0;
                if (rotated) {
                    const double rx = px - centre_x, ry = py - centre_y;
                    px = rx * rotation.m[0][0] + ry * rotation.m[1][0] + centre_x;
                    py = rx * rotation.m[0][1] + ry * rotation.m[1][1] + centre_y;
                    pz = rx * rotation.m[0][2] + ry * rotation.m[1][2];
                }
                GlVertex& vertex = quad.vertices[i];
                vertex.x = static_cast<float>(px);
                vertex.y = static_cast<float>(py);
                vertex.z = static_cast<float>(std::clamp(pz, 0.0, 1.0));
                vertex.colour = 0;
                vertex.u = static_cast<float>(corners[i][2]);
                vertex.v = static_cast<float>(corners[i][3]);
            }
            left = right;
        }
        top = bottom;
    }
    return count;
}

uint32_t VertexColourFor(uint8_t blend_mode, uint32_t a) {
    switch (blend_mode) {
        case 0: case 1: case 2: case 3: case 5: case 6: case 7: case 9: case 98: case 100:
            return a * 0x01010101u;
        default:
            return 0xFF000000u;
    }
}

GlDrawState BlendStateFor(uint8_t blend_mode, uint32_t a) {
    const RendererObjects& objects = TheRendererObjects();
    GlDrawState state;
    switch (blend_mode) {
        case 1:
            state.combine = GlCombine::kTextureDiffuseAlpha;
            state.source = GlBlendFactor::kSrcAlpha;
            state.destination = GlBlendFactor::kOne;
            break;
        case 2:
            state.combine = GlCombine::kModulate;
            state.source = GlBlendFactor::kSrcAlpha;
            state.destination = GlBlendFactor::kOne;
            state.op = GlBlendOp::kRevSubtract;
            break;
        case 3:
            state.combine = GlCombine::kModulateOverTexture2;
            state.texture2 = objects.white;
            state.factor = 0xFFFFFFFFu;
            state.source = GlBlendFactor::kZero;
            state.destination = GlBlendFactor::kSrcColour;
            break;
        case 5:
            state.combine = GlCombine::kModulateOverTexture2;
            state.texture2 = objects.black;
            state.source = GlBlendFactor::kInvDestColour;
            state.destination = GlBlendFactor::kOne;
            break;
        case 6:
            state.combine = GlCombine::kModulate;
            state.source = state.destination = GlBlendFactor::kOne;
            state.op = GlBlendOp::kMax;
            break;
        case 7:
            state.combine = GlCombine::kModulateOverFactor;
            state.factor = 0xFFFFFFFFu;
            state.source = state.destination = GlBlendFactor::kOne;
            state.op = GlBlendOp::kMin;
            break;
        case 9:
            state.combine = GlCombine::kModulate;
            state.source = GlBlendFactor::kInvDestColour;
            state.destination = GlBlendFactor::kInvSrcColour;
            break;
        default:
            // Mode 0, and the modes without settings of their own: normal
            // drawing with the layer's opacity.
            state.combine = GlCombine::kTextureFactorAlpha;
            state.factor = a << 24;
            break;
    }
    return state;
}

int32_t DrawLayerQuads(CgImage* image, CgImage* mask, CgImage* partner, int draw_flag, uint8_t blend_mode) {
    RendererObjects& objects = TheRendererObjects();
    if (image == nullptr || objects.device == nullptr) return 0;
    const TextureGrid* grid = image->textures.get();
    if (grid == nullptr || grid->textures[0] == 0 || grid->device_generation != objects.generation) return 0;
    platform::GlDevice& device = *objects.device;
    platform::GlDevice::Current current(device);
    if (!current.ok()) return -1;

    uint32_t a = static_cast<uint32_t>(std::clamp<int32_t>(image->opacity, 0, 255));
    if (draw_flag == 0) a = 0;
    const uint32_t colour = VertexColourFor(blend_mode, a);
    const bool emote = image->texture_kind == kTextureKindEmote && GpuEmoteAvailable();

    // A mask or partner with other tiles than the layer is drawn as without.
    const TextureGrid* mask_grid = mask != nullptr ? mask->textures.get() : nullptr;
    const TextureGrid* partner_grid = partner != nullptr ? partner->textures.get() : nullptr;
    if (!SameTiling(*grid, mask_grid)) mask_grid = nullptr;
    if (!SameTiling(*grid, partner_grid)) partner_grid = nullptr;

    GlDrawState state = BlendStateFor(blend_mode, a);
    const TextureGrid* second = nullptr;
    if (mask_grid != nullptr && image->mask_softness >= 1) {
        const double t = image->mask_level, s = image->mask_softness;
        state.combine = GlCombine::kMaskTransition;
        state.alpha = static_cast<float>(image->opacity / 256.0);
        state.fade = static_cast<float>(t * (256.0 / s + 128.0) / 65536.0);
        state.fade2 = static_cast<float>(s);
        second = mask_grid;
    } else if (partner_grid != nullptr) {
        state.combine = GlCombine::kCrossfade;
        state.alpha = static_cast<float>(image->opacity / 256.0);
        state.fade = static_cast<float>(image->drawing_level / 256.0);
        second = partner_grid;
    }

    TileQuad quads[kMaxGridTextures];
    const int32_t count = BuildTileQuads(*image, *grid, emote, quads, kMaxGridTextures);
    int32_t result = 0;
    for (int32_t i = 0; i < count; ++i) {
        state.texture1 = grid->textures[static_cast<size_t>(i)];
        if (state.texture1 == 0) continue;
        if (second != nullptr) {
            state.texture2 = second->textures[static_cast<size_t>(i)];
            if (state.texture2 == 0) continue;
        }
        for (GlVertex& vertex : quads[i].vertices) vertex.colour = colour;
        if (!device.DrawQuad(quads[i].vertices, state)) result = -1;
    }
    return result;
}

int32_t DrawLayerTree(NamedTreeNode* group) {
    CgImage* group_image = LayerImage(group);
    if (group_image == nullptr || group_image->current_pixels == nullptr) return 0;
    for (NamedTreeNode* node = group->first_child; node != nullptr; node = node->next_sibling) {
        if (node->group != 0 && DrawLayerTree(node) != 0) return -1;
        CgImage* image = LayerImage(node);
        if (image == nullptr || image->texture_kind == kTextureKindCpu) continue;
        if (image->visible == 0 || image->opacity == 0) continue;
        if (image->current_pixels == nullptr) return 0;
        if (image->texture_kind == kTextureKindEmote && GpuEmoteAvailable()) RenderEmoteLayer(*image);
        NamedTreeNode* mask = nullptr;
        NamedTreeNode* partner = nullptr;
        if (!FindLayerByName(image->mask_layer_name, mask)) return -1;
        if (!FindLayerByName(image->drawing_text, partner)) return -1;
        DrawLayerQuads(image, LayerImage(mask), LayerImage(partner), 1, image->blend_mode);
    }
    return 0;
}

int32_t ReadBackRenderTarget(uint8_t* destination, int32_t width, int32_t height) {
    RendererObjects& objects = TheRendererObjects();
    if (destination == nullptr || width <= 0 || height <= 0) return 0;
    const size_t stride = static_cast<size_t>(width) * 4;
    int32_t read_width = 0, read_height = 0;
    if (objects.device != nullptr && objects.device->RenderTarget() != 0) {
        read_width = std::min(width, objects.device->TargetWidth());
        read_height = std::min(height, objects.device->TargetHeight());
        if (read_width > 0 && read_height > 0 &&
            !objects.device->ReadPixels(0, 0, read_width, read_height, destination, stride))
            read_width = read_height = 0;
    }
    // What the target does not cover is transparent black.
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* row = destination + static_cast<size_t>(y) * stride;
        const int32_t kept = y < read_height ? read_width : 0;
        std::memset(row + static_cast<size_t>(kept) * 4, 0, stride - static_cast<size_t>(kept) * 4);
    }
    return 0;
}

}  // namespace zk
