// Runs work that must not wait on a FIFO it finds under a game-file name.
// Should it wait in an open anyway, a helper thread opens the FIFO for
// writing after two seconds, which lets that open go on: the test then fails
// instead of hanging the suite. The work itself runs on the calling thread
// (error reports may need the main thread).
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace zk::testing_support {

// True when `work` ended within two seconds without help.
inline bool FinishesWithoutWaitingOn(const std::vector<std::string>& fifo_host_paths,
                                     const std::function<void()>& work) {
    using namespace std::chrono_literals;
    std::atomic<bool> done{false};
    std::atomic<bool> helped{false};
    std::thread releaser([&] {
        auto deadline = std::chrono::steady_clock::now() + 2s;
        while (!done && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(2ms);
        while (!done) {
            helped = true;
            for (const std::string& path : fifo_host_paths) {
                int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                if (fd >= 0) ::close(fd);
            }
            std::this_thread::sleep_for(10ms);
        }
    });
    work();
    done = true;
    releaser.join();
    return !helped;
}

}  // namespace zk::testing_support
