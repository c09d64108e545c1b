#include "storage/file_source.h"

#include <new>
#include <optional>

#include "core/error_report.h"
#include "platform/file_stream.h"
#include "platform/game_path.h"

namespace zk {

namespace {

// FileSource::size is an int32: a larger file cannot be described to its
// readers, so it cannot be loaded.
constexpr uint64_t kMaxLoadableBytes = 0x7FFFFFFF;

void DropBytes(FileSource& source) {
    std::vector<uint8_t>().swap(source.data);
    source.size = 0;
}

int32_t FailLoad(FileSource& source, uint32_t code, std::string_view path) {
    DropBytes(source);
    ReportEngineErrorF(code, true, {FormatArg(path)});
    return -3;
}

}  // namespace

bool& ReleaseDataFlag() {
    static bool release_data = false;
    return release_data;
}

FileSourceHooks& TheFileSourceHooks() {
    static FileSourceHooks hooks;
    return hooks;
}

int32_t ProbeLooseFile(std::string_view path) { return platform::GameFileExists(path) ? 1 : 0; }

int32_t ResolveFileSource(FileSource& source, std::string_view name) {
    const FileSourceHooks& hooks = TheFileSourceHooks();
    source.state = 0;
    source.kind = 0;
    if (ProbeLooseFile(name) == 1) {
        source.state = 1;
        if (hooks.kind_by_extension != nullptr) source.kind = hooks.kind_by_extension(name);
        return 1;
    }
    if (hooks.probe_compiler_list != nullptr) {
        if (int32_t result = hooks.probe_compiler_list(source, name); result != 0) return result;
    }
    if (hooks.probe_pack_index != nullptr) {
        if (int32_t result = hooks.probe_pack_index(source, name); result != 0) return result;
    }
    return 0;
}

int32_t LoadLooseFile(FileSource& source, std::string_view path) {
    // Only a regular file is opened: opening a FIFO would block, and a
    // folder is no file (Windows refuses to open either).
    platform::FileStream file;
    if (!platform::GameFileExists(path) || !file.Open(path)) return FailLoad(source, kErrFileUnreadable, path);
    std::optional<uint64_t> length = file.Size();
    if (!length) return FailLoad(source, kErrFileUnreadable, path);
    if (*length > kMaxLoadableBytes) return FailLoad(source, kErrFileNoMemory, path);

    try {
        std::vector<uint8_t> block;
        // At least one byte, so an empty file still gives a real block.
        block.reserve(*length > 0 ? static_cast<size_t>(*length) : 1);
        block.resize(static_cast<size_t>(*length));
        source.data = std::move(block);
    } catch (const std::bad_alloc&) {
        return FailLoad(source, kErrFileNoMemory, path);
    }
    // One unbuffered read straight into the block.
    if (!file.ReadExact(source.data)) {
        // The file shrank while it was read, or the read failed. Readers
        // take a loader failure as already reported, so say it here: a
        // silent failure would stop a table loader with no word why.
        return FailLoad(source, kErrFileUnreadable, path);
    }
    source.size = static_cast<int32_t>(*length);
    return 0;
}

int32_t LoadFromSource(FileSource& source, std::string_view name) {
    const FileSourceHooks& hooks = TheFileSourceHooks();
    switch (source.state) {
        case 1: return LoadLooseFile(source, name);
        case 2: return hooks.load_pack_entry != nullptr ? hooks.load_pack_entry(source, name) : -3;
        case 3: return hooks.load_compiler_list_file != nullptr ? hooks.load_compiler_list_file(source, name) : -3;
        default: return -3;
    }
}

int32_t ReadGameFileReported(FileSource& source, std::string_view name) {
    int32_t found = ResolveFileSource(source, name);
    switch (found) {
        case 0: ReportEngineErrorF(kErrFileMissing, true, {FormatArg(name)}); return -1;
        case -1: ReportEngineErrorF(kErrFileUnreadable, true, {FormatArg(name)}); return -1;
        case -2: ReportEngineErrorF(kErrPackNotOpened, true, {FormatArg(name)}); return -1;
        default: break;
    }
    if (found < 0) return -1;
    return LoadFromSource(source, name) == 0 ? 0 : -1;
}

}  // namespace zk
