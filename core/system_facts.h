// Facts about the machine that other parts consult, learnt once at start-up.
#pragma once

#include <cstdint>

namespace zk {

struct SystemFacts {
    uint8_t os_level = 255;  // 255: newer than every listed Windows level
    int8_t processor_count = 1;
    int8_t worker_count = 1;
    int32_t desktop_width = 0;
    int32_t desktop_height = 0;
    int32_t desktop_bits_per_pixel = 32;
    int32_t desktop_refresh_rate = -1;
    int32_t directx_version = 0;
    // 1 when start-up found a joystick slot (CountJoysticks); joysticks are
    // polled only then.
    uint8_t joystick_present = 0;
};
SystemFacts& TheSystemFacts();

// The processor count kept for the host's: capped to 1..127 so that it
// fits the signed byte that holds it. Taking the low byte instead would
// read 256 processors as 0 and 200 as -56.
int8_t ProcessorCountFor(int host_processors);
// Worker count for a processor count and a worker limit: at least 1, at
// most the limit (and never more than 4). A count that reads as 0 or
// negative still gives one worker.
int8_t WorkerCountFor(int processor_count, int worker_limit);

int ReadSystemFacts();  // always 0
// Maps a Windows build number to its level (255 for any other build).
uint8_t OsLevelForBuild(uint32_t build_number);
int WriteSystemReport();

uint64_t PackVersion(uint16_t a, uint16_t b, uint16_t c, uint16_t d);
int CompareVersion(uint64_t x, uint64_t y);

}  // namespace zk
