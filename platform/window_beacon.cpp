// "Come forward" requests between processes over an abstract local socket
// named after the window class. The listener never blocks: the main loop
// polls TakeRequests. The signaller never hangs: its socket is non-blocking
// and a full or absent listener is a plain failure.
#include "platform/window_beacon.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>

#include "platform/abstract_socket.h"
#include "platform/named_mutex.h"

namespace zk::platform {
namespace {

// The one request there is so far; the listener takes any connection as a
// request to come forward and reads the bytes only to drain them.
constexpr std::string_view kRaiseRequest = "raise";
constexpr int kListenBacklog = 16;
// How long either side waits for the other at most. A connection to a live
// listener is made at once; the wait only bounds a stuck peer.
constexpr int kPeerWaitMs = 100;

// Reads what the peer sent until it closes, a whole request is in or the
// peer stays silent for kPeerWaitMs; the text is not needed beyond that.
void DrainRequest(int fd) {
    char buffer[64];
    size_t total = 0;
    while (total < kRaiseRequest.size()) {
        ssize_t n = read(fd, buffer + total, sizeof(buffer) - total);
        if (n > 0) {
            total += static_cast<size_t>(n);
            continue;
        }
        if (n == 0) return;  // the peer closed: the whole request is in
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return;
        pollfd pfd{fd, POLLIN, 0};
        int ready = poll(&pfd, 1, kPeerWaitMs);
        if (ready <= 0) return;
    }
}

}  // namespace

WindowBeacon::WindowBeacon(WindowBeacon&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

WindowBeacon& WindowBeacon::operator=(WindowBeacon&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

bool WindowBeacon::Listen(std::string_view class_name) {
    Close();
    sockaddr_un address;
    socklen_t length = 0;
    if (!MakeAbstractAddress(AbstractSocketName("window", class_name), address, length)) return false;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0 || listen(fd, kListenBacklog) != 0) {
        close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

bool WindowBeacon::TakeRequests() {
    if (fd_ < 0) return false;
    bool any = false;
    for (;;) {
        int connection = accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (connection < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            break;  // EAGAIN: nothing more is pending (or the socket failed)
        }
        DrainRequest(connection);
        close(connection);
        any = true;
    }
    return any;
}

void WindowBeacon::Close() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
}

bool SignalWindowBeacon(std::string_view class_name) {
    sockaddr_un address;
    socklen_t length = 0;
    if (!MakeAbstractAddress(AbstractSocketName("window", class_name), address, length)) return false;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    // A local stream connect completes at once or fails (ECONNREFUSED: no
    // listener; EAGAIN: its backlog is full); EINPROGRESS is handled anyway.
    int result;
    do {
        result = connect(fd, reinterpret_cast<const sockaddr*>(&address), length);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        if (errno != EINPROGRESS) {
            close(fd);
            return false;
        }
        pollfd pfd{fd, POLLOUT, 0};
        int error = 0;
        socklen_t error_length = sizeof(error);
        if (poll(&pfd, 1, kPeerWaitMs) != 1 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &error_length) != 0 ||
            error != 0) {
            close(fd);
            return false;
        }
    }
    // MSG_NOSIGNAL: a listener that vanished must not kill us with SIGPIPE.
    size_t sent = 0;
    while (sent < kRaiseRequest.size()) {
        ssize_t n = send(fd, kRaiseRequest.data() + sent, kRaiseRequest.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd pfd{fd, POLLOUT, 0};
            if (poll(&pfd, 1, kPeerWaitMs) == 1) continue;
        }
        close(fd);
        return false;
    }
    close(fd);
    return true;
}

}  // namespace zk::platform
