#include "platform/file_stream.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <string>
#include <utility>

namespace zk::platform {
namespace {
constexpr uint64_t kMaxOffset = static_cast<uint64_t>(std::numeric_limits<off_t>::max());
}  // namespace

FileStream::FileStream(FileStream&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), offset_(std::exchange(other.offset_, 0)) {}

FileStream& FileStream::operator=(FileStream&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
        offset_ = std::exchange(other.offset_, 0);
    }
    return *this;
}

bool FileStream::Open(std::string_view game_path, PathRoot root) {
    Close();
    std::optional<std::string> host = ToHostPath(game_path, root);
    return host && OpenHost(*host);
}

bool FileStream::OpenEngineFile(std::string_view engine_path) {
    Close();
    return OpenHost(EnginePathToHost(engine_path));
}

bool FileStream::OpenHost(const std::string& host_path) {
    int fd = OpenRegularFile(host_path);
    if (fd < 0) return false;
    fd_ = fd;
    offset_ = 0;
    return true;
}

void FileStream::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    offset_ = 0;
}

bool FileStream::Seek(uint64_t offset) {
    if (fd_ < 0 || offset > kMaxOffset) return false;
    offset_ = offset;
    return true;
}

std::optional<uint64_t> FileStream::Size() const {
    struct stat st;
    if (fd_ < 0 || ::fstat(fd_, &st) != 0 || st.st_size < 0) return std::nullopt;
    return static_cast<uint64_t>(st.st_size);
}

size_t FileStream::Read(std::span<uint8_t> out) {
    if (fd_ < 0) return 0;
    size_t done = 0;
    while (done < out.size() && offset_ < kMaxOffset) {
        size_t want = out.size() - done;
        // pread takes an off_t position: never ask for bytes past its range.
        if (want > kMaxOffset - offset_) want = static_cast<size_t>(kMaxOffset - offset_);
        ssize_t got = ::pread(fd_, out.data() + done, want, static_cast<off_t>(offset_));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<size_t>(got);
        offset_ += static_cast<uint64_t>(got);
    }
    return done;
}

}  // namespace zk::platform
