#include "platform/child_process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/process_launch.h"

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
    const int32_t pid = StartChildProcess(program, arguments, false, folder);
    if (pid < 0) return std::nullopt;
    return ChildProcess(pid);
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept : pid_(other.pid_), ended_(other.ended_) {
    other.pid_ = -1;
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !ended_) ReapChildInBackground(pid_);  // still running: reaped when it ends
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
