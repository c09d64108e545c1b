#include "tools/lib/byte_writer.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace zk::tools {

bool WriteFile(const std::string& host_path, std::span<const uint8_t> bytes) {
    std::error_code error;
    std::filesystem::path path(host_path);
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), error);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::optional<std::vector<uint8_t>> ReadFile(const std::string& host_path) {
    std::ifstream in(host_path, std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return bytes;
}

}  // namespace zk::tools
