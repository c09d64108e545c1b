#include "platform/process_launch.h"

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <thread>

extern char** environ;

namespace zk::platform {

int32_t StartChildProcess(const std::string& program, const std::vector<std::string>& arguments, bool search_path,
                          const std::string& folder) {
    if (program.empty()) return -1;
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 2);
    // posix_spawn takes char* const[] for historical reasons; it does not write.
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    // posix_spawn keeps every descriptor not marked close-on-exec: the
    // child gets only the standard three.
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return -1;
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    posix_spawnattr_t attr;
    if (posix_spawnattr_init(&attr) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return -1;
    }
    // SDL and the engine's threads may block signals or ignore SIGPIPE;
    // neither carries over into the child.
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    const int rc = search_path ? posix_spawnp(&pid, program.c_str(), &actions, &attr, argv.data(), environ)
                               : posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? int32_t(pid) : -1;
}

void WaitForChildProcess(int32_t pid) {
    while (waitpid(pid_t(pid), nullptr, 0) < 0 && errno == EINTR) {
    }
}

void ReapChildInBackground(int32_t pid) {
    try {
        std::thread([pid] { WaitForChildProcess(pid); }).detach();
    } catch (const std::system_error&) {
    }
}

namespace {

LaunchResult Spawn(const std::string& program, const std::vector<std::string>& arguments, bool search_path,
                   bool wait) {
    const int32_t pid = StartChildProcess(program, arguments, search_path);
    if (pid < 0) return LaunchResult::kNotStarted;
    if (wait) {
        WaitForChildProcess(pid);
    } else {
        ReapChildInBackground(pid);
    }
    return LaunchResult::kStarted;
}

}  // namespace

LaunchResult SpawnProgram(const std::string& program, const std::vector<std::string>& arguments, bool wait) {
    return Spawn(program, arguments, false, wait);
}

LaunchResult OpenWithDesktop(const std::string& target) {
    if (target.empty()) return LaunchResult::kNotStarted;
    return Spawn("xdg-open", {target}, true, false);
}

bool IsExecutableFile(const std::string& host_path) {
    struct stat st {};
    if (stat(host_path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    return access(host_path.c_str(), X_OK) == 0;
}

uint64_t FreeDiskBytes(const std::string& host_path) {
    struct statvfs vfs {};
    if (statvfs(host_path.c_str(), &vfs) != 0) return 0;
    return uint64_t(vfs.f_bavail) * uint64_t(vfs.f_frsize);
}

bool EffectiveUserIsRoot() { return geteuid() == 0; }

}  // namespace zk::platform
