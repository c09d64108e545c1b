#include "platform/mime_association.h"

#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string_view>
#include <vector>

namespace zk::platform {

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

std::string Home() { return Env("HOME"); }

std::vector<std::string> SplitColons(const std::string& text) {
    std::vector<std::string> parts;
    std::stringstream stream(text);
    std::string part;
    while (std::getline(stream, part, ':')) {
        if (!part.empty()) parts.push_back(part);
    }
    return parts;
}

std::string DataHome() {
    const std::string value = Env("XDG_DATA_HOME");
    return !value.empty() ? value : Home() + "/.local/share";
}
std::string ConfigHome() {
    const std::string value = Env("XDG_CONFIG_HOME");
    return !value.empty() ? value : Home() + "/.config";
}
// The data folders, most important first: the user's, then the system's.
std::vector<std::string> DataFolders() {
    std::vector<std::string> folders{DataHome()};
    std::string dirs = Env("XDG_DATA_DIRS");
    if (dirs.empty()) dirs = "/usr/local/share:/usr/share";
    for (std::string& dir : SplitColons(dirs)) folders.push_back(std::move(dir));
    return folders;
}
std::vector<std::string> ConfigFolders() {
    std::vector<std::string> folders{ConfigHome()};
    std::string dirs = Env("XDG_CONFIG_DIRS");
    if (dirs.empty()) dirs = "/etc/xdg";
    for (std::string& dir : SplitColons(dirs)) folders.push_back(std::move(dir));
    return folders;
}

std::string Trim(std::string_view text) {
    size_t start = 0, end = text.size();
    while (start < end && (text[start] == ' ' || text[start] == '\t' || text[start] == '\r')) ++start;
    while (end > start && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\r')) --end;
    return std::string(text.substr(start, end - start));
}

// The first desktop id listed for `mime` under [Default Applications] (then
// [Added Associations]) of the mimeapps.list files, user's before system's.
std::vector<std::string> DesktopIdsFor(const std::string& mime) {
    std::vector<std::string> files;
    for (const std::string& dir : ConfigFolders()) files.push_back(dir + "/mimeapps.list");
    for (const std::string& dir : DataFolders()) files.push_back(dir + "/applications/mimeapps.list");
    std::vector<std::string> ids;
    for (const char* wanted : {"[Default Applications]", "[Added Associations]"}) {
        for (const std::string& path : files) {
            std::ifstream in(path);
            std::string line;
            bool in_section = false;
            while (std::getline(in, line)) {
                const std::string trimmed = Trim(line);
                if (!trimmed.empty() && trimmed[0] == '[') {
                    in_section = trimmed == wanted;
                    continue;
                }
                if (!in_section) continue;
                const size_t eq = trimmed.find('=');
                if (eq == std::string::npos || Trim(trimmed.substr(0, eq)) != mime) continue;
                std::stringstream list(trimmed.substr(eq + 1));
                std::string id;
                while (std::getline(list, id, ';')) {
                    id = Trim(id);
                    if (!id.empty()) ids.push_back(id);
                }
            }
        }
    }
    return ids;
}

// The program of a desktop entry's Exec line (its first word, quotes
// removed), or "" when the entry is missing or has none.
std::string ExecProgram(const std::string& desktop_id) {
    // A desktop id "a-b.desktop" may also live at applications/a/b.desktop.
    std::vector<std::string> relatives{desktop_id};
    std::string nested = desktop_id;
    for (char& c : nested) {
        if (c == '-') c = '/';
    }
    if (nested != desktop_id) relatives.push_back(nested);
    for (const std::string& dir : DataFolders()) {
        for (const std::string& relative : relatives) {
            std::ifstream in(dir + "/applications/" + relative);
            if (!in) continue;
            std::string line;
            bool in_entry = false;
            while (std::getline(in, line)) {
                const std::string trimmed = Trim(line);
                if (!trimmed.empty() && trimmed[0] == '[') {
                    in_entry = trimmed == "[Desktop Entry]";
                    continue;
                }
                if (!in_entry || trimmed.rfind("Exec", 0) != 0) continue;
                const size_t eq = trimmed.find('=');
                if (eq == std::string::npos || Trim(trimmed.substr(0, eq)) != "Exec") continue;
                const std::string exec = Trim(trimmed.substr(eq + 1));
                std::string program;
                if (!exec.empty() && exec[0] == '"') {
                    const size_t close = exec.find('"', 1);
                    program = exec.substr(1, close == std::string::npos ? std::string::npos : close - 1);
                } else {
                    program = exec.substr(0, exec.find_first_of(" \t"));
                }
                return program;
            }
            return std::string();
        }
    }
    return std::string();
}

std::string OnPath(const std::string& program) {
    if (program.empty() || program.find('/') != std::string::npos) return program;
    for (const std::string& dir : SplitColons(Env("PATH"))) {
        const std::string candidate = dir + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return program;
}

}  // namespace

std::string MimeTypeOfName(const std::string& file_name) {
    const size_t slash = file_name.find_last_of('/');
    const std::string base = slash == std::string::npos ? file_name : file_name.substr(slash + 1);
    std::string best;
    int best_weight = -1;
    size_t best_length = 0;
    for (const std::string& dir : DataFolders()) {
        std::ifstream in(dir + "/mime/globs2");
        std::string line;
        while (std::getline(in, line)) {
            if (line.empty() || line[0] == '#') continue;
            const size_t first = line.find(':');
            const size_t second = first == std::string::npos ? first : line.find(':', first + 1);
            if (second == std::string::npos) continue;
            const int weight = std::atoi(line.substr(0, first).c_str());
            const std::string type = line.substr(first + 1, second - first - 1);
            std::string glob = line.substr(second + 1);
            bool case_sensitive = false;
            if (const size_t flags = glob.find(':'); flags != std::string::npos) {
                case_sensitive = glob.find("cs", flags) != std::string::npos;
                glob.resize(flags);
            }
            if (fnmatch(glob.c_str(), base.c_str(), case_sensitive ? 0 : FNM_CASEFOLD) != 0) continue;
            if (weight > best_weight || (weight == best_weight && glob.size() > best_length)) {
                best = type;
                best_weight = weight;
                best_length = glob.size();
            }
        }
    }
    return best;
}

std::string AssociatedProgram(const std::string& host_path) {
    const std::string mime = MimeTypeOfName(host_path);
    if (mime.empty()) return std::string();
    for (const std::string& id : DesktopIdsFor(mime)) {
        const std::string program = ExecProgram(id);
        if (!program.empty()) return OnPath(program);
    }
    return std::string();
}

}  // namespace zk::platform
