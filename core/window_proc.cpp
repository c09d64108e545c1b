#include "core/window_proc.h"

#include "core/engine_hooks.h"
#include "core/engine_state.h"
#include "core/input.h"
#include "base/system_text.h"
#include "core/window_record.h"
#include "platform/ui.h"
#include "platform/window_system.h"

namespace zk {

std::atomic<uint8_t> ExitBoxOpen{0};
std::atomic<uint8_t> ModalBoxOpen{0};

namespace {
WindowRequests window_requests;

int64_t Default(platform::WindowHandle window, uint32_t message, uint64_t wparam, int64_t lparam) {
    return platform::GetWindowSystem().DefWindowProc(window, message, wparam, lparam);
}

void PresentWholeWindow(WindowRecord& record) {
    if (Hooks().present_whole_window != nullptr) Hooks().present_whole_window(record);
}

void OnDestroyWindow(WindowRecord& record) {
    // Window 0 also removes the tray icon and the window region; both come
    // with the system services and the window command.
    if (record.close_behaviour != 3) {
        if (Hooks().destroy_menus != nullptr) Hooks().destroy_menus();
        platform::GetWindowSystem().PostQuitMessage(0);
    }
}

void OnCloseWindow(WindowRecord& record, platform::WindowHandle window) {
    WindowState[record.number] = -1;
    platform::GetWindowSystem().DestroyWindow(window);
    if (record.window == window) record.window = platform::kNoWindow;
}

// Returns true when the default handling is to follow.
bool OnSysCommand(WindowRecord& record, uint64_t wparam) {
    switch (wparam & 0xFFF0) {
        case platform::SC_MINIMIZE:
            window_requests.minimize_request = static_cast<uint8_t>(record.number + 1);
            return record.minimize_allowed != 0;
        case platform::SC_CLOSE: {
            if (record.close_behaviour == 0) {
                window_requests.close_request = 1;
                return false;
            }
            if (record.close_behaviour == 1) {
                ExitBoxOpen = 1;
                ModalBoxOpen = 1;
                WindowRecord* main_record = MainWindowRecord();
                std::string caption = main_record != nullptr ? main_record->title : std::string();
                int answer = platform::GetUi().MessageBox(record.window, Sjis("終了します。よろしいですか？"),
                                                          caption.c_str(),
                                                          platform::MB_YESNO | platform::MB_ICONINFORMATION);
                ExitBoxOpen = 0;
                ModalBoxOpen = 0;
                if (answer == platform::IDNO) return false;
            }
            if (record.close_behaviour != 3) QuitFlag = 1;
            return true;
        }
        case platform::SC_MAXIMIZE:
            window_requests.maximize_request = static_cast<uint8_t>(record.number + 1);
            return record.maximize_allowed != 0;
        default:
            return true;
    }
}
}  // namespace

WindowRequests& TheWindowRequests() { return window_requests; }

void ClearWheelState() { ClearPointerMessages(); }

void ResetWindowRequests() {
    window_requests = {};
    ExitBoxOpen = 0;
    ModalBoxOpen = 0;
    ClearWheelState();
}

int64_t EngineWindowProc(platform::WindowHandle window, uint32_t message, uint64_t wparam, int64_t lparam) {
    auto* record = static_cast<WindowRecord*>(platform::GetWindowSystem().GetUserData(window));
    if (record == nullptr) return Default(window, message, wparam, lparam);
    InWindowProcScope scope;
    return HandleWindowMessage(*record, window, message, wparam, lparam);
}

int64_t HandleWindowMessage(WindowRecord& record, platform::WindowHandle window, uint32_t message,
                            uint64_t wparam, int64_t lparam) {
    using namespace platform;
    switch (message) {
        case WM_DESTROY:
            OnDestroyWindow(record);
            break;
        case WM_ACTIVATE:
            record.active = (wparam & 0xFFFF) != 0 ? 1 : 0;
            PresentWholeWindow(record);
            break;
        case WM_PAINT:
            PresentWholeWindow(record);
            break;
        case WM_CLOSE:
            OnCloseWindow(record, window);
            return 0;
        case WM_ACTIVATEAPP:
            PresentWholeWindow(record);
            return 0;
        case WM_KEYDOWN:
            window_requests.last_key_code = static_cast<int32_t>(wparam);
            break;
        case WM_SYSKEYDOWN:
            // Alt and F10 never open the system menu.
            if (wparam == 0x79 /* VK_F10 */ || wparam == 0x12 /* VK_MENU */) return 0;
            break;
        case WM_COMMAND:
            window_requests.menu_command = static_cast<int64_t>(wparam & 0xFFFF);
            break;
        case WM_SYSCOMMAND:
            if ((wparam & 0xFFFF) == 30001) {  // "ウィンドウサイズ初期化"
                window_requests.menu_command = 30001;
                return 0;
            }
            if (!OnSysCommand(record, wparam)) return 0;
            break;
        case WM_MOUSEMOVE:
            ThePointerMessages().mouse_moved = kInputDown;
            return 0;
        case WM_LBUTTONDOWN:
            window_requests.last_mouse_button = 1;
            NoteButtonPressed(kLeftButtonInput);
            return 0;
        case WM_RBUTTONDOWN:
            window_requests.last_mouse_button = 2;
            NoteButtonPressed(kRightButtonInput);
            return 0;
        case WM_MBUTTONDOWN:
            window_requests.last_mouse_button = 4;
            NoteButtonPressed(kMiddleButtonInput);
            return 0;
        case WM_MOUSEWHEEL:
            ThePointerMessages().wheel_delta = static_cast<int16_t>((wparam >> 16) & 0xFFFF);
            return 0;
        default:
            break;
    }
    return Default(window, message, wparam, lparam);
}

}  // namespace zk
