#include "renderer/cpu_presentation.h"
#include "renderer/cpu_back_buffer.h"

#include <array>
#include <limits>
#include <span>

#include "core/engine_state.h"
#include "core/main_thread_calls.h"
#include "core/root_trees.h"
#include "core/settings.h"
#include "renderer/script_edit_overlay.h"
#include "core/window_record.h"
#include "layers/cg_image.h"
#include "layers/compositor.h"
#include "layers/cpu_features.h"
#include "platform/window_system.h"
#include "renderer/cpu_scalers.h"
#include "renderer/display_state.h"

namespace zk {

namespace {

LetterboxOffset letterbox_offset;

CgImage* RootImage(const WindowRecord& record) { return LayerImage(record.shown_layer_set); }

// The block the image's current pixels point into, from them to its end.
std::span<const uint8_t> ImageBytes(const CgImage& image) {
    return {image.current_pixels, static_cast<size_t>(CurrentPixelBytes(image))};
}

std::span<const uint8_t> BackBufferBytes() { return TheCpuBackBuffer().pixels; }

bool FitsInt32(int64_t value) {
    return value >= std::numeric_limits<int32_t>::min() && value <= std::numeric_limits<int32_t>::max();
}

// A rectangle for the window system, when every value is representable;
// one that is not lies far outside any screen and is not drawn.
bool MakeArea(int64_t x, int64_t y, int64_t width, int64_t height, platform::BlitArea& out) {
    if (!FitsInt32(x) || !FitsInt32(y) || !FitsInt32(width) || !FitsInt32(height)) return false;
    out = platform::BlitArea{static_cast<int32_t>(x), static_cast<int32_t>(y), static_cast<int32_t>(width),
                             static_cast<int32_t>(height)};
    return true;
}

void SetHeaderSize(WindowRecord& record, int32_t width, int32_t height) {
    record.dib.width = width;
    record.dib.height = height;
}

// StretchDIBits of the block, described by the window's header, onto the
// window's client area. The source's y counts up from the block's bottom row.
void BlitToWindow(const WindowRecord& record, std::span<const uint8_t> block, int64_t dx, int64_t dy, int64_t dw,
                  int64_t dh, int64_t sx, int64_t sy, int64_t sw, int64_t sh) {
    if (record.window == platform::kNoWindow || !platform::HasWindowSystem()) return;
    platform::BlitArea destination, source;
    if (!MakeArea(dx, dy, dw, dh, destination) || !MakeArea(sx, sy, sw, sh, source)) return;
    const platform::DibPixels pixels{block, record.dib.width, record.dib.height};
    platform::GetWindowSystem().StretchBlit(record.window, destination, pixels, source);
}

bool ThreadedBilinearAllowed() {
    // The user's SSE switch is entry 2 of the user settings.
    return TheCpuFeatureFlags().sse != 0 && Settings().sse_switch != 0;
}

enum class BilinearTables { kShared, kOwn };

// Scales the whole image into the back buffer (already known to exist).
void ScaleIntoBackBuffer(const CgImage& image, bool bilinear, BilinearTables tables) {
    CpuBackBuffer& back = TheCpuBackBuffer();
    const std::span<uint8_t> destination(back.pixels);
    const std::span<const uint8_t> source = ImageBytes(image);
    const int32_t w = image.width, h = image.height;
    if (!bilinear) {
        ScaleNearestThreaded(destination, source, 0, 0, w - 1, h - 1, w, h, back.width, back.height);
        return;
    }
    // Corners and destination in 1/100 pixel: the first and last columns
    // and rows of both land on each other.
    const int64_t x1 = 100 * (int64_t{w} - 1), y1 = 100 * (int64_t{h} - 1);
    const int64_t width100 = 100 * int64_t{back.width}, height100 = 100 * int64_t{back.height};
    if (!FitsInt32(x1) || !FitsInt32(y1) || !FitsInt32(width100) || !FitsInt32(height100)) return;
    const auto x1_32 = static_cast<int32_t>(x1), y1_32 = static_cast<int32_t>(y1);
    const auto w100 = static_cast<int32_t>(width100), h100 = static_cast<int32_t>(height100);
    if (tables == BilinearTables::kOwn) {
        ScaleBilinearOwnTables(destination, source, 0, 0, x1_32, y1_32, w, h, w100, h100);
    } else if (ThreadedBilinearAllowed()) {
        ScaleBilinearThreaded(destination, source, 0, 0, x1_32, y1_32, w, h, w100, h100);
    } else {
        ScaleBilinear(destination, source, 0, 0, x1_32, y1_32, w, h, w100, h100);
    }
}

// Copies the back buffer 1:1 to (x, y) of the window.
void BlitBackBuffer(WindowRecord& record, int64_t x, int64_t y) {
    const CpuBackBuffer& back = TheCpuBackBuffer();
    SetHeaderSize(record, back.width, -back.height);
    BlitToWindow(record, BackBufferBytes(), x, y, back.width, back.height, 0, 0, back.width, back.height);
}

// The main window in fullscreen or maximized state: the picture is scaled
// to the back buffer and placed in the middle of the display area.
void PresentScaledToDisplay(WindowRecord& record, const CgImage& image) {
    const DisplayState& display = TheDisplayState();
    const CpuBackBuffer& back = TheCpuBackBuffer();
    letterbox_offset.x = static_cast<int32_t>((int64_t{display.display_width} - back.width) / 2);
    letterbox_offset.y = static_cast<int32_t>((int64_t{display.display_height} - back.height) / 2);
    const bool smooth = LoadDrawingSwitch(Settings().cpu_smooth_scaling) != 0;
    const bool scaling = display.scaling_mode != kPlacementCentred;
    // A maximized window is always scaled smoothly, whatever the settings.
    if ((scaling && smooth) || (display.maximized != 0 && display.fullscreen == 0)) {
        ScaleIntoBackBuffer(image, true, BilinearTables::kShared);
        BlitBackBuffer(record, letterbox_offset.x, letterbox_offset.y);
    } else if (scaling) {
        ScaleIntoBackBuffer(image, false, BilinearTables::kShared);
        BlitBackBuffer(record, letterbox_offset.x, letterbox_offset.y);
    } else {
        // Unscaled fullscreen: the window system stretches the picture
        // (nearest) onto the back buffer's rectangle.
        BlitToWindow(record, ImageBytes(image), letterbox_offset.x, letterbox_offset.y, back.width, back.height, 0, 0,
                     image.width, image.height);
    }
}

}  // namespace

LetterboxOffset& TheLetterboxOffset() { return letterbox_offset; }

int RequestWindowPaint(WindowRecord& record) {
    const CgImage* image = RootImage(record);
    const bool blank = record.shown == 0 || image == nullptr || image->visible == 0;
    // A window that was never made (or is gone) has nothing to paint;
    // painting "no window" would paint the desktop.
    if (record.window != platform::kNoWindow && platform::HasWindowSystem()) {
        if (blank) {
            static constexpr std::array<uint8_t, 4> kBlackPixel{};
            const int64_t width = int64_t{record.client_width} - record.client_width % 4 + 4;
            SetHeaderSize(record, 1, 1);
            CallOnMainThread([&] {
                BlitToWindow(record, kBlackPixel, 0, 0, width, record.client_height, 0, 0, 1, 1);
            });
        } else if (image->changed != 0) {
            const platform::WindowHandle window = record.window;
            CallOnMainThread([window] { platform::GetWindowSystem().InvalidateWindow(window); });
        }
    }
    return QuitFlag.load();
}

void PresentWholeWindow(WindowRecord& record) {
    CgImage* image = RootImage(record);
    if (image == nullptr) return;
    image->presented_rect = {0, 0, int64_t{image->width} - 1, int64_t{image->height} - 1};
    PresentWindowImage(record, *image);
    image->changed = 1;
}

void PresentWindowImage(WindowRecord& record, CgImage& image) {
    if (QuitFlag.load() != 0) return;
    // The script's EDIT field goes over the picture, whichever path shows it.
    struct EditFieldOnTop {
        const WindowRecord& record;
        ~EditFieldOnTop() { DrawScriptEditOverlay(record); }
    } edit_field_on_top{record};
    // The rectangle's and the position's low 32 bits are what count.
    const int32_t left = static_cast<int32_t>(image.presented_rect[0]);
    const int32_t top = static_cast<int32_t>(image.presented_rect[1]);
    const int32_t right = static_cast<int32_t>(image.presented_rect[2]);
    const int32_t bottom = static_cast<int32_t>(image.presented_rect[3]);
    const int64_t dw = int64_t{right} - left + 1;
    const int64_t dh = int64_t{bottom} - top + 1;
    const CpuBackBuffer& back = TheCpuBackBuffer();
    if (dw <= 0 || dh <= 0 || back.width <= 0 || back.height <= 0) return;
    // An image without pixels has nothing to show.
    if (CurrentPixelBytes(image) == 0 || image.width <= 0 || image.height <= 0) return;

    const int32_t w = image.width, h = image.height;
    SetHeaderSize(record, w, -h);
    const int32_t image_x = static_cast<int32_t>(image.x);
    const int32_t image_y = static_cast<int32_t>(image.y);

    if (record.number == 0) {
        const DisplayState& display = TheDisplayState();
        if (display.fullscreen != 0 || display.maximized != 0) {
            PresentScaledToDisplay(record, image);
            return;
        }
        letterbox_offset = {};
        if (w != back.width || h != back.height) {
            // A resized window: scale into the back buffer, then copy it.
            if (LoadDrawingSwitch(Settings().cpu_smooth_scaling) != 0) {
                // With the game-loop thread the image operations may be
                // using the shared tables at this moment.
                const bool own = Settings().game_loop_thread != 0;
                ScaleIntoBackBuffer(image, true, own ? BilinearTables::kOwn : BilinearTables::kShared);
            } else {
                ScaleIntoBackBuffer(image, false, BilinearTables::kShared);
            }
            BlitBackBuffer(record, image_x, image_y);
            return;
        }
    }
    // Only the rectangle that changed, from the image's top-down rows (the
    // source's y counts up from the bottom row). The windowed main window
    // has no letterbox margin; sub-windows are windows of their own, where
    // the main window's margin has no meaning, so neither is offset.
    const int64_t destination_x = int64_t{image_x} + left;
    const int64_t destination_y = int64_t{image_y} + top;
    if (destination_x == 0 && destination_y > 0 && destination_y + dh >= h) {
        // A rectangle at the left edge that reaches the bottom repaints its
        // columns from the top of the picture down.
        BlitToWindow(record, ImageBytes(image), 0, image_y, dw, h, left, 0, dw, h);
        return;
    }
    BlitToWindow(record, ImageBytes(image), destination_x, destination_y, dw, dh, left, int64_t{h} - 1 - bottom, dw, dh);
}

}  // namespace zk
