#include "tools/lib/byte_writer.h"

#include <filesystem>
#include <fstream>

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

}  // namespace zk::tools
