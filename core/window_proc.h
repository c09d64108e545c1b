// The one window procedure of every engine window. It records requests for
// the script, runs the close behaviours with their confirmation box, and
// hands painting to the presentation.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/window_messages.h"

namespace zk {

struct WindowRecord;

// What the window procedure saw, for the script (system variables read
// these and clear them by assignment).
struct WindowRequests {
    int32_t last_key_code = 0;
    int32_t last_mouse_button = 0;  // 1 left, 2 right, 4 middle
    int64_t menu_command = 0;
    uint8_t maximize_request = 0;  // window number + 1
    uint8_t minimize_request = 0;
    uint8_t caption_double_click_request = 0;
    uint8_t close_request = 0;
};
WindowRequests& TheWindowRequests();

// Set while the exit confirmation box is open: the frame step idles.
extern std::atomic<uint8_t> ExitBoxOpen;
extern std::atomic<uint8_t> ModalBoxOpen;

int64_t EngineWindowProc(platform::WindowHandle window, uint32_t message, uint64_t wparam, int64_t lparam);
int64_t HandleWindowMessage(WindowRecord& record, platform::WindowHandle window, uint32_t message,
                            uint64_t wparam, int64_t lparam);

void ClearWheelState();
void ResetWindowRequests();

}  // namespace zk
