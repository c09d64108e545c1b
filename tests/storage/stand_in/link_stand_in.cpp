// A stand-in for the script compiler on the development link, for tests:
// it answers the engine the way a faulty compiler could, as the file
// "stand-in" in the game folder (its working folder) says:
//   fail-after-files  one good file sent, then the success flag 0
//   count-0 ok        no files, the success flag 1
//   count-0 fail      no files, the success flag 0
//   past-total        one record whose data runs past the total size
//   folder-gone       as count-0 ok, with a working folder that does not exist
//   folder-unended    as count-0 ok, with all 380 bytes of the folder field
//                     filled and no terminator
//   after-the-tables  as count-0 ok, but finishes only once the engine has
//                     left the file "tables-built" in the folder while it
//                     waits (gives up unfinished after two minutes)
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "platform/shared_memory.h"
#include "storage/compiler_link.h"

namespace {

std::atomic_ref<uint32_t> Field(std::span<uint8_t> bytes, size_t offset) {
    return std::atomic_ref<uint32_t>(*reinterpret_cast<uint32_t*>(bytes.data() + offset));
}

void PutU32(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || std::string(argv[1]) != "zk") return 2;
    std::string mode;
    std::getline(std::ifstream("stand-in"), mode);
    std::optional<zk::platform::SharedMemory> first = zk::platform::SharedMemory::Open(zk::kCompilerMapName);
    if (!first || first->Bytes().size() < zk::kCompilerMapSize) return 3;
    const std::span<uint8_t> shared = first->Bytes();

    if (mode == "after-the-tables") {
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::minutes(2);
        while (!std::filesystem::exists("tables-built")) {
            if (std::chrono::steady_clock::now() > give_up) return 1;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    std::vector<uint8_t> block;
    uint32_t count = 0;
    if (mode == "fail-after-files" || mode == "past-total") {
        const std::string name = "zkbin\\zkl.zbn";
        PutU32(block, static_cast<uint32_t>(name.size() + 1));
        block.insert(block.end(), name.begin(), name.end());
        block.push_back(0);
        PutU32(block, mode == "past-total" ? 1000 : 4);  // past-total: 996 bytes more than sent
        PutU32(block, 0);
        count = 1;
    }
    Field(shared, 16).store(count);
    Field(shared, 20).store(static_cast<uint32_t>(block.size()));
    Field(shared, 0).store(1);
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::minutes(5);
    while (Field(shared, 4).load() != 1) {
        if (std::chrono::steady_clock::now() > give_up) return 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!block.empty()) {
        std::optional<zk::platform::SharedMemory> second = zk::platform::SharedMemory::Open(zk::kCompilerFilesMapName);
        if (!second || second->Bytes().size() < block.size()) return 1;
        std::memcpy(second->Bytes().data(), block.data(), block.size());
    }
    // The folder written back as it came, unless the mode says otherwise.
    char* folder = reinterpret_cast<char*>(shared.data() + zk::kCompilerFolderAt);
    if (mode == "folder-gone") {
        std::memset(folder, 0, zk::kCompilerFolderBytes);
        std::strcpy(folder, "/nonexistent-zorvek-folder/game");
    } else if (mode == "folder-unended") {
        std::memset(folder, 'x', zk::kCompilerFolderBytes);
    }
    const bool success = mode == "count-0 ok" || mode == "past-total" || mode == "after-the-tables" ||
                         mode == "folder-gone" || mode == "folder-unended";
    Field(shared, 12).store(success ? 1 : 0);
    return 0;
}
