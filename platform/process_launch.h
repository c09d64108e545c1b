// Starting programs and opening documents for scripts, never through a
// shell: a native program is started with posix_spawn and its arguments as
// a vector; a document or a URL goes to the desktop's opener (xdg-open) as
// its one argument. The child inherits only the standard three descriptors.
// Every child is reaped: waited for by the caller that asked to wait, else
// by a detached thread that waits on that child only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zk::platform {

// Starts `program` (a host path, or a name looked up in PATH with
// `search_path`) with `arguments`, in `folder` when it is not empty. The
// child inherits only the standard three descriptors; its signals start
// unblocked and SIGPIPE at its default. The child's process id, or -1 when
// it could not be started (glibc's posix_spawn reports a failed exec).
int32_t StartChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                          bool search_path = false, const std::string& folder = {});

// Blocks until the child has ended (waitpid on that child only).
void WaitForChildProcess(int32_t pid);

// Reaps the child when it ends, from a detached thread that waits on that
// child only (never another child's status), so no zombie remains however
// long it runs. Without a thread the child stays a zombie until exit.
void ReapChildInBackground(int32_t pid);

enum class LaunchResult : uint8_t {
    kStarted,      // started (and, when asked, ended)
    kNotStarted,   // could not be started
};

// Starts `program` (a host path) with `arguments` (host strings). With
// `wait`, returns only after the program has ended.
LaunchResult SpawnProgram(const std::string& program, const std::vector<std::string>& arguments, bool wait);

// Hands a document (host path) or a URL to the desktop's opener, without
// waiting. The opener takes no parameters.
LaunchResult OpenWithDesktop(const std::string& target);

// True when the host path names a regular file that this user may execute.
bool IsExecutableFile(const std::string& host_path);

// Free bytes available to this user on the file system holding the host
// path; 0 when it cannot be measured.
uint64_t FreeDiskBytes(const std::string& host_path);

// True when the process runs as the effective user 0 (what an
// administrator is here).
bool EffectiveUserIsRoot();

}  // namespace zk::platform
