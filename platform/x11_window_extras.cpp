#include "platform/x11_window_extras.h"

#include <SDL.h>
#include <SDL_syswm.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/shape.h>

#include <algorithm>
#include <limits>

namespace zk::platform {

namespace {

struct X11Window {
    Display* display = nullptr;
    ::Window window = 0;
};

bool ToX11(SDL_Window* sdl, X11Window& out) {
    if (sdl == nullptr) return false;
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (SDL_GetWindowWMInfo(sdl, &info) != SDL_TRUE || info.subsystem != SDL_SYSWM_X11) return false;
    out.display = info.info.x11.display;
    out.window = info.info.x11.window;
    return out.display != nullptr && out.window != 0;
}

short ClampShort(int32_t v) {
    return static_cast<short>(std::clamp<int32_t>(v, std::numeric_limits<short>::min(), std::numeric_limits<short>::max()));
}
unsigned short ClampExtent(int32_t v) {
    return static_cast<unsigned short>(std::clamp<int32_t>(v, 0, std::numeric_limits<unsigned short>::max()));
}

}  // namespace

uint64_t X11WindowId(SDL_Window* window) {
    X11Window x11;
    return ToX11(window, x11) ? static_cast<uint64_t>(x11.window) : 0;
}

bool X11SetAspectHint(SDL_Window* window, int32_t aspect_width, int32_t aspect_height) {
    X11Window x;
    if (!ToX11(window, x)) return false;
    XSizeHints* hints = XAllocSizeHints();
    if (hints == nullptr) return false;
    long supplied = 0;
    // Read first: SDL keeps its minimum and maximum sizes in the same hints.
    if (XGetWMNormalHints(x.display, x.window, hints, &supplied) == 0) hints->flags = 0;
    if (aspect_width > 0 && aspect_height > 0) {
        hints->flags |= PAspect;
        hints->min_aspect.x = hints->max_aspect.x = aspect_width;
        hints->min_aspect.y = hints->max_aspect.y = aspect_height;
    } else {
        hints->flags &= ~PAspect;
    }
    XSetWMNormalHints(x.display, x.window, hints);
    XFree(hints);
    XFlush(x.display);
    return true;
}

bool X11Restack(SDL_Window* window, SDL_Window* behind, bool top) {
    X11Window x;
    if (!ToX11(window, x)) return false;
    if (top) {
        XRaiseWindow(x.display, x.window);
    } else {
        XWindowChanges changes{};
        unsigned int mask = CWStackMode;
        changes.stack_mode = Below;
        X11Window other;
        if (behind != nullptr && ToX11(behind, other)) {
            changes.sibling = other.window;
            mask |= CWSibling;
        }
        // Through the window manager: a managed window's frame is what is
        // restacked, which XConfigureWindow cannot reach.
        XReconfigureWMWindow(x.display, x.window, DefaultScreen(x.display), mask, &changes);
    }
    XFlush(x.display);
    return true;
}

bool X11SetShape(SDL_Window* window, const std::vector<Rect>* rectangles) {
    X11Window x;
    if (!ToX11(window, x)) return false;
    int event_base = 0, error_base = 0;
    if (!XShapeQueryExtension(x.display, &event_base, &error_base)) return false;
    if (rectangles == nullptr) {
        XShapeCombineMask(x.display, x.window, ShapeBounding, 0, 0, None, ShapeSet);
    } else {
        std::vector<XRectangle> list;
        list.reserve(rectangles->size());
        for (const Rect& r : *rectangles) {
            list.push_back(XRectangle{ClampShort(r.left), ClampShort(r.top), ClampExtent(r.Width()), ClampExtent(r.Height())});
        }
        XShapeCombineRectangles(x.display, x.window, ShapeBounding, 0, 0, list.data(), static_cast<int>(list.size()),
                                ShapeSet, Unsorted);
    }
    XFlush(x.display);
    return true;
}

}  // namespace zk::platform
