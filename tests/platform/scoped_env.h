// Environment variables set (or unset) for one scope in tests, and the
// test process's own id as a text for unique names.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace zk::test {

// Sets (or unsets, with nullopt) an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) {
            ::setenv(name, value->c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

inline std::string OwnPid() { return std::filesystem::read_symlink("/proc/self").string(); }

}  // namespace zk::test
