// The image payload of a layer: BGRA pixels, top row first, pitch width * 4,
// in a block of width * 4 * (height + 1) + 4 bytes (a spare row and four
// spare bytes that row kernels may touch), together with everything that
// decides how the layer is shown.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zk {

constexpr uint32_t kTransparentFillColour = 0x00808080;
constexpr int32_t kMaxCgWidth = 8192;

struct NamedTreeNode;

struct CgImage {
    uint8_t window_root = 0;
    int32_t previous_dirty_count = 0;
    int32_t dirty_count = 0;
    std::array<int64_t, 4> presented_rect{};  // left, top, right, bottom (inclusive)
    std::array<int64_t, 4> dirty_rect{};
    uint8_t dirty_valid = 0;
    uint8_t whole_dirty = 0;
    std::string mask_layer_name;  // at most 260 bytes
    int64_t reference_count = 1;
    int64_t user_value1 = 0, user_value2 = 0;
    int64_t x = 0, y = 0;
    int32_t saturation = 128;
    uint32_t tone = 0x808080;
    int32_t width = 1, height = 1;
    int16_t opacity = 256;
    int16_t mask_level = 256;
    int16_t mask_softness = 0;
    uint8_t alpha_in_use = 0;
    uint8_t blend_mode = 0;
    uint8_t visible = 1;
    uint8_t* current_pixels = nullptr;  // points into owned_block or derived_copy
    std::vector<uint8_t> owned_block;
    std::vector<uint8_t> derived_copy;
    int64_t derived_copy_frame = 0;
    int32_t allocated_width = 1, allocated_height = 1;
    uint8_t changed = 0;
    uint8_t keep_block = 0;
    int64_t x100 = 0, y100 = 0;
    int64_t zoom_x = 10000, zoom_y = 10000;
    std::array<int64_t, 5> placement{};
    std::array<float, 3> angles{};
    int32_t saturation2 = 128;
    uint32_t tone2 = 0x808080;
    uint8_t drawing_option = 0;
    std::string drawing_text;
    int16_t drawing_level = 0;
};

// Bytes of a pixel block for a size, computed in 64 bits; 0 when the size
// cannot be held (negative, or beyond what the engine addresses).
uint64_t CgPixelBlockBytes(int64_t width, int64_t height);

// Gives `image` a zero-filled pixel block of width x height (the size rule
// above). A width above 8192 shows "ＣＧサイズが大きすぎます。X=%d, Y=%d" and
// reports 100010; a block that cannot be had reports 104030 with the
// argument 0; both fatal. Returns true when the block exists.
bool AllocCgPixels(CgImage& image, int32_t width, int32_t height);

// A new record with the defaults, owned by the caller.
std::unique_ptr<CgImage> NewCgImageRecord();

}  // namespace zk
