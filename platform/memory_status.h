// The machine's physical memory as the system variables report it: the
// total, the part still available and the load in percent.
#pragma once

#include <cstdint>

namespace zk::platform {

struct MemoryStatus {
    uint64_t total_bytes = 0;
    uint64_t available_bytes = 0;
    uint32_t load_percent = 0;  // 0..100: the share of the total in use
};

// From /proc/meminfo (MemTotal, MemAvailable); where that cannot be read,
// from sysinfo(2), which counts only free memory as available. All zero
// when neither answers.
MemoryStatus ReadMemoryStatus();

// The load for a total and an available size (0 for a total of 0).
uint32_t MemoryLoadPercent(uint64_t total_bytes, uint64_t available_bytes);

}  // namespace zk::platform
