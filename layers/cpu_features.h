// What the processor can do, probed once at start-up, and the kernel level
// that the probe and the user's settings choose: 1 the plain kernels, 2 and
// 3 the SSE kernels.
#pragma once

#include <cstdint>

namespace zk {

// Each byte 0 or 1. Also read by the JPEG decoder, the CPU presentation and
// the system report (the SSE flag).
struct CpuFeatureFlags {
    uint8_t mmx = 0;
    uint8_t amd_3dnow = 0;
    uint8_t amd_3dnow_ext = 0;
    uint8_t sse = 0;
    uint8_t sse2 = 0;
    uint8_t sse3 = 0;
    uint8_t ssse3 = 0;
    uint8_t sse41 = 0;
    uint8_t sse42 = 0;
    uint8_t sse4a = 0;
    uint8_t xop = 0;
};

CpuFeatureFlags& TheCpuFeatureFlags();

// Fills TheCpuFeatureFlags from the processor. A processor without CPUID
// (or a build for another architecture) leaves every flag 0.
void ProbeCpuFeatures();

// The flags from raw CPUID answers: leaf 1 EDX/ECX and leaf 0x80000001
// EDX/ECX (0 when the leaf does not exist).
CpuFeatureFlags CpuFeaturesFromCpuid(uint32_t leaf1_edx, uint32_t leaf1_ecx, uint32_t ext1_edx, uint32_t ext1_ecx);

// 1 plain; 2 when the SSE flag and the SSE switch are set; 3 when, on top
// of whatever level 2 decided, the SSE2 flag and the SSE2 switch are set.
// The switches are the user settings Settings().sse_switch and
// Settings().sse2_switch.
int KernelLevelFor(const CpuFeatureFlags& flags, uint8_t sse_switch, uint8_t sse2_switch);

// True when this processor can run AVX2 code (the SSE set uses it where it
// gives the same results as its SSE2 code).
bool CpuHasAvx2();

}  // namespace zk
