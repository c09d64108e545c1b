#include "engine/window_proc.h"

#include <mutex>
#include <string>
#include <vector>

#include "base/system_text.h"
#include "core/engine_hooks.h"
#include "core/engine_state.h"
#include "engine/input.h"
#include "engine/menu_strip.h"
#include "engine/script_edit_input.h"
#include "core/named_tree.h"
#include "core/settings.h"
#include "core/window_record.h"
#include "layers/cg_image.h"
#include "layers/dirty_rect.h"
#include "platform/game_path.h"
#include "platform/ui.h"
#include "platform/window_system.h"
#include "renderer/cpu_presentation.h"
#include "renderer/display_state.h"
#include "script/pause_clock.h"
#include "system/file_name_list.h"
#include "base/never.h"

namespace zk {

namespace {


platform::WindowSystem& Windows() { return platform::GetWindowSystem(); }

int64_t Default(platform::WindowHandle window, uint32_t message, uint64_t wparam, int64_t lparam) {
    return Windows().DefWindowProc(window, message, wparam, lparam);
}

// The presentation answers through its hook (none in builds without it).
void Repaint(WindowRecord& record) {
    if (Hooks().present_whole_window != nullptr) Hooks().present_whole_window(record);
    if (Hooks().window_painted != nullptr) Hooks().window_painted(record);
}

uint8_t WindowNumberPlusOne(const WindowRecord& record) { return static_cast<uint8_t>(record.number + 1); }

// Closing a window ends the engine unless the window closes by itself. The
// main window always ends it: the engine cannot make it again, so a process
// left running without it could never be stopped by the player.
bool ClosingEndsEngine(const WindowRecord& record, uint8_t behaviour) {
    return behaviour != kCloseWindowOnly || record.number == 0;
}

void OnActivate(WindowRecord& record, uint64_t wparam) {
    record.active = (wparam & 0xFFFF) != 0 ? 1 : 0;
    Repaint(record);
}

void OnDestroyWindow(WindowRecord& record) {
    if (record.number == 0) {
        if (Hooks().remove_tray_icon != nullptr) Hooks().remove_tray_icon();
        if (Hooks().delete_window_region != nullptr) Hooks().delete_window_region();
    }
    // A window that is gone has no focus, whatever the host reports after.
    record.active = 0;
    if (ClosingEndsEngine(record, record.close_behaviour.load())) {
        if (Hooks().destroy_menus != nullptr) Hooks().destroy_menus();
        Windows().PostQuitMessage(0);
    }
}

void OnCloseWindow(WindowRecord& record, platform::WindowHandle window) {
    if (record.number >= 0 && record.number < kWindowCount) WindowState[static_cast<size_t>(record.number)] = -1;
    Windows().DestroyWindow(window);
    if (record.window == window) record.window = platform::kNoWindow;
}

// The close button (or the system menu's close). True when the default
// handling (WM_CLOSE) is to follow.
bool OnCloseCommand(WindowRecord& record) {
    // Read once: a quit request from the game-loop thread may change it
    // meanwhile, and then posts its own WM_CLOSE.
    const uint8_t behaviour = record.close_behaviour.load();
    if (behaviour == kCloseAsksScript) {
        TheWindowRequests().close_request = 1;
        return false;
    }
    if (behaviour == kCloseAsksUser) {
        ExitBoxOpen = 1;
        ModalBoxOpen = 1;
        // The box blocks this thread, and the frame step idles meanwhile,
        // so a hidden cursor is shown here rather than by the next frame.
        RequestCursorShow();
        ApplyCursorRequest();
        const WindowRecord* main_record = MainWindowRecord();
        const std::string caption = main_record != nullptr ? main_record->title : std::string();
        const int answer = platform::GetUi().MessageBox(record.window, Sjis("終了します。よろしいですか？"),
                                                        caption.c_str(),
                                                        platform::MB_YESNO | platform::MB_ICONINFORMATION);
        ExitBoxOpen = 0;
        ModalBoxOpen = 0;
        if (answer == platform::IDNO) return false;
    }
    if (ClosingEndsEngine(record, behaviour)) QuitFlag = 1;
    return true;
}

// True when the default handling is to follow.
bool OnSysCommand(WindowRecord& record, platform::WindowHandle window, uint64_t wparam) {
    if ((wparam & 0xFFFF) == kResetWindowSizeCommand) {
        if (Hooks().request_direct3d_reset != nullptr) Hooks().request_direct3d_reset();
        TheWindowRequests().menu_command = static_cast<int64_t>(kResetWindowSizeCommand);
        return false;
    }
    switch (static_cast<uint32_t>(wparam & 0xFFF0)) {
        case platform::SC_MINIMIZE:
            TheWindowRequests().minimize_request = WindowNumberPlusOne(record);
            return record.minimize_allowed != 0;
        case platform::SC_SCREENSAVE: {
            const bool suppressed = Hooks().screen_saver_suppressed != nullptr && Hooks().screen_saver_suppressed();
            const bool saver_build = Hooks().screen_saver_build != nullptr && Hooks().screen_saver_build();
            return !(suppressed && !saver_build);
        }
        case platform::SC_CLOSE:
            return OnCloseCommand(record);
        case platform::SC_MAXIMIZE:
            TheWindowRequests().maximize_request = WindowNumberPlusOne(record);
            if (record.maximize_allowed == 0) return false;
            if (Hooks().on_maximize_command != nullptr) Hooks().on_maximize_command(record);
            return true;
        case platform::SC_RESTORE:
            if (record.number == 0 && !Windows().IsMinimized(window) && TheDisplayState().fullscreen == 0 &&
                Hooks().on_restore_command != nullptr) {
                Hooks().on_restore_command(record);
            }
            return true;
        default:
            return true;
    }
}

void OnLeftButton(WindowRecord& record, int64_t lparam) {
    TheWindowRequests().last_mouse_button = 1;
    NoteButtonPressed(kLeftButtonInput);
    // The move itself starts with the next frame's input step, which
    // posts the caption press.
    if (PressIsOnDragLayer(record)) RequestCaptionDrag(record.number, lparam);
}

// A window moved by its caption (or the drag layer) stops the script
// timers while the system command's switch asks for it.
void OnCaptionPress() {
    if (CaptionDragPause.load() != 0) BeginInactivePause();
}
void OnCaptionRelease() {
    if (CaptionDragPause.load() != 0) EndInactivePause();
}

// True when handled (no maximize by the double click).
bool OnCaptionDoubleClick(WindowRecord& record, platform::WindowHandle window) {
    if (Settings().caption_click == 0) return false;
    if (!Windows().IsMaximized(window)) TheWindowRequests().caption_double_click_request = WindowNumberPlusOne(record);
    return true;
}

// A tap the touch library recognises counts as a left-button press.
void OnGesture(WindowRecord& record, uint64_t wparam, int64_t lparam) {
    if (Hooks().decode_gesture == nullptr || !Hooks().decode_gesture(wparam, lparam)) return;
    OnLeftButton(record, lparam);
    platform::GetUi().MessageBox(platform::kNoWindow, "Gesture.", nullptr, platform::MB_OK);
}

void BringToFront(const WindowRecord& record) {
    if (record.window != platform::kNoWindow) Windows().SetForegroundWindow(record.window);
}

// True when the notification is the engine's (the main window's tray icon).
bool OnTrayNotify(WindowRecord& record, uint64_t wparam, int64_t lparam) {
    if (record.number != 0 || wparam != kTrayIconId) return false;
    switch (static_cast<uint32_t>(lparam)) {
        case platform::WM_LBUTTONDOWN:
            BringToFront(record);
            Repaint(record);
            break;
        case platform::WM_LBUTTONDBLCLK:
        case platform::WM_RBUTTONDOWN: {
            BringToFront(record);
            if (CgImage* image = LayerImage(record.shown_layer_set)) image->whole_dirty = 1;
            platform::Point cursor;
            if (record.window != platform::kNoWindow) Windows().GetCursorClientPos(record.window, cursor);
            if (Hooks().request_popup_menu != nullptr) {
                Hooks().request_popup_menu(2, cursor.x - TheLetterboxOffset().x, cursor.y - TheLetterboxOffset().y);
            }
            break;
        }
        default:
            break;
    }
    return true;
}

// Windowed and not maximized: nothing is erased (the picture covers the
// client area); otherwise the black background is painted.
bool SkipEraseBackground() { return TheDisplayState().fullscreen == 0 && TheDisplayState().maximized == 0; }

}  // namespace

// ---- The drag layer -------------------------------------------------------------------

bool PressIsOnDragLayer(const WindowRecord& record) {
    const DragLayer& drag_layer = TheDragLayer();
    const NamedTreeNode* node = drag_layer.node.load();
    if (drag_layer.on.load() == 0 || node == nullptr) return false;
    const CgImage* image = LayerImage(node);
    if (image == nullptr || image->current_pixels == nullptr) return false;
    const int64_t width = image->width;
    const int64_t height = image->height;
    // A record's size stays within its pixel block.
    if (ZK_NEVER(width <= 0 || height <= 0 || width > image->allocated_width || height > image->allocated_height)) return false;
    int64_t left = 0;
    int64_t top = 0;
    for (const NamedTreeNode* n = node; n != nullptr && n->parent != nullptr; n = n->parent) {
        const CgImage* placed = LayerImage(n);
        if (placed == nullptr || n->name.empty()) continue;
        left += static_cast<int32_t>(placed->x);
        top += static_cast<int32_t>(placed->y);
    }
    const int64_t x = int64_t{record.mouse_x} - left;
    const int64_t y = int64_t{record.mouse_y} - top;
    if (x < 0 || y < 0 || x >= width || y >= height) return false;
    const uint8_t* pixel = image->current_pixels + static_cast<size_t>((y * width + x) * 4);
    return pixel[0] + pixel[1] * 256 + pixel[2] * 65536 > 0;  // B, G, R: anything but black
}

// ---- Dropped files ----------------------------------------------------------------------

uint32_t TakeDroppedFileNames(uint64_t drop) {
    std::vector<std::string> host = Windows().TakeDroppedFiles(drop);
    if (host.size() > kMaxDroppedFileNames) host.resize(kMaxDroppedFileNames);
    std::vector<std::string> names;
    names.reserve(host.size());
    // Converted (and each folder recognised) before the lock is taken: the
    // script thread waits for nothing but the replacement itself.
    for (const std::string& path : host) names.push_back(platform::HostPathToEnginePath(path));
    std::lock_guard lock(EngineLock);
    return ReplaceFileNameList(names, kMaxDroppedFileNames);
}

// ---- The procedure ------------------------------------------------------------------------

void ClearWheelState() { ClearPointerMessages(); }

void ResetWindowRequests() {
    ClearWindowRequests();
    ClearWheelState();
}

int64_t EngineWindowProc(platform::WindowHandle window, uint32_t message, uint64_t wparam, int64_t lparam) {
    auto* record = static_cast<WindowRecord*>(Windows().GetUserData(window));
    // During creation the record is not attached yet.
    if (record == nullptr) return Default(window, message, wparam, lparam);
    InWindowProcScope scope;
    return HandleWindowMessage(*record, window, message, wparam, lparam);
}

int64_t HandleWindowMessage(WindowRecord& record, platform::WindowHandle window, uint32_t message,
                            uint64_t wparam, int64_t lparam) {
    using namespace platform;
    const EngineHooks& hooks = Hooks();
    HandleScriptEditMessage(record.number, message, wparam);
    switch (message) {
        case WM_DESTROY:
            OnDestroyWindow(record);
            break;
        case WM_MOVE:
            if (hooks.on_window_move != nullptr) hooks.on_window_move(record, lparam);
            break;
        case WM_SIZE:
            if (hooks.on_window_size != nullptr) hooks.on_window_size(record, wparam, lparam);
            break;
        case WM_ACTIVATE:
            OnActivate(record, wparam);
            break;
        case WM_PAINT:
            Repaint(record);
            break;
        case WM_CLOSE:
            OnCloseWindow(record, window);
            return 0;
        case WM_ERASEBKGND:
            if (SkipEraseBackground()) return 0;
            break;
        case WM_ACTIVATEAPP:
            Repaint(record);
            return 0;
        case WM_GETMINMAXINFO:
            if (hooks.on_get_min_max_info != nullptr) hooks.on_get_min_max_info(record, lparam);
            break;
        case WM_WINDOWPOSCHANGED:
            if (hooks.on_window_pos_changed != nullptr) hooks.on_window_pos_changed(record, lparam);
            break;
        case WM_NCLBUTTONDOWN:
            if (wparam == HTMENU) {
                OnMenuStripPress(record, lparam);
                return 0;
            }
            if (wparam == HTCAPTION) OnCaptionPress();
            break;
        case WM_NCLBUTTONUP:
        case WM_LBUTTONUP:
        case WM_EXITSIZEMOVE:
            OnCaptionRelease();
            break;
        case WM_NCLBUTTONDBLCLK:
            if (OnCaptionDoubleClick(record, window)) return 0;
            break;
        case WM_KEYDOWN:
            TheWindowRequests().last_key_code = static_cast<int32_t>(wparam);
            break;
        case WM_SYSKEYDOWN:
            // Alt and F10 never open the system menu.
            if (wparam == VK_F10 || wparam == VK_MENU) return 0;
            break;
        case WM_COMMAND:
            TheWindowRequests().menu_command = static_cast<int64_t>(wparam & 0xFFFF);
            break;
        case WM_SYSCOMMAND:
            if (!OnSysCommand(record, window, wparam)) return 0;
            break;
        case WM_GESTURE:
            OnGesture(record, wparam, lparam);
            break;
        case WM_MOUSEMOVE:
            ThePointerMessages().mouse_moved = kInputDown;
            return 0;
        case WM_LBUTTONDOWN:
            OnLeftButton(record, lparam);
            return 0;
        case WM_RBUTTONDOWN:
            TheWindowRequests().last_mouse_button = 2;
            NoteButtonPressed(kRightButtonInput);
            return 0;
        case WM_MBUTTONDOWN:
            TheWindowRequests().last_mouse_button = 4;
            NoteButtonPressed(kMiddleButtonInput);
            return 0;
        case WM_MOUSEWHEEL:
            ThePointerMessages().wheel_delta = static_cast<int16_t>((wparam >> 16) & 0xFFFF);
            return 0;
        case WM_SIZING:
            if (hooks.on_window_sizing != nullptr) hooks.on_window_sizing(record, wparam, lparam);
            break;
        case WM_DROPFILES:
            TakeDroppedFileNames(wparam);
            break;
        case WM_TRAY_NOTIFY:
            if (OnTrayNotify(record, wparam, lparam)) return 0;
            break;
        case WM_MOVIE_NOTIFY:
            if (hooks.window_movie_notify != nullptr) hooks.window_movie_notify();
            break;
        default:
            break;
    }
    return Default(window, message, wparam, lparam);
}

}  // namespace zk
