// Blend jobs 101..104: one layer's overlap with its target, split into
// bands of rows, one band per worker thread. The poster returns only when
// every band is blended, so layers are drawn strictly in order.
#pragma once

#include <cstdint>

#include "layers/worker_pool.h"

namespace zk {

constexpr int32_t kJobBlendPlain = 101;            // no alpha, no mask
constexpr int32_t kJobBlendMask = 102;             // mask, no alpha
constexpr int32_t kJobBlendSourceAlpha = 103;      // alpha, no mask
constexpr int32_t kJobBlendMaskSourceAlpha = 104;  // mask and alpha
static_assert(kJobBlendPlain == kJobBlendFirst && kJobBlendMaskSourceAlpha == kJobBlendLast);

// Below this many pixels a blit costs less than waking the workers one
// after the other: it runs on the poster's thread as one band, as does
// every blit when there is only one worker to wait for. Speed only: bands
// write disjoint rows, so the pixels are the same either way (tests set 0
// to split every blit).
constexpr int64_t kDefaultBlendInlinePixels = 64 * 1024;
extern int64_t BlendInlinePixels;

// Splits `height` rows of the overlap described by `params` over the
// workers as job `code` and waits for every band. A job whose rows fall
// outside any of its images' pixels is dropped whole.
void PostBlendRows(int32_t code, const WorkerBlendParams& params, int64_t height);

// The body of a band: blends rows [job.first_row, job.end_row).
void RunBlendJob(const WorkerJob& job, int worker);

// Registers jobs 101..104 with the worker pool (at start-up).
void RegisterBlendJobs();

}  // namespace zk
