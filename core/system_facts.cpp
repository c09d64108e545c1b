#include "core/system_facts.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "core/settings.h"
#include "platform/game_path.h"
#include "platform/sync.h"
#include "platform/window_system.h"

namespace zk {

SystemFacts& TheSystemFacts() {
    static SystemFacts facts;
    return facts;
}

uint8_t OsLevelForBuild(uint32_t build_number) {
    struct Row {
        uint16_t build;
        uint8_t level;
    };
    static constexpr Row kRows[] = {
        {950, 1},   {1111, 2},  {1212, 3},  {1214, 4},  {1057, 12}, {1381, 13}, {1998, 20}, {2222, 21},
        {3000, 30}, {2195, 40}, {2211, 45}, {2223, 45}, {2239, 45}, {2247, 45}, {2250, 45}, {2257, 45},
        {2600, 50}, {3790, 60}, {5219, 65}, {5260, 65}, {5270, 65}, {5381, 65}, {5384, 65}, {5536, 65},
        {5568, 65}, {5600, 65}, {5743, 65}, {6000, 70}, {6001, 70}, {6002, 70}, {6801, 80}, {7000, 80},
        {7100, 80}, {7600, 80}, {8158, 90}, {8250, 90}, {8375, 90}, {9200, 90}, {9374, 91}, {9600, 91},
    };
    uint16_t build = static_cast<uint16_t>(build_number & 0xFFFF);
    for (const Row& row : kRows)
        if (row.build == build) return row.level;
    return 255;
}

int8_t ProcessorCountFor(int host_processors) { return static_cast<int8_t>(std::clamp(host_processors, 1, 127)); }

int8_t WorkerCountFor(int processor_count, int worker_limit) {
    int workers = std::max(processor_count, 1);
    workers = std::min({workers, worker_limit, 4});
    return static_cast<int8_t>(std::max(workers, 1));
}

int ReadSystemFacts() {
    SystemFacts& facts = TheSystemFacts();
    // This is not Windows: no build number exists, which reads as the
    // "unknown, newer than every listed level" class.
    facts.os_level = 255;
    facts.processor_count = ProcessorCountFor(platform::ProcessorCount());
    facts.worker_count = WorkerCountFor(facts.processor_count, Settings().worker_limit);
    if (platform::HasWindowSystem()) {
        platform::DesktopInfo desktop = platform::GetWindowSystem().GetDesktop();
        facts.desktop_width = desktop.width;
        facts.desktop_height = desktop.height;
        facts.desktop_bits_per_pixel = desktop.bits_per_pixel;
        facts.desktop_refresh_rate = static_cast<uint32_t>(desktop.refresh_rate) < 60 ? -1 : desktop.refresh_rate;
    }
    return 0;
}

int WriteSystemReport() {
    // The report itself goes only to the discarded trace; deleting the old
    // report file is its one visible effect.
    if (std::optional<std::string> report = platform::ToHostPath("info.txt")) std::remove(report->c_str());
    return 0;
}

uint64_t PackVersion(uint16_t a, uint16_t b, uint16_t c, uint16_t d) {
    return uint64_t(a) << 48 | uint64_t(b) << 32 | uint64_t(c) << 16 | uint64_t(d);
}

int CompareVersion(uint64_t x, uint64_t y) { return x > y ? 1 : (x == y ? 0 : -1); }

}  // namespace zk
