// The --input file format over arbitrary text: parsing never reads out of
// bounds, and every event it accepts can be played on the headless window
// system (state and messages) without harm.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/headless_window_system.h"
#include "platform/input_script.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string error;
    auto events = zk::platform::ParseInputScript(std::string_view(reinterpret_cast<const char*>(data), size), error);
    if (!events) return 0;
    static zk::platform::HeadlessWindowSystem windows;
    static const zk::platform::WindowHandle window = [] {
        windows.RegisterClass("fuzz", [](zk::platform::WindowHandle, uint32_t, uint64_t, int64_t) -> int64_t { return 0; });
        zk::platform::WindowCreateParams params;
        params.class_name = "fuzz";
        params.width = 64;
        params.height = 48;
        return windows.CreateWindow(params);
    }();
    (void)window;
    for (const zk::platform::InputEvent& event : *events) windows.InjectInput(event);
    zk::platform::Message message;
    while (windows.PeekMessage(message, true)) {
        if (message.message == zk::platform::WM_DROPFILES) windows.TakeDroppedFiles(message.wparam);
    }
    return 0;
}
