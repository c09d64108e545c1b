#include "layers/blend_jobs.h"

#include <algorithm>
#include <chrono>
#include <span>

#include "layers/blend_kernels.h"
#include "layers/cg_image.h"
#include "layers/compositor.h"
#include "layers/post_advisor.h"
#include "base/never.h"

namespace zk {

int64_t BlendInlinePixels = kDefaultBlendInlinePixels;

namespace {

PostAdvisor advisor;

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A batch as the workers see it: its blends and the target rows
// [first_row, first_row + rows) that the bands divide.
struct BlendBatchRecord {
    std::span<const BlendRows> blends;
    int64_t first_row = 0;
};

// The rows [y, y + height) and columns [x, x + width) lie inside the image
// and inside the block its current pixels point into.
bool RowsFit(const CgImage& image, int64_t x, int64_t y, int64_t width, int64_t height) {
    if (x < 0 || y < 0 || width <= 0 || height <= 0) return false;
    if (x > image.width - width || y > image.height - height) return false;
    const uint64_t end = (uint64_t(y + height - 1) * uint64_t(image.width) + uint64_t(x + width)) * 4;
    return end <= CurrentPixelBytes(image);
}

bool IsMasked(int32_t code) { return code == kJobBlendMask || code == kJobBlendMaskSourceAlpha; }

bool Fits(const BlendRows& b) {
    const WorkerBlendParams& p = b.params;
    if (b.code < kJobBlendFirst || b.code > kJobBlendLast) return false;
    if (p.destination == nullptr || p.source == nullptr) return false;
    if (!RowsFit(*p.destination, p.destination_x, p.destination_y, p.width, b.height)) return false;
    if (!RowsFit(*p.source, p.source_x, p.source_y, p.width, b.height)) return false;
    if (IsMasked(b.code)) {
        if (p.mask == nullptr || p.mask_pixels != p.mask->current_pixels) return false;
        if (!RowsFit(*p.mask, p.source_x, p.source_y, p.width, b.height)) return false;
    }
    return true;
}

const uint8_t* RowAt(const uint8_t* pixels, int32_t image_width, int64_t x, int64_t y) {
    return pixels + (x + y * int64_t{image_width}) * 4;
}

// Rows [first_row, end_row) of one layer's blend.
void BlendRowRange(int32_t code, const WorkerBlendParams& p, int64_t first_row, int64_t end_row) {
    const CgImage& source = *p.source;
    CgImage& destination = *p.destination;
    const BlendKernelTable& table = TheBlendKernelTable();
    const int64_t bytes = p.width * 4;
    for (int64_t r = first_row; r < end_row; ++r) {
        // Read for every row, as the layer's settings could change between
        // rows; only the frame step writes them, never while workers run.
        const int32_t opacity = std::clamp<int32_t>(source.opacity, 0, 256);
        const int entry = BlendKernelEntry(source.blend_mode, opacity);
        uint8_t* d = destination.current_pixels + (p.destination_x + (p.destination_y + r) * destination.width) * 4;
        const uint8_t* s = RowAt(source.current_pixels, source.width, p.source_x, p.source_y + r);
        switch (code) {
        case kJobBlendPlain: table.plain[entry](d, s, opacity, bytes); break;
        case kJobBlendSourceAlpha: table.source_alpha[entry](d, s, opacity, bytes); break;
        case kJobBlendMask:
            table.mask[entry](d, s, RowAt(p.mask_pixels, p.mask->width, p.source_x, p.source_y + r),
                              source.mask_level, source.mask_softness, bytes);
            break;
        case kJobBlendMaskSourceAlpha:
            // The mask weight already holds the opacity: always the even entry.
            table.mask_source_alpha[entry & ~1](d, s, RowAt(p.mask_pixels, p.mask->width, p.source_x, p.source_y + r),
                                                source.mask_level, source.mask_softness, bytes);
            break;
        default: return;
        }
    }
}

// Posts `blends` (all into one target) as one job split by target rows, or
// runs it here when small or when there is only one worker.
void Post(std::span<const BlendRows> blends, int64_t pixels) {
    if (blends.empty()) return;
    WorkerJob job;
    job.code = blends.front().code;
    BlendBatchRecord record;  // read by the workers only while this waits
    if (blends.size() == 1) {
        job.blend = blends.front().params;
        job.first_row = 0;
        job.end_row = blends.front().height;
    } else {
        int64_t top = blends.front().params.destination_y, bottom = top;
        for (const BlendRows& b : blends) {
            top = std::min(top, b.params.destination_y);
            bottom = std::max(bottom, b.params.destination_y + b.height);
        }
        record = {blends, top};
        job.context = &record;
        job.first_row = 0;
        job.end_row = bottom - top;
    }
    const int workers = WorkerCount();
    // 0 (tests) splits every post; otherwise the advisor decides above the
    // floor.
    const bool post = workers > 1 && (BlendInlinePixels == 0 ||
                                      (pixels >= BlendInlinePixels && advisor.ShouldPost(pixels, workers)));
    const auto start = std::chrono::steady_clock::now();
    if (!post) {
        RunBlendJob(job, 0);
        if (pixels >= BlendInlinePixels) advisor.RecordInline(pixels, SecondsSince(start));
        return;
    }
    PostRowBandJobs(job, job.end_row);
    advisor.RecordPosted(pixels, SecondsSince(start));
}

}  // namespace

void RunBlendJob(const WorkerJob& job, int /*worker*/) {
    if (job.context == nullptr) {
        BlendRowRange(job.code, job.blend, job.first_row, job.end_row);
        return;
    }
    const auto& record = *static_cast<const BlendBatchRecord*>(job.context);
    const int64_t band_top = record.first_row + job.first_row;
    const int64_t band_bottom = record.first_row + job.end_row;
    for (const BlendRows& b : record.blends) {
        const int64_t first = std::max(band_top, b.params.destination_y) - b.params.destination_y;
        const int64_t end = std::min(band_bottom, b.params.destination_y + b.height) - b.params.destination_y;
        if (first < end) BlendRowRange(b.code, b.params, first, end);
    }
}

void ResetBlendPostAdvisor() { advisor.Reset(); }

void PostBlendRows(const BlendRows& blend) {
    if (ZK_NEVER(!Fits(blend))) return;  // the compositor cuts every blit to both images
    Post(std::span<const BlendRows>(&blend, 1), blend.params.width * blend.height);
}

void BlendBatch::Add(const BlendRows& blend) {
    if (ZK_NEVER(!Fits(blend))) return;  // as above
    if (!pending_.empty() && pending_.front().params.destination != blend.params.destination) Flush();
    if (IsMasked(blend.code)) {
        Flush();
        PostBlendRows(blend);
        return;
    }
    pending_.push_back(blend);
    pixels_ += blend.params.width * blend.height;
}

void BlendBatch::Flush() {
    Post(pending_, pixels_);
    pending_.clear();
    pixels_ = 0;
}

void RegisterBlendJobs() {
    for (int32_t code = kJobBlendFirst; code <= kJobBlendLast; ++code) RegisterWorkerJob(code, RunBlendJob);
}

}  // namespace zk
