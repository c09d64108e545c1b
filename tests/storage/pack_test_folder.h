// A small game folder for the pack tests: a fresh temp folder made the
// current folder (file names resolve against it), the recording UI, the
// error reporter, the pack index and the codec registry at their start-of-
// run state, and the pack source plugged into the file-source probe order.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/engine_state.h"
#include "core/error_report.h"
#include "base/format.h"
#include "core/startup_paths.h"
#include "platform/codec_registry.h"
#include "platform/game_path.h"
#include "platform/ui.h"
#include "storage/appended_data.h"
#include "storage/codec_loading.h"
#include "storage/file_source.h"
#include "storage/pack_index.h"
#include "storage/pack_loader.h"
#include "tools/lib/pack_writer.h"
#include "base/text_encoding.h"

namespace zk::testing_support {

namespace fs = std::filesystem;

// Test data as CP932 bytes, written in UTF-8.
inline std::string Cp932(std::string_view utf8) { return Utf8ToCp932(utf8); }

inline std::vector<uint8_t> Bytes(std::string_view text) { return std::vector<uint8_t>(text.begin(), text.end()); }

// Bytes that do not repeat within a block, so that any damage shows.
inline std::vector<uint8_t> PatternBytes(size_t size, uint32_t seed = 1) {
    std::vector<uint8_t> bytes(size);
    uint32_t x = seed * 2654435761u + 12345u;
    for (uint8_t& b : bytes) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(x >> 24);
    }
    return bytes;
}

class PackGameFolder : public ::testing::Test {
protected:
    void SetUp() override {
        static int counter = 0;
        old_cwd_ = fs::current_path();
        folder_ = fs::temp_directory_path() /
                  ("zk_pack_test_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        fs::current_path(folder_);
        platform::ClearPathCache();
        ResetErrorReporter();
        ResetEngineState();
        platform::InstallUi(&ui_);
        ResetPackIndex();
        ReleaseDataFlag() = false;
        TheAppendedData() = AppendedDataState{};
        saved_game_folder_ = Paths().game_folder;
        Paths().game_folder = platform::CurrentDirectory();
        saved_hooks_ = TheFileSourceHooks();
        TheFileSourceHooks().probe_pack_index = &ProbePackIndex;
        TheFileSourceHooks().load_pack_entry = &LoadPackEntry;
        platform::ResetCodecRegistry();
        LoadCodecLibraries();
    }

    void TearDown() override {
        platform::ResetCodecRegistry();
        TheFileSourceHooks() = saved_hooks_;
        Paths().game_folder = saved_game_folder_;
        ResetPackIndex();
        ReleaseDataFlag() = false;
        TheAppendedData() = AppendedDataState{};
        platform::InstallUi(nullptr);
        ResetErrorReporter();
        ResetEngineState();
        fs::current_path(old_cwd_);
        platform::ClearPathCache();
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    // Writes a pack at a path relative to the game folder ('/' separators).
    tools::BuiltPack WritePack(const std::string& relative, const std::vector<tools::PackFileSpec>& files,
                               const tools::PackRawOptions& options = {}) {
        tools::BuiltPack pack = tools::BuildPack(files, options);
        EXPECT_TRUE(tools::WritePack((folder_ / relative).string(), pack));
        return pack;
    }
    void WriteRaw(const std::string& relative, const std::vector<uint8_t>& bytes) {
        tools::BuiltPack pack;
        pack.bytes = bytes;
        EXPECT_TRUE(tools::WritePack((folder_ / relative).string(), pack));
    }

    // The message the reporter built last, and what it would be for `code`
    // with these arguments (the built-in texts: no zke.zbn is loaded).
    static std::string LastMessage() { return ErrorReporter().message; }
    static std::string Message(uint32_t code, std::initializer_list<FormatArg> args = {}) {
        return FormatBounded(LookupErrorText(code), args);
    }
    static uint32_t Reports() { return ErrorReporter().reports; }

    // Probe and load through the file sources, as a reader does.
    struct Loaded {
        int32_t found = 0;
        int32_t result = 0;
        FileSource source;
    };
    static Loaded Load(std::string_view name) {
        Loaded loaded;
        loaded.found = ResolveFileSource(loaded.source, name);
        if (loaded.found == 2) loaded.result = LoadPackEntry(loaded.source, name);
        return loaded;
    }

    fs::path folder_;
    platform::RecordingUi ui_;

private:
    fs::path old_cwd_;
    std::string saved_game_folder_;
    FileSourceHooks saved_hooks_;
};

}  // namespace zk::testing_support
