#include "core/window_record.h"

#include <algorithm>

#include "core/engine_hooks.h"
#include "core/error_report.h"
#include "core/window_requests.h"
#include "base/system_text.h"
#include "platform/window_system.h"

namespace zk {

std::array<int32_t, kWindowCount> WindowState = {-1, -1, -1, -1};

namespace {
std::array<std::unique_ptr<WindowRecord>, kWindowCount> window_records;
WindowCreationSettings window_creation_settings;
platform::WindowHandle menu_strip_window = platform::kNoWindow;

// The strip's procedure: a menu choice (WM_COMMAND) becomes the pending
// menu command; the close command is swallowed.
int64_t HandleMenuStripMessage(platform::WindowHandle window, uint32_t message, uint64_t wparam, int64_t lparam) {
    if (message == platform::WM_COMMAND) {
        TheWindowRequests().menu_command = static_cast<int64_t>(wparam & 0xFFFF);
    } else if (message == platform::WM_SYSCOMMAND && (wparam & 0xFFF0) == platform::SC_CLOSE) {
        return 0;  // the strip never closes
    }
    return platform::GetWindowSystem().DefWindowProc(window, message, wparam, lparam);
}
}  // namespace

WindowCreationSettings& TheWindowCreationSettings() { return window_creation_settings; }

WindowRecord* GetWindowRecord(int number) {
    if (number < 0 || number >= kWindowCount) return nullptr;
    return window_records[number].get();
}

WindowRecord* MainWindowRecord() { return window_records[0].get(); }

int CreateWindowRecords() {
    for (int i = 0; i < kWindowCount; ++i) {
        WindowState[i] = -1;
        window_records[i] = std::make_unique<WindowRecord>();
        InitWindowRecord(*window_records[i], i);
    }
    return 0;
}

void DestroyMenuStripWindow() {
    if (menu_strip_window != platform::kNoWindow && platform::HasWindowSystem())
        platform::GetWindowSystem().DestroyWindow(menu_strip_window);
    menu_strip_window = platform::kNoWindow;
}

platform::WindowHandle MenuStripWindow() { return menu_strip_window; }

void DestroyWindowRecords() {
    for (auto& record : window_records) record.reset();
    WindowState = {-1, -1, -1, -1};
    menu_strip_window = platform::kNoWindow;
}

void InitWindowRecord(WindowRecord& record, int32_t number) {
    record.number = number;
    record.idle = 0;
    record.idle_time = 0;
    record.shown = 0;
    record.alpha = 0;
    record.active = 0;
    record.shown_layer_set = nullptr;
    record.canvas.reset();
    record.menu_set_name.clear();
    record.drawn = 0;
    record.class_registered = 0;
    if (Hooks().clear_pointer_messages != nullptr) Hooks().clear_pointer_messages();
}

void InitDibHeader(WindowRecord& record) {
    record.dib = DibHeader{};
    record.dib.width = record.client_width;
    record.dib.height = record.client_height;
}

int SetupWindowRecord(WindowRecord& record, std::string_view title) {
    record.view_rect = {0, 0, record.client_width, record.client_height};
    InitDibHeader(record);
    record.title.assign(title.substr(0, kWindowTitleMax));
    if (record.number > 0) record.shown = 1;
    record.alpha = 256;
    record.close_behaviour = 1;
    record.minimize_allowed = 1;
    record.maximize_allowed = record.number == 0 ? 1 : 0;
    record.input_enabled = {1, 1, 1};
    return 0;
}

int CreateMenuStripWindow() {
    auto& windows = platform::GetWindowSystem();
    WindowRecord* main_record = MainWindowRecord();
    if (!windows.RegisterClass("zkMncl", HandleMenuStripMessage)) return 0;
    platform::WindowCreateParams params;
    params.class_name = "zkMncl";
    params.title = "zkMncl";
    params.style = platform::WS_POPUP;
    params.width = main_record != nullptr ? main_record->client_width : 0;
    params.height = 20;  // the strip is one menu bar high
    menu_strip_window = windows.CreateWindow(params);
    return menu_strip_window != platform::kNoWindow ? 1 : 0;
}

}  // namespace zk
