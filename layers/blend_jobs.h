// Blend jobs 101..104: a layer's overlap with its target, split into bands
// of rows, one band per worker thread. The poster returns only when every
// band is blended.
//
// Layers must land in order, but only row by row: a run of layers into one
// target can go to the workers as one batch in which worker i owns band i
// of the target's rows and blends every layer's rows in that band, in
// order. The pixels are those of posting the layers one at a time; the
// workers are woken once per run instead of once per layer.
#pragma once

#include <cstdint>
#include <vector>

#include "layers/worker_pool.h"

namespace zk {

constexpr int32_t kJobBlendPlain = 101;            // no alpha, no mask
constexpr int32_t kJobBlendMask = 102;             // mask, no alpha
constexpr int32_t kJobBlendSourceAlpha = 103;      // alpha, no mask
constexpr int32_t kJobBlendMaskSourceAlpha = 104;  // mask and alpha
static_assert(kJobBlendPlain == kJobBlendFirst && kJobBlendMaskSourceAlpha == kJobBlendLast);

// Below this many pixels a post costs more than blending on the poster's
// thread, so it runs there as one band, as does everything when there is
// only one worker to wait for; above it the post advisor
// (layers/post_advisor.h) weighs the blending time saved against what
// waking the workers costs. Speed only: bands write disjoint rows, so the
// pixels are the same either way (tests set 0 to split every post).
constexpr int64_t kDefaultBlendInlinePixels = 64 * 1024;
extern int64_t BlendInlinePixels;
// Forgets what the advisor learnt (tests).
void ResetBlendPostAdvisor();

// One layer's blend: `height` rows of `params.width` pixels.
struct BlendRows {
    int32_t code = kJobBlendPlain;
    WorkerBlendParams params;
    int64_t height = 0;
};

// Blends one layer's rows over the workers and waits for every band. A
// blend whose rows fall outside any of its images' pixels is dropped.
void PostBlendRows(const BlendRows& blend);

// Layers to blend into one target, in order. Add keeps a blend back until
// Flush (or the end of the batch's life) posts them all as one job. A
// masked blend reads the engine-wide mask ramp, so it is never held back
// with another: Add posts it at once, after what was pending. A blend into
// another target flushes first.
class BlendBatch {
public:
    BlendBatch() = default;
    BlendBatch(const BlendBatch&) = delete;
    BlendBatch& operator=(const BlendBatch&) = delete;
    ~BlendBatch() { Flush(); }

    void Add(const BlendRows& blend);
    void Flush();

private:
    std::vector<BlendRows> pending_;
    int64_t pixels_ = 0;
};

// The body of a band: blends rows [job.first_row, job.end_row) of one
// layer, or, for a batch (job.context), that band of the target's rows of
// every layer in the batch.
void RunBlendJob(const WorkerJob& job, int worker);

// Registers jobs 101..104 with the worker pool (at start-up).
void RegisterBlendJobs();

}  // namespace zk
