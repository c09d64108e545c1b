// Interleaved timing for benchmarks that set the engine against a baseline
// doing the same work: each round runs every contender once, in turn, so a
// burst of load on the machine falls on all of them alike. Each contender
// reports its best round and the spread of its rounds (worst over best).
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

namespace zk::bench {

struct Timing {
    double best = 1e30;   // seconds
    double worst = 0.0;
    double Spread() const { return best > 0 ? worst / best : 0.0; }
};

inline std::vector<Timing> Interleaved(int rounds, const std::vector<std::function<void()>>& contenders) {
    using Clock = std::chrono::steady_clock;
    std::vector<Timing> timings(contenders.size());
    for (int round = 0; round < rounds; ++round) {
        for (size_t i = 0; i < contenders.size(); ++i) {
            const auto start = Clock::now();
            contenders[i]();
            const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
            timings[i].best = std::min(timings[i].best, seconds);
            timings[i].worst = std::max(timings[i].worst, seconds);
        }
    }
    return timings;
}

// One line the checks read: the label, both times with their spread, and the
// ratio last (> 1: the engine is faster).
inline void PrintRatio(const char* label, const Timing& engine, const Timing& baseline, double unit = 1e3,
                       const char* unit_name = "ms") {
    std::printf("  (engine %.3f %s, spread %.2f; baseline %.3f %s, spread %.2f)\n", engine.best * unit, unit_name,
                engine.Spread(), baseline.best * unit, unit_name, baseline.Spread());
    std::printf("%s: %.2f\n", label, baseline.best / engine.best);
}

}  // namespace zk::bench
