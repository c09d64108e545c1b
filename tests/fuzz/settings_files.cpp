// The three settings readers over arbitrary bytes. The first byte picks the
// file (zkcfg.zbn, zkcfg.dat, zksfs.dat); the rest is its contents. Every
// outcome keeps the settings within what the engine accepts: an accepted
// zkcfg.zbn gives a screen of 128..8192 by 16..8192 (or the desktop) and a
// title of 1..128 bytes; the entry files set only the values they list.
#include <cstddef>
#include <cstdint>
#include <span>

#include "core/settings.h"
#include "core/window_record.h"
#include "tests/fuzz/decoder_fuzz_support.h"

namespace {

constexpr int32_t kDesktopWidth = 1920;
constexpr int32_t kDesktopHeight = 1080;

bool IsTextureSize(int32_t size) {
    return size == 256 || size == 512 || size == 1024 || size == 2048 || size == 4096;
}

void CheckEngineConfig(int result) {
    const zk::EngineSettings& s = zk::Settings();
    if (result != 0) {
        if (result != -1 && result != 1) __builtin_trap();
        return;
    }
    bool desktop = s.screen_width == kDesktopWidth && s.screen_height == kDesktopHeight;
    if (!desktop && (s.screen_width < 128 || s.screen_width > 8192 || s.screen_height < 16 || s.screen_height > 8192))
        __builtin_trap();
    if (s.title.empty() || s.title.size() > 128) __builtin_trap();
    if (s.game_loop_thread != 0 && s.game_loop_thread != 1) __builtin_trap();
    if (!IsTextureSize(s.texture_width) || !IsTextureSize(s.texture_height)) __builtin_trap();
    const zk::WindowRecord* main = zk::MainWindowRecord();
    if (main == nullptr || main->client_width != s.screen_width || main->client_height != s.screen_height)
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static bool ready = (zk::CreateWindowRecords(), true);
    (void)ready;
    zk::fuzzing::SetUpDecoderFuzzing();  // dialogs answered at once; the last input's reports gone
    zk::ResetSettings();
    std::span<const uint8_t> bytes(data + 1, size - 1);
    switch (data[0] % 3) {
        case 0:
            CheckEngineConfig(zk::ApplyEngineConfig(bytes, kDesktopWidth, kDesktopHeight));
            break;
        case 1: {
            zk::ApplyUserSettings(bytes);
            const zk::EngineSettings& s = zk::Settings();
            if (s.vmr9 > 1 || s.sse_switch > 1 || s.sse2_switch > 1 || (s.worker_limit != 1 && s.worker_limit != 4))
                __builtin_trap();
            if (s.fullscreen_scaling > 3 || s.render_mode > 3 || s.cpu_smooth_scaling > 1) __builtin_trap();
            if (s.texture_depth != 0 && s.texture_depth != 16 && s.texture_depth != 32) __builtin_trap();
            if (s.tile_cap_width != 512 || s.tile_cap_height != 256) __builtin_trap();
            break;
        }
        case 2:
            zk::ApplySaveFolderSetting(bytes);
            if (zk::Settings().save_folder_mode < 0 || zk::Settings().save_folder_mode > 3) __builtin_trap();
            break;
    }
    return 0;
}
