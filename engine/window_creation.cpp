// Creating an engine window and its canvas: the window's class with the
// engine's window procedure, its style from the game's settings, its place
// in the work area, and the layer image the window's picture is drawn into.
#include "engine/window_creation.h"

#include <algorithm>

#include "core/engine_hooks.h"
#include "core/error_report.h"
#include "core/window_record.h"
#include "engine/window_proc.h"
#include "layers/cg_image.h"
#include "platform/window_system.h"

namespace zk {

namespace {
constexpr uint32_t kCaptionedStyle = platform::WS_CAPTION | platform::WS_SYSMENU | platform::WS_MINIMIZEBOX |
                                     platform::WS_MAXIMIZEBOX | platform::WS_CLIPCHILDREN;  // 0x02CB0000
constexpr uint32_t kPopupStyle = platform::WS_POPUP | platform::WS_CLIPCHILDREN;       // 0x82000000
}  // namespace

int CreateEngineWindow(WindowRecord& record, int /*show_command*/, std::string_view class_name,
                       std::string_view title) {
    auto& windows = platform::GetWindowSystem();
    const WindowCreationSettings& settings = TheWindowCreationSettings();
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
    record->canvas = OwnCanvas(NewCgImageRecord());
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

}  // namespace zk
