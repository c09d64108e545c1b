// The address of an abstract local socket, shared by the named mutexes and
// the window beacon. Used inside platform/ only.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>

#include <cstddef>
#include <cstring>
#include <string_view>

namespace zk::platform {

// A NUL first byte, then the name (not NUL-terminated; its length is part of
// the address). False when the name does not fit the address.
inline bool MakeAbstractAddress(std::string_view name, sockaddr_un& address, socklen_t& length) {
    std::memset(&address, 0, sizeof(address));
    address.sun_family = AF_UNIX;
    if (name.size() + 1 > sizeof(address.sun_path)) return false;
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    return true;
}

}  // namespace zk::platform
