// The four window records: window 0 is the main window made at start-up,
// windows 1..3 are made by the window command. A record lives for the
// whole run; its window may come and go.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/window_messages.h"

namespace zk {

struct NamedTreeNode;
struct CgImage;

// A window's canvas is a layer image; the layer library that makes it
// gives it its deleter.
using CanvasOwner = std::unique_ptr<CgImage, void (*)(CgImage*)>;

// The picture header through which a window's canvas is presented (the
// fields of a 32-bit uncompressed bottom-up-or-top-down DIB header).
struct DibHeader {
    uint32_t size = 40;
    int32_t width = 0;
    int32_t height = 0;
    uint16_t planes = 1;
    uint16_t bit_count = 32;
    uint32_t compression = 0;  // BI_RGB
    uint32_t size_image = 0;
    int32_t x_pels_per_meter = 0;
    int32_t y_pels_per_meter = 0;
    uint32_t colours_used = 0;
    uint32_t colours_important = 0;
};

struct WindowRecord {
    int32_t number = 0;
    int32_t x = 0, y = 0;
    int32_t client_width = 0, client_height = 0;
    int32_t alpha = 0;
    uint8_t shown = 0;
    uint8_t class_registered = 0;
    // 0 notify the script, 1 ask, 2 close, 3 close without ending the engine.
    // The window procedure reads it on the main thread while a quit request
    // may set it from the game-loop thread.
    std::atomic<uint8_t> close_behaviour{1};
    uint8_t maximize_allowed = 0;
    uint8_t minimize_allowed = 1;
    std::string title;  // at most 262 bytes
    NamedTreeNode* shown_layer_set = nullptr;
    CanvasOwner canvas{nullptr, nullptr};
    std::string menu_set_name;
    uint8_t drawn = 0;
    std::array<int32_t, 4> view_rect{};  // left, top, right, bottom
    platform::WindowHandle window = platform::kNoWindow;
    // 1 while the window has the focus. Written by the window procedure and
    // the input poll (main thread), read by the frame step's pause check
    // (the game-loop thread in game-thread mode).
    std::atomic<uint8_t> active{0};
    int32_t mouse_x = 0, mouse_y = 0;
    uint8_t pointer_outside_client = 0;
    uint8_t pointer_outside_border = 0;
    std::array<uint8_t, 3> input_enabled{};
    uint8_t idle = 0;
    uint32_t idle_time = 0;
    DibHeader dib;
};

constexpr int kWindowCount = 4;
constexpr size_t kWindowTitleMax = 262;

// -1 not created, 1 created.
extern std::array<int32_t, kWindowCount> WindowState;

WindowRecord* GetWindowRecord(int number);  // null before CreateWindowRecords
WindowRecord* MainWindowRecord();

int CreateWindowRecords();  // 0, or -1
void DestroyWindowRecords();  // end of run (and tests)
void InitWindowRecord(WindowRecord& record, int32_t number);
int SetupWindowRecord(WindowRecord& record, std::string_view title);
void InitDibHeader(WindowRecord& record);


// Settings that window creation reads (from zkcfg.zbn).
struct WindowCreationSettings {
    uint8_t resizable = 0;
    uint8_t window_mode = 0;  // 0 borderless pop-up, 1 with a caption
    uint8_t screen_saver = 0;
};
WindowCreationSettings& TheWindowCreationSettings();

// Menu-strip window of the fullscreen menu bar: made hidden at start-up.
int CreateMenuStripWindow();
void DestroyMenuStripWindow();
// The strip window (kNoWindow before it is made): a fullscreen bar's
// choices go to its procedure.
platform::WindowHandle MenuStripWindow();

}  // namespace zk
