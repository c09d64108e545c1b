// The one window procedure of every engine window. It records input,
// activation and requests for the script, runs the close behaviours with
// their confirmation box, takes dropped files into the file-name list,
// starts the drag layer's window move, routes the sizing messages to window
// sizing and the paint message to the presentation, and hands the movie,
// tray and gesture notifications to their subsystems.
//
// Threading: the window procedure runs on the main thread. In game-thread
// mode it runs only while the frame step paces (or waits in the inactive
// pause), so what it shares with the frame step is handed over at those
// points; the request values are atomics all the same, since the script
// reads and clears them on its own thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/window_messages.h"

namespace zk {

struct WindowRecord;
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

int64_t EngineWindowProc(platform::WindowHandle window, uint32_t message, uint64_t wparam, int64_t lparam);
int64_t HandleWindowMessage(WindowRecord& record, platform::WindowHandle window, uint32_t message,
                            uint64_t wparam, int64_t lparam);

// ---- The drag layer -------------------------------------------------------------

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
// Whether a left-button press at the record's mouse position lies on a
// pixel of the drag layer that is not black. The layer's rectangle is its
// size at the sum of its own and its named ancestors' positions.
bool PressIsOnDragLayer(const WindowRecord& record);

// ---- Dropped files ----------------------------------------------------------------

// Replaces the file-name list with a drop's names (WM_DROPFILES's wparam),
// under EngineLock: the first 65536 names of the drop, as engine paths
// (CP932, '\' separators, a folder ending in '\'); a name longer than 520
// bytes is skipped, never cut. Returns the number of names taken.
uint32_t TakeDroppedFileNames(uint64_t drop);

void ClearWheelState();
// Back to the start-of-process state (tests): requests, box flags, the
// caption-drag pause switch and the drag layer.
void ResetWindowRequests();

}  // namespace zk
