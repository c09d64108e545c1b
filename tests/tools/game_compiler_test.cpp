// The compiler for game authors: source folders in, tables (or an error
// naming file and line) out; zk_mkgame's game folder; a runtime error of a
// compiled game naming the line the author wrote.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/byte_reader.h"
#include "base/text_encoding.h"
#include "core/error_report.h"
#include "storage/descramble.h"
#include "tests/storage/run_program.h"
#include "tools/lib/byte_writer.h"
#include "tools/lib/engine_error_texts.h"
#include "tools/lib/game_compiler.h"

namespace zk {
namespace {

namespace fs = std::filesystem;
using Sources = std::map<std::string, std::string>;  // relative path → text (UTF-8)

constexpr const char* kConfig = "title = test\nwidth = 320\nheight = 240\nsound = 0\n";

class GameCompilerTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        root = fs::temp_directory_path() /
               ("zorvek-compiler-" + std::to_string(getpid()) + "-" + info->test_suite_name() + "-" + info->name());
        fs::remove_all(root);
        fs::create_directories(root);
    }
    void TearDown() override { fs::remove_all(root); }

    // A source folder holding `files` (and a game.cfg unless given).
    fs::path Folder(const std::string& name, Sources files) {
        const fs::path folder = root / name;
        fs::remove_all(folder);
        if (!files.contains("game.cfg")) files["game.cfg"] = kConfig;
        for (const auto& [path, text] : files) {
            fs::create_directories((folder / path).parent_path());
            std::ofstream(folder / path, std::ios::binary) << text;
        }
        return folder;
    }

    fs::path root;
};

// The line section of a compiled script file, descrambled.
std::vector<int32_t> LineTable(const std::vector<uint8_t>& file) {
    ByteReader header(file);
    EXPECT_TRUE(header.Skip(8));
    const int32_t count = header.I32().value_or(-1);
    const int32_t sizes[4] = {header.I32().value_or(0), header.I32().value_or(0), header.I32().value_or(0),
                              header.I32().value_or(0)};
    const size_t lines_at = 32 + static_cast<size_t>(sizes[0] + sizes[1] + sizes[2]);
    EXPECT_EQ(sizes[3], count * 4);
    BuildDescrambleTables();
    const std::array<uint8_t, 4> key = ScriptFileKey();
    std::vector<int32_t> lines;
    for (int32_t i = 0; i < count; ++i) {
        uint8_t b[4];
        for (size_t k = 0; k < 4; ++k) b[k] = file.at(lines_at + size_t(i) * 4 + k) ^ key[(size_t(i) * 4 + k) % 4];
        lines.push_back(int32_t(b[0] | b[1] << 8 | b[2] << 16 | uint32_t(b[3]) << 24));
    }
    return lines;
}

TEST_F(GameCompilerTest, CompileErrorsNameFileAndLine) {
    struct Case {
        const char* what;
        Sources files;
        std::string where;  // "file:line"
        std::string says;
    };
    const Case cases[] = {
        {"if without end names the if", {{"main.zs", "label SYSTEM_START\nint x\nif x == 1\nx = 2\nwait 1\n"}},
         "main.zs:3", "if without end"},
        {"loop without end in a second file",
         {{"main.zs", "label SYSTEM_START\njump SCENE\n"}, {"scene.zs", "label SCENE\n\nloop 3\nwait 1\n"}},
         "scene.zs:3", "loop without end"},
        {"the innermost open construct",
         {{"main.zs", "label SYSTEM_START\nloop\nint y\nif y\nwait 1\nend\nif y\nwait 2\n"}}, "main.zs:7",
         "if without end"},
        {"end without if", {{"main.zs", "label SYSTEM_START\nwait 1\nend\n"}}, "main.zs:3", "end without if"},
        {"a label no file defines", {{"main.zs", "label SYSTEM_START\nwait 1\n\njump NOWHERE\n"}}, "main.zs:4",
         "no label NOWHERE"},
        {"a call to a label no file defines", {{"main.zs", "label SYSTEM_START\ncall MISSING(1)\n"}}, "main.zs:2",
         "no label MISSING"},
        {"a label defined twice across files",
         {{"main.zs", "label SYSTEM_START\njump A\nlabel A\njump A\n"}, {"z.zs", "# again\nlabel A\njump A\n"}},
         "z.zs:2", "already defined at main.zs:3"},
        {"a text assigned to an int", {{"main.zs", "int n\nlabel SYSTEM_START\nn = \"text\"\njump SYSTEM_START\n"}},
         "main.zs:3", "a text cannot be assigned to int n"},
        {"a text assigned to a real element",
         {{"main.zs", "real r[3]\nstr s\nlabel SYSTEM_START\nr[1] = s\njump SYSTEM_START\n"}}, "main.zs:4",
         "a text cannot be assigned to real r"},
        {"an int declared with a text", {{"main.zs", "int n = \"5\"\n"}}, "main.zs:1", "a text cannot be the value"},
        {"a variable declared twice", {{"a.zs", "int n\nlabel SYSTEM_START\n"}, {"b.zs", "\nreal n\n"}}, "b.zs:2", "declared twice"},
        {"a variable too large", {{"main.zs", "int big[2000, 2001]\n"}}, "main.zs:1", "4000000"},
        {"an unknown statement", {{"main.zs", "label SYSTEM_START\nfrobnicate\n"}}, "main.zs:2", "unknown statement"},
        {"an undeclared variable", {{"main.zs", "label SYSTEM_START\nq = 1\n"}}, "main.zs:2", "undeclared variable q"},
        {"a script in a subfolder", {{"main.zs", "label SYSTEM_START\njump S\n"}, {"script/s.zs", "label S\nif\n"}},
         "script\\s.zs:2", ""},
        {"no start", {{"main.zs", "label START\njump START\n"}}, "main.zs:1", "no label SYSTEM_START"},
        {"an unknown game.cfg key", {{"game.cfg", "title = x\ncolour = 3\n"}}, "game.cfg:2", "unknown key colour"},
        {"a bad game.cfg number", {{"game.cfg", "\nwidth = wide\n"}}, "game.cfg:2", "bad number for width"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path folder = Folder("case", c.files);
        try {
            tools::CompileGameFolder(folder);
            ADD_FAILURE() << "compiled";
        } catch (const tools::ScriptCompileError& e) {
            EXPECT_EQ(e.File() + ":" + std::to_string(e.Line()), c.where) << e.what();
            EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
        }
    }
    // A comparison of texts is a number.
    EXPECT_NO_THROW(tools::CompileGameFolder(
        Folder("case", {{"main.zs", "int n\nstr s\nlabel SYSTEM_START\nn = s == \"a\"\njump SYSTEM_START\n"}})));
    // So is a reference to a text variable (its number).
    EXPECT_NO_THROW(tools::CompileGameFolder(
        Folder("case", {{"main.zs", "int n\nstr s[4]\nlabel SYSTEM_START\nn = #s\njump SYSTEM_START\n"}})));
}

TEST_F(GameCompilerTest, SeveralFilesWithRealSourceLines) {
    const fs::path folder = Folder(
        "game", {{"main.zs", "# the start\nint n\n\nlabel SYSTEM_START\nn = 1\n\ncall SCENE\njump SYSTEM_START\n"},
                 {"b_scene.zs", "label SCENE\n  # talk\n  n += 1\n  if n > 3\n    n = 0\n  end\nreturn\n"},
                 {"a_empty.zs", "# nothing but words\n"}});
    const tools::CompiledGame game = tools::CompileGameFolder(folder);
    // main.zs is file 0; the others follow by name.
    EXPECT_EQ(game.script_names, (std::vector<std::string>{"main.zs", "a_empty.zs", "b_scene.zs"}));
    ASSERT_TRUE(game.tables.contains("zkbin\\zkt00000.zbn"));
    ASSERT_TRUE(game.tables.contains("zkbin\\zkt00002.zbn"));
    EXPECT_EQ(LineTable(game.tables.at("zkbin\\zkt00000.zbn")), (std::vector<int32_t>{5, 7, 8}));
    // if (4), the assignment (5), end (6) and return (7) after n += 1 (3).
    EXPECT_EQ(LineTable(game.tables.at("zkbin\\zkt00002.zbn")), (std::vector<int32_t>{3, 4, 5, 6, 7}));
    EXPECT_TRUE(LineTable(game.tables.at("zkbin\\zkt00001.zbn")).empty());
}

TEST_F(GameCompilerTest, VariableTableReachesTheHighestDeclaration) {
    std::string many;
    for (int i = 0; i < 120; ++i) many += "int v" + std::to_string(i) + "\n";
    for (const auto& [text, highest] : std::vector<std::pair<std::string, uint32_t>>{
             {"label SYSTEM_START\njump SYSTEM_START\n", 999u},
             {"int a\nlabel SYSTEM_START\njump SYSTEM_START\n", 1000u},
             {many + "label SYSTEM_START\nv119 = 1\njump SYSTEM_START\n", 1119u}}) {
        const tools::CompiledGame game = tools::CompileGameFolder(Folder("game", {{"main.zs", text}}));
        ByteReader zkt(game.tables.at("zkbin\\zkt.zbn"));
        ASSERT_TRUE(zkt.Skip(8));
        EXPECT_EQ(zkt.U32(), highest);
    }
}

TEST_F(GameCompilerTest, ErrorTextsAlwaysCarriedAndAuthorsWin) {
    const fs::path folder =
        Folder("game", {{"game.cfg", std::string(kConfig) + "error 108180 ラベル %s はどこにもありません\n"
                                                           "error 777777 作者の番号\n"}});
    const tools::CompiledGame game = tools::CompileGameFolder(folder);
    ErrorTextTable table;
    ASSERT_TRUE(ParseErrorTextTable(game.tables.at("zkbin\\zke.zbn"), table));
    std::map<uint32_t, std::string> texts;
    for (int32_t i = 0; i < table.count; ++i) texts[table.codes[i]] = Cp932ToUtf8(table.texts[i]);
    for (const tools::ZkeRecord& record : tools::EngineErrorTexts()) EXPECT_TRUE(texts.contains(record.code));
    EXPECT_EQ(texts[108180], "ラベル %s はどこにもありません");
    EXPECT_EQ(texts[777777], "作者の番号");
    EXPECT_EQ(texts[108190].rfind("スクリプトの最後", 0), 0u);
}

TEST_F(GameCompilerTest, OneErrorTextTooManyNamesItsLine) {
    const size_t room = 256 - tools::EngineErrorTexts().size();
    // Giving an engine number a text of its own, or one number twice, takes
    // no room; each new number takes one.
    std::string full = std::string(kConfig) + "error " + std::to_string(tools::EngineErrorTexts().front().code) +
                       " mine\nerror 800000 first\nerror 800000 again\n";
    int line = 7;
    for (size_t i = 1; i < room; ++i, ++line) full += "error " + std::to_string(800000 + i) + " text\n";
    EXPECT_NO_THROW(tools::CompileGameFolder(Folder("full", {{"game.cfg", full}})));
    const std::string over = full + "\n# one more\nerror 899999 over\nerror 899998 further\n";
    try {
        tools::CompileGameFolder(Folder("over", {{"game.cfg", over}}));
        ADD_FAILURE() << "compiled";
    } catch (const tools::ScriptCompileError& e) {
        EXPECT_EQ(e.File() + ":" + std::to_string(e.Line()), "game.cfg:" + std::to_string(line + 3)) << e.what();
        EXPECT_NE(std::string(e.what()).find("more than 256 error texts"), std::string::npos) << e.what();
    }
}

std::set<std::string> FilesUnder(const fs::path& folder) {
    std::set<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file()) files.insert(entry.path().lexically_relative(folder).generic_string());
    return files;
}

TEST_F(GameCompilerTest, MkgameTakesTheAuthorsAssetsAndNothingOfTheDemos) {
    const fs::path source = Folder("source", {{"main.zs", "label SYSTEM_START\nwait 1\njump SYSTEM_START\n"},
                                              {"image/bg.bmp", "not really a picture"},
                                              {"image/chara/girl.png", "png bytes"},
                                              {"sound/bgm.ogg", "author's own music"},
                                              {"movie/op.ogv", "a movie"},
                                              {".git/config", "hidden"},
                                              {"save/old.sd", "a save"},
                                              {"notes.txt", "top-level notes"}});
    const fs::path tool = fs::path(ZORVEK_BINARY_DIR) / "zk_mkgame";
    const fs::path game = root / "game";
    const storage_test::RunResult run = storage_test::RunProgram({tool.string(), source.string(), game.string()},
                                                                 root / "mkgame.txt");
    ASSERT_EQ(run.exit_code, 0) << run.output;
    // The tables in their pack (released data), the author's files as they are.
    std::set<std::string> assets = FilesUnder(game);
    EXPECT_EQ(assets.erase("zkbin.zpf"), 1u);
    EXPECT_EQ(assets, (std::set<std::string>{"image/bg.bmp", "image/chara/girl.png", "movie/op.ogv", "sound/bgm.ogg"}));
    std::ifstream music(game / "sound" / "bgm.ogg");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(music), {}), "author's own music");

    // --loose over that folder: the tables loose under zkbin/, development
    // data, and the pack of the earlier build gone.
    const fs::path& loose = game;
    const storage_test::RunResult loose_run =
        storage_test::RunProgram({tool.string(), "--loose", source.string(), loose.string()}, root / "loose.txt");
    EXPECT_EQ(loose_run.exit_code, 0) << loose_run.output;
    EXPECT_TRUE(fs::is_regular_file(loose / "zkbin" / "zkt00000.zbn"));
    EXPECT_FALSE(fs::exists(loose / "zkbin.zpf"));

    // In place: the tables' pack joins the sources, twice over (the pack is
    // no asset), and tables left loose by an earlier build are gone;
    // --pack in place is refused.
    fs::create_directories(source / "zkbin");
    std::ofstream(source / "zkbin" / "zkt00009.zbn") << "a script since deleted";
    for (int run = 0; run < 2; ++run) {
        const storage_test::RunResult in_place =
            storage_test::RunProgram({tool.string(), source.string(), source.string()}, root / "inplace.txt");
        EXPECT_EQ(in_place.exit_code, 0) << in_place.output;
        EXPECT_TRUE(fs::is_regular_file(source / "zkbin.zpf"));
        EXPECT_FALSE(fs::exists(source / "zkbin"));
    }
    const storage_test::RunResult packed_in_place = storage_test::RunProgram(
        {tool.string(), "--pack", "data.zpf", source.string(), source.string()}, root / "packinplace.txt");
    EXPECT_EQ(packed_in_place.exit_code, 2);
    EXPECT_TRUE(fs::is_regular_file(source / "image" / "bg.bmp"));

    // Packed: one pack with the tables and every asset folder.
    const fs::path packed = root / "packed";
    const storage_test::RunResult pack = storage_test::RunProgram(
        {tool.string(), "--pack", "data.zpf", source.string(), packed.string()}, root / "pack.txt");
    ASSERT_EQ(pack.exit_code, 0) << pack.output;
    EXPECT_EQ(FilesUnder(packed), (std::set<std::string>{"data.zpf"}));
}

TEST_F(GameCompilerTest, AnEngineBesideTheTablesPackRunsItsGame) {
    // Started from elsewhere without --game: the folder holding the engine
    // and the tables' pack is the game, not the current folder.
    const fs::path source = Folder("source", {{"main.zs", "label SYSTEM_START\nwait 1\njump SYSTEM_START\n"}});
    const fs::path game = root / "game";
    const storage_test::RunResult build = storage_test::RunProgram(
        {(fs::path(ZORVEK_BINARY_DIR) / "zk_mkgame").string(), source.string(), game.string()}, root / "mkgame.txt");
    ASSERT_EQ(build.exit_code, 0) << build.output;
    ASSERT_FALSE(fs::exists(game / "zkbin"));
    fs::copy_file(fs::path(ZORVEK_BINARY_DIR) / "zorvek", game / "zorvek");
    const storage_test::RunResult run = storage_test::RunProgram(
        {(game / "zorvek").string(), "--headless", "--frames", "5"}, root / "run.txt", source);
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_EQ(run.output, "zorvek: 5 frames, frame limit reached\n");
}

TEST_F(GameCompilerTest, MkgameReportsTheErrorAndWritesNothing) {
    const fs::path source = Folder("source", {{"main.zs", "label SYSTEM_START\nif 1\nwait 1\n"}});
    const storage_test::RunResult run = storage_test::RunProgram(
        {(fs::path(ZORVEK_BINARY_DIR) / "zk_mkgame").string(), source.string(), (root / "game").string()},
        root / "mkgame.txt");
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.output.find("main.zs:2: if without end"), std::string::npos) << run.output;
    EXPECT_FALSE(fs::exists(root / "game"));
}

TEST_F(GameCompilerTest, RunningPastTheEndNamesTheAuthorsFileAndLine) {
    // main.zs calls into scene.zs, whose last command has no way on.
    const fs::path source =
        Folder("source", {{"main.zs", "int n\n\nlabel SYSTEM_START\ncall SCENE\njump SYSTEM_START\n"},
                          {"scene.zs", "# the first scene\nlabel SCENE\n\nn = n + 1\n\n# forgot to return\n"}});
    const fs::path game = root / "game";
    const storage_test::RunResult build = storage_test::RunProgram(
        {(fs::path(ZORVEK_BINARY_DIR) / "zk_mkgame").string(), source.string(), game.string()}, root / "mkgame.txt");
    ASSERT_EQ(build.exit_code, 0) << build.output;
    const storage_test::RunResult run = storage_test::RunProgram(
        {(fs::path(ZORVEK_BINARY_DIR) / "zorvek").string(), "--game", game.string(), "--headless", "--frames", "30"},
        root / "run.txt");
    EXPECT_EQ(run.exit_code, 1) << run.output;
    EXPECT_NE(run.output.find("error 108190"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("[対象ファイル]\nscene.zs\n\n[場所]\n4 行目"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("スクリプトの最後の命令の後へ進みました。"), std::string::npos) << run.output;
}

TEST_F(GameCompilerTest, TheGuidesExampleGamePlays) {
    // The example of docs/making-a-game.md, compiled and played: through the
    // first page, the choice (key 2) and a save (F5).
    const fs::path game = root / "game";
    const storage_test::RunResult build = storage_test::RunProgram(
        {(fs::path(ZORVEK_BINARY_DIR) / "zk_mkgame").string(),
         (fs::path(ZORVEK_SOURCE_DIR) / "docs" / "examples" / "first-game").string(), game.string()},
        root / "mkgame.txt");
    ASSERT_EQ(build.exit_code, 0) << build.output;
    std::ofstream(root / "input.txt") << "40 click 50 350\n60 key 2\n100 key F5\n";
    const storage_test::RunResult run = storage_test::RunProgram(
        {(fs::path(ZORVEK_BINARY_DIR) / "zorvek").string(), "--game", game.string(), "--input",
         (root / "input.txt").string(), "--frames", "130"},
        root / "run.txt");
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_EQ(run.output.find("error"), std::string::npos) << run.output;
    EXPECT_TRUE(fs::is_regular_file(game / "save" / "slot1.sd"));
}

}  // namespace
}  // namespace zk
