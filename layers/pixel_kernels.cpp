// Choosing the kernel set at start-up.
#include "layers/pixel_kernels.h"

#include <cstdlib>
#include <cstring>

#include "core/settings.h"
#include "layers/cpu_features.h"

namespace zk {

namespace {

int installed_level = 1;
bool plain_forced = false;

bool PlainRequestedByEnvironment() {
    const char* value = std::getenv("ZORVEK_PLAIN_KERNELS");
    return value != nullptr && std::strcmp(value, "0") != 0;
}

void InstallSetForLevel() {
    PixelKernels = (installed_level >= 2 && !plain_forced) ? SsePixelKernelSet() : PlainPixelKernelSet();
}

}  // namespace

void InstallPixelKernels() {
    ProbeCpuFeatures();
    const EngineSettings& settings = Settings();
    // The SSE switch is zkcfg.dat entry 2, the SSE2 switch entry 3.
    installed_level = KernelLevelFor(TheCpuFeatureFlags(), settings.sse_switch, settings.sse2_switch);
    if (PlainRequestedByEnvironment()) plain_forced = true;
    InstallSetForLevel();
}

int InstalledKernelLevel() { return installed_level; }

void ForcePlainPixelKernels(bool force) {
    plain_forced = force;
    InstallSetForLevel();
}

}  // namespace zk
