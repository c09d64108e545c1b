// The screen-saver preview inside a foreign window on a real X server
// (Xvfb): the picture at its own size in the top left, black elsewhere,
// and the run ending when the desktop destroys the preview or its parent.
// Skipped where no X server starts.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tools/lib/appended_writer.h"
#include "tools/lib/bmp_writer.h"

extern char** environ;

namespace zk {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
constexpr auto kPatience = std::chrono::seconds(60);  // a loaded machine

pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& env,
            const fs::path& log = {}, int keep_fd = -1) {
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> env_copy = env;
    std::vector<char*> envp;
    for (std::string& entry : env_copy) envp.push_back(entry.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!log.empty()) {
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    }
    (void)keep_fd;  // inherited as it is (no close-on-exec)
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// The exit code, or nothing while it runs.
std::optional<int> Ended(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) != pid) return std::nullopt;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool WaitFor(const std::function<bool()>& done) {
    const auto deadline = Clock::now() + kPatience;
    while (!done()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::vector<std::string> BaseEnvironment() {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string_view entry(*e);
        if (entry.rfind("DISPLAY=", 0) == 0 || entry.rfind("ZORVEK_HEADLESS=", 0) == 0 ||
            entry.rfind("SDL_VIDEODRIVER=", 0) == 0 || entry.rfind("WAYLAND_DISPLAY=", 0) == 0)
            continue;
        env.emplace_back(entry);
    }
    env.emplace_back("SDL_AUDIODRIVER=dummy");
    return env;
}

// An Xvfb of its own on a display it picks (-displayfd); `display` is empty
// when none starts.
class Xvfb {
public:
    Xvfb() {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid_ = Spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-nolisten", "tcp", "-screen", "0", "320x240x24"},
                     BaseEnvironment(), {}, fds[1]);
        close(fds[1]);
        std::string number;
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        while (pid_ > 0 && Clock::now() < deadline) {
            pollfd watch{fds[0], POLLIN, 0};
            if (poll(&watch, 1, 100) <= 0) continue;
            char c = 0;
            if (read(fds[0], &c, 1) != 1) break;
            if (c == '\n') break;
            number += c;
        }
        close(fds[0]);
        if (!number.empty()) display = ":" + number;
    }
    ~Xvfb() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    std::string display;

private:
    pid_t pid_ = -1;
};

std::vector<uint8_t> ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

class ScreenSaverPreviewTest : public ::testing::Test {
protected:
    void SetUp() override {
        server_.emplace();
        if (server_->display.empty()) GTEST_SKIP() << "no X server starts (Xvfb)";
        x_ = XOpenDisplay(server_->display.c_str());
        if (x_ == nullptr) GTEST_SKIP() << "Xvfb does not answer";
        root_ = fs::temp_directory_path() / ("zorvek-preview-" + std::to_string(getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_);
        // An 8 × 4 picture whose pixel (x, y) is y << 16 | x.
        tools::BmpImage image;
        image.width = 8;
        image.height = 4;
        image.bit_count = 24;
        for (uint32_t y = 0; y < 4; ++y)
            for (uint32_t x = 0; x < 8; ++x) image.values.push_back(0xFF000000u | y << 16 | (x + 1) << 8 | x);
        std::string why;
        std::optional<std::vector<uint8_t>> saver = tools::BuildAppendedExecutable(
            ReadAll(fs::path(ZORVEK_BINARY_DIR) / "zorvek"),
            ReadAll(fs::path(ZORVEK_BINARY_DIR) / "demo-game" / "data.zpf"), tools::BuildBmp(image), &why);
        ASSERT_TRUE(saver.has_value()) << why;
        program_ = root_ / "saver";
        std::ofstream(program_, std::ios::binary)
            .write(reinterpret_cast<const char*>(saver->data()), static_cast<std::streamsize>(saver->size()));
        fs::permissions(program_, fs::perms::owner_all);
    }
    void TearDown() override {
        if (x_ != nullptr) XCloseDisplay(x_);
        server_.reset();
        if (!root_.empty()) fs::remove_all(root_);
    }

    // The desktop's window: white, so black can only come from the preview.
    ::Window MakeParent() {
        const int screen = DefaultScreen(x_);
        ::Window parent = XCreateSimpleWindow(x_, RootWindow(x_, screen), 10, 10, 64, 48, 0, BlackPixel(x_, screen),
                                              WhitePixel(x_, screen));
        XMapWindow(x_, parent);
        XSync(x_, False);
        return parent;
    }
    pid_t RunPreview(const std::string& parent_number, const std::string& log) {
        std::vector<std::string> env = BaseEnvironment();
        env.push_back("DISPLAY=" + server_->display);
        return Spawn({program_.string(), "--", "/p", parent_number}, env, root_ / log);
    }
    std::string Log(const std::string& log) {
        std::ifstream in(root_ / log);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    ::Window ChildOf(::Window parent) {
        ::Window root = 0, up = 0, *children = nullptr;
        unsigned count = 0;
        ::Window child = 0;
        if (XQueryTree(x_, parent, &root, &up, &children, &count) != 0 && count > 0) child = children[0];
        if (children != nullptr) XFree(children);
        return child;
    }
    std::vector<unsigned long> Pixels(::Window parent, int w, int h) {
        std::vector<unsigned long> out;
        XImage* image = XGetImage(x_, parent, 0, 0, static_cast<unsigned>(w), static_cast<unsigned>(h), AllPlanes, ZPixmap);
        if (image == nullptr) return out;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) out.push_back(XGetPixel(image, x, y) & 0xFFFFFF);
        XDestroyImage(image);
        return out;
    }
    static unsigned long Expected(int x, int y) {
        return x < 8 && y < 4 ? static_cast<unsigned long>(y) << 16 | static_cast<unsigned long>(x + 1) << 8 |
                                    static_cast<unsigned long>(x)
                              : 0;
    }

    std::optional<Xvfb> server_;
    Display* x_ = nullptr;
    fs::path root_;
    fs::path program_;
};

TEST_F(ScreenSaverPreviewTest, ThePictureTopLeftAndTheRunEndsWithItsWindow) {
    for (const bool destroy_parent : {false, true}) {
        SCOPED_TRACE(destroy_parent ? "the parent destroyed" : "the preview destroyed");
        const std::string log = destroy_parent ? "parent.log" : "preview.log";
        const ::Window parent = MakeParent();
        const pid_t pid = RunPreview(std::to_string(parent), log);
        ASSERT_GT(pid, 0);
        std::optional<int> exit_code;
        ::Window child = 0;
        ASSERT_TRUE(WaitFor([&] {
            if ((exit_code = Ended(pid))) return true;
            child = ChildOf(parent);
            return child != 0;
        }));
        ASSERT_FALSE(exit_code.has_value()) << "ended without a preview: " << Log(log);
        // The whole parent: the picture at its own size, black elsewhere.
        std::vector<unsigned long> pixels;
        const bool painted = WaitFor([&] {
            pixels = Pixels(parent, 64, 48);
            return pixels.size() == 64u * 48 && pixels[2 * 64 + 3] == Expected(3, 2) && pixels[47 * 64 + 63] == 0;
        });
        EXPECT_TRUE(painted) << Log(log);
        int wrong = 0;
        for (int y = 0; y < 48 && pixels.size() == 64u * 48; ++y)
            for (int x = 0; x < 64; ++x)
                if (pixels[static_cast<size_t>(y * 64 + x)] != Expected(x, y) && ++wrong <= 5)
                    ADD_FAILURE() << "pixel " << x << "," << y << ": " << std::hex << pixels[static_cast<size_t>(y * 64 + x)];
        // The run is still on until its window goes.
        EXPECT_FALSE(Ended(pid).has_value());
        XDestroyWindow(x_, destroy_parent ? parent : child);
        XSync(x_, False);
        ASSERT_TRUE(WaitFor([&] { return (exit_code = Ended(pid)).has_value(); })) << "the preview did not end";
        EXPECT_EQ(*exit_code, 0) << Log(log);
        EXPECT_NE(Log(log).find("the screen-saver switch was handled"), std::string::npos) << Log(log);
        if (!destroy_parent) XDestroyWindow(x_, parent);
    }
}

TEST_F(ScreenSaverPreviewTest, AParentNumberThatIsNoWindowEndsAtOnce) {
    for (const char* number : {"4711", "0", "-5", "abc"}) {
        const std::string log = std::string("nowindow") + number + ".log";
        const pid_t pid = RunPreview(number, log);
        ASSERT_GT(pid, 0);
        std::optional<int> exit_code;
        ASSERT_TRUE(WaitFor([&] { return (exit_code = Ended(pid)).has_value(); })) << number;
        EXPECT_EQ(*exit_code, 0) << number << "\n" << Log(log);
        EXPECT_EQ(Log(log).find("frame limit"), std::string::npos);
    }
}

}  // namespace
}  // namespace zk
