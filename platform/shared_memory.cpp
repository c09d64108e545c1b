#include "platform/shared_memory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace zk::platform {

std::string SharedMemoryName(std::string_view name) {
    std::string out = "/zorvek-";
    if (const char* space = std::getenv("ZORVEK_LOCK_NAMESPACE"); space != nullptr && space[0] != '\0') {
        for (char c : std::string_view(space).substr(0, 32)) out.push_back(c == '/' ? '_' : c);
        out.push_back('-');
    }
    out.append(name);
    return out;
}

std::optional<SharedMemory> SharedMemory::Create(std::string_view name, size_t size) {
    if (size == 0) return std::nullopt;
    const std::string object = SharedMemoryName(name);
    shm_unlink(object.c_str());  // a stale object of an earlier run
    const int fd = shm_open(object.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return std::nullopt;
    SharedMemory memory;
    memory.unlink_name_ = object;
    if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
        close(fd);
        return std::nullopt;  // the destructor unlinks
    }
    void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (data == MAP_FAILED) return std::nullopt;
    memory.data_ = static_cast<uint8_t*>(data);
    memory.size_ = size;
    return memory;
}

std::optional<SharedMemory> SharedMemory::Open(std::string_view name) {
    const std::string object = SharedMemoryName(name);
    const int fd = shm_open(object.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (fd < 0) return std::nullopt;
    struct stat info {};
    if (fstat(fd, &info) != 0 || info.st_size <= 0) {
        close(fd);
        return std::nullopt;
    }
    const size_t size = static_cast<size_t>(info.st_size);
    void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (data == MAP_FAILED) return std::nullopt;
    SharedMemory memory;
    memory.data_ = static_cast<uint8_t*>(data);
    memory.size_ = size;
    return memory;
}

SharedMemory::SharedMemory(SharedMemory&& other) noexcept
    : data_(other.data_), size_(other.size_), unlink_name_(std::move(other.unlink_name_)) {
    other.data_ = nullptr;
    other.size_ = 0;
    other.unlink_name_.clear();
}

SharedMemory& SharedMemory::operator=(SharedMemory&& other) noexcept {
    if (this != &other) {
        Release();
        data_ = other.data_;
        size_ = other.size_;
        unlink_name_ = std::move(other.unlink_name_);
        other.data_ = nullptr;
        other.size_ = 0;
        other.unlink_name_.clear();
    }
    return *this;
}

SharedMemory::~SharedMemory() { Release(); }

void SharedMemory::Release() {
    if (data_ != nullptr) munmap(data_, size_);
    if (!unlink_name_.empty()) shm_unlink(unlink_name_.c_str());
    data_ = nullptr;
    size_ = 0;
    unlink_name_.clear();
}

}  // namespace zk::platform
