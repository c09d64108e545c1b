// The screen-saver preview's window inside the desktop's own X11 window.
// SDL makes no child windows, so this one is made with Xlib on a connection
// of its own: a child of the parent's size with a black background, which
// the parent's destruction takes with it. X errors on this connection (the
// parent number is no window, the window went away between two calls) are
// caught and turn into "no window" rather than ending the process.
#include <poll.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/stop_signals.h"
#include "platform/x11_window_extras.h"

namespace zk::platform {

namespace {

// The connection whose errors are caught, and whether one happened. One
// preview window at a time; every X call is made on the main thread.
Display* caught_display = nullptr;
bool caught_error = false;
XErrorHandler previous_handler = nullptr;

int CatchError(Display* display, XErrorEvent* event) {
    if (display == caught_display) {
        caught_error = true;
        return 0;
    }
    return previous_handler != nullptr ? previous_handler(display, event) : 0;
}

// 0..255 scaled into a visual's channel mask.
unsigned long Channel(uint32_t value, unsigned long mask) {
    if (mask == 0) return 0;
    const int shift = std::countr_zero(mask);
    const unsigned long max = mask >> shift;
    return ((static_cast<unsigned long>(value) * max + 127) / 255) << shift;
}

class X11ForeignChildWindow final : public ForeignChildWindow {
public:
    X11ForeignChildWindow(Display* display) : display_(display) {
        caught_display = display_;
        caught_error = false;
        previous_handler = XSetErrorHandler(CatchError);
    }
    ~X11ForeignChildWindow() override {
        if (window_ != 0 && !destroyed_) {
            XDestroyWindow(display_, window_);
            XSync(display_, False);
        }
        XSetErrorHandler(previous_handler);
        previous_handler = nullptr;
        caught_display = nullptr;
        XCloseDisplay(display_);
    }

    bool Create(uint64_t parent, std::string_view class_name) {
        XWindowAttributes parent_attributes{};
        if (parent == 0 || XGetWindowAttributes(display_, static_cast<::Window>(parent), &parent_attributes) == 0 ||
            Failed()) {
            return false;
        }
        width_ = std::max(1, parent_attributes.width);
        height_ = std::max(1, parent_attributes.height);
        visual_ = parent_attributes.visual;
        depth_ = parent_attributes.depth;
        XSetWindowAttributes attributes{};
        attributes.background_pixel = 0;  // black in a true-colour visual
        attributes.border_pixel = 0;
        attributes.event_mask = ExposureMask | StructureNotifyMask;
        window_ = XCreateWindow(display_, static_cast<::Window>(parent), 0, 0, static_cast<unsigned>(width_),
                                static_cast<unsigned>(height_), 0, CopyFromParent, InputOutput, CopyFromParent,
                                CWBackPixel | CWBorderPixel | CWEventMask, &attributes);
        if (window_ == 0 || Failed()) {
            window_ = 0;
            return false;
        }
        const std::string name(class_name);
        XStoreName(display_, window_, name.c_str());
        XClassHint hint{const_cast<char*>(name.c_str()), const_cast<char*>(name.c_str())};
        XSetClassHint(display_, window_, &hint);
        XMapWindow(display_, window_);
        if (Failed()) {
            window_ = 0;
            return false;
        }
        return true;
    }

    int32_t Width() const override { return width_; }
    int32_t Height() const override { return height_; }

    void DrawPicture(std::span<const uint32_t> pixels, int32_t width, int32_t height) override {
        if (destroyed_ || width <= 0 || height <= 0 || visual_ == nullptr || visual_->c_class != TrueColor) return;
        const int32_t w = std::min(width, width_);
        const int32_t h = std::min(height, height_);
        if (pixels.size() < static_cast<size_t>(width) * static_cast<size_t>(height)) return;
        XImage* image = XCreateImage(display_, visual_, static_cast<unsigned>(depth_), ZPixmap, 0, nullptr,
                                     static_cast<unsigned>(w), static_cast<unsigned>(h), 32, 0);
        if (image == nullptr) return;
        std::vector<char> data(static_cast<size_t>(image->bytes_per_line) * static_cast<size_t>(h));
        image->data = data.data();
        for (int32_t y = 0; y < h; ++y) {
            for (int32_t x = 0; x < w; ++x) {
                const uint32_t rgb = pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
                XPutPixel(image, x, y,
                          Channel(rgb >> 16 & 0xFF, visual_->red_mask) | Channel(rgb >> 8 & 0xFF, visual_->green_mask) |
                              Channel(rgb & 0xFF, visual_->blue_mask));
            }
        }
        GC gc = XCreateGC(display_, window_, 0, nullptr);
        XPutImage(display_, window_, gc, image, 0, 0, 0, 0, static_cast<unsigned>(w), static_cast<unsigned>(h));
        XFreeGC(display_, gc);
        image->data = nullptr;  // the vector owns the pixels
        XDestroyImage(image);
        XSync(display_, False);
        caught_error = false;  // a window destroyed meanwhile: its DestroyNotify follows
    }

    ForeignWindowEvent WaitEvent() override {
        if (destroyed_) return ForeignWindowEvent::kDestroyed;
        for (;;) {
            while (XPending(display_) > 0) {
                XEvent event;
                XNextEvent(display_, &event);
                if (event.type == DestroyNotify && event.xdestroywindow.window == window_) {
                    destroyed_ = true;
                    return ForeignWindowEvent::kDestroyed;
                }
                // Only the last of a run of exposures asks for the paint.
                if (event.type == Expose && event.xexpose.window == window_ && event.xexpose.count == 0)
                    return ForeignWindowEvent::kPaint;
            }
            if (StopSignalReceived() != 0) return ForeignWindowEvent::kStopRequested;
            pollfd watch{ConnectionNumber(display_), POLLIN, 0};
            // A timeout, so a stop signal is seen even when X stays quiet.
            const int ready = poll(&watch, 1, 100);
            if (ready > 0 && (watch.revents & (POLLERR | POLLHUP)) != 0) {
                // The server went away: the window with it.
                destroyed_ = true;
                return ForeignWindowEvent::kDestroyed;
            }
        }
    }

private:
    bool Failed() {
        XSync(display_, False);
        const bool failed = caught_error;
        caught_error = false;
        return failed;
    }

    Display* display_;
    ::Window window_ = 0;
    Visual* visual_ = nullptr;
    int depth_ = 0;
    int32_t width_ = 0;
    int32_t height_ = 0;
    bool destroyed_ = false;
};

}  // namespace

std::unique_ptr<ForeignChildWindow> CreateX11ForeignChildWindow(uint64_t parent, std::string_view class_name) {
    if (caught_display != nullptr) return nullptr;  // one at a time
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return nullptr;
    auto window = std::make_unique<X11ForeignChildWindow>(display);
    if (!window->Create(parent, class_name)) return nullptr;
    return window;
}

}  // namespace zk::platform
