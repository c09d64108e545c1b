// Programs started for scripts: waiting and not waiting, no descriptor of
// the engine but the standard three reaching the child, and programs that
// cannot start.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "platform/process_launch.h"

namespace zk::platform {
namespace {

namespace fs = std::filesystem;

class ProcessLaunchTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("zk-launch-" + std::to_string(getpid()));
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }
    std::string Read(const char* name) {
        std::ifstream in(folder_ / name);
        return std::string((std::istreambuf_iterator<char>(in)), {});
    }
    fs::path folder_;
};

TEST_F(ProcessLaunchTest, OnlyTheStandardDescriptorsReachTheChild) {
    // A descriptor without close-on-exec, as a library might leave one.
    const int leaked = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(leaked, 3);
    const std::string marker = (folder_ / "fds").string();
    const std::string probe = "for n in 0 1 2 " + std::to_string(leaked) +
                              "; do if [ -e /proc/$$/fd/$n ]; then echo $n; fi; done > '" + marker + "'";
    ASSERT_EQ(SpawnProgram("/bin/sh", {"-c", probe}, true), LaunchResult::kStarted);
    ::close(leaked);
    const std::string seen = Read("fds");
    EXPECT_EQ(seen.find(std::to_string(leaked) + "\n"), std::string::npos) << seen;
    EXPECT_NE(seen.find("2\n"), std::string::npos) << seen;
}

TEST_F(ProcessLaunchTest, MissingProgramsDoNotStart) {
    EXPECT_EQ(SpawnProgram((folder_ / "none").string(), {}, true), LaunchResult::kNotStarted);
    EXPECT_EQ(SpawnProgram("", {}, false), LaunchResult::kNotStarted);
    std::ofstream(folder_ / "plain.txt") << "x";
    EXPECT_FALSE(IsExecutableFile((folder_ / "plain.txt").string()));
    EXPECT_FALSE(IsExecutableFile(folder_.string()));
    EXPECT_TRUE(IsExecutableFile("/bin/sh"));
    EXPECT_GT(FreeDiskBytes(folder_.string()), 0u);
    EXPECT_EQ(FreeDiskBytes((folder_ / "none" / "x").string()), 0u);
}

}  // namespace
}  // namespace zk::platform
