// The demo's zkbin\zke.zbn, as zk_mkgame compiles it (the texts of
// tools/lib/engine_error_texts.cpp),
// has a text for every error number the engine defines: without one, a
// report shows the generic internal-error text, with neither its number nor
// the file it names. The numbers are read from core/error_codes.h itself, so
// a number added there without a text fails here.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "core/error_report.h"
#include "tests/storage/run_program.h"
#include "tools/lib/byte_writer.h"

namespace zk {
namespace {

namespace fs = std::filesystem;

struct DefinedCode {
    std::string name;
    uint32_t code;
};

// Every "inline constexpr uint32_t kErrName = 123456;" of the header.
std::vector<DefinedCode> DefinedErrorCodes() {
    std::ifstream in(fs::path(ZORVEK_SOURCE_DIR) / "core" / "error_codes.h");
    std::stringstream text;
    text << in.rdbuf();
    const std::string header = text.str();
    const std::regex definition(R"(constexpr\s+uint32_t\s+(kErr\w+)\s*=\s*(\d+)\s*;)");
    std::vector<DefinedCode> codes;
    for (auto it = std::sregex_iterator(header.begin(), header.end(), definition); it != std::sregex_iterator(); ++it)
        codes.push_back({(*it)[1].str(), static_cast<uint32_t>(std::stoul((*it)[2].str()))});
    return codes;
}

TEST(DemoErrorTextsTest, EveryDefinedNumberHasAText) {
    const std::vector<DefinedCode> codes = DefinedErrorCodes();
    // The header was read and parsed (its first and last numbers are there).
    ASSERT_FALSE(codes.empty());
    EXPECT_EQ(codes.front().code, kErrLicenseNotice);
    EXPECT_EQ(codes.back().code, kErrPackNotOpened);

    const fs::path root = fs::temp_directory_path() / ("zorvek-demo-texts-" + std::to_string(getpid()));
    fs::remove_all(root);
    fs::create_directories(root);
    const storage_test::RunResult tool = storage_test::RunProgram(
        {(fs::path(ZORVEK_BINARY_DIR) / "zk_mkgame").string(), "--loose",
         (fs::path(ZORVEK_SOURCE_DIR) / "demo").string(), (root / "game").string()},
        root / "mkgame.txt");
    ASSERT_EQ(tool.exit_code, 0) << tool.output;
    auto bytes = tools::ReadFile((root / "game" / "zkbin" / "zke.zbn").string());
    fs::remove_all(root);
    ASSERT_TRUE(bytes.has_value());
    ErrorTextTable table;
    ASSERT_TRUE(ParseErrorTextTable(std::move(*bytes), table));

    for (const DefinedCode& defined : codes) {
        SCOPED_TRACE(defined.name + " " + std::to_string(defined.code));
        const std::string_view* text = nullptr;
        for (int32_t i = 0; i < table.count && text == nullptr; ++i)
            if (table.codes[i] == defined.code) text = &table.texts[i];
        ASSERT_NE(text, nullptr) << "no text in tools/lib/engine_error_texts.cpp";
        EXPECT_FALSE(text->empty());
    }
}

}  // namespace
}  // namespace zk
