// A program started without a shell whose end this process polls (the
// script compiler of the development link).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zk::platform {

class ChildProcess {
public:
    // Starts `program` (a host path) with `arguments` in `folder`. A
    // Windows program ("MZ") cannot run here: nullopt, as for a file that
    // cannot be executed.
    static std::optional<ChildProcess> Start(const std::string& program, const std::vector<std::string>& arguments,
                                             const std::string& folder);

    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&&) = delete;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // A child still running is left to run; it is reaped when it ends.
    ~ChildProcess();

    // Whether it still runs (waitpid WNOHANG on this child only).
    bool Running();

private:
    explicit ChildProcess(int pid) : pid_(pid) {}
    int pid_ = -1;
    bool ended_ = false;
};

}  // namespace zk::platform
