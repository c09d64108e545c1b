#include "layers/cpu_features.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>  // the compiler's CPUID intrinsics; no OS involved
#endif

namespace zk {

CpuFeatureFlags& TheCpuFeatureFlags() {
    static CpuFeatureFlags flags;
    return flags;
}

CpuFeatureFlags CpuFeaturesFromCpuid(uint32_t leaf1_edx, uint32_t leaf1_ecx, uint32_t ext1_edx, uint32_t ext1_ecx) {
    auto bit = [](uint32_t word, int n) { return static_cast<uint8_t>((word >> n) & 1); };
    CpuFeatureFlags flags;
    flags.mmx = bit(leaf1_edx, 23);
    flags.sse = bit(leaf1_edx, 25);
    flags.sse2 = bit(leaf1_edx, 26);
    flags.sse3 = bit(leaf1_ecx, 0);
    flags.ssse3 = bit(leaf1_ecx, 9);
    flags.sse41 = bit(leaf1_ecx, 19);
    flags.sse42 = bit(leaf1_ecx, 20);
    flags.amd_3dnow = bit(ext1_edx, 31);
    flags.amd_3dnow_ext = bit(ext1_edx, 30);
    flags.sse4a = bit(ext1_ecx, 6);
    flags.xop = bit(ext1_ecx, 11);
    return flags;
}

void ProbeCpuFeatures() {
    CpuFeatureFlags& flags = TheCpuFeatureFlags();
    flags = {};
#if defined(__i386__) || defined(__x86_64__)
    // __get_cpuid_max also makes the EFLAGS ID-bit test on 32-bit
    // processors: 0 means no CPUID at all.
    uint32_t leaf1_edx = 0, leaf1_ecx = 0, ext1_edx = 0, ext1_ecx = 0;
    unsigned eax, ebx, ecx, edx;
    if (__get_cpuid_max(0, nullptr) == 0) return;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0) {
        leaf1_edx = edx;
        leaf1_ecx = ecx;
    }
    // The highest extended leaf: an unsigned leaf number, though some
    // compilers' cpuid.h declare the result int.
    const auto max_extended = static_cast<uint32_t>(__get_cpuid_max(0x80000000u, nullptr));
    if (max_extended > 0x80000000u && __get_cpuid(0x80000001u, &eax, &ebx, &ecx, &edx) != 0) {
        ext1_edx = edx;
        ext1_ecx = ecx;
    }
    flags = CpuFeaturesFromCpuid(leaf1_edx, leaf1_ecx, ext1_edx, ext1_ecx);
#endif
}

int KernelLevelFor(const CpuFeatureFlags& flags, uint8_t sse_switch, uint8_t sse2_switch) {
    int level = (flags.sse != 0 && sse_switch != 0) ? 2 : 1;
    if (flags.sse2 != 0 && sse2_switch != 0) level = 3;
    return level;
}

bool CpuHasAvx2() {
#if defined(__i386__) || defined(__x86_64__)
    // Also checks that the operating system saves the YMM registers.
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

}  // namespace zk
