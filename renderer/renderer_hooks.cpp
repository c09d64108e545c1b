#include "renderer/renderer_hooks.h"

#include "core/engine_hooks.h"
#include "core/engine_state.h"
#include "core/window_record.h"
#include "renderer/cpu_presentation.h"
#include "renderer/cpu_scalers.h"
#include "renderer/gpu_device.h"

namespace zk {

// Plugs the presentation into the frame step and the window procedure.
void RegisterRendererHooks() {
    EngineHooks& hooks = Hooks();
    hooks.present_whole_window = [](WindowRecord& record) {
        PresentWholeWindow(record);
        return 0;
    };
    hooks.request_window_paint = [](int window_number) {
        WindowRecord* record = GetWindowRecord(window_number);
        return record != nullptr ? RequestWindowPaint(*record) : static_cast<int>(QuitFlag.load());
    };
    RegisterScalerJobs();
    RegisterGpuDeviceHooks();
}

}  // namespace zk
