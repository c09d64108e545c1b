// Shared set-up of the script-machine tests: a fresh game folder as the
// current folder, the recording UI, the error reporter with texts for the
// codes that have no built-in text, and empty boot tables.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "core/engine_state.h"
#include "core/error_report.h"
#include "platform/game_path.h"
#include "platform/ui.h"
#include "script/command_table.h"
#include "script/compiled_tables.h"
#include "script/evaluator_setup.h"
#include "storage/descramble.h"
#include "tools/lib/byte_writer.h"
#include "tools/lib/script_writer.h"
#include "base/text_encoding.h"
#include "engine/engine_reset.h"

namespace zk::script_test {

namespace fs = std::filesystem;

// Texts for the numbered errors these tests expect and that have no text
// built into the engine: "E<code>" followed by the arguments.
inline std::vector<tools::ZkeRecord> TestErrorTexts() {
    return {{105000, "E105000 %s"}, {900070, "E900070 %d"}, {901030, "E901030 %d"},
            {101100, "E101100 %d"}, {101110, "E101110"},    {100010, "E100010"}};
}

class ScriptTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        game_ = fs::temp_directory_path() / ("zk-script-" + std::to_string(getpid()) + "-" + info->test_suite_name() +
                                             "-" + info->name());
        fs::remove_all(game_);
        fs::create_directories(game_ / "zkbin");
        old_cwd_ = fs::current_path();
        fs::current_path(game_);
        platform::ClearPathCache();
        ResetEngine();
        platform::InstallUi(&ui_);
        BuildDescrambleTables();
        FillEvaluatorTables();
        InstallEvaluatorCommands();
        UseTestErrorTexts();
    }
    void TearDown() override {
        ResetEngine();
        platform::InstallUi(nullptr);
        std::error_code ec;
        fs::current_path(old_cwd_, ec);
        fs::remove_all(game_, ec);
    }

    void UseTestErrorTexts() {
        ErrorTextTable table;
        ASSERT_TRUE(ParseErrorTextTable(tools::BuildZke(TestErrorTexts()), table));
        ErrorReporter().table = std::move(table);
    }

    // Writes a file under the game folder; `game_path` uses '\'.
    void Write(std::string game_path, const std::vector<uint8_t>& bytes) {
        for (char& c : game_path) {
            if (c == '\\') c = '/';
        }
        ASSERT_TRUE(tools::WriteFile((game_ / game_path).string(), bytes));
        platform::ClearPathCache();
    }
    void Remove(std::string game_path) {
        for (char& c : game_path) {
            if (c == '\\') c = '/';
        }
        fs::remove(game_ / game_path);
        platform::ClearPathCache();
    }

    // The last report's message, and the messages the engine gives for a
    // damaged and for a missing file.
    static std::string LastMessage() { return ErrorReporter().message; }
    static uint32_t Reports() { return ErrorReporter().reports; }
    static std::string Unreadable(std::string_view name) {
        return Utf8ToCp932("[" + std::string(name) + "]ファイルを\n読み込めませんでした。");
    }
    static std::string Missing(std::string_view name) {
        return Utf8ToCp932("[" + std::string(name) + "]ファイルが\n存在しません。");
    }

    platform::RecordingUi ui_;
    fs::path game_;
    fs::path old_cwd_;
};

// Extreme values a count or size field is patched to.
inline constexpr int32_t kExtremeInts[] = {-1, INT32_MIN, INT32_MAX, 0x7FFFFFF0, 0x10000000};

// Overwrites four bytes of a file image (little-endian).
inline std::vector<uint8_t> PatchU32(std::vector<uint8_t> bytes, size_t offset, uint32_t value) {
    for (size_t i = 0; i < 4; ++i) bytes.at(offset + i) = static_cast<uint8_t>(value >> (8 * i));
    return bytes;
}

}  // namespace zk::script_test
