// "Come forward" requests over an abstract local socket, in one process and
// across two.
#include "platform/window_beacon.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

namespace zk::platform {
namespace {

std::string UniqueClass(const char* what) {
    // A window class is the instance name: the executable's lower-cased path
    // with ':' for '\'.
    return std::string(":tmp:zorvek-test:") + what + ":" + std::to_string(getpid()) + ":zorvek";
}

TEST(WindowBeaconTest, ListenSignalTake) {
    std::string name = UniqueClass("one");
    WindowBeacon beacon;
    EXPECT_FALSE(beacon.Listening());
    EXPECT_FALSE(beacon.TakeRequests());
    ASSERT_TRUE(beacon.Listen(name));
    EXPECT_TRUE(beacon.Listening());
    EXPECT_FALSE(beacon.TakeRequests());  // nothing yet, and no blocking
    EXPECT_TRUE(SignalWindowBeacon(name));
    EXPECT_TRUE(SignalWindowBeacon(name));
    EXPECT_TRUE(beacon.TakeRequests());   // both taken at once
    EXPECT_FALSE(beacon.TakeRequests());
    EXPECT_FALSE(SignalWindowBeacon(UniqueClass("other")));  // nobody listens
}

TEST(WindowBeaconTest, OneListenerPerClass) {
    std::string name = UniqueClass("two");
    WindowBeacon first, second;
    ASSERT_TRUE(first.Listen(name));
    EXPECT_FALSE(second.Listen(name));
    EXPECT_FALSE(second.Listening());
    first.Close();
    EXPECT_FALSE(first.Listening());
    EXPECT_FALSE(SignalWindowBeacon(name));
    EXPECT_TRUE(second.Listen(name));
    WindowBeacon moved(std::move(second));
    EXPECT_TRUE(moved.Listening());
    EXPECT_FALSE(second.Listening());
    EXPECT_TRUE(SignalWindowBeacon(name));
    EXPECT_TRUE(moved.TakeRequests());
}

TEST(WindowBeaconTest, SignalWithNoListenerFailsFast) {
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(SignalWindowBeacon(UniqueClass("nobody")));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
}

TEST(WindowBeaconTest, AnotherProcessSignalsTheListener) {
    std::string name = UniqueClass("fork-in");
    WindowBeacon beacon;
    ASSERT_TRUE(beacon.Listen(name));
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(SignalWindowBeacon(name) ? 0 : 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(beacon.TakeRequests());
    EXPECT_FALSE(beacon.TakeRequests());
}

TEST(WindowBeaconTest, ListenerInAnotherProcessTakesTheRequest) {
    std::string name = UniqueClass("fork-out");
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(ready[0]);
        WindowBeacon beacon;
        char state = beacon.Listen(name) ? 'L' : 'F';
        if (write(ready[1], &state, 1) != 1 || state != 'L') _exit(2);
        // Poll as the main loop would, for at most five seconds.
        for (int i = 0; i < 5000; ++i) {
            if (beacon.TakeRequests()) _exit(0);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        _exit(1);
    }
    close(ready[1]);
    char state = 0;
    ASSERT_EQ(read(ready[0], &state, 1), 1);
    close(ready[0]);
    ASSERT_EQ(state, 'L');
    WindowBeacon mine;
    EXPECT_FALSE(mine.Listen(name));  // the child owns the class
    EXPECT_TRUE(SignalWindowBeacon(name));
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    // The class is free once its process is gone.
    EXPECT_FALSE(SignalWindowBeacon(name));
    EXPECT_TRUE(mine.Listen(name));
}

}  // namespace
}  // namespace zk::platform
