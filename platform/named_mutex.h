// Named mutexes for the single-instance guard. Each name is an abstract
// local socket: it exists while the owning process holds it and vanishes
// with the process, like a Windows named mutex.
#pragma once

#include <string>
#include <string_view>

namespace zk::platform {

class NamedMutex {
public:
    enum class CreateResult { kCreated, kAlreadyExists, kFailed };

    NamedMutex() = default;
    ~NamedMutex() { Release(); }
    NamedMutex(NamedMutex&& other) noexcept;
    NamedMutex& operator=(NamedMutex&& other) noexcept;
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

    // `name` is an identity name (CP932 bytes, already lower-cased where the
    // caller wants case to be ignored). On kCreated this object holds it.
    CreateResult Create(std::string_view name);
    bool Held() const { return fd_ >= 0; }
    void Release();

private:
    int fd_ = -1;
};

// The socket address used for a name: names of any length map to a fixed
// short address; `kind` separates mutexes from window classes.
std::string AbstractSocketName(std::string_view kind, std::string_view name);

}  // namespace zk::platform
