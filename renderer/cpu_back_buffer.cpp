#include "renderer/cpu_back_buffer.h"

#include <new>

#include "core/error_codes.h"
#include "core/error_report.h"
#include "layers/cg_image.h"

namespace zk {

namespace {
CpuBackBuffer cpu_back_buffer;
}  // namespace

CpuBackBuffer& TheCpuBackBuffer() { return cpu_back_buffer; }

bool AllocateCpuBackBuffer(int32_t width, int32_t height) {
    cpu_back_buffer = {};
    if (width > kMaxCgWidth) {
        ReportCgTooWide(width, height);
        return false;
    }
    uint64_t bytes = CgPixelBlockBytes(width, height);
    try {
        if (bytes == 0) throw std::bad_alloc();
        cpu_back_buffer.pixels.assign(bytes, 0);
    } catch (const std::bad_alloc&) {
        cpu_back_buffer.pixels.clear();
        ReportEngineErrorF(kErrFileNoMemory, true, {int64_t{0}});
        return false;
    }
    cpu_back_buffer.width = width;
    cpu_back_buffer.height = height;
    return true;
}

}  // namespace zk
