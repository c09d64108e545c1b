#include "tools/lib/zkcfg_writer.h"

#include "tools/lib/byte_writer.h"

namespace zk::tools {

std::vector<uint8_t> WriteEngineConfig(const EngineConfigFile& config) {
    ByteWriter out;
    out.Bytes(std::string(16, '\0'));
    out.I32(config.screen_width);
    out.I32(config.screen_height);
    out.I32(config.shown_at_start);
    out.Bytes(config.image_extension_order);
    out.Bytes(config.sound_extension_order);
    out.I32(config.game_loop_thread);
    out.I32(config.debug);
    out.I32(config.sound);
    out.I32(config.resizable);
    out.I32(config.window_mode);
    out.I32(0);
    out.I32(config.source_switch_a);
    out.I32(config.source_switch_b);
    out.I32(0);
    out.U16(config.title_length_override.value_or(static_cast<uint16_t>(config.title.size())));
    out.Bytes(config.title);
    std::vector<uint8_t> bytes = out.Take();
    if (config.truncate_to && *config.truncate_to < bytes.size()) bytes.resize(*config.truncate_to);
    return bytes;
}

}  // namespace zk::tools
