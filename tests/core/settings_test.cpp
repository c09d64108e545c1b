// The three settings files: zkcfg.zbn, zkcfg.dat and zksfs.dat.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <vector>

#include "core/engine_state.h"
#include "core/error_report.h"
#include "core/settings.h"
#include "core/startup_paths.h"
#include "core/window_record.h"
#include "platform/game_path.h"
#include "platform/ui.h"
#include "tests/platform/fifo_watchdog.h"
#include "tests/storage/temp_game_folder.h"
#include "tools/lib/byte_writer.h"
#include "tools/lib/zkcfg_writer.h"

namespace zk {
namespace {

std::vector<uint8_t> EntryFile(std::initializer_list<std::pair<int, int32_t>> entries, size_t bytes = 128) {
    std::vector<int32_t> table(32, 0);
    for (auto [index, value] : entries) table[index] = value;
    tools::ByteWriter out;
    for (int32_t value : table) out.I32(value);
    std::vector<uint8_t> file = out.Take();
    file.resize(bytes);
    return file;
}

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSettings();
        ResetEngineState();
        ResetErrorReporter();
        platform::InstallUi(&ui);
        CreateWindowRecords();
    }
    void TearDown() override {
        DestroyWindowRecords();
        platform::InstallUi(nullptr);
        ResetErrorReporter();
        ResetEngineState();
        ResetSettings();
    }
    platform::RecordingUi ui;
};

TEST_F(SettingsTest, UserSettingsTable) {
    ApplyUserSettings(EntryFile({{0, 0}, {2, 0}, {3, 1}, {4, 0}, {6, 1}, {7, 2}, {8, 3}, {9, 1},
                                 {10, 1}, {12, 1}, {13, 1}, {14, 0}, {22, 1}}));
    const EngineSettings& s = Settings();
    EXPECT_EQ(s.vmr9, 0);
    EXPECT_EQ(s.sse_switch, 0);
    EXPECT_EQ(s.sse2_switch, 1);
    EXPECT_EQ(s.worker_limit, 1);
    EXPECT_EQ(s.fullscreen_mode_change, 1);
    EXPECT_EQ(s.fullscreen_scaling, 3);
    EXPECT_EQ(s.render_mode, 0);
    EXPECT_EQ(s.cpu_smooth_scaling, 0);
    EXPECT_EQ(s.caption_click, 1);
    EXPECT_EQ(s.entry10, 1);
    EXPECT_EQ(s.no_hardware_vertex_processing, 1);
    EXPECT_EQ(s.texture_depth, 16);
    EXPECT_EQ(s.texture_format, kD3dFmtA4R4G4B4);
    EXPECT_EQ(s.entry14, 0);
    EXPECT_EQ(s.desktop_composition_off, 1);
    EXPECT_EQ(s.tile_cap_width, 512);
    EXPECT_EQ(s.tile_cap_height, 256);
    EXPECT_EQ(s.mag_filter, 1);
    EXPECT_EQ(s.min_filter, 1);
}

TEST_F(SettingsTest, UserSettingsOutOfRangeValuesKeepDefaults) {
    // Entry 7 of 5 and entry 8 of 9 change nothing; entry 4 of 2 keeps 4 workers.
    ApplyUserSettings(EntryFile({{0, 2}, {4, 2}, {7, 5}, {8, 9}, {13, 7}}));
    const EngineSettings& s = Settings();
    EXPECT_EQ(s.vmr9, 1);
    EXPECT_EQ(s.worker_limit, 4);
    EXPECT_EQ(s.fullscreen_scaling, 1);
    EXPECT_EQ(s.render_mode, 0);
    EXPECT_EQ(s.cpu_smooth_scaling, 1);
    EXPECT_EQ(s.texture_depth, 0);
}

TEST_F(SettingsTest, ShortUserSettingsFileReadsMissingEntriesAsZero) {
    // 40 bytes: entries 10..31 count as 0, so entry 22 turns composition-off to 0
    // and entry 14 to 0; entry 9 (1) still applies.
    Settings().desktop_composition_off = 1;
    ApplyUserSettings(EntryFile({{9, 1}, {22, 1}, {14, 1}}, 40));
    EXPECT_EQ(Settings().caption_click, 1);
    EXPECT_EQ(Settings().desktop_composition_off, 0);
    EXPECT_EQ(Settings().entry14, 0);
    // Even an empty file counts as read: the fixed values follow.
    ResetSettings();
    ApplyUserSettings({});
    EXPECT_EQ(Settings().tile_cap_width, 512);
    EXPECT_EQ(Settings().render_mode, 3);  // entry 8 reads as 0
}

// Both entry files are read from the game folder for their 32 entries only:
// a file far larger than memory (sparse on disk) reads like its first 128
// bytes, and one of 40 bytes like the short table it is.
TEST_F(SettingsTest, EntryFilesOfAnySizeReadTheirFirst32Entries) {
    storage_test::TempGameFolder folder("settings");
    constexpr uintmax_t kHuge = uintmax_t{1} << 42;  // 4 TiB
    struct Case {
        const char* what;
        uintmax_t size;
        uint8_t caption_click, entry14;
        int32_t save_folder_mode;
    };
    for (const Case& c : {Case{"huge", kHuge, 1, 0, 2}, Case{"short", 40, 1, 0, 0}, Case{"exact", 128, 1, 0, 2}}) {
        SCOPED_TRACE(c.what);
        ResetSettings();
        std::vector<uint8_t> entries = EntryFile({{9, 1}, {14, 0}, {21, 2}});
        for (const char* name : {"zkcfg.dat", "zksfs.dat"}) {
            std::filesystem::path path = folder.Write(name, std::string(entries.begin(), entries.end()));
            std::filesystem::resize_file(path, c.size);
        }
        EXPECT_EQ(LoadUserSettings(), 0);
        EXPECT_EQ(LoadSaveFolderSetting(), 0);
        EXPECT_EQ(Settings().caption_click, c.caption_click);
        EXPECT_EQ(Settings().entry14, c.entry14);
        EXPECT_EQ(Settings().tile_cap_width, 512);  // the file was read
        EXPECT_EQ(Settings().save_folder_mode, c.save_folder_mode);
    }
    // A FIFO under the name is no settings file: skipped without waiting
    // for a writer, as if missing.
    ResetSettings();
    std::filesystem::remove(folder.Root() / "zkcfg.dat");
    ASSERT_EQ(mkfifo((folder.Root() / "zkcfg.dat").c_str(), 0600), 0);
    EXPECT_EQ(LoadUserSettings(), 0);
    EXPECT_EQ(Settings().tile_cap_width, 0);
    EXPECT_EQ(ErrorReporter().reports, 0u);
}

TEST_F(SettingsTest, SaveFolderModes) {
    ApplySaveFolderSetting(EntryFile({{21, 3}}));
    EXPECT_EQ(Settings().save_folder_mode, 3);
    ApplySaveFolderSetting(EntryFile({{21, 4}}));
    EXPECT_EQ(Settings().save_folder_mode, 3);
    ApplySaveFolderSetting(EntryFile({{21, 1}}, 84));  // entry 21 is the last of 88 bytes: missing
    EXPECT_EQ(Settings().save_folder_mode, 0);

    using platform::PathRoot;
    EXPECT_EQ(BuildSaveFolder(0), (SaveFolder{PathRoot::kGame, "save\\"}));
    EXPECT_EQ(BuildSaveFolder(7), (SaveFolder{PathRoot::kGame, "save\\"}));
    EXPECT_EQ(BuildSaveFolder(1), (SaveFolder{PathRoot::kAppData, "PALVOR_SaveData\\ubeko\\save\\"}));
    EXPECT_EQ(BuildSaveFolder(2), (SaveFolder{PathRoot::kDocuments, "PALVOR_SaveData\\ubeko\\save\\"}));
    EXPECT_EQ(BuildSaveFolder(3), (SaveFolder{PathRoot::kDocuments, "My Games\\PALVOR_SaveData\\ubeko\\save\\"}));
}

// The settings files of a game folder in a temp directory.
class SettingsFileTest : public SettingsTest {
protected:
    void SetUp() override {
        SettingsTest::SetUp();
        char pattern[] = "/tmp/zorvek-settings.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
        saved_game_folder_ = Paths().game_folder;
        std::string game = folder_.string() + "/";
        std::replace(game.begin(), game.end(), '/', '\\');
        Paths().game_folder = game;
    }
    void TearDown() override {
        Paths().game_folder = saved_game_folder_;
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
        SettingsTest::TearDown();
    }
    std::filesystem::path folder_;
    std::string saved_game_folder_;
};

TEST_F(SettingsFileTest, SaveFolderSettingGivesARootAndARelativeFolder) {
    std::vector<uint8_t> bytes = EntryFile({{21, 3}});
    std::ofstream(folder_ / "zksfs.dat", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    LoadSaveFolderSetting();
    EXPECT_EQ(Settings().save_folder_mode, 3);
    EXPECT_EQ(Settings().save_folder_root, platform::PathRoot::kDocuments);
    EXPECT_EQ(Settings().save_folder, "My Games\\PALVOR_SaveData\\ubeko\\save\\");
    EXPECT_TRUE(platform::IsRelativeGamePath(Settings().save_folder));
}

TEST_F(SettingsFileTest, FifosNamedLikeTheSettingsFilesAreSkippedWithoutWaiting) {
    // Opening a FIFO for reading would wait for a writer: start-up would hang
    // before any window exists.
    std::vector<std::string> fifos;
    for (const char* name : {"zkcfg.dat", "zksfs.dat"}) {
        fifos.push_back((folder_ / name).string());
        ASSERT_EQ(mkfifo(fifos.back().c_str(), 0600), 0);
    }
    int user = -1, save = -1;
    EXPECT_TRUE(testing_support::FinishesWithoutWaitingOn(fifos, [&] {
        user = LoadUserSettings();
        save = LoadSaveFolderSetting();
    }));
    EXPECT_EQ(user, 0);
    EXPECT_EQ(save, 0);
    EXPECT_EQ(Settings().tile_cap_width, 0);  // the fixed values of a read file are not applied
    EXPECT_EQ(Settings().save_folder_mode, 0);
    EXPECT_EQ(Settings().save_folder_root, platform::PathRoot::kGame);
    EXPECT_EQ(Settings().save_folder, "save\\");
}

TEST_F(SettingsTest, EngineConfigValuesAndErrors) {
    struct Case {
        const char* what;
        int32_t width, height;
        size_t title_bytes;
        int32_t game_loop_thread;
        int expected;
        uint32_t error;
    };
    const Case cases[] = {
        {"desktop size", 0, 0, 4, 0, 0, 0},
        {"smallest", 128, 16, 4, 0, 0, 0},
        {"largest", 8192, 8192, 4, 1, 0, 0},
        {"width 127", 127, 480, 4, 0, 1, 901020},
        {"width 8193", 8193, 480, 4, 0, 1, 901020},
        {"height 15", 640, 15, 4, 0, 1, 901020},
        {"only width 0", 0, 480, 4, 0, 1, 901020},
        {"title 128", 640, 480, 128, 0, 0, 0},
        {"title 129", 640, 480, 129, 0, 1, 901000},
        {"game-loop switch 2", 640, 480, 4, 2, 1, 901020},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetSettings();
        ResetErrorReporter();
        ResetEngineState();
        tools::EngineConfigFile config;
        config.screen_width = c.width;
        config.screen_height = c.height;
        config.title = std::string(c.title_bytes, 't');
        config.game_loop_thread = c.game_loop_thread;
        EXPECT_EQ(ApplyEngineConfig(tools::WriteEngineConfig(config), 1920, 1080), c.expected);
        if (c.error != 0) {
            EXPECT_EQ(ErrorReporter().reports, 1u);
            EXPECT_EQ(QuitFlag.load(), 1);
            EXPECT_NE(ErrorReporter().message.find(std::string(LookupErrorText(c.error))), std::string::npos);
        } else {
            EXPECT_EQ(ErrorReporter().reports, 0u);
            EXPECT_EQ(Settings().title.size(), c.title_bytes);
        }
    }
}

TEST_F(SettingsTest, EngineConfigFillsTheMainWindowAndSwitches) {
    tools::EngineConfigFile config;
    config.screen_width = 0;
    config.screen_height = 0;
    config.shown_at_start = 0x101;  // low byte taken
    config.debug = 1;
    config.sound = 2;
    config.resizable = 1;
    config.window_mode = 0;
    config.image_extension_order = {3, 1, 2, 0, 0, 0, 0, 0};
    config.sound_extension_order = {2, 1, 0, 0};
    config.title = "";
    ASSERT_EQ(ApplyEngineConfig(tools::WriteEngineConfig(config), 1920, 1080), 0);
    const EngineSettings& s = Settings();
    EXPECT_EQ(MainWindowRecord()->client_width, 1920);
    EXPECT_EQ(MainWindowRecord()->client_height, 1080);
    EXPECT_EQ(MainWindowRecord()->shown, 1);
    EXPECT_EQ(s.title, " ");  // an empty title becomes one space
    EXPECT_EQ(s.debug, 1);
    EXPECT_EQ(s.sound, 2);
    EXPECT_EQ(s.resizable, 1);
    EXPECT_EQ(s.window_mode, 0);
    EXPECT_EQ(s.image_extension_order[0], 3);
    EXPECT_EQ(s.sound_extension_order[0], 2);
    EXPECT_EQ(s.texture_width, 2048);
    EXPECT_EQ(s.texture_height, 2048);
}

TEST_F(SettingsTest, DamagedEngineConfigIsReportedNotRead) {
    tools::EngineConfigFile config;
    config.title = "title";
    const std::pair<const char*, tools::EngineConfigFile> cases[] = {
        {"cut inside the fields", [&] { auto c = config; c.truncate_to = 60; return c; }()},
        {"cut before the length", [&] { auto c = config; c.truncate_to = 77; return c; }()},
        {"title past the end", [&] { auto c = config; c.title_length_override = 100; return c; }()},
        {"cut inside the title", [&] { auto c = config; c.truncate_to = 80; return c; }()},
        {"empty", [&] { auto c = config; c.truncate_to = 0; return c; }()},
    };
    for (const auto& [what, file] : cases) {
        SCOPED_TRACE(what);
        ResetErrorReporter();
        ResetEngineState();
        EXPECT_EQ(ApplyEngineConfig(tools::WriteEngineConfig(file), 1920, 1080), -1);
        EXPECT_EQ(ErrorReporter().reports, 1u);
        EXPECT_EQ(QuitFlag.load(), 1);
    }
}

}  // namespace
}  // namespace zk
