#include "core/directx_version.h"

#include "core/system_facts.h"

namespace zk {

namespace {

// A system with the DirectX 9 runtime: its DirectDraw and Direct3D 9
// libraries carry the version of that runtime's last release.
std::optional<std::string> DefaultSystemFolder() { return std::string("C:\\WINDOWS\\system32"); }

int32_t DefaultRead(std::string_view path, uint64_t& version) {
    const std::string_view name = path.substr(path.find_last_of('\\') + 1);
    if (name == "ddraw.dll" || name == "d3d9.dll") {
        version = PackVersion(5, 3, 2600, 5512);
        return kVersionOk;
    }
    return kVersionFail;
}

FileVersionProvider provider{DefaultSystemFolder, DefaultRead};

// One row of the table: the file, and the version it needs when its first
// part is 4 and when it is 5 (0: no such row; both the same for rows that
// do not depend on it).
struct Row {
    const char* file;
    uint64_t needs_when_4;
    uint64_t needs_when_5;
    int32_t major;
};

constexpr uint64_t V(uint16_t a, uint16_t b, uint16_t c, uint16_t d) {
    return uint64_t(a) << 48 | uint64_t(b) << 32 | uint64_t(c) << 16 | uint64_t(d);
}

constexpr Row kRows[] = {
    {"ddraw.dll", V(4, 2, 0, 95), V(4, 2, 0, 95), 1},
    {"ddraw.dll", V(4, 3, 0, 1096), V(4, 3, 0, 1096), 2},
    {"ddraw.dll", V(4, 4, 0, 68), V(4, 4, 0, 68), 3},
    {"d3drg8x.dll", V(4, 4, 0, 70), V(4, 4, 0, 70), 3},
    {"ddraw.dll", V(4, 5, 0, 155), V(4, 5, 0, 155), 5},
    {"ddraw.dll", V(4, 6, 0, 318), V(4, 6, 0, 318), 6},
    {"ddraw.dll", V(4, 6, 0, 436), V(4, 6, 0, 436), 6},
    {"dplayx.dll", V(4, 6, 3, 518), V(4, 6, 3, 518), 6},
    {"ddraw.dll", V(4, 7, 0, 700), V(4, 7, 0, 700), 7},
    {"dinput.dll", V(4, 7, 0, 716), V(4, 7, 0, 716), 7},
    {"ddraw.dll", V(4, 8, 0, 400), V(5, 1, 2258, 400), 8},
    {"d3d8.dll", V(4, 8, 1, 881), V(5, 1, 2600, 881), 8},
    {"d3d8.dll", V(4, 8, 1, 901), V(5, 1, 2600, 901), 8},
    {"mpg2splt.ax", V(6, 3, 1, 885), V(6, 3, 1, 885), 8},
    {"dpnet.dll", V(4, 9, 0, 134), V(5, 2, 3677, 134), 8},
};

// Rows whose threshold depends on the file's first part.
bool DependsOnFirstPart(const Row& row) { return row.needs_when_4 != row.needs_when_5; }

}  // namespace

void SetFileVersionProvider(const FileVersionProvider& next) {
    provider.system_folder = next.system_folder != nullptr ? next.system_folder : DefaultSystemFolder;
    provider.read = next.read != nullptr ? next.read : DefaultRead;
}

int32_t ReadFileVersion(std::string_view path, uint64_t* version) {
    if (path.empty() || version == nullptr) return kVersionInvalidArg;
    return provider.read(path, *version);
}

int32_t GetDirectXVersion() {
    const std::optional<std::string> folder = provider.system_folder();
    if (!folder) return 0;
    auto path_of = [&](const char* file) { return *folder + "\\" + file; };
    int32_t result = 0;
    bool found = false;
    bool first = true;
    for (const Row& row : kRows) {
        uint64_t version = 0;
        const bool readable = ReadFileVersion(path_of(row.file), &version) >= 0;
        bool passes = false;
        if (readable) {
            const uint16_t first_part = static_cast<uint16_t>(version >> 48);
            if (!DependsOnFirstPart(row)) {
                passes = CompareVersion(version, row.needs_when_4) >= 0;
            } else if (first_part == 4) {
                passes = CompareVersion(version, row.needs_when_4) >= 0;
            } else if (first_part == 5) {
                passes = CompareVersion(version, row.needs_when_5) >= 0;
            }
        }
        if (passes) {
            result = row.major;
            found = true;
        } else if (first) {
            found = false;
        }
        first = false;
    }
    uint64_t d3d9 = 0;
    if (ReadFileVersion(path_of("d3d9.dll"), &d3d9) >= 0) return 9;
    return found ? result : 0;
}

}  // namespace zk
