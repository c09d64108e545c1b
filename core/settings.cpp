#include "core/settings.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "base/byte_reader.h"
#include "core/error_report.h"
#include "core/startup_paths.h"
#include "core/system_facts.h"
#include "core/window_record.h"
#include "platform/file_probe.h"
#include "platform/file_stream.h"
#include "platform/game_path.h"

namespace zk {

namespace {
EngineSettings settings;

constexpr size_t kConfigTitleOffset = 78;
constexpr size_t kMaxTitleBytes = 128;

// Up to 32 little-endian int32 entries; missing ones read as 0.
std::array<int32_t, 32> ReadEntryTable(std::span<const uint8_t> bytes) {
    std::array<int32_t, 32> entries{};
    ByteReader reader(bytes);
    for (int32_t& entry : entries) {
        auto value = reader.I32();
        if (!value) break;
        entry = *value;
    }
    return entries;
}

int32_t TextureSizeFor(int32_t screen_size) {
    for (int32_t size : {256, 512, 1024, 2048, 4096})
        if (size >= screen_size) return size;
    return 4096;
}

// zkcfg.dat and zksfs.dat hold 32 entries and nothing after them is read:
// only their first 128 bytes are, whatever the file's size, so a huge file
// costs no more than a small one. nullopt when there is no regular file to
// open (a FIFO or a device is none). The game folder is the engine's own
// absolute path, fixed at start-up.
constexpr size_t kEntryFileBytes = 32 * sizeof(int32_t);

std::optional<std::vector<uint8_t>> ReadEntryFile(const char* name) {
    std::string path = Paths().game_folder + name;
    platform::FileStream file;
    if (!file.OpenEngineFile(path)) return std::nullopt;
    std::vector<uint8_t> bytes(kEntryFileBytes);
    bytes.resize(file.Read(bytes));  // a shorter file reads its missing entries as 0
    return bytes;
}
}  // namespace

EngineSettings& Settings() { return settings; }
void ResetSettings() { settings = EngineSettings{}; }

void ApplyUserSettings(std::span<const uint8_t> file_bytes) {
    std::array<int32_t, 32> e = ReadEntryTable(file_bytes);
    auto set_bool = [](int32_t value, uint8_t& target) {
        if (value == 0 || value == 1) target = static_cast<uint8_t>(value);
    };
    set_bool(e[0], settings.vmr9);
    set_bool(e[2], settings.sse_switch);
    set_bool(e[3], settings.sse2_switch);
    if (e[4] == 0) settings.worker_limit = 1;
    set_bool(e[6], settings.fullscreen_mode_change);
    switch (e[7]) {
        case 0: settings.fullscreen_scaling = 1; break;
        case 1: settings.fullscreen_scaling = 2; break;
        case 2: settings.fullscreen_scaling = 3; break;
        case 3: settings.fullscreen_scaling = 0; break;
        default: break;
    }
    switch (e[8]) {
        case 0: settings.render_mode = 3; settings.cpu_smooth_scaling = 1; break;
        case 1: settings.render_mode = 2; settings.cpu_smooth_scaling = 1; break;
        case 2:
            settings.render_mode = 1;
            settings.cpu_smooth_scaling = 1;
            settings.direct3d_layer_mode = 0;
            break;
        case 3:
            settings.render_mode = 0;
            settings.cpu_smooth_scaling = 0;
            settings.direct3d_layer_mode = 0;
            break;
        default: break;
    }
    set_bool(e[9], settings.caption_click);
    set_bool(e[10], settings.entry10);
    set_bool(e[12], settings.no_hardware_vertex_processing);
    if (e[13] == 0 || e[13] == 1) {
        settings.textures_16bit = static_cast<uint8_t>(e[13]);
        settings.texture_depth = e[13] == 1 ? 16 : 32;
        settings.texture_format = e[13] == 1 ? kD3dFmtA4R4G4B4 : kD3dFmtA8R8G8B8;
    }
    set_bool(e[14], settings.entry14);
    set_bool(e[22], settings.desktop_composition_off);

    settings.tile_cap_width = 512;
    settings.tile_cap_height = 256;
    settings.mag_filter = 1;
    settings.min_filter = 1;
    settings.mip_filter = 0;
    if (settings.cpu_smooth_scaling > 1) settings.cpu_smooth_scaling = 1;
}

void ApplySaveFolderSetting(std::span<const uint8_t> file_bytes) {
    int32_t mode = ReadEntryTable(file_bytes)[21];
    if (mode >= 0 && mode <= 3) settings.save_folder_mode = mode;
}

SaveFolder BuildSaveFolder(int32_t mode) {
    const std::string branded = "PALVOR_SaveData\\ubeko\\save\\";
    switch (mode) {
        case 1: return {platform::PathRoot::kAppData, branded};
        case 2: return {platform::PathRoot::kDocuments, branded};
        case 3: return {platform::PathRoot::kDocuments, "My Games\\" + branded};
        default: return {platform::PathRoot::kGame, "save\\"};
    }
}

int LoadUserSettings() {
    if (auto bytes = ReadEntryFile("zkcfg.dat")) ApplyUserSettings(*bytes);
    return 0;
}

int LoadSaveFolderSetting() {
    if (auto bytes = ReadEntryFile("zksfs.dat")) ApplySaveFolderSetting(*bytes);
    SaveFolder folder = BuildSaveFolder(settings.save_folder_mode);
    settings.save_folder_root = folder.root;
    settings.save_folder = std::move(folder.folder);
    return 0;
}

int ApplyEngineConfig(std::span<const uint8_t> file_bytes, int32_t desktop_width, int32_t desktop_height) {
    ByteReader reader(file_bytes);
    auto width = reader.PeekAt<int32_t>(16);
    auto height = reader.PeekAt<int32_t>(20);
    auto title_length = reader.PeekAt<uint16_t>(76);
    if (!width || !height || !title_length) {
        // Shorter than its fixed fields: the table is damaged.
        ReportEngineErrorF(kErrFileUnreadable, true, {std::string_view(kConfigName)});
        return -1;
    }
    std::copy_n(file_bytes.begin() + 28, 8, settings.image_extension_order.begin());
    std::copy_n(file_bytes.begin() + 36, 4, settings.sound_extension_order.begin());

    int32_t w = *width, h = *height;
    if (w == 0 && h == 0) {
        w = desktop_width;
        h = desktop_height;
    } else if (w < 128 || w > 8192 || h < 16 || h > 8192) {
        ReportEngineError(kErrConfigValue, true);
        return 1;
    }
    settings.screen_width = w;
    settings.screen_height = h;
    settings.shown_at_start = static_cast<uint8_t>(*reader.PeekAt<int32_t>(24) & 0xFF);
    if (WindowRecord* main_record = MainWindowRecord()) {
        main_record->client_width = w;
        main_record->client_height = h;
        main_record->shown = settings.shown_at_start;
    }

    if (*title_length > kMaxTitleBytes) {
        ReportEngineError(kErrConfigTitleTooLong, true);
        return 1;
    }
    if (!reader.Seek(kConfigTitleOffset) || !reader.Has(*title_length)) {
        ReportEngineErrorF(kErrFileUnreadable, true, {std::string_view(kConfigName)});
        return -1;
    }
    auto title = reader.Take(*title_length);
    settings.title.assign(reinterpret_cast<const char*>(title->data()), title->size());
    if (settings.title.empty()) settings.title = " ";

    int32_t game_loop_thread = *reader.PeekAt<int32_t>(40);
    if (game_loop_thread != 0 && game_loop_thread != 1) {
        ReportEngineError(kErrConfigValue, true);
        return 1;
    }
    settings.game_loop_thread = game_loop_thread;
    auto low_byte = [&](size_t offset) { return static_cast<uint8_t>(*reader.PeekAt<int32_t>(offset) & 0xFF); };
    settings.debug = low_byte(44);
    settings.sound = low_byte(48);
    settings.resizable = low_byte(52);
    settings.window_mode = low_byte(56);
    settings.source_switch_a = low_byte(64);
    settings.source_switch_b = low_byte(68);
    SetErrorEditSwitch(settings.debug);

    if (settings.texture_width == 0) settings.texture_width = TextureSizeFor(settings.screen_width);
    if (settings.texture_height == 0) settings.texture_height = TextureSizeFor(settings.screen_height);
    return 0;
}

int TestGameFolderWritable() {
    if (!platform::CanCreateFileIn(Paths().working_folder)) settings.read_only_folder = 1;
    return 0;
}

}  // namespace zk
