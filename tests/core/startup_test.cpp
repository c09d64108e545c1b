// The engine end to end: the zorvek executable started on small game
// folders, headless.
#include <gtest/gtest.h>

#include <signal.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/startup_paths.h"
#include "tools/lib/byte_writer.h"
#include "tools/lib/zkcfg_writer.h"

extern char** environ;

namespace zk {
namespace {

namespace fs = std::filesystem;

struct EngineRun {
    int exit_code = -1;
    std::string output;  // stderr and stdout
    long elapsed_ms = 0;
};

class Process {
public:
    Process(const std::vector<std::string>& args, const fs::path& log) {
        std::vector<char*> argv;
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        std::vector<std::string> env_strings = {"ZORVEK_HEADLESS=1", "SDL_VIDEODRIVER=dummy",
                                                "SDL_AUDIODRIVER=dummy"};
        for (char** e = environ; *e != nullptr; ++e) {
            std::string entry = *e;
            if (entry.rfind("ZORVEK_HEADLESS=", 0) != 0) env_strings.push_back(entry);
        }
        std::vector<char*> envp;
        for (std::string& entry : env_strings) envp.push_back(entry.data());
        envp.push_back(nullptr);
        start_ = std::chrono::steady_clock::now();
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        log_ = log;
    }
    ~Process() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    EngineRun Wait(std::chrono::seconds timeout = std::chrono::seconds(60)) {
        EngineRun run;
        int status = 0;
        auto deadline = std::chrono::steady_clock::now() + timeout;
        while (pid_ > 0) {
            pid_t done = waitpid(pid_, &status, WNOHANG);
            if (done == pid_) {
                pid_ = -1;
                run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid_, SIGKILL);
                waitpid(pid_, nullptr, 0);
                pid_ = -1;
                run.exit_code = -2;  // hung
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        run.elapsed_ms = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               std::chrono::steady_clock::now() - start_)
                                               .count());
        std::ifstream in(log_);
        std::stringstream text;
        text << in.rdbuf();
        run.output = text.str();
        return run;
    }

private:
    pid_t pid_ = -1;
    fs::path log_;
    std::chrono::steady_clock::time_point start_;
};

class EngineRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        root = fs::temp_directory_path() / ("zorvek-run-" + std::to_string(getpid()) + "-" + info->name());
        fs::remove_all(root);
        game = root / "Game Folder";
        fs::create_directories(game);
        // The demo's tables, loose (development layout), so tests can change them.
        Process mkgame({(fs::path(ZORVEK_BINARY_DIR) / "zk_mkgame").string(),
                        (fs::path(ZORVEK_SOURCE_DIR) / "demo").string(), game.string()},
                       root / "mkgame.txt");
        ASSERT_EQ(mkgame.Wait().exit_code, 0);
    }
    void TearDown() override { fs::remove_all(root); }

    EngineRun Start(std::vector<std::string> args, std::chrono::seconds timeout = std::chrono::seconds(60)) {
        args.insert(args.begin(), {engine.string(), "--game", game.string()});
        Process process(args, root / ("log" + std::to_string(runs++) + ".txt"));
        return process.Wait(timeout);
    }

    fs::path engine = fs::path(ZORVEK_BINARY_DIR) / "zorvek";
    fs::path root, game;
    int runs = 0;
};

TEST_F(EngineRunTest, HeadlessRunStopsAfterItsFramesAndExitsZero) {
    EngineRun run = Start({"--headless", "--frames", "30"});
    EXPECT_EQ(run.exit_code, 0) << run.output;
    // 30 paced frames take about half a second at 60 frames a second.
    EXPECT_GE(run.elapsed_ms, 400);
    EXPECT_EQ(run.output, "");
}

TEST_F(EngineRunTest, HeadlessRunWritesItsLastFrameAsPng) {
    fs::path png = root / "last.png";
    EngineRun run = Start({"--headless", "--frames", "5", "--png", png.string()});
    EXPECT_EQ(run.exit_code, 0) << run.output;
    std::ifstream in(png, std::ios::binary);
    std::vector<unsigned char> header(24);
    in.read(reinterpret_cast<char*>(header.data()), 24);
    ASSERT_TRUE(in) << "no PNG written";
    EXPECT_EQ(std::string(header.begin() + 1, header.begin() + 4), "PNG");
    // IHDR: width and height of the demo's game screen, big-endian.
    auto be32 = [&](int at) { return header[at] << 24 | header[at + 1] << 16 | header[at + 2] << 8 | header[at + 3]; };
    EXPECT_EQ(be32(16), 640);
    EXPECT_EQ(be32(20), 480);
}

TEST_F(EngineRunTest, MissingConfigurationIsAFatalNumberedError) {
    fs::remove(game / "zkbin" / "zkcfg.zbn");
    EngineRun run = Start({"--headless", "--frames", "5"});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.output.find("zkbin\\zkcfg.zbn"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("存在しません"), std::string::npos) << run.output;
}

TEST_F(EngineRunTest, ConfigurationFoundWhateverItsCase) {
    // A game folder copied from Windows may spell its names in any case.
    fs::rename(game / "zkbin", game / "ZKBIN");
    fs::rename(game / "ZKBIN" / "zkcfg.zbn", game / "ZKBIN" / "ZkCfg.ZBN");
    EngineRun run = Start({"--headless", "--frames", "3"});
    EXPECT_EQ(run.exit_code, 0) << run.output;
}

TEST_F(EngineRunTest, BadScreenSizeStopsStartUp) {
    tools::EngineConfigFile config;
    config.screen_width = 127;
    config.title = "x";
    ASSERT_TRUE(tools::WriteFile((game / "zkbin" / "zkcfg.zbn").string(), tools::WriteEngineConfig(config)));
    EngineRun run = Start({"--headless", "--frames", "5"});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.output.find("範囲外"), std::string::npos) << run.output;  // the game's own 901020 text
}

TEST_F(EngineRunTest, CreditsSwitchShowsTheLicenceAndEnds) {
    EngineRun run = Start({"--headless", "/INFO"});
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_NE(run.output.find("License Information"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("■ライセンスについて"), std::string::npos) << run.output;
}

TEST_F(EngineRunTest, GameLoopThreadRunsAndShutsDownInOrder) {
    // The frame step on its own thread: the main thread only pumps, and the
    // engine must still reach its end once that thread has stopped.
    tools::EngineConfigFile config;
    config.title = "thread";
    config.game_loop_thread = 1;
    ASSERT_TRUE(tools::WriteFile((game / "zkbin" / "zkcfg.zbn").string(), tools::WriteEngineConfig(config)));
    for (int run = 0; run < 3; ++run) {
        EngineRun result = Start({"--headless", "--frames", "20"}, std::chrono::seconds(20));
        EXPECT_EQ(result.exit_code, 0) << result.output;
        EXPECT_GE(result.elapsed_ms, 250);
    }
}

TEST_F(EngineRunTest, SecondStartOfTheSameGameEndsAtOnce) {
    Process first({engine.string(), "--game", game.string(), "--headless", "--frames", "240"}, root / "first.txt");
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    EngineRun second = Start({"--headless", "--frames", "240"});
    EXPECT_EQ(second.exit_code, 0) << second.output;
    EXPECT_LT(second.elapsed_ms, 1500);  // it did not run its 4 s of frames
    EngineRun first_run = first.Wait();
    EXPECT_EQ(first_run.exit_code, 0) << first_run.output;
    EXPECT_GE(first_run.elapsed_ms, 3500);
}

TEST_F(EngineRunTest, MissingOrOversizedBinResourceIsRefused) {
    fs::path patch = fs::path(ZORVEK_BINARY_DIR) / "zk_patch_exe";
    fs::path copy = game / "zorvek";
    fs::copy_file(engine, copy);
    {
        Process tool({patch.string(), copy.string(), "ZK_BIN", "148", "0102030405"}, root / "patch.txt");
        ASSERT_EQ(tool.Wait().exit_code, 0);
    }
    engine = copy;
    EngineRun run = Start({"--headless", "--frames", "5"});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.output.find("IDR miss."), std::string::npos) << run.output;
}

TEST_F(EngineRunTest, MissingResResourceEndsWithFs) {
    fs::path patch = fs::path(ZORVEK_BINARY_DIR) / "zk_patch_exe";
    fs::path copy = game / "zorvek";
    fs::copy_file(engine, copy);
    {
        Process tool({patch.string(), copy.string(), "--remove", "ZK_RES", "201"}, root / "patch.txt");
        ASSERT_EQ(tool.Wait().exit_code, 0);
    }
    engine = copy;
    EngineRun run = Start({"--headless", "--frames", "5"});
    EXPECT_NE(run.output.find("FS"), std::string::npos) << run.output;
}

TEST(StartupPathsTest, IdentityNamesAreLowerCasedFileAccessKeepsCase) {
    BuildStartupPaths("\\home\\Player\\My Game\\Zorvek", "\\home\\Player\\.local\\share", "\\home\\Player\\Documents");
    EXPECT_EQ(Paths().game_folder, "\\home\\Player\\My Game\\");
    EXPECT_EQ(Paths().executable_path, "\\home\\Player\\My Game\\Zorvek");
    EXPECT_EQ(Paths().instance_name, ":home:player:my game:zorvek");
    EXPECT_EQ(Paths().game_folder_mutex_name, ":home:player:my game:");

    // A Shift-JIS trail byte of 0x5C is not a separator: "表" is 0x95 0x5C.
    BuildStartupPaths("\\g\\\x95\x5C\\A.exe", "", "");
    EXPECT_EQ(Paths().game_folder, "\\g\\\x95\x5C\\");
    EXPECT_EQ(Paths().instance_name, ":g:\x95\x5C:a.exe");
}

TEST(CommandLineTest, AtMostEightArgumentsAndEmptyBeyond) {
    CopyCommandLine({"zorvek"});
    EXPECT_EQ(TheCommandLine().count, 0);
    EXPECT_EQ(TheCommandLine().texts[1], "");
    CopyCommandLine({"zorvek", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10"});
    EXPECT_EQ(TheCommandLine().count, 8);
    EXPECT_EQ(TheCommandLine().texts[8], "8");
}

}  // namespace
}  // namespace zk
