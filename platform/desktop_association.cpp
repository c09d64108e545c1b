#include "platform/desktop_association.h"

#include <cstdlib>
#include <fstream>
#include <optional>
#include <vector>

namespace zk::platform {

namespace {

// A mimeapps.list or .desktop file is a few kilobytes; more is not one.
constexpr std::streamsize kMaxFileSize = 1 << 20;

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

std::string Home() { return Env("HOME"); }

// An XDG base folder variable: absolute paths only; `fallback` otherwise.
std::string BaseFolder(const char* name, const std::string& fallback) {
    std::string value = Env(name);
    return !value.empty() && value.front() == '/' ? value : fallback;
}

std::vector<std::string> BaseFolders(const char* name, const std::string& fallback) {
    std::string value = Env(name);
    if (value.empty()) value = fallback;
    std::vector<std::string> folders;
    size_t start = 0;
    while (start <= value.size()) {
        size_t end = value.find(':', start);
        if (end == std::string::npos) end = value.size();
        std::string folder = value.substr(start, end - start);
        if (!folder.empty() && folder.front() == '/') folders.push_back(std::move(folder));
        start = end + 1;
    }
    return folders;
}

std::optional<std::string> ReadSmallFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text(static_cast<size_t>(kMaxFileSize), '\0');
    in.read(text.data(), kMaxFileSize);
    text.resize(static_cast<size_t>(in.gcount()));
    return text;
}

std::string_view TrimSpaces(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

// The value of `key` in group `group` of a desktop-entry style file.
std::optional<std::string> GroupValue(std::string_view text, std::string_view group, std::string_view key) {
    bool in_group = false;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = TrimSpaces(text.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line.front() == '#') continue;
        if (line.front() == '[') {
            in_group = line.size() == group.size() + 2 && line.substr(1, group.size()) == group && line.back() == ']';
            continue;
        }
        if (!in_group) continue;
        size_t equals = line.find('=');
        if (equals == std::string_view::npos || TrimSpaces(line.substr(0, equals)) != key) continue;
        return std::string(TrimSpaces(line.substr(equals + 1)));
    }
    return std::nullopt;
}

// The .desktop file of a desktop id, or nothing.
std::optional<std::string> DesktopFile(const std::string& id) {
    if (id.empty() || id.find('/') != std::string::npos) return std::nullopt;
    std::vector<std::string> folders = {BaseFolder("XDG_DATA_HOME", Home() + "/.local/share")};
    for (std::string& folder : BaseFolders("XDG_DATA_DIRS", "/usr/local/share:/usr/share"))
        folders.push_back(std::move(folder));
    for (const std::string& folder : folders)
        if (std::optional<std::string> text = ReadSmallFile(folder + "/applications/" + id)) return text;
    return std::nullopt;
}

// The program of an Exec line: its first word, unquoted ("..." with
// backslash escapes); field codes such as %f never start it.
std::string ExecProgram(std::string_view exec) {
    exec = TrimSpaces(exec);
    std::string program;
    if (!exec.empty() && exec.front() == '"') {
        for (size_t i = 1; i < exec.size() && exec[i] != '"'; ++i) {
            if (exec[i] == '\\' && i + 1 < exec.size()) ++i;
            program += exec[i];
        }
        return program;
    }
    size_t end = exec.find_first_of(" \t");
    program = std::string(exec.substr(0, end));
    return !program.empty() && program.front() == '%' ? std::string() : program;
}

}  // namespace

std::string DesktopProgramFor(std::string_view mime_type) {
    std::vector<std::string> lists = {BaseFolder("XDG_CONFIG_HOME", Home() + "/.config") + "/mimeapps.list"};
    for (const std::string& folder : BaseFolders("XDG_CONFIG_DIRS", "/etc/xdg")) lists.push_back(folder + "/mimeapps.list");
    lists.push_back(BaseFolder("XDG_DATA_HOME", Home() + "/.local/share") + "/applications/mimeapps.list");
    for (const std::string& folder : BaseFolders("XDG_DATA_DIRS", "/usr/local/share:/usr/share"))
        lists.push_back(folder + "/applications/mimeapps.list");

    for (const char* group : {"Default Applications", "Added Associations"}) {
        for (const std::string& list : lists) {
            std::optional<std::string> text = ReadSmallFile(list);
            if (!text) continue;
            std::optional<std::string> ids = GroupValue(*text, group, mime_type);
            if (!ids) continue;
            size_t start = 0;
            while (start < ids->size()) {
                size_t end = ids->find(';', start);
                if (end == std::string::npos) end = ids->size();
                const std::string id(TrimSpaces(std::string_view(*ids).substr(start, end - start)));
                start = end + 1;
                std::optional<std::string> desktop = DesktopFile(id);
                if (!desktop) continue;
                std::optional<std::string> exec = GroupValue(*desktop, "Desktop Entry", "Exec");
                if (!exec) continue;
                std::string program = ExecProgram(*exec);
                if (!program.empty()) return program;
            }
        }
    }
    return {};
}

}  // namespace zk::platform
