#include "platform/folder_listing.h"

#include <dirent.h>
#include <sys/stat.h>

#include <string>

#include "platform/game_path.h"
#include "base/text_encoding.h"

namespace zk::platform {

std::optional<std::vector<FolderEntry>> ListFolder(std::string_view game_path, PathRoot root) {
    std::optional<std::string> host_path = ToHostPath(game_path, root);
    if (!host_path) return std::nullopt;
    const std::string& host = *host_path;
    // (opendir opens without waiting and only a folder: a FIFO named like
    // one is refused at once.)
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
