// The AVX2 variants of the SSE set's arithmetic-bound slots, with results
// identical to the SSE set's. The SSE set takes them at start-up when the
// processor has AVX2 (see SsePixelKernelSet).
#pragma once

#include "layers/pixel_kernels.h"

namespace zk {

// Puts the AVX2 variants into `set` (slots 11, 12, 13, 15, 16, 18, 19, 22,
// 23). Only for a processor with AVX2; a no-op where they are not built.
void OverrideWithAvx2Kernels(PixelKernelTable& set);

}  // namespace zk
