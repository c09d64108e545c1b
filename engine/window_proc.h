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

#include "core/window_requests.h"
#include "platform/window_messages.h"

namespace zk {

struct WindowRecord;
struct NamedTreeNode;

int64_t EngineWindowProc(platform::WindowHandle window, uint32_t message, uint64_t wparam, int64_t lparam);
int64_t HandleWindowMessage(WindowRecord& record, platform::WindowHandle window, uint32_t message,
                            uint64_t wparam, int64_t lparam);

// ---- The drag layer -------------------------------------------------------------

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
