// Named mutexes as abstract local sockets. Binding an abstract address is
// atomic and exclusive, and the kernel frees the address when the last
// descriptor closes, so a crashed process never leaves a stale mutex behind
// (a lock file would).
#include "platform/named_mutex.h"

#include <cstdlib>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "base/hashes.h"
#include "platform/abstract_socket.h"

namespace zk::platform {
namespace {

// Two seeds give two independent 32-bit MurmurHash2 values: 64 bits in all,
// so distinct names meeting on one address is not a practical concern.
constexpr uint32_t kNameSeedHigh = 0x5A4B4D31;  // "ZKM1"
constexpr uint32_t kNameSeedLow = 0x9E3779B9;

}  // namespace

std::string AbstractSocketName(std::string_view kind, std::string_view name) {
    uint64_t hash = (static_cast<uint64_t>(MurmurHash2(name, kNameSeedHigh)) << 32) | MurmurHash2(name, kNameSeedLow);
    static constexpr char kHex[] = "0123456789abcdef";
    // Tests that run several engines at once give each suite its own
    // namespace, so engines of different suites never meet at the
    // machine-wide start-up guard.
    std::string out = "zorvek/";
    if (const char* space = std::getenv("ZORVEK_LOCK_NAMESPACE"); space != nullptr && space[0] != '\0') {
        out = "zorvek-";
        out.append(std::string_view(space).substr(0, 32));
        out.push_back('/');
    }
    out.append(kind);
    out.push_back('/');
    for (int shift = 60; shift >= 0; shift -= 4) out.push_back(kHex[(hash >> shift) & 0xF]);
    return out;
}

NamedMutex::NamedMutex(NamedMutex&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

NamedMutex& NamedMutex::operator=(NamedMutex&& other) noexcept {
    if (this != &other) {
        Release();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

// Any name this object held is released first, so a second Create on the
// same object moves it to the new name.
NamedMutex::CreateResult NamedMutex::Create(std::string_view name) {
    Release();
    sockaddr_un address;
    socklen_t length = 0;
    if (!MakeAbstractAddress(AbstractSocketName("mutex", name), address, length)) return CreateResult::kFailed;
    // SOCK_CLOEXEC: a program the engine starts (the settings tool, the
    // script compiler, itself on restart) must not inherit the mutex.
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return CreateResult::kFailed;
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        int error = errno;
        close(fd);
        return error == EADDRINUSE ? CreateResult::kAlreadyExists : CreateResult::kFailed;
    }
    fd_ = fd;
    return CreateResult::kCreated;
}

void NamedMutex::Release() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
}

}  // namespace zk::platform
