// Named shared memory between this engine and a program it starts (the
// script compiler's link): POSIX shared memory objects, named within the
// start-up guard's namespace (ZORVEK_LOCK_NAMESPACE) so that engines of
// parallel test runs never meet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace zk::platform {

// The object name of a mapping name ("ZORVEKCompilerFileMapObject" →
// "/zorvek-<namespace>-ZORVEKCompilerFileMapObject").
std::string SharedMemoryName(std::string_view name);

class SharedMemory {
public:
    // Creates the object (a stale one of the same name is unlinked first)
    // with `size` bytes, all zero, and maps it. The creator unlinks it when
    // destroyed. nullopt when it cannot be made.
    static std::optional<SharedMemory> Create(std::string_view name, size_t size);
    // Maps an existing object whole (the other side). Not unlinked.
    static std::optional<SharedMemory> Open(std::string_view name);

    SharedMemory(SharedMemory&& other) noexcept;
    SharedMemory& operator=(SharedMemory&& other) noexcept;
    SharedMemory(const SharedMemory&) = delete;
    SharedMemory& operator=(const SharedMemory&) = delete;
    ~SharedMemory();

    std::span<uint8_t> Bytes() const { return {data_, size_}; }

private:
    SharedMemory() = default;
    void Release();

    uint8_t* data_ = nullptr;
    size_t size_ = 0;
    std::string unlink_name_;  // set for the creator
};

}  // namespace zk::platform
