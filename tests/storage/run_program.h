// Runs a program of the build (the engine, a tool) headless, the way a
// player or a build script would, and collects its output.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

extern char** environ;

namespace zk::storage_test {

struct RunResult {
    int exit_code = -1;
    std::string output;
};

// Runs a program headless with its output in `log`; kills it after
// `timeout` (exit code -2). `cwd` (when not empty) is the folder it starts in.
inline RunResult RunProgram(const std::vector<std::string>& args, const std::filesystem::path& log,
                            const std::filesystem::path& cwd = {},
                            std::chrono::seconds timeout = std::chrono::seconds(60)) {
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> env = {"ZORVEK_HEADLESS=1", "SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=dummy"};
    for (char** e = environ; *e != nullptr; ++e)
        if (std::string_view(*e).rfind("ZORVEK_HEADLESS=", 0) != 0) env.emplace_back(*e);
    std::vector<char*> envp;
    for (std::string& entry : env) envp.push_back(entry.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    pid_t pid = -1;
    RunResult result;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (pid > 0) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            result.exit_code = -2;  // hung
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    result.output = text.str();
    return result;
}

}  // namespace zk::storage_test
