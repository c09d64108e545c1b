// The zorvek executable: reads its own switches, picks the game folder and
// the platform back ends, then hands over to the engine's program entry.
//
//   zorvek [--game <folder>] [--headless] [--frames <n>] [--png <file>] [--input <file>] [--] [game arguments...]
//
// The game folder is the one given; else, for a single-file game (a pack
// appended to this executable), the executable's own folder; else the
// executable's folder when it holds zkbin/ or zkbin.zpf; else the current folder. With
// --headless, with ZORVEK_HEADLESS=1 or without a display the engine runs
// without windows; --frames stops it after that many frames; --png writes
// window 0's last composed frame as a PNG file when the engine ends;
// --input plays a script of player input (platform/input_script.h) on the
// headless window system, and implies --headless.
//
// zorvek's switches come first. The first argument that is not one of them
// (game arguments such as /zkcfg begin with '/'), or anything after "--",
// starts the game's own arguments. An unknown switch, a switch without its
// value (a value is never empty and never begins with "--") or a frame count
// that is not a whole number from 1 up is refused with exit code 2.
//
// Exit codes: 0 the engine ended normally (also a handled switch such as
// /info or /zkcfg, and a second start that brought the running game
// forward); 1 start-up failed, a fatal error was reported or the picture
// asked for was not written; 2 the command line was refused or names no
// game folder; 128 + the signal's number when SIGINT or SIGTERM ended the
// run (after an orderly shutdown).
//
// Every run of the engine ends with one line on stderr that says how many
// frames ran and why the engine stopped (core/run_summary.h), e.g.
// "zorvek: 60 frames, frame limit reached".

#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/text_encoding.h"
#include "core/engine_state.h"
#include "core/error_report.h"
#include "core/startup_phases.h"
#include "engine/input.h"
#include "engine/main_loop.h"
#include "core/run_summary.h"
#include "engine/startup.h"
#include "platform/headless_window_system.h"
#include "platform/stop_signals.h"
#include "platform/ui.h"
#include "platform/ui_thread.h"
#include "platform/window_system.h"
#include "storage/appended_data.h"

namespace {

constexpr int kExitRefused = 2;

constexpr const char* kUsage =
    "usage: zorvek [--game <folder>] [--headless] [--frames <n>] [--png <file>] [--input <file>] [--] [game arguments...]\n"
    "  --game <folder>  run the game in <folder>\n"
    "  --headless       run without windows (also ZORVEK_HEADLESS=1, or without a display)\n"
    "  --frames <n>     stop after n frames (a whole number from 1 up)\n"
    "  --png <file>     when the engine ends, write window 0's last frame to <file> as PNG\n"
    "  --input <file>   play the player input in <file> (headless; see README)\n"
    "  --               end of zorvek's switches: the rest are the game's arguments\n"
    "exit codes: 0 normal end, 1 start-up failed or a fatal error, 2 command line refused,\n"
    "  128 + n after signal n (SIGINT, SIGTERM) with an orderly shutdown\n";

struct Options {
    std::string game_folder;
    std::string png;
    std::string input;
    bool headless = false;
    uint64_t frames = 0;  // 0: no limit
    std::vector<std::string> game_arguments;
};

// A frame count: decimal digits only, 1 or more, within 64 bits.
std::optional<uint64_t> ParseFrameCount(std::string_view text) {
    uint64_t value = 0;
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end || value == 0) return std::nullopt;
    return value;
}

// Reads zorvek's switches. On refusal `why` says what was wrong; on
// --help `help` is set.
bool ParseOptions(int argc, char** argv, Options& options, std::string& why, bool& help) {
    bool options_done = false;
    // Each switch once: a second one would silently win over the first
    // (--frames 2 --frames 3), so which one was meant is not clear.
    std::set<std::string_view, std::less<>> seen;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (options_done) {
            options.game_arguments.emplace_back(arg);
            continue;
        }
        const bool known_switch = arg == "--game" || arg == "--png" || arg == "--input" || arg == "--frames" ||
                                  arg == "--headless";
        if (known_switch && !seen.insert(arg).second) {
            why = std::string(arg) + " is given more than once";
            return false;
        }
        if (arg == "--") {
            options_done = true;
        } else if (arg == "--game" || arg == "--png" || arg == "--input" || arg == "--frames") {
            // A value is never empty and never begins with "--": that is the
            // next switch, and this one was given without its value.
            if (i + 1 >= argc || argv[i + 1][0] == '\0' || std::string_view(argv[i + 1]).starts_with("--")) {
                why = std::string(arg) + " needs a value";
                return false;
            }
            const std::string_view value = argv[++i];
            if (arg == "--game") {
                options.game_folder = value;
            } else if (arg == "--png") {
                options.png = value;
            } else if (arg == "--input") {
                options.input = value;
                options.headless = true;
            } else if (std::optional<uint64_t> frames = ParseFrameCount(value)) {
                options.frames = *frames;
            } else {
                why = "--frames needs a whole number from 1 up, not \"" + std::string(value) + "\"";
                return false;
            }
        } else if (arg == "--headless") {
            options.headless = true;
        } else if (arg == "--help" || arg == "-h") {
            help = true;
            return true;
        } else if (arg.starts_with("-")) {
            why = "unknown switch " + std::string(arg) + " (game arguments after \"--\")";
            return false;
        } else {
            options_done = true;
            options.game_arguments.emplace_back(arg);
        }
    }
    return true;
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
    windows.SetInputScript(std::move(*events));
    windows.SetFocusOnShow(true);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    std::string why;
    bool help = false;
    if (!ParseOptions(argc, argv, options, why, help)) {
        std::fprintf(stderr, "zorvek: %s\n%s", why.c_str(), kUsage);
        return kExitRefused;
    }
    if (help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    const char* headless_env = std::getenv("ZORVEK_HEADLESS");
    if (headless_env != nullptr && std::string(headless_env) == "1") options.headless = true;

    std::error_code error;
    std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    std::filesystem::path folder;
    if (!options.game_folder.empty()) {
        folder = std::filesystem::absolute(options.game_folder, error);
    } else if (!executable.empty() &&
               (zk::ExecutableHasAppendedData() ||
                std::filesystem::is_directory(executable.parent_path() / "zkbin", error) ||
                std::filesystem::is_regular_file(executable.parent_path() / "zkbin.zpf", error))) {
        // A single-file game is its executable's folder whatever the current
        // folder holds: its settings and saves live beside it.
        folder = executable.parent_path();
    } else {
        folder = std::filesystem::current_path(error);
    }
    folder = folder.lexically_normal();
    if (!std::filesystem::is_directory(folder, error)) {
        std::fprintf(stderr, "zorvek: no game folder at %s\n", folder.string().c_str());
        return kExitRefused;
    }

    std::unique_ptr<zk::platform::WindowSystem> windows;
    // Dialogs and menus run on the UI thread, with GTK on the windows' X
    // display; where GTK cannot open it, SDL's message boxes stand in.
    std::unique_ptr<zk::platform::UiThread> ui_thread;
    std::unique_ptr<zk::platform::Ui> ui;
    if (!options.headless) {
        windows = zk::platform::CreateSdlWindowSystem();
        if (windows != nullptr) {
            const std::string x_display = windows->HostX11Display();
            if (!x_display.empty()) ui_thread = zk::platform::UiThread::Start(x_display);
            if (ui_thread != nullptr) ui = zk::platform::CreateGtkUi(*ui_thread);
            if (ui == nullptr) ui = zk::platform::CreateSdlUi();
        }
    }
    if (windows == nullptr) {
        auto headless_windows = zk::platform::CreateHeadlessWindowSystem();
        if (!options.input.empty() && !PlayInputScript(*headless_windows, options.input)) return kExitRefused;
        windows = std::move(headless_windows);
        ui = zk::platform::CreateStderrUi();
    }
    zk::platform::InstallWindowSystem(windows.get());
    zk::platform::InstallUi(ui.get());
    zk::platform::InstallUiThread(ui_thread.get());
    zk::SetFrameLimit(options.frames);
    if (!options.png.empty()) zk::SetLastFrameSnapshotPath(std::filesystem::absolute(options.png, error).string());
    // From here SIGINT and SIGTERM close the engine in order.
    zk::platform::InstallStopSignalHandlers();

    zk::ProgramEntry entry;
    entry.argv = {argc > 0 ? argv[0] : "zorvek"};
    entry.argv.insert(entry.argv.end(), options.game_arguments.begin(), options.game_arguments.end());
    // The engine sees itself as an executable inside the game folder, which
    // names the game folder and the single-instance guard.
    std::string executable_name = executable.empty() ? "zorvek" : executable.filename().string();
    entry.executable_path = GamePathFromHost(folder / executable_name);
    entry.restart_command = {executable.empty() ? std::string(argv[0]) : executable.string(), "--game",
                             folder.string()};
    if (options.headless) entry.restart_command.push_back("--headless");

    int exit_code = zk::WinMain(entry);
    // For the start-up benchmark: each phase's end on the monotonic clock,
    // which the benchmark that started this process shares.
    const char* phases_env = std::getenv("ZORVEK_STARTUP_PHASES");
    if (phases_env != nullptr && std::string(phases_env) == "1") {
        for (const zk::StartupPhase& phase : zk::StartupPhases()) {
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(phase.end.time_since_epoch());
            std::fprintf(stderr, "startup phase %lld %s\n", static_cast<long long>(ns.count()), phase.name);
        }
    }
    const bool failed = zk::StartupFailed() || zk::ErrorReporter().fatal_failures > 0;
    // A run that ended on a fatal error is not a success for whoever
    // started it, even though the engine itself ends normally.
    if (exit_code == 0 && failed) exit_code = 1;
    if (!options.png.empty() && !zk::LastFrameSnapshotWritten()) {
        if (failed) {
            std::fprintf(stderr, "zorvek: no picture written to %s\n", options.png.c_str());
        } else {
            std::fprintf(stderr, "zorvek: could not write %s\n", options.png.c_str());
        }
        if (exit_code == 0) exit_code = 1;
    }
    // Ended by SIGINT or SIGTERM: the shutdown ran, and whoever started the
    // run learns that it was interrupted, as the shell's convention says.
    if (int signal_number = zk::platform::StopSignalReceived(); signal_number != 0 && exit_code == 0)
        exit_code = 128 + signal_number;

    // The closing line: how many frames ran and what stopped the engine.
    zk::RunEndFacts facts;
    facts.frames = zk::TheFrameCounters.frame_count;
    facts.main_loop_ran = zk::MainLoopReached();
    facts.startup_failed = zk::StartupFailed();
    facts.startup_note = zk::Cp932ToUtf8(facts.startup_failed ? zk::StartupFailureNote() : zk::StartupEndNote());
    facts.cause = zk::TheStopCause();
    facts.error_code = zk::StopErrorCode();
    facts.signal_number = zk::platform::StopSignalReceived();
    std::fprintf(stderr, "%s\n", zk::DescribeRunEnd(facts).c_str());

    zk::platform::InstallUi(nullptr);
    zk::platform::InstallUiThread(nullptr);
    zk::platform::InstallWindowSystem(nullptr);
    return exit_code;
}
