// Layer textures: a texture layer's pixels cut into a grid of tiles, each
// tile one texture of the GPU device. The tiling rule, the upload through
// one engine-wide staging block, and the release of a grid's textures.
//
// Threading: the thread of the frame step and the script (command 1,
// command 2 and the device reset); one upload at a time.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/gl_device.h"

namespace zk {

struct CgImage;

constexpr int32_t kMaxTilesPerAxis = 31;
constexpr int32_t kMaxGridTextures = 256;
constexpr size_t kFirstStagingBytes = 4u << 20;

struct TextureGrid {
    uint8_t columns = 0, rows = 0;
    // The caller's tile caps of the last upload (kept for re-creation).
    int32_t width_cap = 0, height_cap = 0;
    std::array<int32_t, 32> tile_widths{};
    std::array<int32_t, 32> tile_heights{};
    // Row-major (index = row x columns + column); 0 where empty.
    std::array<platform::GlTexture, kMaxGridTextures> textures{};
    // The device the textures belong to: textures of an earlier device are
    // forgotten, never deleted through a later one.
    uint64_t device_generation = 0;
};

// The grid of `image`, made (empty) when it has none. Null only when the
// image is null.
TextureGrid* GridOf(CgImage* image);
const TextureGrid* GridOf(const CgImage* image);

// One axis of the tiling: the tile sizes for `size` pixels under the caps
// (a cap of 0 or less does not apply), widths with the 512 rule. Returns the
// tile count (1..31), or -1 when a 32nd tile would be needed; `rest_after`
// is then what was left after the 32nd tile.
int32_t TileAxis(int32_t size, bool widths, std::span<const int32_t> caps, std::array<int32_t, 32>& tiles,
                 int32_t& rest_after);

// The upload request (engine-wide, filled just before an upload, cleared
// after it).
struct TextureUploadRequest {
    int32_t width = 0, height = 0;
    float centre_x = 0, centre_y = 0;
    int32_t width_cap = 0, height_cap = 0;
    const CgImage* source = nullptr;
    CgImage* holder = nullptr;
};
TextureUploadRequest& TheTextureUploadRequest();

enum class UploadMode { kRebuild = 0, kPaste = 1 };

// Runs the filled request. 0, or -1 after its message (nothing is left
// half made: a failed rebuild leaves the holder without textures).
int32_t UploadLayerTextures(UploadMode mode);
// Builds the image's own grid from its pixels with the option and caps.
// 0 or -1.
int32_t CreateLayerTextures(CgImage& image, uint8_t option, int32_t width_cap, int32_t height_cap);
// Releases every texture of the image's grid and clears the slots. 0.
int32_t ReleaseLayerTextures(CgImage& image);

// The staging block (for tests and the benchmark): its size now, and a
// switch that makes its next allocation fail.
size_t StagingBlockBytes();
struct TextureGridTestHooks {
    bool fail_next_staging_allocation = false;
};
TextureGridTestHooks& TheTextureGridTestHooks();
// Frees the staging block and clears the request and the test hooks
// (engine reset).
void ResetTextureUploads();

}  // namespace zk
