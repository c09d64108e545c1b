#include "storage/compiler_link.h"

#include <atomic>
#include <climits>
#include <chrono>
#include <cstring>
#include <thread>

#include "base/ascii.h"
#include "base/byte_reader.h"
#include "base/text_encoding.h"
#include "core/error_report.h"
#include "core/startup_paths.h"
#include "platform/child_process.h"
#include "platform/game_path.h"
#include "platform/shared_memory.h"

namespace zk {

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(10);
constexpr const char* kNoLinkTextUtf8 = "ZORVEKコンパイラとデータ通信が出来ませんでした。";
constexpr const char* kNotStartedTextUtf8 = "ZORVEKコンパイラを起動できませんでした。";

std::atomic_ref<uint32_t> Field(std::span<uint8_t> bytes, size_t offset) {
    return std::atomic_ref<uint32_t>(*reinterpret_cast<uint32_t*>(bytes.data() + offset));
}

void ShowNoLink() { ShowMessageBox(nullptr, Utf8ToCp932(kNoLinkTextUtf8)); }

}  // namespace

CompilerFileList& TheCompilerFileList() {
    static CompilerFileList list;
    return list;
}

void ResetCompilerFileList() { TheCompilerFileList() = {}; }

std::optional<std::vector<CompilerFileEntry>> ParseCompilerFiles(std::span<const uint8_t> block, uint32_t count) {
    std::vector<CompilerFileEntry> entries;
    ByteReader reader(block);
    for (uint32_t i = 0; i < count; ++i) {
        std::optional<uint32_t> name_length = reader.U32();
        if (!name_length || *name_length < 1 || !reader.Has(*name_length)) return std::nullopt;
        const uint8_t* name = block.data() + reader.Offset();
        if (name[*name_length - 1] != 0 || std::memchr(name, 0, *name_length - 1) != nullptr) return std::nullopt;
        reader.Skip(*name_length);
        std::optional<uint32_t> size = reader.U32();
        if (!size || *size > uint32_t{INT32_MAX} || !reader.Has(*size)) return std::nullopt;
        entries.push_back({std::string(reinterpret_cast<const char*>(name), *name_length - 1), *size, reader.Offset()});
        reader.Skip(*size);
    }
    return entries;
}

int CompilerPresent() {
    if (platform::GameFileExists(kCompilerPath)) return 0;
    {
        ErrorReporter().caption = kLicenseCaption;
    }
    ReportEngineError(kErrLicenseNotice, true);
    return 1;
}

int RunCompilerLink(void (*while_compiling)()) {
    if (CompilerPresent() != 0) return 1;
    const std::string folder = platform::EnginePathToHost(Paths().game_folder);
    // The folder and its terminator must fit the field.
    if (folder.size() + 1 > kCompilerFolderBytes) {
        ShowNoLink();
        return -1;
    }
    std::optional<platform::SharedMemory> first = platform::SharedMemory::Create(kCompilerMapName, kCompilerMapSize);
    if (!first) {
        ShowNoLink();
        return -1;
    }
    std::span<uint8_t> shared = first->Bytes();
    Field(shared, 128).store(kCompilerMagic);
    std::memcpy(shared.data() + kCompilerFolderAt, folder.data(), folder.size());

    std::optional<std::string> program = platform::ToHostPath(kCompilerPath);
    std::optional<platform::ChildProcess> compiler =
        program ? platform::ChildProcess::Start(*program, {"zk"}, folder) : std::nullopt;
    if (!compiler) {
        first.reset();
        ShowMessageBox(nullptr, Utf8ToCp932(kNotStartedTextUtf8));
        return 1;
    }
    std::this_thread::sleep_for(kPollInterval);
    if (while_compiling != nullptr) while_compiling();

    // The engine waits for the compiler however long it runs.
    while (Field(shared, 0).load() != 1) {
        if (!compiler->Running()) return 1;
        std::this_thread::sleep_for(kPollInterval);
    }
    const uint32_t count = Field(shared, 16).load();
    uint32_t total = Field(shared, 20).load();
    if (total == 0) total = 16;
    std::optional<platform::SharedMemory> second = platform::SharedMemory::Create(kCompilerFilesMapName, total);
    if (!second) {
        ShowNoLink();
        return -1;
    }
    Field(shared, 4).store(1);
    while (compiler->Running()) std::this_thread::sleep_for(kPollInterval);

    CompilerFileList list;
    if (count > 0) {
        std::span<const uint8_t> block = second->Bytes();
        list.block.assign(block.begin(), block.end());
        std::optional<std::vector<CompilerFileEntry>> entries = ParseCompilerFiles(list.block, count);
        if (!entries) {
            ShowNoLink();
            return 1;
        }
        list.entries = std::move(*entries);
    }
    const uint32_t success = Field(shared, 12).load();
    // The working folder the compiler wrote back, bounded and terminated.
    const char* text = reinterpret_cast<const char*>(shared.data() + kCompilerFolderAt);
    const std::string working(text, strnlen(text, kCompilerFolderBytes - 1));
    TheCompilerFileList() = std::move(list);
    if (success != 1) return 1;
    const std::string engine_path = platform::HostPathToEnginePath(working);
    if (working.empty() || !platform::ChangeDirectory(engine_path)) {
        ShowMessageBox(nullptr, Utf8ToCp932(kNoLinkTextUtf8));
        return 1;
    }
    Paths().working_folder = engine_path;
    return 0;
}

int32_t ProbeCompilerList(FileSource& source, std::string_view name) {
    const std::vector<CompilerFileEntry>& entries = TheCompilerFileList().entries;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (AsciiEqualsIgnoreCase(entries[i].name, name)) {
            source.state = 3;
            source.compiler_list_index = static_cast<int32_t>(i);
            return 3;
        }
    }
    return 0;
}

int32_t LoadCompilerListFile(FileSource& source, std::string_view) {
    const CompilerFileList& list = TheCompilerFileList();
    const size_t index = static_cast<size_t>(source.compiler_list_index);
    if (source.compiler_list_index < 0 || index >= list.entries.size()) return -3;
    const CompilerFileEntry& entry = list.entries[index];
    source.data.assign(list.block.begin() + static_cast<std::ptrdiff_t>(entry.offset),
                       list.block.begin() + static_cast<std::ptrdiff_t>(entry.offset + entry.size));
    source.size = static_cast<int32_t>(entry.size);
    return 0;
}

}  // namespace zk
