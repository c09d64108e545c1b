// The engine's settings: the game's configuration table zkbin\zkcfg.zbn, the
// user's zkcfg.dat written by the settings tool, the save-folder setting
// zksfs.dat, and the save folder they give.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <span>
#include <string>

#include "platform/game_path.h"

namespace zk {

struct EngineSettings {
    // zkcfg.zbn
    int32_t screen_width = 0;
    int32_t screen_height = 0;
    uint8_t shown_at_start = 0;
    std::array<uint8_t, 8> image_extension_order{};
    std::array<uint8_t, 4> sound_extension_order{};
    int32_t game_loop_thread = 0;
    uint8_t debug = 0;
    uint8_t sound = 0;  // 0 off, 1 on, 2 required
    uint8_t resizable = 0;
    uint8_t window_mode = 0;
    uint8_t source_switch_a = 0;
    uint8_t source_switch_b = 0;
    std::string title;
    int32_t texture_width = 0;
    int32_t texture_height = 0;

    // zkcfg.dat
    uint8_t vmr9 = 1;
    uint8_t sse_switch = 1;   // entry 2: the SSE kernels and the SSE paths of scaling and presentation
    uint8_t sse2_switch = 1;  // entry 3: the SSE2 kernels
    uint8_t worker_limit = 4;
    uint8_t fullscreen_mode_change = 0;
    uint8_t fullscreen_scaling = 1;
    uint8_t render_mode = 0;  // 3 GPU bicubic, 2 GPU sharpened bilinear, 1 CPU smooth, 0 CPU plain
    uint8_t cpu_smooth_scaling = 1;
    uint8_t direct3d_layer_mode = 0;
    uint8_t caption_click = 0;
    uint8_t entry10 = 0;
    uint8_t no_hardware_vertex_processing = 0;
    uint8_t textures_16bit = 0;
    int32_t texture_depth = 0;
    uint32_t texture_format = 0;  // D3DFMT_* value
    uint8_t entry14 = 1;
    uint8_t desktop_composition_off = 0;
    int32_t tile_cap_width = 0;
    int32_t tile_cap_height = 0;
    int32_t mag_filter = 0;
    int32_t min_filter = 0;
    int32_t mip_filter = 0;

    // zksfs.dat
    int32_t save_folder_mode = 0;
    // The save folder: a game path with a trailing '\', relative to its root,
    // so save files are always written below the game folder or one of the
    // user's folders.
    platform::PathRoot save_folder_root = platform::PathRoot::kGame;
    std::string save_folder;

    uint8_t read_only_folder = 0;
};

EngineSettings& Settings();

// The drawing switches a failed device reset turns off from the frame
// thread while the main thread's window procedure and presentation read
// them: every access once threads run goes through these.
inline uint8_t LoadDrawingSwitch(const uint8_t& field) {
    return std::atomic_ref<uint8_t>(const_cast<uint8_t&>(field)).load(std::memory_order_relaxed);
}
inline void StoreDrawingSwitch(uint8_t& field, uint8_t value) {
    std::atomic_ref<uint8_t>(field).store(value, std::memory_order_relaxed);
}
inline bool GpuLayerDrawing() { return LoadDrawingSwitch(Settings().direct3d_layer_mode) != 0; }
void ResetSettings();

constexpr uint32_t kD3dFmtA8R8G8B8 = 21;
constexpr uint32_t kD3dFmtA4R4G4B4 = 26;

// Applying file contents, separated from the file access so the rules can
// be checked on bytes.
void ApplyUserSettings(std::span<const uint8_t> file_bytes);
void ApplySaveFolderSetting(std::span<const uint8_t> file_bytes);
// The save folder of a save-folder mode: "save\" in the current folder (mode
// 0 and any other value), or "[My Games\]PALVOR_SaveData\ubeko\save\" in the
// application-data folder (1) or the documents folder (2, 3).
struct SaveFolder {
    platform::PathRoot root = platform::PathRoot::kGame;
    std::string folder;
    bool operator==(const SaveFolder&) const = default;
};
SaveFolder BuildSaveFolder(int32_t mode);
// 0 go on, 1 bad value (reported, fatal). The desktop size stands in for 0 x 0.
int ApplyEngineConfig(std::span<const uint8_t> file_bytes, int32_t desktop_width, int32_t desktop_height);

int LoadUserSettings();       // always 0
int LoadSaveFolderSetting();  // always 0
// zkbin\\zkcfg.zbn, whose loader is in storage/startup_files.h.
inline constexpr char kConfigName[] = "zkbin\\zkcfg.zbn";
int TestGameFolderWritable(); // always 0

}  // namespace zk
