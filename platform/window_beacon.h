// Cross-process "come forward" requests: a process that owns a window of a
// class listens on an abstract local socket named after the class; another
// process that finds it (FindWindow + SetForegroundWindow on Windows)
// connects and asks it to restore and raise that window.
#pragma once

#include <string_view>

namespace zk::platform {

class WindowBeacon {
public:
    WindowBeacon() = default;
    ~WindowBeacon() { Close(); }
    WindowBeacon(WindowBeacon&& other) noexcept;
    WindowBeacon& operator=(WindowBeacon&& other) noexcept;
    WindowBeacon(const WindowBeacon&) = delete;
    WindowBeacon& operator=(const WindowBeacon&) = delete;

    // Starts listening for `class_name`; false when another process already
    // listens for it or the socket cannot be made.
    bool Listen(std::string_view class_name);
    bool Listening() const { return fd_ >= 0; }
    // Non-blocking: true when at least one request arrived since the last
    // call (all pending requests are taken).
    bool TakeRequests();
    void Close();

private:
    int fd_ = -1;
};

// Connects to the listener for `class_name` and sends the request; true when
// a listener took it.
bool SignalWindowBeacon(std::string_view class_name);

}  // namespace zk::platform
