// What the window procedure leaves for the rest of the engine: the requests
// the script reads as system variables, the modal-box bytes, the close
// behaviours and the drag layer. The procedure itself lives with start-up
// (engine/window_proc.h); this is the state every folder may look at.
//
// Threading: the procedure writes these on the main thread while the
// script reads and clears them on its own, so every value is atomic.
#pragma once

#include <atomic>
#include <cstdint>

namespace zk {

struct NamedTreeNode;

// What the window procedure saw, for the script (system variables read
// these and clear them by assignment).
struct WindowRequests {
    std::atomic<int32_t> last_key_code{0};      // wparam of the last WM_KEYDOWN
    std::atomic<int32_t> last_mouse_button{0};  // 1 left, 2 right, 4 middle
    std::atomic<int64_t> menu_command{0};       // last WM_COMMAND, or 30001
    std::atomic<uint8_t> maximize_request{0};   // window number + 1
    std::atomic<uint8_t> minimize_request{0};   // window number + 1
    std::atomic<uint8_t> caption_double_click_request{0};  // window number + 1
    std::atomic<uint8_t> close_request{0};      // 1: the close button of a window that leaves it to the script
};
WindowRequests& TheWindowRequests();

// Set while the exit confirmation box is open: the frame step idles. The
// second byte tells other subsystems that a modal box is open.
extern std::atomic<uint8_t> ExitBoxOpen;
extern std::atomic<uint8_t> ModalBoxOpen;

// The system command's switch that keeps the script timers still while a
// window is moved by its caption (or the drag layer).
extern std::atomic<uint8_t> CaptionDragPause;

// A window's close behaviour (WindowRecord::close_behaviour).
enum CloseBehaviour : uint8_t {
    kCloseAsksScript = 0,  // the close button only sets the close request
    kCloseAsksUser = 1,    // a confirmation box; "Yes" ends the engine
    kCloseEndsEngine = 2,  // closes and ends the engine without asking
    kCloseWindowOnly = 3,  // closes the window; the engine runs on (sub windows)
};

// The system-menu item "ウィンドウサイズ初期化" of the main window.
inline constexpr uint64_t kResetWindowSizeCommand = 30001;
// The identifier of the engine's tray icon.
inline constexpr uint64_t kTrayIconId = 123;

// A press of the left button on a visible (non-black) pixel of this layer
// moves the window, as a press on a caption does. The layer is set by the
// window command; the engine keeps only its node and reads the node's
// current image at every press, so a layer whose picture is replaced is
// followed, and a layer that is freed is forgotten (ForgetDragLayer).
struct DragLayer {
    std::atomic<uint8_t> on{0};
    std::atomic<NamedTreeNode*> node{nullptr};
};
DragLayer& TheDragLayer();
// Turns the drag layer on with `node` (a layer node), or off for null.
void SetDragLayer(NamedTreeNode* node);
// A layer node is about to be freed: when it is the drag layer, the drag
// layer is turned off. Every path that frees layer nodes calls this.
void ForgetDragLayer(const NamedTreeNode* node);
// Clears the requests, the modal-box bytes, the caption pause and the drag
// layer (start of a run, and tests).
void ClearWindowRequests();

}  // namespace zk
