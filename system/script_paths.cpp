#include "system/script_paths.h"

#include <mutex>
#include <vector>

#include "base/sjis.h"
#include "core/startup_paths.h"
#include "platform/game_path.h"

namespace zk {

namespace {

std::mutex chosen_lock;
std::vector<std::string> chosen_folders;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// "\x" or "/x", or "c:" followed by a separator: the absolute forms a
// script may write under a shown folder.
bool IsWindowsAbsolute(std::string_view path) {
    if (!path.empty() && IsSeparator(path[0])) return true;
    return path.size() >= 3 && ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
           path[1] == ':' && IsSeparator(path[2]);
}

// Drops a drive letter and turns '/' into '\' (double-byte characters kept).
std::string Canonical(std::string_view path) {
    if (path.size() >= 2 && path[1] == ':') path.remove_prefix(2);
    return SjisReplaceByte(path, '/', '\\');
}

// The rest of `path` after the folder `root` (both canonical), when the
// path lies in it: the folder compared ignoring ASCII case, at a component
// boundary.
std::optional<std::string_view> Below(std::string_view path, std::string root) {
    while (!root.empty() && root.back() == '\\') root.pop_back();
    if (root.empty() || path.size() < root.size()) return std::nullopt;
    if (!SjisEqualsIgnoreCase(path.substr(0, root.size()), root)) return std::nullopt;
    std::string_view rest = path.substr(root.size());
    if (!rest.empty() && rest[0] != '\\') return std::nullopt;
    while (!rest.empty() && rest[0] == '\\') rest.remove_prefix(1);
    return rest;
}

// True when ".." never climbs above the start of the relative path.
bool StaysInside(std::string_view path) {
    int depth = 0;
    size_t start = 0;
    for (size_t i = 0; i <= path.size(); i += i < path.size() ? SjisCharLength(path, i) : 1) {
        if (i < path.size() && !IsSeparator(path[i])) continue;
        const std::string_view part = path.substr(start, i - start);
        if (part == "..") {
            if (--depth < 0) return false;
        } else if (!part.empty() && part != ".") {
            ++depth;
        }
        start = i + 1;
    }
    return true;
}

}  // namespace

std::optional<std::string> ScriptPathToHost(std::string_view script_path) {
    if (script_path.find('\0') != std::string_view::npos) return std::nullopt;
    if (platform::IsRelativeGamePath(script_path)) {
        if (!StaysInside(script_path)) return std::nullopt;
        return platform::ToHostPath(script_path);
    }
    if (!IsWindowsAbsolute(script_path)) return std::nullopt;
    const std::string path = Canonical(script_path);
    std::vector<std::string> roots;
    const StartupPaths& paths = Paths();
    for (const std::string* folder : {&paths.game_folder, &paths.working_folder, &paths.app_data_folder,
                                      &paths.documents_folder}) {
        if (!folder->empty()) roots.push_back(*folder);
    }
    {
        std::lock_guard<std::mutex> hold(chosen_lock);
        roots.insert(roots.end(), chosen_folders.begin(), chosen_folders.end());
    }
    for (const std::string& root : roots) {
        const std::string canonical_root = Canonical(root);
        if (canonical_root.empty() || canonical_root[0] != '\\') continue;
        const std::optional<std::string_view> rest = Below(path, canonical_root);
        if (!rest || !platform::IsRelativeGamePath(*rest) || !StaysInside(*rest)) continue;
        return platform::ToHostPathUnder(canonical_root, *rest);
    }
    return std::nullopt;
}

bool IsUrlText(std::string_view text) {
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon < 2) return false;
    for (size_t i = 0; i < colon; ++i) {
        const char c = text[i];
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        const bool other = i > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.');
        if (!letter && !other) return false;
    }
    return true;
}

void AllowChosenFolder(std::string_view engine_folder) {
    std::lock_guard<std::mutex> hold(chosen_lock);
    chosen_folders.emplace_back(engine_folder);
}

void ResetChosenFolders() {
    std::lock_guard<std::mutex> hold(chosen_lock);
    chosen_folders.clear();
}

}  // namespace zk
