// A folder of the fuzzer's own for loaders that read files by name, made
// the engine's game folder once and removed when the fuzzer ends. The
// current folder stays where it was (libFuzzer writes its corpus and crash
// files there); loaders reach the files as the engine does, by the game
// folder and their name. On tmpfs (/dev/shm) when there is one, so writing
// an input costs no disk.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "core/startup_paths.h"
#include "platform/game_path.h"

namespace zk::fuzzing {

class ScratchFolder {
public:
    // The folder, set up on first use.
    static ScratchFolder& Get() {
        static ScratchFolder folder;
        return folder;
    }

    // The game path of the file `name` in the folder.
    std::string GamePath(const char* name) const { return Paths().game_folder + name; }

    // Writes `bytes` as the file `name` (replacing it). False on a failed write.
    bool Write(const char* name, std::span<const uint8_t> bytes) const {
        std::string path = (root_ / name).string();
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0) return false;
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        ::close(fd);
        return done == bytes.size();
    }

private:
    ScratchFolder() {
        namespace fs = std::filesystem;
        std::error_code error;
        fs::path base = fs::is_directory("/dev/shm", error) ? fs::path("/dev/shm") : fs::temp_directory_path();
        root_ = base / ("zorvek-fuzz-" + std::to_string(::getpid()));
        fs::remove_all(root_, error);
        fs::create_directories(root_);
        // The game folder as the engine names it, taken from inside.
        fs::path previous = fs::current_path();
        fs::current_path(root_);
        platform::ClearPathCache();
        Paths().game_folder = platform::CurrentDirectory();
        fs::current_path(previous);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    std::filesystem::path root_;
};

}  // namespace zk::fuzzing
