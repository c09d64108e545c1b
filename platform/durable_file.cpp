#include "platform/durable_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zk::platform {
namespace {

// A descriptor closed when it goes out of scope.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { Close(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }
    // Closes now; the error number of a failing close (a delayed write
    // error), or 0.
    int Close() {
        if (fd_ < 0) return 0;
        const int result = ::close(fd_);
        fd_ = -1;
        return result == 0 ? 0 : errno;
    }

private:
    int fd_;
};

int WriteAll(int fd, std::span<const uint8_t> bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return EIO;
        done += static_cast<size_t>(n);
    }
    return 0;
}

int SyncFolder(const std::string& folder) {
    Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.Get() < 0) return errno;
    // Some file systems cannot flush a folder; the rename is as durable as
    // they make it, and that is no reason to refuse the save.
    if (::fsync(fd.Get()) != 0 && errno != EINVAL && errno != ENOTSUP) return errno;
    return fd.Close();
}

// The temporary files: ".<name>.tmp-" and the six letters or digits that
// mkostemp puts in.
constexpr std::string_view kTemporaryMark = ".tmp-";
constexpr size_t kTemporaryRandom = 6;
constexpr int kTemporaryAttempts = 8;

bool IsTemporaryName(std::string_view name) {
    const size_t tail = kTemporaryMark.size() + kTemporaryRandom;
    if (name.size() < 2 + tail || name[0] != '.') return false;  // at least one byte of name
    const std::string_view mark = name.substr(name.size() - tail, kTemporaryMark.size());
    if (mark != kTemporaryMark) return false;
    for (char c : name.substr(name.size() - kTemporaryRandom)) {
        const bool letter_or_digit = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!letter_or_digit) return false;
    }
    return true;
}

// Makes the temporary file for `base` in `folder`, locked for as long as
// the descriptor stays open: the lock tells the clean-up of a later write
// (in this or another process) that the file is in use. A lock is let go
// when its process dies, so a temporary file nobody holds is left over from
// a killed writer. The descriptor (-1 with errno set) and the name.
int CreateLockedTemporary(const std::string& folder, const std::string& base, std::string& temporary) {
    for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
        temporary = folder + "/." + base + std::string(kTemporaryMark) + std::string(kTemporaryRandom, 'X');
        std::vector<char> name(temporary.begin(), temporary.end());
        name.push_back('\0');
        const int fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd < 0) return -1;
        temporary.assign(name.data());
        // A clean-up that found the name before the lock was taken holds it
        // now and removes the file (or already did): take another name. A
        // file system without locks refuses them to the clean-up as well,
        // which then leaves every file there alone.
        const bool held_by_another = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
        struct stat st;
        if (!held_by_another && ::fstat(fd, &st) == 0 && st.st_nlink > 0) return fd;
        ::close(fd);
    }
    errno = EAGAIN;
    return -1;
}

// Removes the temporary files in `folder` that no writer holds: those of
// writers killed before their rename. Best effort: a file that cannot be
// opened, locked or removed stays for a later write.
void RemoveStaleTemporaries(const std::string& folder) {
    DIR* listing = ::opendir(folder.c_str());
    if (listing == nullptr) return;
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(listing)) {
        if (IsTemporaryName(entry->d_name)) names.emplace_back(entry->d_name);
    }
    ::closedir(listing);
    for (const std::string& name : names) {
        const std::string path = folder + "/" + name;
        Descriptor fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (fd.Get() < 0) continue;
        struct stat held, named;
        if (::fstat(fd.Get(), &held) != 0 || !S_ISREG(held.st_mode)) continue;
        if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) continue;  // a writer is at work
        // Still the file that was locked (not one a new writer made under
        // the same name since).
        if (::lstat(path.c_str(), &named) != 0 || named.st_dev != held.st_dev || named.st_ino != held.st_ino) continue;
        ::unlink(path.c_str());
    }
}

int MakeFolder(const std::string& host) {
    if (::mkdir(host.c_str(), 0777) == 0) return 0;
    const int error = errno;
    struct stat st;
    if (::stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return 0;
    return error;
}

}  // namespace

int RuntimeErrorNumber(int host_error) {
    // 1..14, 16..25 and 27..34 mean the same on both sides.
    if ((host_error >= 1 && host_error <= 14) || (host_error >= 16 && host_error <= 25) ||
        (host_error >= 27 && host_error <= 34))
        return host_error;
    switch (host_error) {
        case ENOTBLK: return ENODEV;
        case ETXTBSY: return EACCES;
        case EDEADLK: return 36;
        case EDQUOT: return ENOSPC;
        case ENAMETOOLONG: return 38;
        case ENOLCK: return 39;
        case ENOSYS: return 40;
        case ENOTEMPTY: return 41;
        case EILSEQ: return 42;
        default: return host_error;
    }
}

int CreateGameFolders(std::string_view folder_game_path, PathRoot root) {
    std::optional<std::string> host = ToHostPath(folder_game_path, root);
    if (!host) return EINVAL;
    // Every prefix that ends at a '/', then the whole path: mkdir -p.
    const std::string& path = *host;
    for (size_t at = 1; at <= path.size(); ++at) {
        if (at < path.size() && path[at] != '/') continue;
        if (path[at - 1] == '/') continue;
        if (int error = MakeFolder(path.substr(0, at)); error != 0) return error;
    }
    ClearPathCache();
    return 0;
}

int ReplaceGameFile(std::string_view game_path, std::span<const uint8_t> bytes, PathRoot root) {
    std::optional<std::string> host = ToHostPath(game_path, root);
    if (!host || host->empty() || host->back() == '/') return EINVAL;
    const size_t slash = host->rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : host->substr(0, slash == 0 ? 1 : slash);
    const std::string base = slash == std::string::npos ? *host : host->substr(slash + 1);

    mode_t mode = 0644;
    struct stat old_stat;
    const bool existed = ::stat(host->c_str(), &old_stat) == 0;
    if (existed) {
        if (S_ISDIR(old_stat.st_mode)) return EISDIR;
        mode = old_stat.st_mode & 07777;
    }

    std::string temporary;
    Descriptor fd(CreateLockedTemporary(folder, base, temporary));
    if (fd.Get() < 0) return errno;

    int error = WriteAll(fd.Get(), bytes);
    if (error == 0 && ::fchmod(fd.Get(), mode) != 0) error = errno;
    if (error == 0 && ::fsync(fd.Get()) != 0) error = errno;
    if (int close_error = fd.Close(); error == 0) error = close_error;
    if (error == 0 && ::rename(temporary.c_str(), host->c_str()) != 0) error = errno;
    if (error != 0) {
        ::unlink(temporary.c_str());
        return error;
    }
    // The rename itself lives in the folder: flush it too, so that the new
    // name survives a power cut and not only a killed process.
    error = SyncFolder(folder);
    RemoveStaleTemporaries(folder);
    if (!existed) ClearPathCache();
    return error;
}

}  // namespace zk::platform
