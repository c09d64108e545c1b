// A game folder in a temp directory for the storage tests: made the current
// folder and the engine's game folder while it lives, removed afterwards.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "core/startup_paths.h"
#include "platform/game_path.h"
#include "base/text_encoding.h"

namespace zk::storage_test {

class TempGameFolder {
public:
    explicit TempGameFolder(std::string_view tag) {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        root_ = std::filesystem::temp_directory_path() /
                ("zorvek-" + std::string(tag) + "-" + std::to_string(getpid()) + "-" + info->name());
        std::filesystem::remove_all(root_);
        std::filesystem::create_directories(root_);
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(root_);
        platform::ClearPathCache();
        saved_game_folder_ = Paths().game_folder;
        Paths().game_folder = platform::CurrentDirectory();
    }
    ~TempGameFolder() {
        Paths().game_folder = saved_game_folder_;
        std::error_code error;
        std::filesystem::current_path(previous_, error);
        std::filesystem::remove_all(root_, error);
    }
    TempGameFolder(const TempGameFolder&) = delete;
    TempGameFolder& operator=(const TempGameFolder&) = delete;

    const std::filesystem::path& Root() const { return root_; }

    // Writes a file; `path` uses '/' and CP932 bytes, stored under UTF-8 names.
    std::filesystem::path Write(const std::string& path, std::string_view bytes) const {
        std::filesystem::path host = root_ / Cp932ToUtf8(path);
        std::filesystem::create_directories(host.parent_path());
        std::ofstream(host, std::ios::binary) << bytes;
        return host;
    }

private:
    std::filesystem::path root_, previous_;
    std::string saved_game_folder_;
};

}  // namespace zk::storage_test
