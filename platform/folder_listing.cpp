#include "platform/folder_listing.h"

#include <dirent.h>
#include <sys/stat.h>

#include <string>

#include "platform/game_path.h"
#include "base/text_encoding.h"

namespace zk::platform {

std::optional<std::vector<FolderEntry>> ListFolder(std::string_view game_path) {
    std::string host = ToHostPath(game_path);
    DIR* handle = ::opendir(host.c_str());
    if (handle == nullptr) return std::nullopt;
    std::vector<FolderEntry> entries;
    while (dirent* entry = ::readdir(handle)) {
        std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        bool is_folder = false;
        if (entry->d_type == DT_DIR) {
            is_folder = true;
        } else if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            std::string path = host;
            if (path.empty() || path.back() != '/') path.push_back('/');
            path.append(name);
            struct stat st;
            is_folder = ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        }
        entries.push_back({Utf8ToCp932(name), is_folder});
    }
    ::closedir(handle);
    return entries;
}

}  // namespace zk::platform
