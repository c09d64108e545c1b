// Leaf lookup in a named tree (FindNodeByPath, mode 0, through the hashed
// child index) against std::unordered_map<std::string, void*> over the same
// 4096 names, in the same run. Prints ns per lookup for both and the ratio.
// Informational only: it never fails.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/named_tree.h"

namespace {

constexpr int kChildren = 4096;
constexpr int kRounds = 200;

double NsPerLookup(std::chrono::steady_clock::duration elapsed, int64_t lookups) {
    return static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count()) /
           static_cast<double>(lookups);
}

}  // namespace

int main() {
    zk::InitPathCharTable();
    zk::TreeNodePtr root(zk::CreateRootNode());
    if (root == nullptr) return 0;

    std::vector<std::string> names;
    std::unordered_map<std::string, void*> map;
    names.reserve(kChildren);
    map.reserve(kChildren);
    char name[32];
    for (int i = 0; i < kChildren; ++i) {
        std::snprintf(name, sizeof name, "sprite%04d", i + 1);
        names.emplace_back(name);
        zk::NamedTreeNode* node = zk::CreateTreeNode(root.get(), names.back(), false, i);
        if (node == nullptr) {
            std::printf("tree_lookup: could not create %s\n", name);
            return 0;
        }
        map.emplace(names.back(), node);
    }

    const int64_t lookups = static_cast<int64_t>(kRounds) * kChildren;
    // Sums of the results keep the loops from being optimised away and
    // check that both find every name.
    uintptr_t tree_sum = 0;
    uintptr_t map_sum = 0;
    int64_t tree_misses = 0;
    int64_t map_misses = 0;

    auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < kRounds; ++round) {
        for (const std::string& n : names) {
            zk::NamedTreeNode* found = zk::FindNodeByPath(root.get(), n, zk::kFindLeaf);
            if (found == nullptr) ++tree_misses;
            tree_sum += reinterpret_cast<uintptr_t>(found);
        }
    }
    const auto tree_time = std::chrono::steady_clock::now() - start;

    start = std::chrono::steady_clock::now();
    for (int round = 0; round < kRounds; ++round) {
        for (const std::string& n : names) {
            auto it = map.find(n);
            if (it == map.end()) {
                ++map_misses;
                continue;
            }
            map_sum += reinterpret_cast<uintptr_t>(it->second);
        }
    }
    const auto map_time = std::chrono::steady_clock::now() - start;

    const double tree_ns = NsPerLookup(tree_time, lookups);
    const double map_ns = NsPerLookup(map_time, lookups);
    std::printf("tree_lookup: %d leaves, %d rounds, %lld lookups each\n", kChildren, kRounds,
                static_cast<long long>(lookups));
    std::printf("  FindNodeByPath mode 0:  %8.2f ns/lookup (misses %lld)\n", tree_ns,
                static_cast<long long>(tree_misses));
    std::printf("  std::unordered_map:     %8.2f ns/lookup (misses %lld)\n", map_ns,
                static_cast<long long>(map_misses));
    std::printf("  ratio tree/map:         %8.2f\n", map_ns > 0 ? tree_ns / map_ns : 0.0);
    std::printf("  results agree:          %s\n", tree_sum == map_sum ? "yes" : "NO");
    return 0;
}
