// The pack index: building it for 200,000 entries over 10 packs (the
// engine's limit; budget 0.5 s), name lookups in it against a
// std::unordered_map<std::string, entry> over the same names and against a
// binary search of the whole sorted index, a full probe
// (open, seek, read, close) for scale, and MurmurHash2 throughput against
// memcpy. Prints times and ratios measured in this run; never fails.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/hashes.h"
#include "core/startup_paths.h"
#include "platform/game_path.h"
#include "storage/file_source.h"
#include "storage/pack_index.h"
#include "tools/lib/pack_writer.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kPacks = 10;
constexpr int kEntriesPerPack = 20000;
constexpr int kBuildRounds = 3;
constexpr int kLookupRounds = 20;
constexpr int kProbes = 20000;
constexpr size_t kHashBytes = size_t{64} << 20;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

std::string EntryName(int pack, int entry) {
    char name[48];
    std::snprintf(name, sizeof name, "bg\\set%02d\\image%06d.png", pack, entry);
    return name;
}

}  // namespace

int main() {
    fs::path old_cwd = fs::current_path();
    fs::path folder = fs::temp_directory_path() / ("zk_bench_pack_index_" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    fs::current_path(folder);
    zk::Paths().game_folder = zk::platform::CurrentDirectory();

    std::vector<std::string> names;
    names.reserve(static_cast<size_t>(kPacks) * kEntriesPerPack);
    for (int pack = 0; pack < kPacks; ++pack) {
        std::vector<zk::tools::PackFileSpec> files;
        files.reserve(kEntriesPerPack);
        for (int entry = 0; entry < kEntriesPerPack; ++entry) {
            names.push_back(EntryName(pack, entry));
            files.push_back(zk::tools::PackFileSpec(names.back(), {1, 2, 3, 4}).WithKind(2).WithTrailer(
                zk::tools::PackTrailer::kNone));
        }
        char pack_name[32];
        std::snprintf(pack_name, sizeof pack_name, "data%02d.zpf", pack);
        zk::tools::WritePack((folder / pack_name).string(), zk::tools::BuildPack(files));
    }

    // Index build: the best of a few rounds (the first one warms the page cache).
    double best_build = 1e9;
    for (int round = 0; round < kBuildRounds; ++round) {
        auto start = Clock::now();
        int result = zk::BuildPackIndex();
        best_build = std::min(best_build, Seconds(Clock::now() - start));
        if (result != 0) {
            std::printf("pack_index: the build failed (%d)\n", result);
            break;
        }
    }
    std::printf("index build, %zu entries in %d packs: %.1f ms (%.2f of the 0.5 s budget)\n",
                zk::ThePackIndex().entries.size(), kPacks, best_build * 1e3, best_build / 0.5);

    // Lookups by name: hash + binary search over the sorted index against
    // a hash map that holds the names (the index holds none).
    std::unordered_map<std::string, zk::PackIndexEntry> map;
    map.reserve(names.size());
    for (const std::string& name : names) map.emplace(name, zk::PackIndexEntry{});
    uint64_t index_hits = 0;
    uint64_t map_hits = 0;
    auto start = Clock::now();
    for (int round = 0; round < kLookupRounds; ++round)
        for (const std::string& name : names) index_hits += zk::FindPackIndexEntries(zk::MurmurHash2(name, 0)).size();
    double index_time = Seconds(Clock::now() - start);
    start = Clock::now();
    for (int round = 0; round < kLookupRounds; ++round)
        for (const std::string& name : names) map_hits += map.count(name);
    double map_time = Seconds(Clock::now() - start);
    // The former lookup, for comparison: hash + binary search over the
    // whole sorted array.
    const std::vector<zk::PackIndexEntry>& entries = zk::ThePackIndex().entries;
    uint64_t search_hits = 0;
    start = Clock::now();
    for (int round = 0; round < kLookupRounds; ++round)
        for (const std::string& name : names) {
            auto range = std::equal_range(
                entries.begin(), entries.end(), zk::PackIndexEntry{zk::MurmurHash2(name, 0), 0, 0},
                [](const zk::PackIndexEntry& a, const zk::PackIndexEntry& b) { return a.hash < b.hash; });
            search_hits += static_cast<uint64_t>(range.second - range.first);
        }
    double search_time = Seconds(Clock::now() - start);
    double lookups = static_cast<double>(kLookupRounds) * static_cast<double>(names.size());
    std::printf("lookup: index %.1f ns, unordered_map %.1f ns (index / map = %.2f; hits %llu / %llu)\n",
                index_time / lookups * 1e9, map_time / lookups * 1e9, index_time / map_time,
                static_cast<unsigned long long>(index_hits), static_cast<unsigned long long>(map_hits));
    std::printf("lookup by binary search over the whole index (the former way): %.1f ns (search / map = %.2f; "
                "hits %llu)\n",
                search_time / lookups * 1e9, search_time / map_time, static_cast<unsigned long long>(search_hits));

    // A full probe opens the pack and reads the stored name.
    int found = 0;
    start = Clock::now();
    for (int i = 0; i < kProbes; ++i) {
        zk::FileSource source;
        found += zk::ProbePackIndex(source, names[static_cast<size_t>(i) * 97 % names.size()]) == 2;
    }
    double probe_time = Seconds(Clock::now() - start);
    std::printf("probe with file access: %.2f us (%.0f x the map lookup; found %d of %d)\n",
                probe_time / kProbes * 1e6, (probe_time / kProbes) / (map_time / lookups), found, kProbes);

    // Hashing throughput.
    std::vector<uint8_t> source(kHashBytes);
    for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<uint8_t>(i * 131 + (i >> 9));
    std::vector<uint8_t> target(kHashBytes);
    uint32_t hash_sum = 0;
    double best_hash = 1e9;
    double best_copy = 1e9;
    for (int round = 0; round < 3; ++round) {
        start = Clock::now();
        hash_sum += zk::MurmurHash2(source, 0);
        best_hash = std::min(best_hash, Seconds(Clock::now() - start));
        start = Clock::now();
        std::memcpy(target.data(), source.data(), source.size());
        best_copy = std::min(best_copy, Seconds(Clock::now() - start));
        source[static_cast<size_t>(round)] ^= target[source.size() - 1];
    }
    double gib = static_cast<double>(kHashBytes) / double(1 << 30);
    std::printf("MurmurHash2 %.2f GiB/s, memcpy %.2f GiB/s (hash / memcpy speed = %.2f; sum %08x)\n", gib / best_hash,
                gib / best_copy, best_copy / best_hash, hash_sum);

    zk::ResetPackIndex();
    fs::current_path(old_cwd);
    fs::remove_all(folder);
    return 0;
}
