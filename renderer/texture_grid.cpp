#include "renderer/texture_grid.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "base/system_text.h"
#include "core/error_report.h"
#include "core/settings.h"
#include "layers/cg_image.h"
#include "renderer/gpu_device.h"

namespace zk {

namespace {

constexpr std::array<int32_t, 10> kTileSizes = {8192, 4096, 2048, 1024, 512, 256, 128, 64, 32, 16};

TextureUploadRequest upload_request;
TextureGridTestHooks test_hooks;
std::vector<uint8_t> staging;

void FreeTextureGrid(TextureGrid* grid) {
    if (grid == nullptr) return;
    RendererObjects& objects = TheRendererObjects();
    if (objects.device != nullptr && grid->device_generation == objects.generation) {
        for (platform::GlTexture& texture : grid->textures) {
            objects.device->DeleteTexture(texture);
            texture = 0;
        }
    }
    std::default_delete<TextureGrid>()(grid);
}

// Makes the staging block hold `bytes` (at least 4 MiB). False after the
// memory message when it cannot.
bool EnsureStaging(size_t bytes) {
    bytes = std::max(bytes, kFirstStagingBytes);
    if (staging.size() >= bytes) return true;
    bool failed = test_hooks.fail_next_staging_allocation;
    test_hooks.fail_next_staging_allocation = false;
    if (!failed) {
        try {
            staging.resize(bytes);
        } catch (const std::bad_alloc&) {
            failed = true;
        } catch (const std::length_error&) {
            failed = true;
        }
    }
    if (failed) {
        ShowMessageBox(nullptr, Sjis("メモリ不足エラー."));
        return false;
    }
    return true;
}

void ShowVramMessage() {
    ShowMessageBox(nullptr,
                   Sjis("テクスチャを生成できませんでした。\r\nVRAM容量不足の可能性があります。\r\n\r\n※解決方法\r\n"
                        "一度ゲームを終了してから[エンジン設定.exe]を起動して頂き、ゲーム画面の描画方法の項目を【 "
                        "CPU(バイリニア) 】にセットして\r\n起動し直していただければ動作いたします。"));
}

bool IsEmoteLayer(const CgImage& image) { return image.texture_kind == kTextureKindEmote && GpuEmoteAvailable(); }

void ReleaseGridTextures(TextureGrid& grid) {
    RendererObjects& objects = TheRendererObjects();
    const bool own = objects.device != nullptr && grid.device_generation == objects.generation;
    for (platform::GlTexture& texture : grid.textures) {
        if (own) objects.device->DeleteTexture(texture);
        texture = 0;
    }
}

// The tiles of one upload, before anything is changed.
struct Tiling {
    int32_t columns = 0, rows = 0;
    std::array<int32_t, 32> widths{}, heights{};
};

// 0, or -1 after the overflow message.
int32_t ComputeTiling(const TextureUploadRequest& request, bool emote, Tiling& tiling) {
    const RendererObjects& objects = TheRendererObjects();
    if (emote) {
        tiling.columns = tiling.rows = 1;
        tiling.widths[0] = objects.device_width;
        tiling.heights[0] = objects.device_height;
        return 0;
    }
    const EngineSettings& settings = Settings();
    const std::array<int32_t, 3> width_caps = {objects.max_texture_width, settings.tile_cap_width, request.width_cap};
    const std::array<int32_t, 3> height_caps = {objects.max_texture_height, settings.tile_cap_height,
                                                request.height_cap};
    int32_t rest = 0;
    tiling.columns = TileAxis(request.width, true, width_caps, tiling.widths, rest);
    if (tiling.columns < 0) {
        ShowMessageBox(nullptr, "TXNUM Overflow Error.");
        return -1;
    }
    tiling.rows = TileAxis(request.height, false, height_caps, tiling.heights, rest);
    if (tiling.rows < 0) {
        ShowMessageBox(nullptr, "TYNUM Overflow Error. SX = %d, SY = %d, mRest = %d",
                       {int64_t{request.width}, int64_t{request.height}, int64_t{rest}});
        return -1;
    }
    return 0;
}

// Copies the tile at (left, top) of the source into the staging block,
// transparent black past the image.
void FillStaging(const uint8_t* pixels, size_t source_stride, int32_t source_width, int32_t source_height,
                 int32_t left, int32_t top, int32_t width, int32_t height) {
    const size_t row_bytes = static_cast<size_t>(width) * 4;
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* out = staging.data() + static_cast<size_t>(y) * row_bytes;
        const int64_t source_y = int64_t{top} + y;
        int32_t copied = 0;
        if (pixels != nullptr && source_y < source_height && left < source_width) {
            copied = std::min(width, source_width - left);
            std::memcpy(out, pixels + static_cast<size_t>(source_y) * source_stride + static_cast<size_t>(left) * 4,
                        static_cast<size_t>(copied) * 4);
        }
        std::memset(out + static_cast<size_t>(copied) * 4, 0, row_bytes - static_cast<size_t>(copied) * 4);
    }
}

}  // namespace

TextureGrid* GridOf(CgImage* image) {
    if (image == nullptr) return nullptr;
    if (image->textures == nullptr) image->textures = CgOwned<TextureGrid>(std::make_unique<TextureGrid>().release(), FreeTextureGrid);
    return image->textures.get();
}

const TextureGrid* GridOf(const CgImage* image) { return image != nullptr ? image->textures.get() : nullptr; }

int32_t TileAxis(int32_t size, bool widths, std::span<const int32_t> caps, std::array<int32_t, 32>& tiles,
                 int32_t& rest_after) {
    int64_t rest = size;
    int32_t count = 0;
    do {
        int32_t tile = kTileSizes.front();
        for (int32_t candidate : kTileSizes) {
            if (candidate >= rest) tile = candidate;
        }
        for (int32_t cap : caps) {
            if (cap > 0) tile = std::min(tile, cap);
        }
        if (widths && count == 0 && size < 512) tile = 512;
        tiles[static_cast<size_t>(count)] = tile;
        ++count;
        rest -= tile;
        if (count >= 32) {
            rest_after = static_cast<int32_t>(std::max<int64_t>(rest, INT32_MIN));
            return -1;
        }
    } while (rest > 0);
    rest_after = 0;
    return count;
}

TextureUploadRequest& TheTextureUploadRequest() { return upload_request; }

int32_t UploadLayerTextures(UploadMode mode) {
    const TextureUploadRequest request = upload_request;
    upload_request = {};
    RendererObjects& objects = TheRendererObjects();
    CgImage* holder = request.holder;
    if (holder == nullptr || request.source == nullptr || objects.device == nullptr) return -1;
    platform::GlDevice& device = *objects.device;
    platform::GlDevice::Current current(device);
    if (!current.ok()) return -1;
    const bool emote = IsEmoteLayer(*holder);

    Tiling tiling;
    TextureGrid* grid = GridOf(holder);
    if (mode == UploadMode::kPaste) {
        // The holder's own tiles receive the pixels.
        if (grid->columns == 0 || grid->rows == 0 || grid->device_generation != objects.generation) return -1;
        tiling.columns = grid->columns;
        tiling.rows = grid->rows;
        tiling.widths = grid->tile_widths;
        tiling.heights = grid->tile_heights;
    } else {
        if (ComputeTiling(request, emote, tiling) != 0) {
            // The old textures go as before any rebuild: the layer draws nothing.
            ReleaseGridTextures(*grid);
            grid->columns = grid->rows = 0;
            return -1;
        }
        // A grid holds 256 textures at most: refused with the layer as it was.
        if (tiling.columns * tiling.rows > kMaxGridTextures) return -1;
    }

    // The source pixels: its own rows, as far as they reach.
    const CgImage& source = *request.source;
    const uint8_t* pixels = source.current_pixels;
    const int32_t source_width = pixels != nullptr ? std::max(source.width, 0) : 0;
    const int32_t source_height = pixels != nullptr ? std::max(source.height, 0) : 0;
    const size_t source_stride = static_cast<size_t>(source_width) * 4;
    const int32_t fill_width = std::min(request.width, source_width);
    const int32_t fill_height = std::min(request.height, source_height);

    size_t largest = 0;
    for (int32_t row = 0; row < tiling.rows; ++row)
        for (int32_t column = 0; column < tiling.columns; ++column)
            largest = std::max(largest, static_cast<size_t>(tiling.widths[static_cast<size_t>(column)]) * 4 *
                                            static_cast<size_t>(tiling.heights[static_cast<size_t>(row)]));
    if (!EnsureStaging(largest)) return -1;

    if (mode == UploadMode::kRebuild) {
        ReleaseGridTextures(*grid);
        grid->columns = grid->rows = 0;
        grid->device_generation = objects.generation;
    }
    const platform::GlTextureFormat format = objects.layer_format;
    auto fail = [&]() {
        if (mode == UploadMode::kRebuild) {
            ReleaseGridTextures(*grid);
            grid->columns = grid->rows = 0;
        }
        return -1;
    };
    int32_t top = 0;
    for (int32_t row = 0; row < tiling.rows; ++row) {
        const int32_t tile_height = tiling.heights[static_cast<size_t>(row)];
        int32_t left = 0;
        for (int32_t column = 0; column < tiling.columns; ++column) {
            const int32_t tile_width = tiling.widths[static_cast<size_t>(column)];
            platform::GlTexture& slot = grid->textures[static_cast<size_t>(row * tiling.columns + column)];
            if (mode == UploadMode::kRebuild) {
                bool out_of_memory = false;
                slot = device.CreateTexture(tile_width, tile_height, format, out_of_memory);
                if (slot == 0) {
                    if (out_of_memory) ShowVramMessage();
                    return fail();
                }
            } else if (slot == 0) {
                return -1;
            }
            if (!emote) {
                // A tile wholly inside the image goes up straight from its
                // rows; the others through the staging block.
                bool uploaded;
                if (int64_t{left} + tile_width <= fill_width && int64_t{top} + tile_height <= fill_height) {
                    uploaded = device.Upload(slot,
                                             pixels + static_cast<size_t>(top) * source_stride +
                                                 static_cast<size_t>(left) * 4,
                                             tile_width, tile_height, source_stride, format, false);
                } else {
                    FillStaging(pixels, source_stride, fill_width, fill_height, left, top, tile_width, tile_height);
                    uploaded = device.Upload(slot, staging.data(), tile_width, tile_height,
                                             static_cast<size_t>(tile_width) * 4, format, false);
                }
                if (!uploaded) {
                    ShowMessageBox(Sjis("エラー").data(), Sjis("サーフェス転送失敗。"));
                    return fail();
                }
            }
            left += tile_width;
        }
        top += tile_height;
    }

    grid->columns = static_cast<uint8_t>(tiling.columns);
    grid->rows = static_cast<uint8_t>(tiling.rows);
    grid->tile_widths = tiling.widths;
    grid->tile_heights = tiling.heights;
    grid->width_cap = request.width_cap;
    grid->height_cap = request.height_cap;
    holder->width = holder->allocated_width = request.width;
    holder->height = holder->allocated_height = request.height;
    holder->placement[0] = static_cast<int64_t>(std::trunc(request.centre_x));
    holder->placement[1] = static_cast<int64_t>(std::trunc(request.centre_y));
    holder->texture_option = 0;
    return 0;
}

int32_t CreateLayerTextures(CgImage& image, uint8_t option, int32_t width_cap, int32_t height_cap) {
    (void)option;  // every upload sets the option byte to 0
    TextureUploadRequest& request = TheTextureUploadRequest();
    request = {};
    request.width = image.width;
    request.height = image.height;
    request.centre_x = static_cast<float>(image.width) * 0.5f;
    request.centre_y = static_cast<float>(image.height) * 0.5f;
    request.width_cap = width_cap;
    request.height_cap = height_cap;
    request.source = &image;
    request.holder = &image;
    return UploadLayerTextures(UploadMode::kRebuild) == 0 ? 0 : -1;
}

int32_t ReleaseLayerTextures(CgImage& image) {
    if (image.textures != nullptr) ReleaseGridTextures(*image.textures);
    return 0;
}

size_t StagingBlockBytes() { return staging.size(); }

TextureGridTestHooks& TheTextureGridTestHooks() { return test_hooks; }

void ResetTextureUploads() {
    std::vector<uint8_t>().swap(staging);
    upload_request = {};
    test_hooks = {};
}

}  // namespace zk
