// Models on the GPU path, with the fake model player drawing its pattern
// (opaque 0xFF2060A0 over (8, 8)–(23, 23) of its target): in this process
// on an EGL device, and through the engine run as a program from a folder
// that holds the executable, the game and (or not) the library.
#include <dlfcn.h>
#include <png.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/startup_notes.h"
#include "engine/emote_gpu_link.h"
#include "engine/engine_reset.h"
#include "layers/emote_players.h"
#include "platform/emote_library.h"
#include "tests/gpu/gpu_test_support.h"
#include "tests/storage/run_program.h"
#include "tools/lib/folder_pack.h"
#include "tools/lib/bmp_writer.h"
#include "tools/lib/byte_writer.h"
#include "tools/lib/script_text.h"
#include "tools/lib/zkcfg_writer.h"

namespace zk {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kPattern = 0xFF2060A0u;
bool InPattern(int32_t x, int32_t y) { return x >= 8 && x < 24 && y >= 8 && y < 24; }

fs::path FakeLibrary(const std::string& variant) {
    return fs::path(ZORVEK_FAKE_EMOTE_DIR) / ("zk_fake_emote_" + variant + ".so");
}

fs::path FreshFolder(const std::string& tag) {
    static int counter = 0;
    // Beside the build's executable: a hard link to it then works.
    const fs::path folder = fs::path(ZORVEK_BINARY_DIR) / "emote-runs" /
                            (tag + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

// ------------------------------------------------------------- in this process

class EmoteGpuTest : public gpu_test::GpuTest {
protected:
    // As the GPU tests' world is made, with the library loaded before the
    // device: start-up's order.
    void SetUp() override {
        platform::InstallUi(&ui_);
        set_ = layer_test::MakeWindowLayerSet(gpu_test::kWidth, gpu_test::kHeight, true);
        WindowRecord* record = GetWindowRecord(0);
        record->client_width = gpu_test::kWidth;
        record->client_height = gpu_test::kHeight;
        Settings().direct3d_layer_mode = 1;
        RegisterGpuDeviceHooks();
        folder_ = FreshFolder("gpu");
        fs::copy_file(FakeLibrary("complete"), folder_ / "emotedriver.so");
        fs::copy_file(FakeLibrary("complete"), folder_ / "VEZoduz.so");
        ASSERT_TRUE(platform::LoadEmoteLibraryFrom(folder_.string()));
        SetEmoteLibraryLoaded(true);
        fake_ = dlopen((folder_ / "VEZoduz.so").c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
        ASSERT_NE(fake_, nullptr);
        RegisterEmoteGpuLink();
        if (InitDirect3D() != 0) GTEST_SKIP() << "no OpenGL 3.3 core context through EGL here";
        ui_.boxes.clear();
    }

    void TearDown() override {
        ResetEmotePlayers();
        GpuTest::TearDown();
        if (fake_ != nullptr) dlclose(fake_);
        std::error_code error;
        fs::remove_all(folder_, error);
    }

    std::string Log() {
        auto log = reinterpret_cast<const char* (*)()>(dlsym(fake_, "fake_emote_log"));
        return log != nullptr ? std::string(log()) : std::string();
    }

    // A model layer "W0/<name>" with a player, its grid one device-size
    // tile.
    CgImage& ModelLayer(const std::string& name) {
        NamedTreeNode* node = CreateTreeNode(set_.w0, name, false, ++order_);
        EXPECT_NE(node, nullptr);
        CgImage& image = *CreateCgImage(node);
        image.width = image.height = 2;
        EXPECT_TRUE(AllocCgPixels(image, 2, 2));
        const uint8_t bytes[] = {'M', 'O', 'D', 'E', 'L'};
        EXPECT_EQ(LoadEmotePlayer(image, bytes), 0);
        image.texture_kind = kTextureKindEmote;
        EXPECT_EQ(CreateLayerTextures(image, 0, 512, 256), 0);
        return image;
    }

    fs::path folder_;
    void* fake_ = nullptr;
};

TEST_F(EmoteGpuTest, TheDeviceMakesTheDriverAndAModelDrawsIntoItsLayer) {
    EXPECT_NE(Log().find("2 device 0 0\n110 d 0\n"), std::string::npos) << Log();
    EXPECT_EQ(TheEmoteDevice().gl_major * 10 + TheEmoteDevice().gl_minor >= 33, true);
    EXPECT_NE(TheEmoteDevice().get_proc_address, nullptr);
    ModelLayer("model");
    // A layer over the model's right half: the pattern's leftover scissor
    // and clear colour must not reach it.
    AddLayer("over", 32, gpu_test::kHeight, [](int32_t, int32_t) { return 0xFF00C000u; }, 32, 0);
    const CgImage& frame = DrawFrame();
    EXPECT_NE(Log().find("256 p1"), std::string::npos) << Log();
    for (int32_t y = 0; y < gpu_test::kHeight; y += 3) {
        for (int32_t x = 0; x < gpu_test::kWidth; x += 3) {
            const uint32_t expected = x >= 32 ? 0xFF00C000u : InPattern(x, y) ? kPattern : 0u;
            ASSERT_EQ(gpu_test::PixelAt(frame, x, y), expected) << x << ", " << y;
        }
    }
}

TEST_F(EmoteGpuTest, ADeviceResetReleasesThePlayersAndMakesANewDriver) {
    CgImage& model = ModelLayer("model");
    TheGpuDeviceTestHooks().device_not_reset = true;
    DrawFrame();
    const std::string log = Log();
    const size_t released = log.find("202 p1\n102 d\n2 device 0 0\n110 d 0\n");
    EXPECT_NE(released, std::string::npos) << log;
    EXPECT_EQ(model.emote_player, nullptr) << "players are not reloaded";
    EXPECT_EQ(TheEmotePlayerTable().driver != nullptr, true);
}

// ------------------------------------------------------------ as a program

struct Picture {
    int32_t width = 0, height = 0;
    std::vector<uint32_t> pixels;  // 0xAARRGGBB
    uint32_t At(int32_t x, int32_t y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
};

bool ReadPng(const fs::path& path, Picture& picture) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
    image.format = PNG_FORMAT_BGRA;
    picture.width = int32_t(image.width);
    picture.height = int32_t(image.height);
    picture.pixels.assign(size_t(image.width) * image.height, 0);
    return png_image_finish_read(&image, nullptr, picture.pixels.data(), 0, nullptr) != 0;
}

// The game: a model layer, a shot layer of the window's size that the GPU
// frame is read back into, and one model action.
//
//     layer name="model", priority=1, file="a.psb", texture=1
//     layer name="shot", priority=2, file="shot.bmp", capture=1
//     emote name="model", action=1
//     (then wait, frame after frame)
void WriteGame(const fs::path& folder) {
    tools::ScriptText script = tools::ScriptGame(R"(
label SYSTEM_START
layer name="model", priority=1, file="a.psb", texture=1
layer name="shot", priority=2, file="shot.bmp", capture=1
emote name="model", action=1
loop
  wait 1
end
)");
    ASSERT_TRUE(script.game.Write(folder));
    tools::EngineConfigFile config;
    config.title = "model";
    config.screen_width = 128;
    config.screen_height = 96;
    ASSERT_TRUE(tools::WriteReleaseConfig(folder, config));
    tools::BmpImage shot;
    shot.width = 128;
    shot.height = 96;
    shot.values.assign(128 * 96, 0x404040u);
    ASSERT_TRUE(tools::WriteFile((folder / "shot.bmp").string(), tools::BuildBmp(shot)));
    const std::string model = "MODEL";
    ASSERT_TRUE(tools::WriteFile((folder / "a.psb").string(), std::vector<uint8_t>(model.begin(), model.end())));
}

// The engine beside the game, as a player's copy of a game would hold it.
void PutEngine(const fs::path& folder) {
    std::error_code error;
    fs::create_hard_link(fs::path(ZORVEK_BINARY_DIR) / "zorvek", folder / "zorvek", error);
    if (error) fs::copy_file(fs::path(ZORVEK_BINARY_DIR) / "zorvek", folder / "zorvek");
}

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct GameRun {
    storage_test::RunResult result;
    Picture picture;
    std::string calls;  // the fake's log; empty when it never loaded
};

GameRun RunGame(const fs::path& folder, const fs::path& executable) {
    GameRun run;
    const fs::path png = folder / "last.png";
    const fs::path calls = folder / "calls.txt";
    setenv("FAKE_EMOTE_LOG", calls.c_str(), 1);
    run.result = storage_test::RunProgram(
        {executable.string(), "--game", folder.string(), "--headless", "--frames", "5", "--png", png.string()},
        folder / "output.txt");
    unsetenv("FAKE_EMOTE_LOG");
    EXPECT_TRUE(ReadPng(png, run.picture)) << run.result.output;
    if (fs::exists(calls)) run.calls = ReadText(calls);
    return run;
}

TEST(EmoteRunTest, WithThePlayerBesideTheEngineTheGpuPathDrawsTheModel) {
    const fs::path folder = FreshFolder("run");
    WriteGame(folder);
    PutEngine(folder);
    fs::copy_file(FakeLibrary("complete"), folder / "emotedriver.so");
    fs::copy_file(FakeLibrary("complete"), folder / "VEZoduz.so");
    const GameRun run = RunGame(folder, folder / "zorvek");
    EXPECT_EQ(run.result.exit_code, 0) << run.result.output;
    if (run.calls.find("2 device") == std::string::npos) {
        GTEST_SKIP() << "no OpenGL 3.3 core context through EGL here:\n" << run.result.output;
    }
    EXPECT_NE(run.calls.find("119 d 5\n214 p1 0.5\n218 p1 0.5\n216 p1 0.5\n222 p1 0 0 0\n205 p1\n"),
              std::string::npos)
        << run.calls;
    EXPECT_NE(run.calls.find("253 p1"), std::string::npos) << run.calls;
    EXPECT_NE(run.calls.find("256 p1"), std::string::npos) << run.calls;
    // Shutdown: the player, then its driver.
    EXPECT_NE(run.calls.find("202 p1\n102 d\n"), std::string::npos) << run.calls;
    ASSERT_EQ(run.picture.width, 128);
    for (int32_t y = 0; y < 96; y += 2) {
        for (int32_t x = 0; x < 128; x += 2) {
            // The shot layer shows the GPU frame: the pattern on black.
            const uint32_t expected = InPattern(x, y) ? kPattern : 0xFF000000u;
            ASSERT_EQ(run.picture.At(x, y) | 0xFF000000u, expected) << x << ", " << y;
        }
    }
    fs::remove_all(folder);
}

TEST(EmoteRunTest, WithoutACompletePlayerTheEngineStaysOnTheCpuPath) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> files;  // variant, name beside the engine
        bool library_in_game_folder;
    };
    const std::vector<Case> cases = {
        {"no library", {}, false},
        {"an entry point missing", {{"complete", "emotedriver.so"}, {"missing247", "VEZoduz.so"}}, false},
        {"the driver missing", {{"complete", "VEZoduz.so"}}, false},
        {"the library in the game folder only", {}, true},
    };
    for (const Case& c : cases) {
        const fs::path folder = FreshFolder("cpu");
        const fs::path engine = folder / "engine";
        const fs::path game = folder / "game";
        fs::create_directories(engine);
        fs::create_directories(game);
        WriteGame(game);
        PutEngine(engine);
        for (const auto& [variant, name] : c.files) fs::copy_file(FakeLibrary(variant), engine / name);
        if (c.library_in_game_folder) {
            fs::copy_file(FakeLibrary("complete"), game / "emotedriver.so");
            fs::copy_file(FakeLibrary("complete"), game / "VEZoduz.so");
        }
        const GameRun run = RunGame(game, engine / "zorvek");
        EXPECT_EQ(run.result.exit_code, 0) << c.what << "\n" << run.result.output;
        EXPECT_EQ(run.calls, "") << c.what;
        // No box: the library is missing silently.
        EXPECT_EQ(run.result.output.find("E-mote"), std::string::npos) << c.what << "\n" << run.result.output;
        ASSERT_EQ(run.picture.width, 128) << c.what;
        // The placeholder is transparent and the shot layer is only its
        // picture: nothing was drawn into it.
        for (int32_t y = 0; y < 96; y += 4)
            for (int32_t x = 0; x < 128; x += 4) ASSERT_EQ(run.picture.At(x, y), 0xFF404040u) << c.what;
        fs::remove_all(folder);
    }
}

}  // namespace
}  // namespace zk
