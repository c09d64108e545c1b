// The file sources: which source answers a name (loose file, compiler list,
// pack), and the loose-file loader's edge cases.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "core/engine_hooks.h"
#include "core/error_report.h"
#include "core/settings.h"
#include "base/system_text.h"
#include "platform/ui.h"
#include "storage/appended_data.h"
#include "storage/asset_name.h"
#include "storage/descramble.h"
#include "storage/file_source.h"
#include "storage/pack_index.h"
#include "tests/storage/temp_game_folder.h"
#include "tools/lib/pack_writer.h"
#include "base/text_encoding.h"
#include "engine/engine_registration.h"

namespace zk {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }
tools::PackFileSpec PackFile(std::string name, std::string_view data, uint8_t kind = 0) {
    tools::PackFileSpec file;
    file.name = std::move(name);
    file.data = Bytes(data);
    file.kind = kind;
    return file;
}
std::string Text(const FileSource& source) { return {source.data.begin(), source.data.end()}; }

// The compiler's list, standing in until the development link exists.
std::vector<std::pair<std::string, std::string>>& CompilerList() {
    static std::vector<std::pair<std::string, std::string>> list;
    return list;
}
int32_t ProbeFakeCompilerList(FileSource& source, std::string_view name) {
    for (size_t i = 0; i < CompilerList().size(); ++i) {
        if (CompilerList()[i].first == name) {
            source.state = 3;
            source.compiler_list_index = static_cast<int32_t>(i);
            return 3;
        }
    }
    return 0;
}
int32_t LoadFakeCompilerListFile(FileSource& source, std::string_view) {
    const std::string& bytes = CompilerList()[static_cast<size_t>(source.compiler_list_index)].second;
    source.data.assign(bytes.begin(), bytes.end());
    source.size = static_cast<int32_t>(bytes.size());
    return 0;
}

class FileSourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetErrorReporter();
        ResetPackIndex();
        ReleaseDataFlag() = false;
        TheAppendedData() = AppendedDataState{};
        platform::InstallUi(&ui_);
        saved_hooks_ = TheFileSourceHooks();
        RegisterStorageHooks();
        BuildDescrambleTables();
        CompilerList().clear();
    }
    void TearDown() override {
        TheFileSourceHooks() = saved_hooks_;
        ResetPackIndex();
        ReleaseDataFlag() = false;
        platform::InstallUi(nullptr);
        ResetErrorReporter();
    }

    void UseFakeCompilerList() {
        TheFileSourceHooks().probe_compiler_list = &ProbeFakeCompilerList;
        TheFileSourceHooks().load_compiler_list_file = &LoadFakeCompilerListFile;
    }

    void WritePack(const std::string& path, const std::vector<tools::PackFileSpec>& files) {
        ASSERT_TRUE(tools::WritePack((game_.Root() / path).string(), tools::BuildPack(files)));
    }

    // The last report's message contains `text` (CP932).
    bool Reported(std::string_view text) const {
        return ErrorReporter().message.find(text) != std::string::npos;
    }

    storage_test::TempGameFolder game_{"sources"};
    platform::RecordingUi ui_;
    FileSourceHooks saved_hooks_;
};

TEST_F(FileSourceTest, FirstSourceInProbeOrderWins) {
    UseFakeCompilerList();
    // The pack stores kind 8 for a ".png" name: a pack entry's kind is the
    // stored one, never the extension's.
    WritePack("data.zpf", {PackFile("cg\\one.png", "pack one", kFileKindZcg),
                           PackFile("same.txt", "pack same"),
                           PackFile("both.ogg", "pack both", kFileKindOgg),
                           PackFile("dir.png", "pack dir", kFileKindPng)});
    WritePack("pac/more.zpf", {PackFile("pac.wav", "pac wav", kFileKindWav)});
    ASSERT_EQ(BuildPackIndex(), 0);
    CompilerList() = {{"same.txt", "list same"}, {"both.ogg", "list both"}, {"listed.bin", "list only"}};
    game_.Write("same.txt", "loose same");
    game_.Write("loose.WAV", "loose wav");
    fs::create_directories(game_.Root() / "dir.png");  // a folder is no loose file

    struct Case {
        const char* name;
        int32_t result;
        uint8_t kind;
        const char* bytes;
    };
    const std::vector<Case> cases = {
        {"same.txt", 1, kFileKindOther, "loose same"},
        {"loose.wav", 1, kFileKindWav, "loose wav"},  // the loose name matches ignoring case
        {"both.ogg", 3, 0, "list both"},
        {"listed.bin", 3, 0, "list only"},
        {"cg\\one.png", 2, kFileKindZcg, "pack one"},
        {"dir.png", 2, kFileKindPng, "pack dir"},
        {"pac.wav", 2, kFileKindWav, "pac wav"},
        {"missing.png", 0, 0, nullptr},
    };
    for (const Case& c : cases) {
        FileSource source;
        source.state = 9;
        source.kind = 99;
        EXPECT_EQ(ResolveFileSource(source, c.name), c.result) << c.name;
        EXPECT_EQ(source.state, c.result) << c.name;
        EXPECT_EQ(source.kind, c.kind) << c.name;
        if (c.bytes == nullptr) continue;
        ASSERT_EQ(LoadFromSource(source, c.name), 0) << c.name;
        EXPECT_EQ(Text(source), c.bytes) << c.name;
        EXPECT_EQ(source.size, static_cast<int32_t>(source.data.size()));
    }
    EXPECT_EQ(ErrorReporter().reports, 0u);
}

TEST_F(FileSourceTest, AssetNamesResolveIntoPacks) {
    Settings().image_extension_order = {1, 3, 0, 0, 0, 0, 0, 0};
    WritePack("data.zpf", {PackFile("bg\\title.jpg", "jpg", kFileKindJpg),
                           PackFile("bg\\title.png", "png", kFileKindPng)});
    ASSERT_EQ(BuildPackIndex(), 0);
    std::string name = "BG/Title", out;
    FileSource source;
    ASSERT_EQ(ResolveAssetName(source, out, name, kAssetModeImage), 0);
    EXPECT_EQ(out, "bg\\title.png");
    EXPECT_EQ(source.state, 2);
    ASSERT_EQ(LoadFromSource(source, out), 0);
    EXPECT_EQ(Text(source), "png");
    Settings().image_extension_order = {};
}

TEST_F(FileSourceTest, PackThatVanishedStopsTheSearch) {
    WritePack("data.zpf", {PackFile("zkbin\\zke.zbn", "x"), PackFile("a.txt", "a")});
    ASSERT_EQ(BuildPackIndex(), 0);
    fs::remove(game_.Root() / "data.zpf");

    FileSource source;
    EXPECT_EQ(ResolveFileSource(source, "a.txt"), -2);
    EXPECT_EQ(ReadGameFileReported(source, "zkbin\\zke.zbn"), -1);
    EXPECT_EQ(ErrorReporter().fatal_reports, 1u);
    EXPECT_TRUE(Reported(Sjis("オープンできませんでした")));
    // A loose file is probed first and never reaches the pack.
    game_.Write("a.txt", "loose");
    EXPECT_EQ(ResolveFileSource(source, "a.txt"), 1);

    // Through the asset names the pack itself is named.
    ResetErrorReporter();
    std::string name = "zkbin/zke.zbn", out;
    EXPECT_EQ(ResolveAssetName(source, out, name, kAssetModeExact), -1);
    EXPECT_TRUE(Reported("data.zpf"));
}

TEST_F(FileSourceTest, ReadersReportAMissingFile) {
    FileSource source;
    EXPECT_EQ(ReadGameFileReported(source, "zkbin\\none.zbn"), -1);
    EXPECT_EQ(ErrorReporter().fatal_reports, 1u);
    EXPECT_TRUE(Reported(Sjis("[zkbin\\none.zbn]ファイルが\n存在しません。")));

    // Loaders of an unknown state, or of a source this build lacks, fail
    // without a word: the state was never a real probe's.
    ResetErrorReporter();
    for (int8_t state : {0, 3, 4, -1}) {
        source.state = state;
        EXPECT_EQ(LoadFromSource(source, "x"), -3);
    }
    EXPECT_EQ(ErrorReporter().reports, 0u);
}

TEST_F(FileSourceTest, LooseFileLoads) {
    std::string bytes("\0\x5C\xFF\r\n", 5);
    bytes += std::string(70000, 'z');
    game_.Write("sub/Data.bin", bytes);
    game_.Write("empty.txt", "");

    FileSource source;
    ASSERT_EQ(LoadLooseFile(source, "SUB\\data.bin"), 0);
    EXPECT_EQ(Text(source), bytes);
    EXPECT_EQ(source.size, static_cast<int32_t>(bytes.size()));

    // An empty file loads with size 0 and still a real block.
    FileSource empty;
    ASSERT_EQ(LoadLooseFile(empty, "empty.txt"), 0);
    EXPECT_EQ(empty.size, 0);
    EXPECT_TRUE(empty.data.empty());
    EXPECT_NE(empty.data.data(), nullptr);
    EXPECT_EQ(ErrorReporter().reports, 0u);
}

TEST_F(FileSourceTest, LooseFileFailuresAreReported) {
    fs::create_directories(game_.Root() / "folder");
    ASSERT_EQ(mkfifo((game_.Root() / "pipe").c_str(), 0600), 0);
    // 2^31 bytes cannot be described by the int32 size: refused before any
    // allocation (the file is sparse, so this costs no disk).
    fs::path big = game_.Write("big.bin", "");
    fs::resize_file(big, uint64_t{1} << 31);

    struct Case {
        const char* path;
        const char* text;  // UTF-8 part of the expected message
    };
    const std::vector<Case> cases = {
        {"missing.bin", "[missing.bin]ファイルを\n読み込めませんでした。"},
        {"folder", "[folder]ファイルを\n読み込めませんでした。"},
        {"pipe", "[pipe]ファイルを\n読み込めませんでした。"},  // must not block
        {"big.bin", "メモリ不足のため[big.bin]ファイルを\n読み込めませんでした。"},
    };
    for (const Case& c : cases) {
        ResetErrorReporter();
        FileSource source;
        source.data = {1, 2, 3};
        source.size = 3;
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(LoadLooseFile(source, c.path), -3) << c.path;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << c.path;
        EXPECT_EQ(ErrorReporter().fatal_reports, 1u) << c.path;
        EXPECT_NE(ErrorReporter().message.find(Utf8ToCp932(c.text)), std::string::npos) << c.path;
        EXPECT_TRUE(source.data.empty()) << c.path;  // no bytes on failure
        EXPECT_EQ(source.size, 0) << c.path;
    }
}

}  // namespace
}  // namespace zk
