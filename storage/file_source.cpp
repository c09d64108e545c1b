#include "storage/file_source.h"

#include "core/error_report.h"
#include "platform/game_path.h"

namespace zk {

FileSourceHooks& TheFileSourceHooks() {
    static FileSourceHooks hooks;
    return hooks;
}

int32_t ProbeLooseFile(std::string_view path) { return platform::GameFileExists(path) ? 1 : 0; }

int32_t ResolveFileSource(FileSource& source, std::string_view name) {
    source.state = 0;
    source.kind = 0;
    if (ProbeLooseFile(name) == 1) {
        source.state = 1;
        if (TheFileSourceHooks().kind_by_extension != nullptr) source.kind = TheFileSourceHooks().kind_by_extension(name);
        return 1;
    }
    if (auto probe = TheFileSourceHooks().probe_compiler_list) {
        if (int32_t result = probe(source, name); result != 0) return result;
    }
    if (auto probe = TheFileSourceHooks().probe_pack_index) {
        if (int32_t result = probe(source, name); result != 0) return result;
    }
    return 0;
}

int32_t LoadLooseFile(FileSource& source, std::string_view path) {
    auto bytes = platform::ReadGameFile(path);
    if (!bytes) {
        // An unreadable file and one that shrank while being read look alike
        // from here; both are reported, since a silent failure would leave
        // the caller guessing.
        ReportEngineErrorF(104010, true, {path});
        return -3;
    }
    try {
        source.data.assign(bytes->begin(), bytes->end());
    } catch (const std::bad_alloc&) {
        ReportEngineErrorF(104030, true, {path});
        return -3;
    }
    source.size = static_cast<int32_t>(source.data.size());
    return 0;
}

int32_t LoadFromSource(FileSource& source, std::string_view name) {
    switch (source.state) {
        case 1: return LoadLooseFile(source, name);
        case 2:
            return TheFileSourceHooks().load_pack_entry != nullptr ? TheFileSourceHooks().load_pack_entry(source, name)
                                                                   : -3;
        case 3:
            return TheFileSourceHooks().load_compiler_list_file != nullptr
                       ? TheFileSourceHooks().load_compiler_list_file(source, name)
                       : -3;
        default: return -3;
    }
}

int32_t ReadGameFileReported(FileSource& source, std::string_view name) {
    int32_t found = ResolveFileSource(source, name);
    switch (found) {
        case 0: ReportEngineErrorF(104060, true, {name}); return -1;
        case -1: ReportEngineErrorF(104010, true, {name}); return -1;
        case -2: ReportEngineErrorF(901040, true, {name}); return -1;
        default: break;
    }
    if (found < 0) return -1;
    return LoadFromSource(source, name) == 0 ? 0 : -1;
}

}  // namespace zk
