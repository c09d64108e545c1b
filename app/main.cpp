// The zorvek executable: picks the game folder and the platform back ends,
// then hands over to the engine's program entry.
//
//   zorvek [--game <folder>] [--headless] [--frames <n>] [--png <file>] [--input <file>] [--] [game arguments...]
//
// The game folder is the one given, else the executable's own folder when it
// holds zkbin/, else the current folder. With --headless, with
// ZORVEK_HEADLESS=1 or without a display the engine runs without windows;
// --frames stops it after that many frames; --png writes window 0's last
// composed frame as a PNG file when the engine ends; --input plays a script
// of player input (platform/input_script.h) on the headless window system.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "core/error_report.h"
#include "core/input.h"
#include "core/main_loop.h"
#include "core/startup.h"
#include "platform/game_path.h"
#include "platform/headless_window_system.h"
#include "platform/ui.h"
#include "platform/window_system.h"
#include "base/text_encoding.h"

namespace {

void Usage() {
    std::fprintf(stderr,
                 "usage: zorvek [--game <folder>] [--headless] [--frames <n>] [--png <file>] [--input <file>] [--] "
                 "[game arguments...]\n");
}

std::string GamePathFromHost(const std::filesystem::path& host) {
    std::string utf8 = host.string();
    for (char& c : utf8)
        if (c == '/') c = '\\';
    return zk::Utf8ToCp932(utf8);
}

// Hands an input script to the headless window system; false (after
// saying why) when the file cannot be read or parsed.
bool PlayInputScript(zk::platform::HeadlessWindowSystem& windows, const std::string& path) {
    std::string error;
    auto events = zk::platform::ReadInputScript(path, error);
    if (!events) {
        std::fprintf(stderr, "zorvek: %s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    windows.SetInputScript(std::move(*events), [] { return zk::NextInputFrame(); });
    windows.SetFocusOnShow(true);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> game_argv = {argc > 0 ? argv[0] : "zorvek"};
    std::string game_folder_option;
    std::string png_option;
    std::string input_option;
    bool headless = false;
    long long frames = 0;
    bool options_done = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (!options_done && arg == "--") {
            options_done = true;
        } else if (!options_done && arg == "--game" && i + 1 < argc) {
            game_folder_option = argv[++i];
        } else if (!options_done && arg == "--png" && i + 1 < argc) {
            png_option = argv[++i];
        } else if (!options_done && arg == "--input" && i + 1 < argc) {
            input_option = argv[++i];
            headless = true;
        } else if (!options_done && arg == "--headless") {
            headless = true;
        } else if (!options_done && arg == "--frames" && i + 1 < argc) {
            char* end = nullptr;
            frames = std::strtoll(argv[++i], &end, 10);
            if (end == nullptr || *end != '\0' || frames < 0) {
                Usage();
                return 2;
            }
        } else if (!options_done && (arg == "--help" || arg == "-h")) {
            Usage();
            return 0;
        } else {
            options_done = true;
            game_argv.push_back(arg);
        }
    }
    const char* headless_env = std::getenv("ZORVEK_HEADLESS");
    if (headless_env != nullptr && std::string(headless_env) == "1") headless = true;

    std::error_code error;
    std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    std::filesystem::path folder;
    if (!game_folder_option.empty()) {
        folder = std::filesystem::absolute(game_folder_option, error);
    } else if (!executable.empty() && std::filesystem::is_directory(executable.parent_path() / "zkbin", error)) {
        folder = executable.parent_path();
    } else {
        folder = std::filesystem::current_path(error);
    }
    folder = folder.lexically_normal();
    if (!std::filesystem::is_directory(folder, error)) {
        std::fprintf(stderr, "zorvek: no game folder at %s\n", folder.string().c_str());
        return 2;
    }

    std::unique_ptr<zk::platform::WindowSystem> windows;
    std::unique_ptr<zk::platform::Ui> ui;
    if (!headless) {
        windows = zk::platform::CreateSdlWindowSystem();
        if (windows != nullptr) ui = zk::platform::CreateSdlUi();
    }
    if (windows == nullptr) {
        auto headless_windows = zk::platform::CreateHeadlessWindowSystem();
        if (!input_option.empty() && !PlayInputScript(*headless_windows, input_option)) return 2;
        windows = std::move(headless_windows);
        ui = zk::platform::CreateStderrUi();
    }
    zk::platform::InstallWindowSystem(windows.get());
    zk::platform::InstallUi(ui.get());
    zk::SetFrameLimit(static_cast<uint64_t>(frames));
    if (!png_option.empty()) zk::SetLastFrameSnapshotPath(std::filesystem::absolute(png_option, error).string());

    zk::ProgramEntry entry;
    entry.argv = game_argv;
    // The engine sees itself as an executable inside the game folder, which
    // names the game folder and the single-instance guard.
    std::string executable_name = executable.empty() ? "zorvek" : executable.filename().string();
    entry.executable_path = GamePathFromHost(folder / executable_name);
    entry.restart_command = {executable.empty() ? std::string(argv[0]) : executable.string(), "--game",
                             folder.string()};
    if (headless) entry.restart_command.push_back("--headless");

    int exit_code = zk::WinMain(entry);
    // A run that ended on a fatal error is not a success for whoever
    // started it, even though the engine itself ends normally.
    if (exit_code == 0 && (zk::StartupFailed() || zk::ErrorReporter().fatal_failures > 0)) exit_code = 1;
    if (!png_option.empty() && !zk::LastFrameSnapshotWritten()) {
        std::fprintf(stderr, "zorvek: could not write %s\n", png_option.c_str());
        if (exit_code == 0) exit_code = 1;
    }

    zk::platform::InstallUi(nullptr);
    zk::platform::InstallWindowSystem(nullptr);
    return exit_code;
}
