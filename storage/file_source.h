// Where a game file comes from, and its loaders. The probe order is always:
// loose file, then the script compiler's list, then the pack index.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace zk {

struct FileSource {
    int32_t size = 0;
    std::vector<uint8_t> data;
    int8_t state = 0;  // 0 not found, 1 loose file, 2 pack entry, 3 compiler list
    uint8_t kind = 0;  // FileKind
    int32_t pack_index_slot = 0;
    int32_t pack_number = 0;
    uint64_t entry_position = 0;
    int32_t compiler_list_index = 0;
};

// 1, 3 or 2 (the source that has the name), 0 none, -2 a pack cannot be opened.
int32_t ResolveFileSource(FileSource& source, std::string_view name);
int32_t ProbeLooseFile(std::string_view path);

// 0 success; -2 damaged beyond repair; -3 any other failure (reported).
int32_t LoadLooseFile(FileSource& source, std::string_view path);
int32_t LoadFromSource(FileSource& source, std::string_view name);

// The sources that later storage work fills. Each probe returns its state
// number when it has the name, 0 when not, -2 when a pack cannot be opened.
struct FileSourceHooks {
    int32_t (*probe_compiler_list)(FileSource&, std::string_view) = nullptr;
    int32_t (*probe_pack_index)(FileSource&, std::string_view) = nullptr;
    int32_t (*load_compiler_list_file)(FileSource&, std::string_view) = nullptr;
    int32_t (*load_pack_entry)(FileSource&, std::string_view) = nullptr;
    uint8_t (*kind_by_extension)(std::string_view) = nullptr;
};
FileSourceHooks& TheFileSourceHooks();

// The common reader of the table loaders: resolve, report 104060 / 104010 /
// 901040 (fatal) on a failed probe, load. 0 with `source` filled, or -1.
int32_t ReadGameFileReported(FileSource& source, std::string_view name);

}  // namespace zk
