#include "platform/sdl_cursors.h"

#include <SDL.h>

#include <array>

namespace zk::platform {

namespace {

// 'X' black, '.' white, anything else clear.
using Picture = std::array<const char*, 16>;

constexpr Picture kUpArrow = {
    "       X        ", "      X.X       ", "     X...X      ", "    X.....X     ",
    "   X.......X    ", "  X.........X   ", " XXXXX...XXXXX  ", "     X...X      ",
    "     X...X      ", "     X...X      ", "     X...X      ", "     X...X      ",
    "     X...X      ", "     X...X      ", "     XXXXX      ", "                ",
};

constexpr Picture kHelp = {
    "X               ", "XX      XXXX    ", "X.X    X....X   ", "X..X  X..XX..X  ",
    "X...X X..XX..X  ", "X....X XXX..X   ", "X.....X  X..X   ", "X......XX..X    ",
    "X....XXXX..X    ", "X.X..X  XXXX    ", "XX X..X X..X    ", "X  X..X X..X    ",
    "    X..X XX     ", "    X..X        ", "     XX         ", "                ",
};

CursorImage FromPicture(const Picture& picture, int32_t hot_x, int32_t hot_y) {
    CursorImage image;
    image.width = 16;
    image.height = 16;
    image.hot_x = hot_x;
    image.hot_y = hot_y;
    image.bgra.assign(16 * 16 * 4, 0);
    for (size_t y = 0; y < 16; ++y) {
        for (size_t x = 0; x < 16; ++x) {
            const char c = picture[y][x];
            if (c != 'X' && c != '.') continue;
            const uint8_t level = c == '.' ? 255 : 0;
            uint8_t* pixel = &image.bgra[(y * 16 + x) * 4];
            pixel[0] = pixel[1] = pixel[2] = level;
            pixel[3] = 255;
        }
    }
    return image;
}

}  // namespace

void SdlCursorFree::operator()(SDL_Cursor* cursor) const { SDL_FreeCursor(cursor); }

CursorImage OwnCursorImage(PointerShape shape) {
    if (shape == PointerShape::kHelp) return FromPicture(kHelp, 0, 0);
    return FromPicture(kUpArrow, 7, 0);
}

SdlCursorPtr MakeSdlCursor(PointerShape shape) {
    SDL_SystemCursor id = SDL_SYSTEM_CURSOR_ARROW;
    switch (shape) {
        case PointerShape::kArrow: id = SDL_SYSTEM_CURSOR_ARROW; break;
        case PointerShape::kIBeam: id = SDL_SYSTEM_CURSOR_IBEAM; break;
        case PointerShape::kWait: id = SDL_SYSTEM_CURSOR_WAIT; break;
        case PointerShape::kCross: id = SDL_SYSTEM_CURSOR_CROSSHAIR; break;
        case PointerShape::kSizeNWSE: id = SDL_SYSTEM_CURSOR_SIZENWSE; break;
        case PointerShape::kSizeNESW: id = SDL_SYSTEM_CURSOR_SIZENESW; break;
        case PointerShape::kSizeWE: id = SDL_SYSTEM_CURSOR_SIZEWE; break;
        case PointerShape::kSizeNS: id = SDL_SYSTEM_CURSOR_SIZENS; break;
        case PointerShape::kSizeAll: id = SDL_SYSTEM_CURSOR_SIZEALL; break;
        case PointerShape::kNo: id = SDL_SYSTEM_CURSOR_NO; break;
        case PointerShape::kHand: id = SDL_SYSTEM_CURSOR_HAND; break;
        case PointerShape::kAppStarting: id = SDL_SYSTEM_CURSOR_WAITARROW; break;
        case PointerShape::kUpArrow:
        case PointerShape::kHelp: return MakeSdlColorCursor(OwnCursorImage(shape));
    }
    return SdlCursorPtr(SDL_CreateSystemCursor(id));
}

SdlCursorPtr MakeSdlColorCursor(const CursorImage& image) {
    if (image.width <= 0 || image.height <= 0 ||
        image.bgra.size() != static_cast<size_t>(image.width) * static_cast<size_t>(image.height) * 4) {
        return nullptr;
    }
    // SDL reads the pixels while it makes the cursor; it does not write them.
    SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormatFrom(const_cast<uint8_t*>(image.bgra.data()), image.width,
                                                              image.height, 32, image.width * 4,
                                                              SDL_PIXELFORMAT_BGRA32);
    if (surface == nullptr) return nullptr;
    SdlCursorPtr cursor(SDL_CreateColorCursor(surface, image.hot_x, image.hot_y));
    SDL_FreeSurface(surface);
    return cursor;
}

}  // namespace zk::platform
