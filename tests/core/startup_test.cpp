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
#include "platform/window_beacon.h"
#include "tools/lib/byte_writer.h"
#include "tools/lib/script_writer.h"
#include "tools/lib/folder_pack.h"
#include "tools/lib/zkcfg_writer.h"

extern char** environ;

namespace zk {
namespace {

namespace fs = std::filesystem;

// A host path as the game path the launcher hands the engine (ASCII paths).
std::string GamePath(const fs::path& host) {
    std::string path = host.string();
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

struct EngineRun {
    int exit_code = -1;
    std::string output;  // stderr and stdout
    long elapsed_ms = 0;

    // The closing line every run ends with, without its line break; empty
    // when the output does not end with one.
    std::string LastLine() const {
        if (output.empty() || output.back() != '\n') return {};
        const size_t start = output.find_last_of('\n', output.size() - 2);
        return output.substr(start == std::string::npos ? 0 : start + 1,
                             output.size() - 1 - (start == std::string::npos ? 0 : start + 1));
    }
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
        // The stop signals at their default, whatever this process inherited
        // (a job started in the background ignores SIGINT).
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGINT);
        sigaddset(&defaults, SIGTERM);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
        start_ = std::chrono::steady_clock::now();
        if (posix_spawn(&pid_, argv[0], &actions, &attributes, argv.data(), envp.data()) != 0) pid_ = -1;
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
        log_ = log;
    }
    ~Process() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    void Signal(int signal_number) {
        if (pid_ > 0) kill(pid_, signal_number);
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

// The demo asks the player's name on its first run in a game folder; a
// run without a display shows the box on stderr and answers with its
// initial text.
constexpr const char* kDemoNameBox = "[ZORVEK デモ]\nお名前を入力してください。\n";

class EngineRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        root = fs::temp_directory_path() / ("zorvek-run-" + std::to_string(getpid()) + "-" + info->name());
        fs::remove_all(root);
        game = root / "Game Folder";
        fs::create_directories(game);
        // The demo's tables loose, so tests can change them, and its
        // configuration packed: the folder starts as released data.
        Process mkgame({(fs::path(ZORVEK_BINARY_DIR) / "zk_mkgame").string(), "--loose",
                        (fs::path(ZORVEK_SOURCE_DIR) / "demo").string(), game.string()},
                       root / "mkgame.txt");
        ASSERT_EQ(mkgame.Wait().exit_code, 0);
        std::optional<std::vector<uint8_t>> config = tools::ReadFile((game / "zkbin" / "zkcfg.zbn").string());
        ASSERT_TRUE(config.has_value());
        ASSERT_TRUE(tools::WriteReleaseConfig(game, *config));
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
    EXPECT_EQ(run.output, std::string(kDemoNameBox) + "zorvek: 30 frames, frame limit reached\n");
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

// Without a packed configuration the tables are development data: loose
// ones, even a loose configuration, do not make a release, and start-up
// needs the script compiler, which this folder lacks.
TEST_F(EngineRunTest, LooseTablesWithoutPackedConfigurationNeedTheCompiler) {
    tools::EngineConfigFile config;
    config.title = "loose";
    fs::remove(game / tools::kTablesPackName);
    ASSERT_TRUE(tools::WriteFile((game / "zkbin" / "zkcfg.zbn").string(), tools::WriteEngineConfig(config)));
    EngineRun run = Start({"--headless", "--frames", "5"});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_TRUE(run.output.starts_with("[License Information]\n■ライセンスについて")) << run.output;
    EXPECT_EQ(run.LastLine(), "zorvek: 0 frames, start-up failed") << run.output;
}

// A damaged picture of the demo: the headless run names the error's number
// and the demo's own text names the file; the closing line says the error
// stopped the run.
TEST_F(EngineRunTest, BrokenDemoPictureNamesItsErrorAndFile) {
    std::ofstream(game / "image" / "ball.bmp", std::ios::binary | std::ios::trunc) << "not a picture";
    EngineRun run = Start({"--headless", "--frames", "30"});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_TRUE(run.output.starts_with("error 100070\n")) << run.output;
    EXPECT_NE(run.output.find("[image\\ball.bmp]ファイルは\nBMP形式ではありません。"), std::string::npos)
        << run.output;
    EXPECT_EQ(run.output.find("内部エラー"), std::string::npos) << run.output;
    EXPECT_TRUE(run.LastLine().starts_with("zorvek: ")) << run.output;
    EXPECT_TRUE(run.LastLine().ends_with(", stopped by fatal error 100070")) << run.output;
}

TEST_F(EngineRunTest, TablesFoundWhateverTheirCase) {
    // A game folder copied from Windows may spell its names in any case.
    fs::rename(game / "zkbin", game / "ZKBIN");
    fs::rename(game / "ZKBIN" / "zkc.zbn", game / "ZKBIN" / "ZkC.ZBN");
    fs::rename(game / tools::kTablesPackName, game / "ZKBIN.ZPF");
    EngineRun run = Start({"--headless", "--frames", "3"});
    EXPECT_EQ(run.exit_code, 0) << run.output;
}

TEST_F(EngineRunTest, BadScreenSizeStopsStartUp) {
    tools::EngineConfigFile config;
    config.screen_width = 127;
    config.title = "x";
    ASSERT_TRUE(tools::WriteReleaseConfig(game, config));
    EngineRun run = Start({"--headless", "--frames", "5"});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.output.find("範囲外"), std::string::npos) << run.output;  // the game's own 901020 text
}

TEST_F(EngineRunTest, CreditsSwitchShowsTheLicenceAndEnds) {
    EngineRun run = Start({"--headless", "/INFO"});
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_NE(run.output.find("License Information"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("■ライセンスについて"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("error "), std::string::npos) << "the credits are no error";
    EXPECT_EQ(run.LastLine(), "zorvek: 0 frames, ended at start-up: the /info switch was handled");
}

TEST_F(EngineRunTest, GameLoopThreadRunsAndShutsDownInOrder) {
    // The frame step on its own thread: the main thread only pumps, and the
    // engine must still reach its end once that thread has stopped.
    tools::EngineConfigFile config;
    config.title = "thread";
    config.game_loop_thread = 1;
    ASSERT_TRUE(tools::WriteReleaseConfig(game, config));
    for (int run = 0; run < 3; ++run) {
        EngineRun result = Start({"--headless", "--frames", "20"}, std::chrono::seconds(20));
        EXPECT_EQ(result.exit_code, 0) << result.output;
        EXPECT_GE(result.elapsed_ms, 250);
        // Only the first run asks the player's name; it is kept for the others.
        EXPECT_EQ(result.output, std::string(run == 0 ? kDemoNameBox : "") + "zorvek: 20 frames, frame limit reached\n");
    }
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
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.output.find("FS"), std::string::npos) << run.output;
}

// zorvek's own switches: every mistake is refused before anything runs,
// with the usage text and exit code 2. (A build that took them would run
// forever, or take them as game arguments and run the game.)
TEST_F(EngineRunTest, MistakenSwitchesAreRefusedWithTheUsage) {
    const std::vector<std::vector<std::string>> refused = {
        {"--game", game.string(), "--frames", "0"},
        {"--game", game.string(), "--frames", ""},
        {"--game", game.string(), "--frames", "18446744073709551616"},  // one more than 64 bits hold
        {"--game", game.string(), "--frames", "12x"},
        {"--game", game.string(), "--frames", "+5"},
        {"--game", game.string(), "--frames", "-5"},
        {"--game", game.string(), "--frames"},
        {"--game", game.string(), "--frames", "--headless"},  // the next switch is no value
        {"--game", game.string(), "--frames", "3", "--png"},
        {"--game", game.string(), "--frames", "3", "--png", ""},
        {"--frames", "3", "--game"},
        {"--game", game.string(), "--frames", "3", "--bogus", "/zkcfg"},  // an unknown switch placed first
        {"--game", game.string(), "--frames", "3", "-x"},
        // A switch given twice: which of the two was meant is not clear.
        {"--game", game.string(), "--frames", "2", "--frames", "3"},
        {"--game", game.string(), "--game", game.string(), "--frames", "3"},
        {"--game", game.string(), "--frames", "3", "--png", "a.png", "--png", "b.png"},
        {"--game", game.string(), "--frames", "3", "--headless"},
    };
    for (const std::vector<std::string>& args : refused) {
        std::string shown;
        for (const std::string& arg : args) shown += " [" + arg + "]";
        SCOPED_TRACE(shown);
        std::vector<std::string> command = {engine.string(), "--headless"};
        command.insert(command.end(), args.begin(), args.end());
        Process process(command, root / ("log" + std::to_string(runs++) + ".txt"));
        EngineRun run = process.Wait(std::chrono::seconds(10));
        EXPECT_EQ(run.exit_code, 2) << run.output;
        EXPECT_NE(run.output.find("usage: zorvek"), std::string::npos) << run.output;
    }
}

TEST_F(EngineRunTest, GameArgumentsFollowTheSwitches) {
    // "--" ends zorvek's switches, and so does the first game argument:
    // whatever follows belongs to the game.
    EXPECT_EQ(Start({"--headless", "--frames", "2", "--", "--bogus"}).exit_code, 0);
    EXPECT_EQ(Start({"--headless", "--frames", "2", "/custom", "--frames", "0"}).exit_code, 0);
}

// A script that cannot boot is a failed start-up: exit code 1, a line on
// stderr that names the file or label, and no picture of a frame that never
// ran.
TEST_F(EngineRunTest, ScriptThatDoesNotBootFailsStartUpAndSaysWhy) {
    fs::path png = root / "never.png";
    fs::remove(game / "zkbin" / "zkl.zbn");  // the label table: missing without a numbered report
    EngineRun run = Start({"--headless", "--frames", "5", "--png", png.string()});
    EXPECT_EQ(run.exit_code, 1) << run.output;
    EXPECT_TRUE(run.LastLine().starts_with("zorvek: 0 frames, start-up failed: ")) << run.output;
    EXPECT_NE(run.LastLine().find("zkbin\\zkl.zbn"), std::string::npos) << run.output;
    EXPECT_FALSE(fs::exists(png));

    // Tables whose script starts at another label than SYSTEM_START.
    tools::GameBuilder no_start;
    tools::ScriptBuilder& main = no_start.Script(0, "main.txt");
    main.Label("SYSTEM_BEGIN");
    main.Add(104, {tools::CodeArg(0, 1, tools::IntLiteralCode(1))});
    main.Jump("SYSTEM_BEGIN");
    ASSERT_TRUE(no_start.Write(game));
    run = Start({"--headless", "--frames", "5", "--png", png.string()});
    EXPECT_EQ(run.exit_code, 1) << run.output;
    EXPECT_NE(run.output.find("SYSTEM_START"), std::string::npos) << run.output;
    EXPECT_FALSE(fs::exists(png));
}

TEST_F(EngineRunTest, DeepGameFolderRuns) {
    // Far beyond the 260 bytes of a Windows path: nothing cuts it.
    fs::path deep = root / std::string(150, 'd') / std::string(150, 'e') / "Game Folder";
    ASSERT_GE(GamePath(deep / "zorvek").size(), 300u);
    fs::create_directories(deep.parent_path());
    fs::rename(game, deep);
    game = deep;
    EngineRun run = Start({"--headless", "--frames", "3"});
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_EQ(run.output, std::string(kDemoNameBox) + "zorvek: 3 frames, frame limit reached\n");
}

// SIGINT and SIGTERM close the engine as a close request does: shutdown
// runs in order (it writes the last frame) with the frame step on either
// thread, and the exit code says which signal ended the run.
TEST_F(EngineRunTest, StopSignalsCloseTheEngineInOrder) {
    BuildStartupPaths(GamePath(game / "zorvek"), "", "");
    const std::string window_class = Paths().instance_name;  // the main window's class
    for (uint8_t game_loop_thread : {0, 1}) {
        tools::EngineConfigFile config;
        config.title = "signals";
        config.game_loop_thread = game_loop_thread;
        ASSERT_TRUE(tools::WriteReleaseConfig(game, config));
        for (int signal_number : {SIGINT, SIGTERM}) {
            SCOPED_TRACE("game-loop thread " + std::to_string(game_loop_thread) + ", signal " +
                         std::to_string(signal_number));
            fs::path png = root / "stopped.png";
            fs::remove(png);
            // No frame limit: only the signal ends this run.
            Process process({engine.string(), "--game", game.string(), "--headless", "--png", png.string()},
                            root / ("log" + std::to_string(runs++) + ".txt"));
            // Running once its main window answers "come forward" requests.
            bool running = false;
            for (int tries = 0; tries < 1000 && !running; ++tries) {
                running = platform::SignalWindowBeacon(window_class);
                if (!running) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            ASSERT_TRUE(running);
            process.Signal(signal_number);
            EngineRun run = process.Wait(std::chrono::seconds(20));
            EXPECT_EQ(run.exit_code, 128 + signal_number) << run.output;
            EXPECT_TRUE(fs::exists(png)) << run.output;
            EXPECT_TRUE(run.LastLine().ends_with(signal_number == SIGINT ? ", stopped by SIGINT"
                                                                         : ", stopped by SIGTERM"))
                << run.output;
        }
    }
}

// The close button, from a player's input script: the demo asks, the
// headless box answers yes, and the frames of the input after it never run.
TEST_F(EngineRunTest, CloseRequestEndsTheRunAndSaysSo) {
    const fs::path input = root / "close.txt";
    std::ofstream(input) << "3 close\n";
    EngineRun run = Start({"--input", input.string(), "--frames", "100"});
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_EQ(run.LastLine(), "zorvek: 2 frames, stopped by a close request") << run.output;
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
