// Little-endian byte writer for the test-data writers.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zk::tools {

class ByteWriter {
public:
    void U8(uint8_t v) { bytes_.push_back(v); }
    void U16(uint16_t v) { Le(v, 2); }
    void U32(uint32_t v) { Le(v, 4); }
    void U64(uint64_t v) { Le(v, 8); }
    void I32(int32_t v) { Le(static_cast<uint32_t>(v), 4); }
    void I64(int64_t v) { Le(static_cast<uint64_t>(v), 8); }
    void Bytes(std::span<const uint8_t> data) { bytes_.insert(bytes_.end(), data.begin(), data.end()); }
    void Bytes(std::string_view text) { bytes_.insert(bytes_.end(), text.begin(), text.end()); }
    void CString(std::string_view text) {
        Bytes(text);
        U8(0);
    }
    size_t Size() const { return bytes_.size(); }
    // Overwrites a uint32 written earlier (offsets known only later).
    void PatchU32(size_t offset, uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes_.at(offset + i) = static_cast<uint8_t>(v >> (8 * i));
    }
    std::vector<uint8_t> Take() { return std::move(bytes_); }

private:
    void Le(uint64_t v, int n) {
        for (int i = 0; i < n; ++i) bytes_.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    std::vector<uint8_t> bytes_;
};

// Writes bytes to a host file (creating parent folders); false on failure.
bool WriteFile(const std::string& host_path, std::span<const uint8_t> bytes);
// The whole of a host file, or nullopt when it cannot be read.
std::optional<std::vector<uint8_t>> ReadFile(const std::string& host_path);

}  // namespace zk::tools
