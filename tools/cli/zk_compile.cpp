// The script compiler for game authors:
//   zk_compile [<game folder>]
// compiles the folder's sources (game.cfg, the *.zs scripts; see
// tools/lib/game_compiler.h) in place: every table goes into the pack
// zkbin.zpf, next to the sources and assets, and the engine runs the folder
// as it stands. Without a folder, the current folder. Errors are printed as
// "file:line: message" and the exit code is 1; nothing is written then.
//   zk_compile --commands
// lists every command the scripts may name, with its code and keywords
// (the reference of the author's guide).
//   zk_compile zk
// is the compiler side of the engine's development link: put in a game
// folder as system/ZKCom/ZKCom.exe, the engine starts it in the game folder
// of a game that has only its sources; it compiles them and hands the
// tables over through the engine's shared mappings (storage/
// compiler_link.h), then exits.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/shared_memory.h"
#include "storage/compiler_link.h"
#include "tools/lib/byte_writer.h"
#include "tools/lib/command_defs.h"
#include "tools/lib/folder_pack.h"
#include "tools/lib/game_compiler.h"

namespace {

// One line a command: "name (code): keyword kind, ..." with the keywords
// nothing reads left out.
void ListCommands() {
    for (const zk::tools::CommandEntry& entry : zk::tools::CommandEntries()) {
        std::string line = entry.name + " (" + std::to_string(entry.code) + "):";
        bool first = true;
        for (const zk::tools::KeywordDef& keyword : entry.keywords) {
            if (keyword.name.rfind("unused", 0) == 0) continue;
            line += first ? " " : ", ";
            line += keyword.name + (keyword.value_kind == 1 ? "=\"text\"" : "");
            first = false;
        }
        std::printf("%s\n", line.c_str());
    }
}

std::atomic_ref<uint32_t> Field(std::span<uint8_t> bytes, size_t offset) {
    return std::atomic_ref<uint32_t>(*reinterpret_cast<uint32_t*>(bytes.data() + offset));
}

// The compiler side of the link. The engine waits for this program however
// long it runs; this side waits for the engine's ready flag at most a few
// minutes (an engine that went away never sets it).
int RunLink() {
    std::optional<zk::platform::SharedMemory> first = zk::platform::SharedMemory::Open(zk::kCompilerMapName);
    if (!first || first->Bytes().size() < zk::kCompilerMapSize) {
        std::fprintf(stderr, "zk_compile: no engine to hand the files to\n");
        return 3;
    }
    std::span<uint8_t> shared = first->Bytes();
    if (Field(shared, 128).load() != zk::kCompilerMagic) {
        std::fprintf(stderr, "zk_compile: the engine's mapping is not one this compiler knows\n");
        return 3;
    }
    const char* folder_text = reinterpret_cast<const char*>(shared.data() + zk::kCompilerFolderAt);
    const std::string folder(folder_text, strnlen(folder_text, zk::kCompilerFolderBytes - 1));

    bool compiled = false;
    zk::tools::ByteWriter files;
    uint32_t count = 0;
    try {
        const zk::tools::CompiledGame game = zk::tools::CompileGameFolder(std::filesystem::current_path());
        for (const auto& [name, bytes] : game.tables) {
            files.U32(static_cast<uint32_t>(name.size() + 1));
            files.Bytes(name);
            files.U8(0);
            files.U32(static_cast<uint32_t>(bytes.size()));
            files.Bytes(std::span<const uint8_t>(bytes));
            ++count;
        }
        compiled = true;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", zk::tools::CompileErrorText(e).c_str());
    }
    const std::vector<uint8_t> block = files.Take();
    // Every field of the first mapping, then the finished flag that tells
    // the engine they are there: the count, the size, the success and the
    // working folder (the game folder itself).
    Field(shared, 16).store(count);
    Field(shared, 20).store(static_cast<uint32_t>(block.size()));
    Field(shared, 12).store(compiled ? 1 : 0);
    std::memset(shared.data() + zk::kCompilerFolderAt, 0, zk::kCompilerFolderBytes);
    std::memcpy(shared.data() + zk::kCompilerFolderAt, folder.data(), folder.size());
    Field(shared, 0).store(1);

    // The engine makes the second mapping and says so.
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::minutes(5);
    while (Field(shared, 4).load() != 1) {
        if (std::chrono::steady_clock::now() > give_up) return 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!block.empty()) {
        std::optional<zk::platform::SharedMemory> second = zk::platform::SharedMemory::Open(zk::kCompilerFilesMapName);
        if (!second || second->Bytes().size() < block.size()) {
            // The files cannot be handed over: not a success after all.
            Field(shared, 12).store(0);
            std::fprintf(stderr, "zk_compile: the engine's file mapping cannot take the tables\n");
            return 1;
        }
        std::memcpy(second->Bytes().data(), block.data(), block.size());
    }
    return compiled ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "zk") return RunLink();
    if (argc == 2 && std::string(argv[1]) == "--commands") {
        ListCommands();
        return 0;
    }
    if (argc > 2 || (argc == 2 && argv[1][0] == '-')) {
        std::fprintf(stderr, "usage: zk_compile [<game folder>]\n");
        return 2;
    }
    const std::filesystem::path folder = argc == 2 ? std::filesystem::path(argv[1]) : std::filesystem::current_path();
    zk::tools::CompiledGame game;
    try {
        game = zk::tools::CompileGameFolder(folder);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", zk::tools::CompileErrorText(e).c_str());
        return 1;
    }
    const zk::tools::WriteResult written = zk::tools::WriteCompiledGame(game, folder);
    if (!written.error.empty()) {
        std::fprintf(stderr, "zk_compile: %s\n", written.error.c_str());
        return 1;
    }
    if (const std::string failed = zk::tools::PackTables(folder); !failed.empty()) {
        std::fprintf(stderr, "zk_compile: %s\n", failed.c_str());
        return 1;
    }
    std::printf("zk_compile: %zu script file(s) compiled into %s\n", game.script_names.size(),
                (folder / zk::tools::kTablesPackName).string().c_str());
    return 0;
}
