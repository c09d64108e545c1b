#include "platform/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <thread>

extern char** environ;

namespace zk::platform {

namespace {

bool IsWindowsProgram(const std::string& program) {
    const int fd = open(program.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char magic[2] = {};
    const bool windows = read(fd, magic, 2) == 2 && magic[0] == 'M' && magic[1] == 'Z';
    close(fd);
    return windows;
}

}  // namespace

std::optional<ChildProcess> ChildProcess::Start(const std::string& program, const std::vector<std::string>& arguments,
                                                const std::string& folder) {
    if (program.empty() || IsWindowsProgram(program)) return std::nullopt;
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return std::nullopt;
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    posix_spawnattr_t attr;
    if (posix_spawnattr_init(&attr) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return std::nullopt;
    }
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return std::nullopt;
    return ChildProcess(pid);
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept : pid_(other.pid_), ended_(other.ended_) {
    other.pid_ = -1;
}

ChildProcess::~ChildProcess() {
    if (pid_ <= 0 || ended_) return;
    // Still running: a thread reaps it when it ends, so no zombie remains.
    try {
        std::thread([pid = pid_] {
            while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (const std::system_error&) {
    }
}

bool ChildProcess::Running() {
    if (pid_ <= 0 || ended_) return false;
    int status = 0;
    pid_t result = waitpid(pid_, &status, WNOHANG);
    while (result < 0 && errno == EINTR) result = waitpid(pid_, &status, WNOHANG);
    if (result == 0) return true;
    ended_ = true;
    return false;
}

}  // namespace zk::platform
