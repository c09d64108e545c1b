#include "engine/cursor_command.h"

#include <algorithm>
#include <string>

#include "base/nul_text.h"
#include "base/text_encoding.h"
#include "core/error_report.h"
#include "core/main_thread_calls.h"
#include "core/named_tree.h"
#include "core/root_trees.h"
#include "core/window_record.h"
#include "engine/input.h"
#include "layers/cg_image.h"
#include "layers/compositor.h"
#include "layers/dirty_rect.h"
#include "renderer/cpu_back_buffer.h"
#include "renderer/cpu_presentation.h"
#include "script/command_table.h"

namespace zk {

namespace {

void SetMode(int64_t mode, WindowRecord* main_record) {
    CursorControl& cursor = TheCursorControl();
    switch (mode) {
        case 0:
            if (cursor.shown.load() != 0) {
                cursor.request = 2;
                cursor.shown = 0;
            }
            if (main_record != nullptr) main_record->idle = 0;
            cursor.auto_hide = 0;
            break;
        case 1:
            if ((main_record == nullptr || main_record->idle == 0) && cursor.shown.load() == 0) RequestCursorShow();
            cursor.auto_hide = 1;
            break;
        case 2:
            RequestCursorShow();
            if (main_record != nullptr) main_record->idle = 0;
            cursor.auto_hide = 0;
            break;
        default: break;
    }
}

// Moves the pointer to game x (`horizontal`) or y, keeping the other.
void MoveCursor(WindowRecord& main_record, bool horizontal, int64_t value) {
    const platform::WindowHandle window = main_record.window;
    const CpuBackBuffer& back = TheCpuBackBuffer();
    const LetterboxOffset offset = TheLetterboxOffset();
    int32_t client = 0;
    if (horizontal) {
        main_record.mouse_x = static_cast<int32_t>(value);
        client = GameToClient(value, offset.x, back.width, main_record.client_width);
    } else {
        main_record.mouse_y = static_cast<int32_t>(value);
        client = GameToClient(value, offset.y, back.height, main_record.client_height);
    }
    CallOnMainThread([window, horizontal, client] {
        if (!platform::HasWindowSystem()) return;
        platform::WindowSystem& windows = platform::GetWindowSystem();
        platform::Point at;
        if (!windows.GetCursorClientPos(window, at)) return;
        (horizontal ? at.x : at.y) = client;
        windows.WarpCursor(window, at);
    });
}

void SetShape(int64_t number) {
    const platform::PointerShape shape = CursorShapeByNumber(number);
    CallOnMainThread([shape] {
        if (platform::HasWindowSystem()) platform::GetWindowSystem().SetCursorShape(shape);
    });
}

// The layer's pixels as a colour cursor; the hotspot is kept inside the
// picture, as a pointer's must be.
void SetLayerCursor(const CgImage& image, int64_t hot_x, int64_t hot_y) {
    const std::span<const uint8_t> pixels = WholeImagePixels(image);
    if (pixels.empty() || image.width <= 0 || image.height <= 0) {
        ShowMessageBox(nullptr, Utf8ToCp932("CURSOR CreateDIBSection エラー"));
        return;
    }
    platform::CursorImage cursor;
    cursor.width = image.width;
    cursor.height = image.height;
    cursor.bgra.assign(pixels.begin(), pixels.end());
    cursor.hot_x = CursorHotspot(hot_x, image.width);
    cursor.hot_y = CursorHotspot(hot_y, image.height);
    bool made = false;
    CallOnMainThread([&] { made = platform::HasWindowSystem() && platform::GetWindowSystem().SetColorCursor(cursor); });
    if (!made) ShowMessageBox(nullptr, Utf8ToCp932("CURSOR CreateIconIndirect エラー"));
}

}  // namespace

platform::PointerShape CursorShapeByNumber(int64_t number) {
    using platform::PointerShape;
    switch (number) {
        case 1: return PointerShape::kIBeam;
        case 2: return PointerShape::kWait;
        case 3: return PointerShape::kCross;
        case 4: return PointerShape::kUpArrow;
        case 5: return PointerShape::kSizeNWSE;
        case 6: return PointerShape::kSizeNESW;
        case 7: return PointerShape::kSizeWE;
        case 8: return PointerShape::kSizeNS;
        case 9: return PointerShape::kSizeAll;
        case 10: return PointerShape::kNo;
        case 11: return PointerShape::kHand;
        case 12: return PointerShape::kAppStarting;
        case 13: return PointerShape::kHelp;
        default: return PointerShape::kArrow;
    }
}

int32_t CursorHotspot(int64_t value, int32_t side) {
    const int64_t low = value & 0xFFFF;
    return static_cast<int32_t>(std::clamp<int64_t>(low, 0, std::max(side, 1) - 1));
}

int32_t GameToClient(int64_t game, int32_t offset, int32_t back_buffer_side, int32_t game_side) {
    int64_t scaled = static_cast<int32_t>(game);
    if (game_side != 0) scaled = static_cast<int32_t>(scaled * back_buffer_side / game_side);
    return static_cast<int32_t>(static_cast<uint32_t>(scaled) + static_cast<uint32_t>(offset));
}

int32_t CmdSetCursor() {
    if (DecodeCommandArgs(kCmdSetCursor) != 0) return -1;
    const CommandArgBlock& args = Args();
    WindowRecord* main_record = MainWindowRecord();
    if (const CommandArgSlot* mode = args.Find(0)) SetMode(mode->value, main_record);
    if (const CommandArgSlot* delay = args.Find(1)) {
        TheCursorControl().hide_delay_ms = static_cast<uint32_t>(delay->value);
    }
    if (main_record != nullptr) {
        for (uint32_t i = 0; i < 3; ++i) {
            if (const CommandArgSlot* wake = args.Find(2 + i)) {
                main_record->input_enabled[i] = static_cast<uint8_t>(wake->value);
            }
        }
        if (main_record->window != platform::kNoWindow) {
            if (const CommandArgSlot* x = args.Find(5)) MoveCursor(*main_record, true, x->value);
            if (const CommandArgSlot* y = args.Find(6)) MoveCursor(*main_record, false, y->value);
        }
    }
    if (const CommandArgSlot* shape = args.Find(7)) SetShape(shape->value);
    if (const CommandArgSlot* layer = args.Find(10)) {
        const RootTrees& trees = TheRootTrees();
        std::string node_path;
        if (NormaliseNodePath(node_path, UpToNul(layer->Text()), trees.layer_folder, false) < 0) return -1;
        NamedTreeNode* node = trees.layers != nullptr ? FindNodeByPath(trees.layers, node_path, kFindLeaf) : nullptr;
        const CgImage* image = LayerImage(node);
        if (image == nullptr) return 0;
        const CommandArgSlot* hot_x = args.Find(8);
        const CommandArgSlot* hot_y = args.Find(9);
        SetLayerCursor(*image, hot_x != nullptr ? hot_x->value : 0, hot_y != nullptr ? hot_y->value : 0);
    }
    return 0;
}

void RegisterCursorCommand() { RegisterCommandHandler(kCmdSetCursor, CmdSetCursor); }

}  // namespace zk
