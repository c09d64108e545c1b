#include "platform/memory_status.h"

#include <sys/sysinfo.h>

#include <cstdio>

namespace zk::platform {

uint32_t MemoryLoadPercent(uint64_t total_bytes, uint64_t available_bytes) {
    if (total_bytes == 0) return 0;
    if (available_bytes > total_bytes) available_bytes = total_bytes;
    // The used part in percent, in 128-bit-free arithmetic: divide first when
    // the product could overflow.
    const uint64_t used = total_bytes - available_bytes;
    const uint64_t percent = used <= UINT64_MAX / 100 ? used * 100 / total_bytes : used / (total_bytes / 100);
    return static_cast<uint32_t>(percent > 100 ? 100 : percent);
}

MemoryStatus ReadMemoryStatus() {
    MemoryStatus status;
    bool have_total = false, have_available = false;
    if (std::FILE* file = std::fopen("/proc/meminfo", "re")) {
        char line[256];
        while (std::fgets(line, sizeof line, file) != nullptr) {
            unsigned long long kib = 0;
            if (std::sscanf(line, "MemTotal: %llu kB", &kib) == 1) {
                status.total_bytes = kib * 1024;
                have_total = true;
            } else if (std::sscanf(line, "MemAvailable: %llu kB", &kib) == 1) {
                status.available_bytes = kib * 1024;
                have_available = true;
            }
        }
        std::fclose(file);
    }
    if (!have_total || !have_available) {
        struct sysinfo info {};
        if (sysinfo(&info) == 0) {
            const uint64_t unit = info.mem_unit != 0 ? info.mem_unit : 1;
            status.total_bytes = uint64_t{info.totalram} * unit;
            status.available_bytes = uint64_t{info.freeram} * unit;
        } else {
            status = {};
        }
    }
    status.load_percent = MemoryLoadPercent(status.total_bytes, status.available_bytes);
    return status;
}

}  // namespace zk::platform
