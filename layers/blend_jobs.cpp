#include "layers/blend_jobs.h"

#include <algorithm>

#include "layers/blend_kernels.h"
#include "layers/cg_image.h"
#include "layers/compositor.h"

namespace zk {

int64_t BlendInlinePixels = kDefaultBlendInlinePixels;

namespace {

// The rows [y, y + height) and columns [x, x + width) lie inside the image
// and inside the block its current pixels point into.
bool RowsFit(const CgImage& image, int64_t x, int64_t y, int64_t width, int64_t height) {
    if (x < 0 || y < 0 || width <= 0 || height <= 0) return false;
    if (x > image.width - width || y > image.height - height) return false;
    const uint64_t end = (uint64_t(y + height - 1) * uint64_t(image.width) + uint64_t(x + width)) * 4;
    return end <= CurrentPixelBytes(image);
}

bool IsMasked(int32_t code) { return code == kJobBlendMask || code == kJobBlendMaskSourceAlpha; }

bool JobFits(int32_t code, const WorkerBlendParams& p, int64_t height) {
    if (code < kJobBlendFirst || code > kJobBlendLast) return false;
    if (p.destination == nullptr || p.source == nullptr) return false;
    if (!RowsFit(*p.destination, p.destination_x, p.destination_y, p.width, height)) return false;
    if (!RowsFit(*p.source, p.source_x, p.source_y, p.width, height)) return false;
    if (IsMasked(code)) {
        if (p.mask == nullptr || p.mask_pixels != p.mask->current_pixels) return false;
        if (!RowsFit(*p.mask, p.source_x, p.source_y, p.width, height)) return false;
    }
    return true;
}

const uint8_t* RowAt(const uint8_t* pixels, int32_t image_width, int64_t x, int64_t y) {
    return pixels + (x + y * int64_t{image_width}) * 4;
}

}  // namespace

void RunBlendJob(const WorkerJob& job, int /*worker*/) {
    const WorkerBlendParams& p = job.blend;
    const CgImage& source = *p.source;
    CgImage& destination = *p.destination;
    const BlendKernelTable& table = TheBlendKernelTable();
    const int64_t bytes = p.width * 4;
    for (int64_t r = job.first_row; r < job.end_row; ++r) {
        // Read for every row, as the layer's settings could change between
        // rows; only the frame step writes them, never while workers run.
        const int32_t opacity = std::clamp<int32_t>(source.opacity, 0, 256);
        const int entry = BlendKernelEntry(source.blend_mode, opacity);
        uint8_t* d = destination.current_pixels + (p.destination_x + (p.destination_y + r) * destination.width) * 4;
        const uint8_t* s = RowAt(source.current_pixels, source.width, p.source_x, p.source_y + r);
        switch (job.code) {
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

void PostBlendRows(int32_t code, const WorkerBlendParams& params, int64_t height) {
    if (!JobFits(code, params, height)) return;  // NEVER: the compositor cuts every blit to both images
    WorkerJob job;
    job.code = code;
    job.blend = params;
    if (params.width * height < BlendInlinePixels || WorkerCount() <= 1) {
        job.first_row = 0;
        job.end_row = height;
        RunWorkerJob(job, 0);
        return;
    }
    PostRowBandJobs(job, height);
}

void RegisterBlendJobs() {
    for (int32_t code = kJobBlendFirst; code <= kJobBlendLast; ++code) RegisterWorkerJob(code, RunBlendJob);
}

}  // namespace zk
