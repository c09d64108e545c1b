#include "engine/window_commands.h"

#include <algorithm>
#include <string>

#include "base/sjis.h"
#include "base/system_text.h"
#include "core/engine_hooks.h"
#include "core/engine_state.h"
#include "core/error_codes.h"
#include "core/error_report.h"
#include "core/main_thread_calls.h"
#include "core/named_tree.h"
#include "core/root_trees.h"
#include "core/settings.h"
#include "core/startup_paths.h"
#include "core/system_facts.h"
#include "core/window_record.h"
#include "core/window_requests.h"
#include "engine/display_modes.h"
#include "engine/window_creation.h"
#include "engine/window_sizing.h"
#include "layers/cg_image.h"
#include "layers/dirty_rect.h"
#include "renderer/cpu_presentation.h"
#include "renderer/display_state.h"
#include "script/command_table.h"
#include "script/compiled_tables.h"
#include "script/variables.h"

namespace zk {

namespace {

// Keywords of command 105.
enum : uint32_t {
    kKwNumber = 0, kKwTitle = 1, kKwAlpha = 2, kKwShown = 3, kKwX = 4, kKwY = 5, kKwZOrder = 6,
    kKwWidth = 7, kKwHeight = 8, kKwWidthPixels = 9, kKwHeightPixels = 10, kKwForeground = 11,
    kKwMaximizeBox = 12, kKwScreenMode = 13, kKwMinimize = 14, kKwMaximize = 15, kKwMaximizeAllowed = 16,
    kKwMinimizeAllowed = 17, kKwClose = 18, kKwFlashCount = 19, kKwFlashInterval = 20, kKwLayerSet = 21,
    kKwMenuSet = 22, kKwShapeLayer = 23, kKwDragLayer = 24, kKwResizable = 25,
};

platform::WindowSystem& Windows() { return platform::GetWindowSystem(); }

bool WindowExists(const WindowRecord* record) {
    return record != nullptr && record->number >= 0 && record->number < kWindowCount &&
           WindowState[static_cast<size_t>(record->number)] != -1 && record->window != platform::kNoWindow &&
           platform::HasWindowSystem() && Windows().IsWindow(record->window);
}

const CommandArgSlot* Given(uint32_t keyword) { return Args().Find(keyword); }

void ReportWindowValue(uint8_t command, uint32_t keyword, int64_t value) {
    ReportScriptErrorF(kErrWindowValue, true, {CommandName(command), KeywordName(command, keyword), value});
}

// A size from a script: 1 and up, and within 32 bits.
std::optional<int32_t> ScriptSize(const CommandArgSlot* slot) {
    if (slot == nullptr || slot->value < 1 || slot->value > INT32_MAX) return std::nullopt;
    return static_cast<int32_t>(slot->value);
}

// The client area of an existing window takes a new size in place: its
// position and frame stay.
void ResizeClient(WindowRecord& record, int32_t width, int32_t height) {
    const platform::Rect outer = Windows().GetWindowRect(record.window);
    const BorderSize border = GetFrameBorderSize(record.window);
    Windows().MoveWindow(record.window,
                         platform::Rect{outer.left, outer.top, outer.left + width + border.width,
                                        outer.top + height + border.height},
                         true);
}

bool Windowed() { return TheDisplayState().fullscreen == 0 && TheDisplayState().maximized == 0; }

// Keywords 7 and 8 for an existing window.
void ApplyClientSize(WindowRecord& record) {
    const std::optional<int32_t> width = ScriptSize(Given(kKwWidth));
    const std::optional<int32_t> height = ScriptSize(Given(kKwHeight));
    if (!width && !height) return;
    if (!Windowed()) return;
    bool changed = false;
    if (width && *width != record.client_width) {
        record.client_width = *width;
        changed = true;
    }
    if (height && *height != record.client_height) {
        record.client_height = *height;
        changed = true;
    }
    if (!changed) return;
    ResizeClient(record, record.client_width, record.client_height);
    record.view_rect = {0, 0, record.client_width, record.client_height};
    if (record.number == 0) RefreshMainWindowLimits();
}

// Keywords 9 and 10: the window's size in pixels with the game's aspect.
void ApplyPixelSize(WindowRecord& record) {
    const std::optional<int32_t> width = ScriptSize(Given(kKwWidthPixels));
    const std::optional<int32_t> height = ScriptSize(Given(kKwHeightPixels));
    if (!Windowed() || record.client_width <= 0 || record.client_height <= 0) return;
    const SystemFacts& facts = TheSystemFacts();
    if (width) {
        const int64_t w = std::min<int64_t>(*width, facts.desktop_width);
        const int64_t h = w * record.client_height / record.client_width;
        if (w > 0 && h > 0 && h <= INT32_MAX) ResizeClient(record, static_cast<int32_t>(w), static_cast<int32_t>(h));
    }
    if (height) {
        const int64_t h = std::min<int64_t>(*height, facts.desktop_height);
        const int64_t w = h * record.client_width / record.client_height;
        if (w > 0 && h > 0 && w <= INT32_MAX) ResizeClient(record, static_cast<int32_t>(w), static_cast<int32_t>(h));
    }
}

// Creation of windows 1 to 3 (and of window 0 when it is not there).
int CreateScriptWindow(WindowRecord& record) {
    const std::optional<int32_t> width = ScriptSize(Given(kKwWidth));
    const std::optional<int32_t> height = ScriptSize(Given(kKwHeight));
    const CommandArgSlot* title = Given(kKwTitle);
    if (title == nullptr) {
        ReportScriptErrorF(kErrWindowNeedsTitle, true, {CommandName(kCmdConfigureWindow)});
        return -1;
    }
    record.x = record.y = 0;
    record.client_width = width.value_or(128);
    record.client_height = height.value_or(128);
    const std::string class_name = Paths().instance_name + "_sub_" + std::to_string(record.number);
    const std::string text(CutWindowTitle(title->Text()));
    if (CreateEngineWindow(record, platform::SW_SHOW, class_name, text) == 0) return -1;
    if (record.number > 0) Windows().ShowWindow(record.window, platform::SW_SHOW);
    SetupWindowRecord(record, text);
    WindowState[static_cast<size_t>(record.number)] = 1;
    return 0;
}

void ApplyZOrder(WindowRecord& record, int64_t value) {
    if (value != 1) Windows().SetWindowZOrder(record.window, platform::ZOrder::kNotTopmost, platform::kNoWindow);
    const WindowRecord* main_record = MainWindowRecord();
    switch (value) {
        case 0:
            Windows().SetWindowZOrder(record.window, platform::ZOrder::kTop, platform::kNoWindow);
            break;
        case 1:
            Windows().SetWindowZOrder(record.window, platform::ZOrder::kTopmost, platform::kNoWindow);
            break;
        case 2:
            Windows().SetWindowZOrder(record.window, platform::ZOrder::kBottom, platform::kNoWindow);
            break;
        case 3:
            if (main_record != nullptr && main_record->window != platform::kNoWindow)
                Windows().SetWindowZOrder(record.window, platform::ZOrder::kBehind, main_record->window);
            break;
        default:
            break;
    }
}

// The node of a layer named by a text keyword, normalised against the
// layer folder; null after 101250 (reported) or a refused path.
NamedTreeNode* FindLayer(uint32_t keyword, int32_t mode) {
    const RootTrees& trees = TheRootTrees();
    std::string path;
    if (NormaliseNodePath(path, Given(keyword)->Text(), trees.layer_folder, false) < 0) return nullptr;
    NamedTreeNode* node = trees.layers != nullptr ? FindNodeByPath(trees.layers, path, mode) : nullptr;
    if (node == nullptr)
        ReportScriptErrorF(kErrLayerNotFound, true, {CommandName(kCmdConfigureWindow), std::string_view(path)});
    return node;
}

// Keyword 21. -1 ends the command.
int ApplyLayerSet(WindowRecord& record) {
    const RootTrees& trees = TheRootTrees();
    std::string path;
    if (NormaliseNodePath(path, Given(kKwLayerSet)->Text(), trees.layer_folder, false) < 0) return -1;
    if (CgImage* previous = LayerImage(record.shown_layer_set)) previous->window_root = 0;
    NamedTreeNode* node = trees.layers != nullptr ? FindNodeByPath(trees.layers, path, kFindGroup) : nullptr;
    if (node == nullptr) {
        ReportScriptErrorF(kErrLayerNotFound, true, {CommandName(kCmdConfigureWindow), std::string_view(path)});
        return -1;
    }
    record.shown_layer_set = node;
    CgImage* image = LayerImage(node);
    if (image != nullptr) image->window_root = 1;
    InvalidateLayer(node);
    if (image == nullptr || image->width == 0 || image->height == 0) {
        ShowMessageBox("", Sjis("サイズが 0x0 のレイヤセットを表示対象に指定することは出来ません。"));
        record.shown_layer_set = nullptr;
        if (image != nullptr) image->window_root = 0;
        QuitFlag = 1;
        return -1;
    }
    image->dirty_rect = {0, 0, int64_t{image->width} - 1, int64_t{image->height} - 1};
    image->dirty_valid = 1;
    image->whole_dirty = 1;
    image->changed = 1;
    if (image->dirty_count == 0) image->dirty_count = 1;
    return 0;
}

// The whole command, on the main thread. 0 go on, -1 error, 1 yield.
int32_t ConfigureWindow() {
    const CommandArgSlot* number_slot = Given(kKwNumber);
    const int64_t number = number_slot != nullptr ? number_slot->value : 0;
    if (number < 0 || number >= kWindowCount) {
        ReportWindowValue(kCmdConfigureWindow, kKwNumber, number);
        return -1;
    }
    WindowRecord* record = GetWindowRecord(static_cast<int>(number));
    if (record == nullptr || !platform::HasWindowSystem()) return 0;
    DisplayState& display = TheDisplayState();

    if (WindowExists(record)) {
        ApplyClientSize(*record);
        ApplyPixelSize(*record);
    }
    if (WindowState[static_cast<size_t>(number)] == -1 || record->window == platform::kNoWindow) {
        if (CreateScriptWindow(*record) != 0) return -1;
    }
    const bool exists = WindowExists(record);

    if (const CommandArgSlot* title = Given(kKwTitle)) {
        record->title.assign(CutWindowTitle(title->Text()));
        if (exists) Windows().SetTitle(record->window, record->title);
    }
    if (const CommandArgSlot* alpha = Given(kKwAlpha)) record->alpha = static_cast<int32_t>(alpha->value);
    if (const CommandArgSlot* shown = Given(kKwShown)) {
        const uint8_t value = static_cast<uint8_t>(shown->value);
        if (value != record->shown) {
            record->shown = value;
            if (exists) Windows().ShowWindow(record->window, shown->value >= 1 ? platform::SW_SHOW : platform::SW_HIDE);
        }
    }
    const CommandArgSlot* x = Given(kKwX);
    const CommandArgSlot* y = Given(kKwY);
    if (x != nullptr) record->x = static_cast<int32_t>(x->value);
    if (y != nullptr) record->y = static_cast<int32_t>(y->value);
    if ((x != nullptr || y != nullptr) && exists) {
        const platform::Rect outer = Windows().GetWindowRect(record->window);
        Windows().MoveWindow(record->window,
                             platform::Rect{record->x, record->y, record->x + outer.Width(), record->y + outer.Height()},
                             false);
    }
    if (const CommandArgSlot* z = Given(kKwZOrder)) {
        if (number == 0 && z->value == 3) {
            ReportWindowValue(kCmdConfigureWindow, kKwZOrder, z->value);
            return -1;
        }
        if (exists) ApplyZOrder(*record, z->value);
    }
    if (const CommandArgSlot* slot = Given(kKwMaximizeAllowed)) record->maximize_allowed = static_cast<uint8_t>(slot->value);
    if (const CommandArgSlot* slot = Given(kKwMinimizeAllowed)) record->minimize_allowed = static_cast<uint8_t>(slot->value);
    if (const CommandArgSlot* slot = Given(kKwClose)) {
        if (number == 0 && (slot->value < 0 || slot->value > 2)) {
            ReportWindowValue(kCmdConfigureWindow, kKwClose, slot->value);
            return -1;
        }
        record->close_behaviour = static_cast<uint8_t>(slot->value);
    }
    if (const CommandArgSlot* count = Given(kKwFlashCount)) {
        const CommandArgSlot* interval = Given(kKwFlashInterval);
        if (exists) {
            Windows().FlashWindow(record->window, static_cast<uint32_t>(count->value),
                                  interval != nullptr ? static_cast<uint32_t>(interval->value) : 0);
        }
    }
    if (Given(kKwLayerSet) != nullptr && ApplyLayerSet(*record) != 0) return -1;
    if (const CommandArgSlot* menu = Given(kKwMenuSet)) {
        std::string path;
        if (!menu->Text().empty() && NormaliseNodePath(path, menu->Text(), TheRootTrees().menu_folder, false) < 0)
            return -1;
        record->menu_set_name = path;
        const WindowSizingHooks& hooks = TheWindowSizingHooks();
        if (hooks.set_window_menu_bar != nullptr && !hooks.set_window_menu_bar(*record, path)) return -1;
    }
    if (Given(kKwShapeLayer) != nullptr) {
        NamedTreeNode* node = FindLayer(kKwShapeLayer, kFindLeaf);
        if (node == nullptr) return -1;
        const WindowRecord* main_record = MainWindowRecord();
        const CgImage* image = LayerImage(node);
        if (main_record == nullptr || !WindowExists(main_record) || image == nullptr ||
            SetWindowShapeFromImage(main_record->window, *image) != 0) {
            return 1;
        }
    }
    if (Given(kKwDragLayer) != nullptr) {
        NamedTreeNode* node = FindLayer(kKwDragLayer, kFindLeaf);
        if (node == nullptr) return -1;
        SetDragLayer(node);
    }
    if (const CommandArgSlot* slot = Given(kKwMaximizeBox)) {
        if (display.fullscreen == 0 && exists) {
            const uint32_t style = Windows().GetWindowStyle(record->window);
            Windows().SetWindowStyle(record->window, slot->value == 1 ? style | platform::WS_MAXIMIZEBOX
                                                                      : style & ~platform::WS_MAXIMIZEBOX);
        }
    }
    if (const CommandArgSlot* slot = Given(kKwForeground)) {
        if (slot->value == 1 && exists) Windows().SetForegroundWindow(record->window);
    }
    if (const CommandArgSlot* slot = Given(kKwScreenMode)) {
        if (number == 0 && (slot->value == 0 || slot->value == 1) && SetScreenMode(static_cast<int>(slot->value)) == 1) {
            if (CgImage* image = LayerImage(record->shown_layer_set)) image->whole_dirty = 1;
        }
    }
    if (const CommandArgSlot* slot = Given(kKwMinimize)) {
        if (exists) {
            if (slot->value == 1) {
                Windows().ShowWindow(record->window, platform::SW_MINIMIZE);
            } else if (slot->value == 2) {
                Windows().ShowWindow(record->window, platform::SW_MINIMIZE);
                Windows().ShowWindow(record->window, platform::SW_HIDE);
            } else if (slot->value == 0) {
                if (Windows().IsMinimized(record->window)) Windows().ShowWindow(record->window, platform::SW_RESTORE);
                TheWindowSizing().restore_pending = 0;
                if (number == 0) display.maximized = 0;
                if (Hooks().request_direct3d_reset != nullptr) Hooks().request_direct3d_reset();
                PresentWholeWindow(*record);
            }
        }
    }
    if (Given(kKwMaximize) != nullptr && exists) {
        const bool maximized = number == 0 ? display.maximized != 0 : Windows().IsMaximized(record->window);
        Windows().PostMessage(record->window, platform::WM_SYSCOMMAND,
                              maximized ? platform::SC_RESTORE : platform::SC_MAXIMIZE, 0);
    }
    if (const CommandArgSlot* slot = Given(kKwResizable)) {
        const uint8_t value = static_cast<uint8_t>(slot->value != 0 ? 1 : 0);
        if (value != Settings().resizable) {
            Settings().resizable = value;
            if (display.fullscreen == 0 && exists) {
                NoteStyleChange(*record);
                const uint32_t style = Windows().GetWindowStyle(record->window);
                Windows().SetWindowStyle(record->window, value != 0 ? style | platform::WS_THICKFRAME
                                                                    : style & ~platform::WS_THICKFRAME);
            }
        }
    }
    return 0;
}

// Property keywords of command 107, in the order the first given decides.
enum : uint32_t {
    kPropResult = 1, kPropExists = 2, kPropAlpha = 3, kPropShown = 4, kPropActive = 5, kPropTitle = 6, kPropX = 7,
    kPropY = 8, kPropGameWidth = 10, kPropGameHeight = 11, kPropClientWidth = 12, kPropClientHeight = 13,
    kPropDevice = 14, kPropFullscreen = 15, kPropMaximized = 16, kPropMinimized = 17,
};

void StoreNothing(const CommandArgSlot* result) { ClearAnswerElement(result->var_number, result->var_element); }

}  // namespace

std::string_view CutWindowTitle(std::string_view title) {
    if (title.empty()) return " ";
    if (title.size() <= kWindowTitleMax) return title;
    size_t end = 0;
    while (end < title.size()) {
        const size_t step = IsSjisLeadByte(static_cast<uint8_t>(title[end])) && end + 1 < title.size() ? 2 : 1;
        if (end + step > kWindowTitleMax) break;
        end += step;
    }
    return title.substr(0, end);
}

std::optional<std::vector<platform::Rect>> BuildRegionFromBitmap(std::span<const uint8_t> pixels, int32_t width,
                                                                int32_t height) {
    if (width < 0 || height < 0) return std::nullopt;
    const uint64_t row_bytes = uint64_t(width) * 4;
    if (row_bytes * uint64_t(height) > pixels.size()) return std::nullopt;
    std::vector<platform::Rect> rectangles;
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* row = pixels.data() + row_bytes * uint64_t(y);
        int32_t x = 0;
        while (x < width) {
            auto shown = [&](int32_t i) {
                const uint8_t* p = row + size_t(i) * 4;
                return (p[0] | p[1] | p[2]) != 0;
            };
            if (!shown(x)) {
                ++x;
                continue;
            }
            const int32_t start = x;
            while (x < width && shown(x)) ++x;
            if (rectangles.size() >= kMaxRegionRectangles) return std::nullopt;
            rectangles.push_back(platform::Rect{start, y, x, y + 1});
        }
    }
    return rectangles;
}

int SetWindowShapeFromImage(platform::WindowHandle window, const CgImage& image) {
    // Only a block that holds the whole picture is read.
    if (image.current_pixels == nullptr || image.width <= 0 || image.height <= 0) return -1;
    const PixelBlock& block =
        image.current_pixels == image.derived_copy.data() && !image.derived_copy.empty() ? image.derived_copy
                                                                                         : image.owned_block;
    if (block.empty() || block.data() != image.current_pixels) return -1;
    const auto rectangles = BuildRegionFromBitmap(std::span<const uint8_t>(block.data(), block.size()), image.width,
                                                  image.height);
    if (!rectangles) return -1;
    return Windows().SetWindowShape(window, &*rectangles) ? 0 : -1;
}

int32_t CmdConfigureWindow() {
    if (DecodeCommandArgs(kCmdConfigureWindow) != 0) return -1;
    int32_t result = 0;
    CallOnMainThread([&] { result = ConfigureWindow(); });
    return result;
}

int32_t CmdHideWindow() {
    if (DecodeCommandArgs(kCmdHideWindow) != 0) return -1;
    const CommandArgSlot* slot = Given(0);
    if (slot == nullptr) return 0;
    if (slot->value == 0) {
        ReportScriptErrorF(kErrHideMainWindow, true, {CommandName(kCmdHideWindow), KeywordName(kCmdHideWindow, 0)});
        return -1;
    }
    if (slot->value < 0 || slot->value >= kWindowCount) {
        ReportWindowValue(kCmdHideWindow, 0, slot->value);
        return -1;
    }
    WindowRecord* record = GetWindowRecord(static_cast<int>(slot->value));
    CallOnMainThread([&] {
        if (WindowExists(record)) Windows().ShowWindow(record->window, platform::SW_HIDE);
    });
    return 0;
}

int32_t CmdGetWindowProperty() {
    if (DecodeCommandArgs(kCmdGetWindowProperty) != 0) return -1;
    const CommandArgSlot* result = Given(kPropResult);
    if (result == nullptr) return 0;
    uint32_t property = 0;
    for (uint32_t keyword = kPropExists; keyword <= kPropMinimized; ++keyword) {
        if (keyword != 9 && Given(keyword) != nullptr) {
            property = keyword;
            break;
        }
    }
    if (property == 0) return 0;
    const CommandArgSlot* number_slot = Given(0);
    const int64_t number = number_slot != nullptr ? number_slot->value : 0;
    WindowRecord* record = number >= 0 && number < kWindowCount ? GetWindowRecord(static_cast<int>(number)) : nullptr;

    bool exists = false;
    int64_t value = 0;
    std::string title;
    CallOnMainThread([&] {
        exists = WindowExists(record);
        if (!exists) return;
        const DisplayState& display = TheDisplayState();
        switch (property) {
            case kPropExists: value = 1; break;
            case kPropAlpha: value = record->alpha; break;
            case kPropShown: value = record->shown; break;
            case kPropActive: value = record->active.load(); break;
            case kPropTitle: title = record->title; break;
            case kPropX:
                record->x = Windows().GetWindowRect(record->window).left;
                value = record->x;
                break;
            case kPropY:
                record->y = Windows().GetWindowRect(record->window).top;
                value = record->y;
                break;
            case kPropGameWidth: value = record->client_width; break;
            case kPropGameHeight: value = record->client_height; break;
            case kPropClientWidth: value = Windows().GetClientRect(record->window).Width(); break;
            case kPropClientHeight: value = Windows().GetClientRect(record->window).Height(); break;
            case kPropDevice: value = TheWindowSizing().device_index; break;
            case kPropFullscreen: value = display.fullscreen; break;
            case kPropMaximized: value = display.maximized; break;
            case kPropMinimized: value = Windows().IsMinimized(record->window) ? 1 : 0; break;
            default: break;
        }
    });
    if (!exists) {
        StoreNothing(result);
        return 0;
    }
    if (property == kPropTitle) {
        return SetStringElement(result->var_number, result->var_element, title) != 0 ? -1 : 0;
    }
    return SetNumberElement(result->var_number, result->var_element, value) != 0 ? -1 : 0;
}

void RegisterWindowCommands() {
    RegisterCommandHandler(kCmdConfigureWindow, CmdConfigureWindow);
    RegisterCommandHandler(kCmdHideWindow, CmdHideWindow);
    RegisterCommandHandler(kCmdGetWindowProperty, CmdGetWindowProperty);
    Hooks().delete_window_region = [] {
        const WindowRecord* main_record = MainWindowRecord();
        if (main_record != nullptr && main_record->window != platform::kNoWindow && platform::HasWindowSystem())
            Windows().SetWindowShape(main_record->window, nullptr);
    };
}

}  // namespace zk
