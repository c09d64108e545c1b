// The development link: the records of the second mapping walked with their
// bounds checked, and games under development run through zk_compile and
// through stand-in compilers that fail each way.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/startup_paths.h"
#include "storage/compiler_link.h"
#include "tests/storage/run_program.h"
#include "tests/storage/temp_game_folder.h"
#include "tools/lib/byte_writer.h"

namespace zk {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> Records(const std::vector<std::pair<std::string, std::string>>& files) {
    tools::ByteWriter out;
    for (const auto& [name, data] : files) {
        out.U32(static_cast<uint32_t>(name.size() + 1));
        out.Bytes(name);
        out.U8(0);
        out.U32(static_cast<uint32_t>(data.size()));
        out.Bytes(data);
    }
    return out.Take();
}

TEST(CompilerFiles, RecordsAreWalkedWithinTheBlock) {
    const std::vector<uint8_t> two = Records({{"zkbin\\zkc.zbn", "abc"}, {"zkbin\\zkl.zbn", ""}});
    std::optional<std::vector<CompilerFileEntry>> entries = ParseCompilerFiles(two, 2);
    ASSERT_TRUE(entries.has_value());
    ASSERT_EQ(entries->size(), 2u);
    EXPECT_EQ((*entries)[0].name, "zkbin\\zkc.zbn");
    EXPECT_EQ((*entries)[0].size, 3u);
    EXPECT_EQ(std::string(two.begin() + (*entries)[0].offset, two.begin() + (*entries)[0].offset + 3), "abc");
    EXPECT_EQ((*entries)[1].size, 0u);
    // Fewer records taken than there are: fine; none: an empty list.
    EXPECT_EQ(ParseCompilerFiles(two, 1)->size(), 1u);
    EXPECT_TRUE(ParseCompilerFiles({}, 0)->empty());

    std::vector<uint8_t> no_terminator = two;
    no_terminator[4 + 13] = 'x';
    std::vector<uint8_t> nul_inside = two;
    nul_inside[4 + 3] = 0;
    std::vector<uint8_t> size_past = two;
    size_past[4 + 14] = 200;
    std::vector<uint8_t> name_past = two;
    name_past[0] = 0xF0;
    name_past[3] = 0xFF;
    const std::pair<const char*, std::pair<std::vector<uint8_t>, uint32_t>> refused[] = {
        {"more records than the block holds", {two, 3}},
        {"a name without its terminator last", {no_terminator, 2}},
        {"a terminator inside the name", {nul_inside, 2}},
        {"a size past the block", {size_past, 2}},
        {"a name length past the block", {name_past, 1}},
        {"a name length of 0", {std::vector<uint8_t>(8, 0), 1}},
        {"a cut length", {std::vector<uint8_t>(3, 1), 1}},
    };
    for (const auto& [what, input] : refused) EXPECT_FALSE(ParseCompilerFiles(input.first, input.second)) << what;
}

class CompilerLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        root = fs::temp_directory_path() / ("zorvek-link-" + std::to_string(getpid()) + "-" + info->name());
        fs::remove_all(root);
        fs::create_directories(root);
    }
    void TearDown() override { fs::remove_all(root); }

    // A game folder with only its sources, and `compiler` (a program's
    // bytes, or zk_compile itself when empty) in the compiler's place.
    fs::path Game(const fs::path& folder, const std::string& compiler = {}, const std::string& script = kScript) {
        fs::create_directories(folder / "system" / "ZKCom");
        std::ofstream(folder / "game.cfg") << "title = link\nsound = 0\n";
        std::ofstream(folder / "main.zs") << script;
        const fs::path program = folder / "system" / "ZKCom" / "ZKCom.exe";
        if (compiler.empty()) fs::copy_file(fs::path(ZORVEK_BINARY_DIR) / "zk_compile", program);
        else if (compiler.rfind(kStandIn, 0) == 0) StandIn(folder, compiler.substr(kStandIn.size()));
        else std::ofstream(program, std::ios::binary) << compiler;
        fs::permissions(program, fs::perms::owner_all);
        return folder;
    }
    storage_test::RunResult Run(const fs::path& game, const std::string& name_space = {}) {
        std::vector<std::string> command;
        if (!name_space.empty()) command = {"/usr/bin/env", "ZORVEK_LOCK_NAMESPACE=" + name_space};
        command.insert(command.end(), {(fs::path(ZORVEK_BINARY_DIR) / "zorvek").string(), "--game", game.string(),
                                       "--headless", "--frames", "10"});
        return storage_test::RunProgram(command, root / ("log-" + game.filename().string() + name_space));
    }

    // The stand-in compiler in the compiler's place, answering as `mode`
    // says (tests/storage/stand_in/link_stand_in.cpp).
    static void StandIn(const fs::path& folder, const std::string& mode) {
        fs::copy_file(fs::path(ZORVEK_BINARY_DIR) / "zk_link_stand_in", folder / "system" / "ZKCom" / "ZKCom.exe");
        std::ofstream(folder / "stand-in") << mode << "\n";
    }

    static constexpr std::string_view kStandIn = "stand-in:";
    static constexpr const char* kScript = "int n\nlabel SYSTEM_START\nn += 1\nwait 1\njump SYSTEM_START\n";
    fs::path root;
};

TEST_F(CompilerLinkTest, AGameUnderDevelopmentRunsFromItsSources) {
    const fs::path game = Game(root / "game");
    const storage_test::RunResult run = Run(game);
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_NE(run.output.find("frame limit reached"), std::string::npos) << run.output;
    EXPECT_FALSE(fs::exists(game / "zkbin")) << "the tables came through the link";
}

TEST_F(CompilerLinkTest, TwoLinksAtOnceInTwoNamespaces) {
    const fs::path a = Game(root / "a"), b = Game(root / "b");
    storage_test::RunResult run_a, run_b;
    std::thread other([&] { run_a = Run(a, "link-a"); });
    run_b = Run(b, "link-b");
    other.join();
    EXPECT_EQ(run_a.exit_code, 0) << run_a.output;
    EXPECT_EQ(run_b.exit_code, 0) << run_b.output;
}

TEST_F(CompilerLinkTest, EachFailureEndsStartUp) {
    struct Case {
        const char* what;
        std::string compiler;  // empty: zk_compile
        std::string script;
        std::string says;
        bool remove_compiler = false;
    };
    const Case cases[] = {
        {"no compiler", "", kScript, "[License Information]\n■ライセンスについて", true},
        {"a compiler that ends before it finishes", "#!/bin/sh\nexit 0\n", kScript, "start-up failed"},
        {"a Windows program", "MZ\x90\x00 not for this system", kScript, "ZORVEKコンパイラを起動できませんでした。"},
        {"a script that does not compile", "", "label SYSTEM_START\nif 1\n", "main.zs:2: if without end"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path game = Game(root / ("case" + std::to_string(n++)), c.compiler, c.script);
        if (c.remove_compiler) fs::remove(game / "system" / "ZKCom" / "ZKCom.exe");
        const storage_test::RunResult run = Run(game);
        EXPECT_EQ(run.exit_code, 1) << run.output;
        EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
        EXPECT_EQ(run.output.find("frame limit reached"), std::string::npos) << run.output;
    }
}

TEST_F(CompilerLinkTest, StandInCompilersThatFailAfterTheFiles) {
    // The success flag alone decides: with it, start-up goes on past the
    // link to the tables (none were sent here, so the first one is missing);
    // without it, or with a record past the total, start-up ends at the link.
    struct Case {
        const char* mode;
        bool link_succeeds;
        const char* says;
    };
    const Case cases[] = {
        {"fail-after-files", false, "start-up failed"},
        {"count-0 fail", false, "start-up failed"},
        {"count-0 ok", true, "[zkbin\\zkcfg.zbn]"},
        {"past-total", false, "ZORVEKコンパイラとデータ通信が出来ませんでした。"},
        // A working folder that cannot be made current ends start-up, said.
        {"folder-gone", false, "ZORVEKコンパイラとデータ通信が出来ませんでした。"},
        {"folder-unended", false, "ZORVEKコンパイラとデータ通信が出来ませんでした。"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        const fs::path game = Game(root / ("stand-in" + std::to_string(n++)), std::string(kStandIn) + c.mode);
        const storage_test::RunResult run = Run(game);
        EXPECT_EQ(run.exit_code, 1) << run.output;
        EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
        EXPECT_EQ(run.output.find("zkcfg.zbn") != std::string::npos, c.link_succeeds) << run.output;
        EXPECT_EQ(run.output.find("frame limit reached"), std::string::npos) << run.output;
    }
}

// Start-up builds its one-time tables while the compiler works: this
// stand-in finishes only after they were built, so a link that built them
// once the compiler had finished would wait for a compiler that gives up.
std::filesystem::path tables_mark;
void BuildTablesStandIn() { std::ofstream(tables_mark) << "built\n"; }

TEST_F(CompilerLinkTest, TheTablesAreBuiltWhileTheCompilerWorks) {
    storage_test::TempGameFolder folder("link-tables");
    fs::create_directories(folder.Root() / "system" / "ZKCom");
    StandIn(folder.Root(), "after-the-tables");
    tables_mark = folder.Root() / "tables-built";
    const std::string working_folder = Paths().working_folder;
    ResetCompilerFileList();
    EXPECT_EQ(RunCompilerLink(&BuildTablesStandIn), 0);
    EXPECT_TRUE(fs::exists(tables_mark));
    EXPECT_TRUE(TheCompilerFileList().entries.empty());
    EXPECT_EQ(fs::current_path(), folder.Root()) << "the working folder the compiler wrote back";
    Paths().working_folder = working_folder;
}

TEST_F(CompilerLinkTest, AGameFolderTooLongForTheMappingIsRefused) {
    fs::path folder = root;
    while (folder.string().size() < 400) folder /= std::string(60, 'd');
    const fs::path game = Game(folder);
    const storage_test::RunResult run = Run(game);
    EXPECT_EQ(run.exit_code, 1) << run.output;
    EXPECT_NE(run.output.find("ZORVEKコンパイラとデータ通信が出来ませんでした。"), std::string::npos) << run.output;
}

}  // namespace
}  // namespace zk
