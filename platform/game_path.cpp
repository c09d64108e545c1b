// Game paths ('\' separators, CP932 bytes, case-insensitive as on Windows)
// mapped onto the host file system (UTF-8 names, case-sensitive).
//
// A component is looked up in this order: the converted name exactly (one
// lstat), the bytes as written exactly (a folder unpacked without name
// conversion keeps its CP932 names), then the directory's listing ignoring
// ASCII case. Listings are cached per directory and taken again when the
// directory's modification time changes.
//
// A game path is walked from its root's own names, which ".." never removes,
// so a name from a script stays below its root; an engine path is walked
// from the file system's root or the current folder.
#include "platform/game_path.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "base/ascii.h"
#include "base/sjis.h"
#include "base/text_encoding.h"

namespace zk::platform {
namespace {

// ---- host paths ------------------------------------------------------------

std::string JoinHost(std::string_view dir, std::string_view name) {
    std::string path(dir);
    if (path.empty() || path.back() != '/') path.push_back('/');
    path.append(name);
    return path;
}

bool NameExists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// The '/'-separated components of a host path, empty ones dropped.
std::vector<std::string> SplitHost(std::string_view path) {
    std::vector<std::string> parts;
    size_t i = 0;
    while (i < path.size()) {
        size_t end = path.find('/', i);
        if (end == std::string_view::npos) end = path.size();
        if (end > i) parts.emplace_back(path.substr(i, end - i));
        i = end + 1;
    }
    return parts;
}

// A host path as a game path: '\' separators, CP932 names, leading '\'.
std::string HostToGamePath(std::string_view host) {
    std::string out;
    for (const std::string& part : SplitHost(host)) {
        out.push_back('\\');
        out.append(Utf8ToCp932(part));
    }
    if (out.empty()) out.push_back('\\');  // the root (push_back: GCC 12 warns falsely on = "\\")
    return out;
}

std::optional<std::string> WorkingDirectory() {
    std::vector<char> buffer(4096);
    for (;;) {
        if (getcwd(buffer.data(), buffer.size()) != nullptr) return std::string(buffer.data());
        if (errno != ERANGE || buffer.size() >= (1u << 20)) return std::nullopt;
        buffer.resize(buffer.size() * 2);
    }
}

std::string HomeDirectory() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return home;
    std::vector<char> buffer(16384);
    passwd entry;
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr && found->pw_dir[0] == '/')
        return found->pw_dir;
    return "/";
}

// ---- the directory listing cache ----------------------------------------------

int64_t TimespecNs(const timespec& ts) { return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec; }

// A listing taken within one file-system timestamp tick of the directory's
// last change may miss a later change in that same tick (the modification
// time would not move), so a lookup that fails in such a listing lists once
// more. Timestamps with a nanosecond part come from the kernel's coarse clock
// (a tick of at most 10 ms); whole seconds mean a coarse file system (FAT
// keeps 2 s).
constexpr int64_t kRacyFineNs = 50'000'000LL;
constexpr int64_t kRacyCoarseNs = 3'000'000'000LL;
// Games have a handful of folders; the bound only stops a runaway.
constexpr size_t kMaxCachedDirectories = 1024;

struct Listing {
    dev_t device = 0;
    ino_t inode = 0;
    int64_t modified_ns = 0;
    int64_t listed_at_ns = 0;
    // Folded name (AsciiLower) -> the name on disk; where several names fold
    // alike, the smallest in byte order, so the choice does not depend on
    // readdir order. Byte-wise folding suits these keys: UTF-8 multi-byte
    // characters hold no ASCII letter, and a raw CP932 name is only looked up
    // against keys folded the same way.
    std::unordered_map<std::string, std::string> by_folded;

    bool MayBeStale() const {
        int64_t tick = modified_ns % 1'000'000'000LL != 0 ? kRacyFineNs : kRacyCoarseNs;
        return listed_at_ns - modified_ns < tick;
    }
};

class ListingCache {
public:
    // The name on disk in `dir` that equals one of `names` ignoring ASCII
    // case (tried in order), or nullopt.
    std::optional<std::string> Find(const std::string& dir, std::string_view utf8_name, std::string_view raw_name) {
        struct stat st;
        if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = listings_.find(dir);
        bool fresh = false;
        if (it == listings_.end() || it->second.device != st.st_dev || it->second.inode != st.st_ino ||
            it->second.modified_ns != TimespecNs(st.st_mtim)) {
            if (listings_.size() >= kMaxCachedDirectories) listings_.clear();
            it = listings_.insert_or_assign(dir, List(dir, st)).first;
            fresh = true;
        }
        std::optional<std::string> found = Search(it->second, utf8_name, raw_name);
        if (found && NameExists(JoinHost(dir, *found))) return found;
        if (!fresh && it->second.MayBeStale()) {
            it->second = List(dir, st);
            found = Search(it->second, utf8_name, raw_name);
            if (found && NameExists(JoinHost(dir, *found))) return found;
        }
        return std::nullopt;
    }

    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        listings_.clear();
    }

private:
    static std::optional<std::string> Search(const Listing& listing, std::string_view utf8_name,
                                             std::string_view raw_name) {
        auto hit = listing.by_folded.find(AsciiLower(utf8_name));
        if (hit != listing.by_folded.end()) return hit->second;
        if (!raw_name.empty()) {
            hit = listing.by_folded.find(AsciiLower(raw_name));
            if (hit != listing.by_folded.end()) return hit->second;
        }
        return std::nullopt;
    }

    static Listing List(const std::string& dir, const struct stat& st) {
        Listing listing;
        listing.device = st.st_dev;
        listing.inode = st.st_ino;
        listing.modified_ns = TimespecNs(st.st_mtim);
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        listing.listed_at_ns = TimespecNs(now);
        DIR* handle = opendir(dir.c_str());
        if (handle == nullptr) return listing;
        while (dirent* entry = readdir(handle)) {
            std::string_view name = entry->d_name;
            if (name == "." || name == "..") continue;
            auto [slot, inserted] = listing.by_folded.try_emplace(AsciiLower(name), name);
            if (!inserted && name < slot->second) slot->second = std::string(name);
        }
        closedir(handle);
        return listing;
    }

    std::mutex mutex_;
    std::unordered_map<std::string, Listing> listings_;
};

ListingCache& Cache() {
    static ListingCache cache;
    return cache;
}

// The name on disk for one game-path component inside `dir`, or nullopt.
std::optional<std::string> MatchComponent(const std::string& dir, std::string_view component,
                                          const std::string& utf8) {
    if (NameExists(JoinHost(dir, utf8))) return utf8;
    bool raw_differs = !IsAsciiOnly(component) && utf8 != component;
    if (raw_differs && NameExists(JoinHost(dir, component))) return std::string(component);
    return Cache().Find(dir, utf8, raw_differs ? component : std::string_view());
}

bool IsGameSeparator(char c) { return c == '\\' || c == '/'; }

struct HostPart {
    std::string name;
    bool exists;
};

std::string JoinParts(const std::vector<HostPart>& parts) {
    if (parts.empty()) return "/";
    std::string path;
    for (const HostPart& part : parts) {
        path.push_back('/');
        path.append(part.name);
    }
    return path;
}

bool IsHostFolder(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Walks the components of `rest` onto `parts`. ".." never removes one of the
// first `floor` parts (the root's own). Only single-byte characters
// separate: the trail byte of a double-byte character (0x5C in "表" or "ソ")
// belongs to it. ".." is applied to the names as written, as Windows does,
// not by following symbolic links.
std::string WalkComponents(std::vector<HostPart>& parts, size_t floor, std::string_view rest) {
    size_t i = 0;
    while (i <= rest.size()) {
        size_t end = i;
        while (end < rest.size() && !IsGameSeparator(rest[end])) end += SjisCharLength(rest, end);
        std::string_view component = rest.substr(i, end - i);
        i = end + 1;
        if (component.empty() || component == ".") continue;
        if (component == "..") {
            if (parts.size() > floor) parts.pop_back();
            continue;
        }
        std::string utf8 = Cp932ToUtf8(component);
        if (parts.empty() || parts.back().exists) {
            if (std::optional<std::string> found = MatchComponent(JoinParts(parts), component, utf8)) {
                parts.push_back({std::move(*found), true});
                continue;
            }
        }
        parts.push_back({std::move(utf8), false});
    }
    return JoinParts(parts);
}

// A relative game path under a host folder; nullopt when it is not relative.
std::optional<std::string> ConfinedHostPath(const std::string& root_host, std::string_view game_path) {
    if (!IsRelativeGamePath(game_path)) return std::nullopt;
    // The root's own names are taken as they are; whether they exist
    // decides whether the names below are matched or appended as written.
    bool root_exists = IsHostFolder(root_host);
    std::vector<HostPart> parts;
    for (std::string& name : SplitHost(root_host)) parts.push_back({std::move(name), root_exists});
    size_t floor = parts.size();
    return WalkComponents(parts, floor, game_path);
}

// The XDG base directory rules: a variable that is unset, empty or not an
// absolute path is ignored.
std::string AppDataHost() {
    const char* data_home = std::getenv("XDG_DATA_HOME");
    if (data_home != nullptr && data_home[0] == '/') return data_home;
    return JoinHost(HomeDirectory(), ".local/share");
}

std::string DocumentsHost();

}  // namespace

bool IsRelativeGamePath(std::string_view game_path) {
    if (!game_path.empty() && IsGameSeparator(game_path.front())) return false;
    // ':' (0x3A) is never a trail byte, so a plain byte scan finds every
    // single-byte one. On Windows it makes a drive ("c:\x", "c:x") or an
    // alternate stream; no game file has one in its name.
    return game_path.find(':') == std::string_view::npos && game_path.find('\0') == std::string_view::npos;
}

std::optional<std::string> RootHostPath(PathRoot root) {
    switch (root) {
        case PathRoot::kGame: return WorkingDirectory();
        case PathRoot::kAppData: return AppDataHost();
        case PathRoot::kDocuments: return DocumentsHost();
    }
    return std::nullopt;
}

std::optional<std::string> ToHostPath(std::string_view game_path, PathRoot root) {
    // (A current folder that cannot be named, such as a removed one, has no
    // files to offer.)
    std::optional<std::string> root_host = RootHostPath(root);
    if (!root_host) return std::nullopt;
    return ConfinedHostPath(*root_host, game_path);
}

std::optional<std::string> ToHostPathUnder(std::string_view engine_folder, std::string_view game_path) {
    return ConfinedHostPath(EnginePathToHost(engine_folder), game_path);
}

std::string EnginePathToHost(std::string_view engine_path) {
    std::string_view rest = engine_path;
    std::vector<HostPart> parts;
    if (!rest.empty() && IsGameSeparator(rest[0])) {
        // "\dir\file": absolute from the root.
    } else if (rest.size() >= 2 && ((rest[0] >= 'A' && rest[0] <= 'Z') || (rest[0] >= 'a' && rest[0] <= 'z')) &&
               rest[1] == ':') {
        rest.remove_prefix(2);  // "C:\dir": every drive is the one root here
    } else if (std::optional<std::string> cwd = WorkingDirectory()) {
        for (std::string& name : SplitHost(*cwd)) parts.push_back({std::move(name), true});
    }
    // (A current directory that cannot be named leaves the path relative to
    // the root; nothing better exists.)
    return WalkComponents(parts, 0, rest);
}

int OpenRegularFile(const std::string& host_path) {
    int fd;
    do {
        fd = open(host_path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
        close(fd);
        return -1;
    }
    // Regular files ignore the flag; clear it so reads behave as usual.
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

namespace {

bool HostFileExists(const std::optional<std::string>& host) {
    struct stat st;
    return host && stat(host->c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::optional<std::string> ReadHostFile(const std::optional<std::string>& host) {
    if (!host) return std::nullopt;
    int fd = OpenRegularFile(*host);
    if (fd < 0) return std::nullopt;
    struct stat st;
    if (fstat(fd, &st) != 0) {
        close(fd);
        return std::nullopt;
    }
    std::string data(static_cast<size_t>(st.st_size), '\0');
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = read(fd, data.data() + done, data.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;  // the file shrank, or a read error
        }
    }
    close(fd);
    if (done != data.size()) return std::nullopt;
    return data;
}

}  // namespace

bool GameFileExists(std::string_view game_path, PathRoot root) { return HostFileExists(ToHostPath(game_path, root)); }

bool GameFolderExists(std::string_view game_path, PathRoot root) {
    std::optional<std::string> host = ToHostPath(game_path, root);
    return host && IsHostFolder(*host);
}

std::optional<std::string> ReadGameFile(std::string_view game_path, PathRoot root) {
    return ReadHostFile(ToHostPath(game_path, root));
}

std::optional<std::string> ReadEngineFile(std::string_view engine_path) {
    return ReadHostFile(EnginePathToHost(engine_path));
}

std::string CurrentDirectory() {
    std::optional<std::string> cwd = WorkingDirectory();
    if (!cwd) return "\\";
    std::string game = HostToGamePath(*cwd);
    // Checked on the host path: a CP932 name may end in the byte 0x5C.
    if (SplitHost(*cwd).empty()) return game;  // the root is "\" already
    game.push_back('\\');
    return game;
}

bool ChangeDirectory(std::string_view engine_path) { return chdir(EnginePathToHost(engine_path).c_str()) == 0; }

std::string ExecutablePath() {
    std::vector<char> buffer(4096);
    for (;;) {
        ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return std::string();
        if (static_cast<size_t>(n) < buffer.size()) return HostToGamePath(std::string_view(buffer.data(), n));
        if (buffer.size() >= (1u << 20)) return std::string();
        buffer.resize(buffer.size() * 2);
    }
}

void ClearPathCache() { Cache().Clear(); }

// Reads XDG_DOCUMENTS_DIR the way xdg-user-dirs' own lookup does: lines of
// the form XDG_DOCUMENTS_DIR="$HOME/path" or "/absolute/path", a backslash
// quoting the next character, the last such line winning.
namespace {

std::string DocumentsHost() {
    std::string home = HomeDirectory();
    const char* config_home = std::getenv("XDG_CONFIG_HOME");
    std::string config = (config_home != nullptr && config_home[0] == '/') ? std::string(config_home)
                                                                          : JoinHost(home, ".config");
    std::optional<std::string> documents;
    int fd = OpenRegularFile(JoinHost(config, "user-dirs.dirs"));
    if (fd >= 0) {
        std::string text;
        char buffer[4096];
        ssize_t n;
        // A user-dirs.dirs file is a few hundred bytes; stop at 1 MiB.
        while (text.size() < (1u << 20) && ((n = read(fd, buffer, sizeof(buffer))) > 0 || (n < 0 && errno == EINTR)))
            if (n > 0) text.append(buffer, static_cast<size_t>(n));
        close(fd);

        constexpr std::string_view kKey = "XDG_DOCUMENTS_DIR";
        size_t line_start = 0;
        while (line_start < text.size()) {
            size_t line_end = text.find('\n', line_start);
            if (line_end == std::string::npos) line_end = text.size();
            std::string_view line(text.data() + line_start, line_end - line_start);
            line_start = line_end + 1;

            size_t p = 0;
            auto skip_blanks = [&] {
                while (p < line.size() && (line[p] == ' ' || line[p] == '\t')) ++p;
            };
            skip_blanks();
            if (line.substr(p, kKey.size()) != kKey) continue;
            p += kKey.size();
            skip_blanks();
            if (p >= line.size() || line[p] != '=') continue;
            ++p;
            skip_blanks();
            if (p >= line.size() || line[p] != '"') continue;
            ++p;
            std::string value;
            if (line.substr(p, 5) == "$HOME") {
                p += 5;
                value = home;
                if (p < line.size() && line[p] == '/') {
                    if (!value.empty() && value.back() == '/') ++p;  // "/" + "/Documents"
                } else if (p < line.size() && line[p] != '"') {
                    continue;  // "$HOMEX": not the variable
                }
            } else if (p >= line.size() || line[p] != '/') {
                continue;  // neither $HOME-relative nor absolute: invalid
            }
            bool closed = false;
            while (p < line.size()) {
                char c = line[p++];
                if (c == '"') {
                    closed = true;
                    break;
                }
                if (c == '\\' && p < line.size()) c = line[p++];
                value.push_back(c);
            }
            if (closed) documents = std::move(value);
        }
    }
    if (documents) return *documents;
    return JoinHost(home, "Documents");
}

}  // namespace

std::string HostPathToEnginePath(const std::string& host_path) {
    const bool absolute = !host_path.empty() && host_path[0] == '/';
    std::string out;
    for (const std::string& part : SplitHost(host_path)) {
        if (absolute || !out.empty()) out.push_back('\\');
        out.append(Utf8ToCp932(part));
    }
    if (out.empty()) return absolute ? "\\" : std::string();  // the root is a folder already ending in '\'
    // Checked on the host path: a CP932 name may end in the byte 0x5C.
    struct stat st;
    if (stat(host_path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) out.push_back('\\');
    return out;
}

std::string AppDataFolder() { return HostToGamePath(AppDataHost()); }
std::string DocumentsFolder() { return HostToGamePath(DocumentsHost()); }

}  // namespace zk::platform
