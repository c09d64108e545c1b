// Data appended to the executable: the check on small stand-in files, and
// the built engine shipped as one file with the demo game's tables appended.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/byte_reader.h"
#include "core/error_report.h"
#include "platform/resources.h"
#include "platform/ui.h"
#include "storage/appended_data.h"
#include "storage/file_source.h"
#include "tests/storage/run_program.h"
#include "tools/lib/appended_writer.h"
#include "tools/lib/byte_writer.h"
#include "tools/lib/pack_writer.h"

namespace zk {
namespace {

// The demo asks the player's name on its first run in a game folder; a run
// without a display shows the box on stderr and answers it.
constexpr const char* kDemoNameBox = "[ZORVEK デモ]\nお名前を入力してください。\n";

namespace fs = std::filesystem;
using storage_test::RunProgram;
using storage_test::RunResult;

std::vector<uint8_t> ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

tools::PackFileSpec PackFile(std::string name, std::vector<uint8_t> data, uint8_t kind = 0) {
    tools::PackFileSpec file;
    file.name = std::move(name);
    file.data = std::move(data);
    file.kind = kind;
    return file;
}

std::vector<uint8_t> U32(uint32_t v) {
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 24)};
}

class AppendedDataTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        root_ = fs::temp_directory_path() / ("zorvek-appended-" + std::to_string(getpid()) + "-" + info->name());
        fs::remove_all(root_);
        fs::create_directories(root_);
        ResetErrorReporter();
        ReleaseDataFlag() = false;
        TheAppendedData() = AppendedDataState{};
        platform::InstallUi(&ui_);
    }
    void TearDown() override {
        platform::InstallUi(nullptr);
        ResetErrorReporter();
        ReleaseDataFlag() = false;
        TheAppendedData() = AppendedDataState{};
        fs::remove_all(root_);
    }

    fs::path WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes) {
        fs::path path = root_ / name;
        EXPECT_TRUE(tools::WriteFile(path.string(), bytes));
        return path;
    }

    // A stand-in executable: `size` filler bytes with `block` written at `at`.
    fs::path FakeExecutable(size_t size, uint64_t at, const std::vector<uint8_t>& block) {
        std::vector<uint8_t> bytes(size, 0xCC);
        if (at + block.size() > bytes.size()) bytes.resize(at + block.size());
        std::copy(block.begin(), block.end(), bytes.begin() + static_cast<ptrdiff_t>(at));
        return WriteBytes("exe", bytes);
    }

    static std::vector<uint8_t> Block(std::string_view magic, uint32_t pack_offset, uint32_t preview_size) {
        tools::ByteWriter out;
        out.Bytes(magic);
        out.U32(pack_offset);
        out.U32(preview_size);
        out.U32(0);
        return out.Take();
    }

    // The ZK_RES bytes of an executable file, as the engine would see them.
    static std::optional<std::vector<uint8_t>> ZkRes(const fs::path& executable) {
        std::vector<uint8_t> file = ReadFile(executable);
        auto section = platform::FindResourceSectionInElf(file);
        if (!section) return std::nullopt;
        return platform::FindResourceInSection(std::span<const uint8_t>(file).subspan(section->offset, section->size),
                                               "ZK_RES", kAppendedResourceId);
    }

    // The demo game assembled with its tables in a pack, as zk_mkgame
    // --pack makes it: the folder holds game.zpf and no zkbin folder.
    fs::path PackedDemo() {
        fs::path folder = root_ / "packed";
        RunResult tool = RunProgram({(fs::path(ZORVEK_BINARY_DIR) / "zk_mkgame").string(), "--pack", "game.zpf",
                                     (fs::path(ZORVEK_SOURCE_DIR) / "demo").string(), folder.string()},
                                    root_ / "mkgame.txt");
        EXPECT_EQ(tool.exit_code, 0) << tool.output;
        EXPECT_TRUE(fs::exists(folder / "game.zpf"));
        EXPECT_FALSE(fs::exists(folder / "zkbin"));
        return folder;
    }
    fs::path DemoPack() { return PackedDemo() / "game.zpf"; }

    // zk_append run on the built engine; the result lies alone in its folder.
    fs::path AppendDemo() {
        fs::path pack = DemoPack();
        fs::create_directories(root_ / "single");
        fs::path out = root_ / "single" / "game";
        RunResult tool = RunProgram(
            {(fs::path(ZORVEK_BINARY_DIR) / "zk_append").string(), engine_.string(), pack.string(), out.string()},
            root_ / "append.txt");
        EXPECT_EQ(tool.exit_code, 0) << tool.output;
        return out;
    }

    int Detect(std::optional<std::vector<uint8_t>> resource, const fs::path& executable) {
        std::optional<std::span<const uint8_t>> bytes;
        if (resource) bytes = std::span<const uint8_t>(*resource);
        return DetectAppendedDataIn(bytes, executable.string());
    }

    fs::path root_;
    fs::path engine_ = fs::path(ZORVEK_BINARY_DIR) / "zorvek";
    platform::RecordingUi ui_;
};

TEST_F(AppendedDataTest, DecisionTable) {
    constexpr size_t kSize = 4096;
    struct Case {
        const char* what;
        std::optional<std::vector<uint8_t>> resource;
        std::vector<uint8_t> block;  // written at 1000
        int result;
        bool appended;
        uint64_t pack_offset;
        bool screen_saver;
    };
    const std::vector<Case> cases = {
        {"nothing appended", U32(4), {}, 0, false, 0, false},
        {"V is the file size", U32(kSize), {}, 0, false, 0, false},
        {"V past the end", U32(kSize + 100), {}, 0, false, 0, false},
        {"single-file game", U32(1000), Block("ZKER", 16, 0), 1, true, 16, false},
        {"screen saver", U32(1000), Block("ZKER", 16 + 54, 54), 1, true, 16 + 54, true},
        {"another magic", U32(1000), Block("ZKEX", 16, 0), 0, false, 0, false},
        {"a longer resource", std::vector<uint8_t>{0xE8, 0x03, 0, 0, 9, 9}, Block("ZKER", 32, 0), 1, true, 32, false},
    };
    for (const Case& c : cases) {
        TheAppendedData() = AppendedDataState{};
        ReleaseDataFlag() = false;
        fs::path exe = FakeExecutable(kSize, 1000, c.block);
        EXPECT_EQ(Detect(c.resource, exe), c.result) << c.what;
        const AppendedDataState& state = TheAppendedData();
        EXPECT_EQ(state.appended, c.appended) << c.what;
        EXPECT_EQ(ReleaseDataFlag(), c.appended) << c.what;
        EXPECT_EQ(state.pack_offset, c.pack_offset) << c.what;
        EXPECT_EQ(state.screen_saver, c.screen_saver) << c.what;
        EXPECT_EQ(state.executable_size, kSize) << c.what;
    }
    EXPECT_TRUE(ui_.boxes.empty());
    EXPECT_EQ(AppendedPackBase(), 1000u + 32u);
}

TEST_F(AppendedDataTest, MissingResourceShowsFs) {
    fs::path exe = FakeExecutable(64, 0, {});
    for (auto resource : {std::optional<std::vector<uint8_t>>{}, std::optional<std::vector<uint8_t>>{U32(0)},
                          std::optional<std::vector<uint8_t>>{std::vector<uint8_t>{1, 2}}}) {
        ui_.boxes.clear();
        EXPECT_EQ(Detect(resource, exe), -1);
        ASSERT_EQ(ui_.boxes.size(), 1u);
        EXPECT_EQ(ui_.boxes[0].text, "FS");
        EXPECT_FALSE(ui_.boxes[0].caption.has_value());
        EXPECT_EQ(ui_.boxes[0].owner, platform::kNoWindow);
    }
}

TEST_F(AppendedDataTest, CutOrUnreadableExecutable) {
    // The magic at the very end, the rest of the header missing: what was
    // read is all there is, and nothing is read past the end.
    fs::path cut = FakeExecutable(200, 196, {'Z', 'K', 'E', 'R'});
    EXPECT_EQ(Detect(U32(196), cut), 1);
    EXPECT_EQ(TheAppendedData().pack_offset, 0u);
    EXPECT_FALSE(TheAppendedData().screen_saver);

    EXPECT_EQ(Detect(U32(1000), root_ / "no such file"), 0);
    EXPECT_EQ(TheAppendedData().executable_size, 0u);
    EXPECT_FALSE(TheAppendedData().appended);
}

TEST_F(AppendedDataTest, TheTestProgramCarriesNothing) {
    // The build's default resource: this very executable has nothing appended.
    EXPECT_EQ(DetectAppendedData(), 0);
    EXPECT_FALSE(ExecutableHasAppendedData());
    EXPECT_EQ(TheAppendedData().block_offset, kNothingAppended);
    EXPECT_GT(TheAppendedData().executable_size, 0u);
    EXPECT_TRUE(ui_.boxes.empty());
}

TEST_F(AppendedDataTest, SingleFileGameStartsFromItsAppendedPack) {
    uint64_t engine_size = fs::file_size(engine_);
    fs::path game = AppendDemo();
    ASSERT_TRUE(fs::exists(game));

    // The layout zk_append writes, read back the way the engine reads it.
    std::optional<std::vector<uint8_t>> resource = ZkRes(game);
    ASSERT_TRUE(resource.has_value());
    EXPECT_EQ(ByteReader(*resource).PeekAt<uint32_t>(0), engine_size);
    EXPECT_EQ(Detect(resource, game), 1);
    EXPECT_EQ(TheAppendedData().pack_offset, 16u);
    EXPECT_FALSE(TheAppendedData().screen_saver);
    std::vector<uint8_t> bytes = ReadFile(game);
    EXPECT_EQ(std::string(bytes.begin() + static_cast<ptrdiff_t>(engine_size + 16),
                          bytes.begin() + static_cast<ptrdiff_t>(engine_size + 19)),
              "ZPF");

    // Alone in an empty folder: every table comes from the appended pack.
    RunResult run = RunProgram({game.string(), "--game", game.parent_path().string(), "--headless", "--frames", "5"},
                               root_ / "run.txt");
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_EQ(run.output, std::string(kDemoNameBox) + "zorvek: 5 frames, frame limit reached\n");
}

TEST_F(AppendedDataTest, SingleFileGameIsItsOwnFolderWhereverItIsStarted) {
    fs::path game = AppendDemo();
    // Started from another folder that holds a game's loose tables (here a
    // configuration that cannot be read): they are not this game's. The game
    // folder is the executable's, so nothing is read from the current one.
    fs::path elsewhere = root_ / "elsewhere";
    fs::create_directories(elsewhere / "zkbin");
    ASSERT_TRUE(tools::WriteFile((elsewhere / "zkbin" / "zkcfg.zbn").string(), std::vector<uint8_t>(5, 'x')));
    RunResult run = RunProgram({game.string(), "--headless", "--frames", "5"}, root_ / "run.txt", elsewhere);
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_EQ(run.output, std::string(kDemoNameBox) + "zorvek: 5 frames, frame limit reached\n");
}

TEST_F(AppendedDataTest, PackedGameFolderStartsAsReleasedData) {
    fs::path folder = PackedDemo();
    RunResult run =
        RunProgram({engine_.string(), "--game", folder.string(), "--headless", "--frames", "5"}, root_ / "run.txt");
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_EQ(run.output, std::string(kDemoNameBox) + "zorvek: 5 frames, frame limit reached\n");
}

TEST_F(AppendedDataTest, AppendingAgainReplacesTheGame) {
    fs::path first = AppendDemo();
    fs::path pack = DemoPack();
    fs::path second = root_ / "second";
    RunResult tool = RunProgram(
        {(fs::path(ZORVEK_BINARY_DIR) / "zk_append").string(), first.string(), pack.string(), second.string()},
        root_ / "append2.txt");
    ASSERT_EQ(tool.exit_code, 0) << tool.output;
    EXPECT_EQ(fs::file_size(second), fs::file_size(first));
    EXPECT_EQ(ZkRes(second), ZkRes(first));
}

TEST_F(AppendedDataTest, ExecutableWithoutResourceSaysFs) {
    fs::path copy = root_ / "zorvek";
    fs::copy_file(engine_, copy);
    RunResult patch = RunProgram(
        {(fs::path(ZORVEK_BINARY_DIR) / "zk_patch_exe").string(), copy.string(), "--remove", "ZK_RES", "201"},
        root_ / "patch.txt");
    ASSERT_EQ(patch.exit_code, 0) << patch.output;
    fs::create_directories(root_ / "game");
    RunResult run = RunProgram({copy.string(), "--game", (root_ / "game").string(), "--headless", "--frames", "5"},
                               root_ / "run.txt");
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.output.find("\nFS\n"), std::string::npos) << run.output;
}

TEST_F(AppendedDataTest, WrongMagicOrOffsetAtTheEndMeansAnOrdinaryEngine) {
    fs::path game_folder = root_ / "game";
    fs::copy(fs::path(ZORVEK_BINARY_DIR) / "demo-game", game_folder, fs::copy_options::recursive);

    // An appended game whose magic was damaged: the engine ignores the
    // appended bytes and runs the game folder like any other.
    fs::path damaged = AppendDemo();
    uint64_t engine_size = fs::file_size(engine_);
    {
        std::fstream file(damaged, std::ios::binary | std::ios::in | std::ios::out);
        file.seekp(static_cast<std::streamoff>(engine_size + 3));
        file.put('X');
    }
    EXPECT_EQ(Detect(ZkRes(damaged), damaged), 0);
    EXPECT_FALSE(TheAppendedData().appended);
    EXPECT_EQ(TheAppendedData().pack_offset, 0u);
    RunResult damaged_run = RunProgram(
        {damaged.string(), "--game", game_folder.string(), "--headless", "--frames", "5"}, root_ / "run1.txt");
    EXPECT_EQ(damaged_run.exit_code, 0) << damaged_run.output;

    // ZK_RES holding the executable's own size: nothing appended.
    fs::path copy = root_ / "zorvek";
    fs::copy_file(engine_, copy);
    char hex[16];
    uint64_t size = fs::file_size(copy);
    std::snprintf(hex, sizeof(hex), "%02x%02x%02x%02x", static_cast<unsigned>(size & 0xFF),
                  static_cast<unsigned>((size >> 8) & 0xFF), static_cast<unsigned>((size >> 16) & 0xFF),
                  static_cast<unsigned>((size >> 24) & 0xFF));
    RunResult patch =
        RunProgram({(fs::path(ZORVEK_BINARY_DIR) / "zk_patch_exe").string(), copy.string(), "ZK_RES", "201", hex},
                   root_ / "patch.txt");
    ASSERT_EQ(patch.exit_code, 0) << patch.output;
    EXPECT_EQ(Detect(ZkRes(copy), copy), 0);
    RunResult run =
        RunProgram({copy.string(), "--game", game_folder.string(), "--headless", "--frames", "5"}, root_ / "run2.txt");
    EXPECT_EQ(run.exit_code, 0) << run.output;
}

TEST_F(AppendedDataTest, WriterRefusesWhatTheEngineCannotUse) {
    std::vector<uint8_t> engine = ReadFile(engine_);
    std::vector<uint8_t> pack = tools::BuildPack({PackFile("a.txt", {1})}).bytes;
    std::string why;
    EXPECT_FALSE(tools::BuildAppendedExecutable(std::vector<uint8_t>(100, 0), pack, {}, &why));
    EXPECT_FALSE(tools::BuildAppendedExecutable(engine, std::vector<uint8_t>{'P', 'K', 3, 4}, {}, &why));

    // The preview is drawn as raw 24-bit rows of width x 3 bytes.
    auto bmp = [](int32_t width, int32_t height, uint16_t bits) {
        tools::ByteWriter out;
        out.Bytes("BM");
        out.U32(0);
        out.U32(0);
        out.U32(54);
        out.U32(40);
        out.I32(width);
        out.I32(height);
        out.U16(1);
        out.U16(bits);
        out.U32(0);
        for (int i = 0; i < 20; ++i) out.U8(0);
        for (int64_t i = 0; i < int64_t{width} * 3 * std::abs(height); ++i) out.U8(0x40);
        return out.Take();
    };
    EXPECT_FALSE(tools::BuildAppendedExecutable(engine, pack, bmp(6, 2, 24), &why));  // rows would need padding
    EXPECT_FALSE(tools::BuildAppendedExecutable(engine, pack, bmp(4, 2, 32), &why));
    std::vector<uint8_t> cut = bmp(4, 2, 24);
    cut.pop_back();
    EXPECT_FALSE(tools::BuildAppendedExecutable(engine, pack, cut, &why));

    std::vector<uint8_t> preview = bmp(8, 4, 24);
    std::optional<std::vector<uint8_t>> saver = tools::BuildAppendedExecutable(engine, pack, preview, &why);
    ASSERT_TRUE(saver.has_value()) << why;
    fs::path path = WriteBytes("saver", *saver);
    EXPECT_EQ(Detect(ZkRes(path), path), 1);
    EXPECT_TRUE(TheAppendedData().screen_saver);
    EXPECT_EQ(TheAppendedData().preview_size, preview.size());
    EXPECT_EQ(TheAppendedData().pack_offset, 16u + preview.size());
    EXPECT_EQ(saver->size(), engine.size() + 16 + preview.size() + pack.size());
}

}  // namespace
}  // namespace zk
