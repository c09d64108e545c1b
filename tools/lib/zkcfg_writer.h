// Writer of the game configuration table zkbin\zkcfg.zbn.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zk::tools {

struct EngineConfigFile {
    int32_t screen_width = 640;
    int32_t screen_height = 480;
    int32_t shown_at_start = 1;
    std::array<uint8_t, 8> image_extension_order{};
    std::array<uint8_t, 4> sound_extension_order{};
    int32_t game_loop_thread = 0;
    int32_t debug = 0;
    int32_t sound = 0;
    int32_t resizable = 0;
    int32_t window_mode = 1;
    int32_t source_switch_a = 0;
    int32_t source_switch_b = 0;
    std::string title;  // CP932 bytes
    // Raw overrides for malformed files: the stored title length, and a cut.
    std::optional<uint16_t> title_length_override;
    std::optional<size_t> truncate_to;
};

std::vector<uint8_t> WriteEngineConfig(const EngineConfigFile& config);

}  // namespace zk::tools
