#include "core/window_record.h"

#include <algorithm>

#include "core/engine_hooks.h"
#include "core/error_report.h"
#include "base/system_text.h"
#include "core/window_proc.h"
#include "platform/window_system.h"

namespace zk {

std::array<int32_t, kWindowCount> WindowState = {-1, -1, -1, -1};

namespace {
std::array<std::unique_ptr<WindowRecord>, kWindowCount> window_records;
WindowCreationSettings window_creation_settings;
platform::WindowHandle menu_strip_window = platform::kNoWindow;

constexpr uint32_t kCaptionedStyle = platform::WS_CAPTION | platform::WS_SYSMENU | platform::WS_MINIMIZEBOX |
                                     platform::WS_MAXIMIZEBOX | platform::WS_CLIPCHILDREN;  // 0x02CB0000
constexpr uint32_t kPopupStyle = platform::WS_POPUP | platform::WS_CLIPCHILDREN;       // 0x82000000

int64_t MenuStripWindowProc(platform::WindowHandle window, uint32_t message, uint64_t wparam, int64_t lparam) {
    // The strip draws the menu bar in fullscreen; until menus exist it only
    // takes the default handling.
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
    ClearWheelState();
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

int CreateEngineWindow(WindowRecord& record, int /*show_command*/, std::string_view class_name,
                       std::string_view title) {
    auto& windows = platform::GetWindowSystem();
    const WindowCreationSettings& settings = window_creation_settings;
    if (record.class_registered == 0) {
        record.class_registered = 1;
        if (!windows.RegisterClass(class_name, EngineWindowProc)) return 0;
    }

    uint32_t style = kCaptionedStyle;
    if (record.number == 0) {
        if (settings.resizable) style |= platform::WS_THICKFRAME;
        if (settings.window_mode == 0) style = kPopupStyle;
    }
    uint32_t ex_style = 0;
    if (settings.window_mode == 1) {
        if (settings.screen_saver) ex_style = platform::WS_EX_TOPMOST;
    } else if (record.number == 0) {
        ex_style = platform::WS_EX_TOOLWINDOW;
    }

    int32_t client_width = record.client_width;
    int32_t client_height = record.client_height;
    int32_t left = 0, top = 0;
    if (record.number == 0 || settings.window_mode == 0) {
        platform::Rect work = windows.GetWorkArea();
        client_width = std::min(client_width, work.Width());
        client_height = std::min(client_height, work.Height());
        left = work.left + work.Width() / 2 - client_width / 2;
        top = work.top + work.Height() / 2 - client_height / 2;
    }
    platform::Rect outer =
        windows.AdjustWindowRect({left, top, left + client_width, top + client_height}, style, ex_style);

    platform::WindowCreateParams params;
    params.class_name = std::string(class_name);
    params.title = std::string(title);
    params.style = style;
    params.ex_style = ex_style;
    params.x = std::max(outer.left, 0);
    params.y = std::max(outer.top, 0);
    params.width = outer.Width();
    params.height = outer.Height();
    record.window = windows.CreateWindow(params);
    if (record.window == platform::kNoWindow) return 0;
    windows.SetUserData(record.window, &record);
    // Its place in the stacking order needs no call: a new window starts on
    // top of the others, and stays above them only when its extended style
    // (WS_EX_TOPMOST, given at creation) says so.
    if (Hooks().accept_dropped_files != nullptr) Hooks().accept_dropped_files(record);
    if (Hooks().set_arrow_cursor != nullptr) Hooks().set_arrow_cursor(record);

    if (CreateCanvas(record.number, record.client_width, record.client_height) != 0) return 0;
    return 1;
}

int CreateCanvas(int window_number, int32_t width, int32_t height) {
    WindowRecord* record = GetWindowRecord(window_number);
    if (record == nullptr) return 1;
    record->canvas = NewCgImageRecord();
    CgImage& canvas = *record->canvas;
    canvas.width = width;
    canvas.height = height;
    canvas.allocated_width = width;
    canvas.allocated_height = height;
    canvas.visible = 1;
    canvas.opacity = 256;
    canvas.mask_level = 256;
    canvas.saturation = 128;
    canvas.tone = 0x808080;
    canvas.blend_mode = 0;
    if (AllocCgPixels(canvas, width, height)) return 0;
    ReportEngineError(kErrOutOfMemory, true);
    return 1;
}

int CreateMenuStripWindow() {
    auto& windows = platform::GetWindowSystem();
    WindowRecord* main_record = MainWindowRecord();
    if (!windows.RegisterClass("zkMncl", MenuStripWindowProc)) return 0;
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
