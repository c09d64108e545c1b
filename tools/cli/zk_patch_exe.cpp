// zk_patch_exe: writes the engine executable's resources (ZK_RES, ZK_BIN and
// the like) into its "zk_resources" section after linking, the way a
// resource editor patches a Windows executable.
//
//   zk_patch_exe <executable> <type> <id> <hex-bytes | @file>   set (or add) one
//   zk_patch_exe <executable> --remove <type> <id>              remove one
//   zk_patch_exe <executable> --list                            print the table
//
// Hex bytes may be separated by spaces, ':' or ','; "" gives an empty
// resource. The file is changed in place, only inside the section.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/resources.h"
#include "tools/lib/byte_writer.h"

namespace {

using zk::platform::ResourceSectionLocation;

int Usage() {
    std::fprintf(stderr,
                 "usage: zk_patch_exe <executable> <type> <id> <hex-bytes | @file>\n"
                 "       zk_patch_exe <executable> --remove <type> <id>\n"
                 "       zk_patch_exe <executable> --list\n");
    return 2;
}

std::optional<uint32_t> ParseId(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    if (text.empty()) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else return std::nullopt;
        value = value * base + static_cast<uint64_t>(digit);
        if (value > UINT32_MAX) return std::nullopt;
    }
    return static_cast<uint32_t>(value);
}

std::optional<std::vector<uint8_t>> ParseHex(std::string_view text) {
    std::vector<uint8_t> bytes;
    int high = -1;
    for (char c : text) {
        if (c == ' ' || c == ':' || c == ',' || c == '\t') {
            if (high >= 0) return std::nullopt;  // a lone digit before a separator
            continue;
        }
        int digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else return std::nullopt;
        if (high < 0) {
            high = digit;
        } else {
            bytes.push_back(static_cast<uint8_t>(high * 16 + digit));
            high = -1;
        }
    }
    if (high >= 0) return std::nullopt;
    return bytes;
}

bool WriteSection(const std::string& path, const ResourceSectionLocation& where, const std::vector<uint8_t>& file) {
    std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
    if (!out) return false;
    out.seekp(static_cast<std::streamoff>(where.offset));
    out.write(reinterpret_cast<const char*>(file.data() + where.offset),
              static_cast<std::streamsize>(zk::platform::kResourceSectionBytes));
    out.flush();
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    std::string path = argv[1];
    std::string_view command = argv[2];
    bool list = command == "--list";
    bool remove = command == "--remove";
    if ((list && argc != 3) || (remove && argc != 5) || (!list && !remove && argc != 5)) return Usage();

    std::optional<std::vector<uint8_t>> file = zk::tools::ReadFile(path);
    if (!file) {
        std::fprintf(stderr, "zk_patch_exe: cannot read %s\n", path.c_str());
        return 1;
    }
    std::string why;
    std::optional<ResourceSectionLocation> where = zk::platform::FindResourceSectionInElf(*file, &why);
    if (!where) {
        std::fprintf(stderr, "zk_patch_exe: %s: %s\n", path.c_str(), why.c_str());
        return 1;
    }
    std::span<uint8_t> section(file->data() + where->offset, zk::platform::kResourceSectionBytes);

    if (list) {
        auto slots = zk::platform::ListResourcesInSection(section);
        if (!slots) {
            std::fprintf(stderr, "zk_patch_exe: %s: the resource table is damaged\n", path.c_str());
            return 1;
        }
        for (const auto& slot : *slots) {
            std::printf("%s %u", slot.type.c_str(), slot.id);
            std::printf(slot.bytes.empty() ? " -" : " ");
            for (uint8_t b : slot.bytes) std::printf("%02x", b);
            std::printf("\n");
        }
        return 0;
    }

    std::string_view type = remove ? argv[3] : argv[2];
    std::optional<uint32_t> id = ParseId(remove ? argv[4] : argv[3]);
    if (!id) {
        std::fprintf(stderr, "zk_patch_exe: bad resource id\n");
        return 2;
    }
    if (remove) {
        if (!zk::platform::RemoveResourceFromSection(section, type, *id)) {
            std::fprintf(stderr, "zk_patch_exe: %s: no resource %.*s %u (or the table is damaged)\n", path.c_str(),
                         static_cast<int>(type.size()), type.data(), *id);
            return 1;
        }
    } else {
        std::string_view data_arg = argv[4];
        std::optional<std::vector<uint8_t>> data;
        if (!data_arg.empty() && data_arg[0] == '@') {
            data = zk::tools::ReadFile(std::string(data_arg.substr(1)));
            if (!data) {
                std::fprintf(stderr, "zk_patch_exe: cannot read %s\n", argv[4] + 1);
                return 1;
            }
        } else {
            data = ParseHex(data_arg);
            if (!data) {
                std::fprintf(stderr, "zk_patch_exe: bad hex bytes\n");
                return 2;
            }
        }
        if (data->size() > zk::platform::kResourceDataBytes) {
            std::fprintf(stderr, "zk_patch_exe: %zu bytes; a resource holds at most %zu\n", data->size(),
                         zk::platform::kResourceDataBytes);
            return 1;
        }
        if (!zk::platform::SetResourceInSection(section, type, *id, *data)) {
            std::fprintf(stderr, "zk_patch_exe: %s: cannot set %.*s %u (bad type, table full or damaged)\n",
                         path.c_str(), static_cast<int>(type.size()), type.data(), *id);
            return 1;
        }
    }
    if (!WriteSection(path, *where, *file)) {
        std::fprintf(stderr, "zk_patch_exe: cannot write %s\n", path.c_str());
        return 1;
    }
    return 0;
}
