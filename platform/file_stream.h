// A file opened for reading by its game path (or an engine path: the
// executable, the packs the engine listed), read at any position. The
// pack reader and other readers of large files use it where reading the
// whole file would waste memory.
//
// Threading: one stream belongs to one thread at a time; separate streams
// over the same file are independent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/game_path.h"

namespace zk::platform {

class FileStream {
public:
    FileStream() = default;
    ~FileStream() { Close(); }
    FileStream(FileStream&& other) noexcept;
    FileStream& operator=(FileStream&& other) noexcept;
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;

    // Opens an existing regular file read-only, at offset 0. A stream that
    // was open is closed first. False when it cannot be opened or is no
    // regular file (a folder, a FIFO, a device): opening never waits.
    // Open takes a game path, confined to its root (platform/game_path.h);
    // OpenEngineFile an engine path, never a name from a script.
    bool Open(std::string_view game_path, PathRoot root = PathRoot::kGame);
    bool OpenEngineFile(std::string_view engine_path);
    bool IsOpen() const { return fd_ >= 0; }
    void Close();

    // Any position up to 2^63 - 1 is valid; reads past the end come up short.
    bool Seek(uint64_t offset);
    uint64_t Tell() const { return offset_; }
    // The file's current length, or nullopt when closed.
    std::optional<uint64_t> Size() const;

    // Reads up to out.size() bytes at the position and advances by what was
    // read; returns that count (0 at the end or on an error).
    size_t Read(std::span<uint8_t> out);
    // Reads exactly out.size() bytes, or returns false. The position moves by
    // the bytes actually read either way.
    bool ReadExact(std::span<uint8_t> out) { return Read(out) == out.size(); }

private:
    bool OpenHost(const std::string& host_path);

    int fd_ = -1;
    uint64_t offset_ = 0;
};

}  // namespace zk::platform
