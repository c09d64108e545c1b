// A game shipped as a screen saver (a preview picture in its appended
// block): the switches the desktop runs it with.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/window_messages.h"
#include "storage/preview_picture.h"

namespace zk {

enum class ScreenSaverRun : uint8_t {
    kPreview,    // /p <parent>: the preview inside the parent window
    kPassword,   // /a <n>: nothing to do
    kAbout,      // /c alone, or no argument: the version box
    kStartGame,  // anything else (/s, /c <n>, /p alone, four or more arguments)
};
struct ScreenSaverDecision {
    ScreenSaverRun run = ScreenSaverRun::kStartGame;
    long parent = 0;  // kPreview: the parent window's number (atol)
};

// `argv` as the game received it: argument 0 the program, the engine's own
// options not counted. A switch is an argument of at least 2 characters
// starting with '/' or '-'; its letter (either case) is its second.
ScreenSaverDecision DecideScreenSaverRun(const std::vector<std::string>& argv);

// -1 when the switch was handled (start-up then ends), 0 to start the game.
// Reads the game's arguments (TheCommandLine()). The preview runs until its
// window is destroyed (or a stop signal); when no window can be made inside
// the parent it ends at once.
int HandleScreenSaverSwitches();

// The preview window "ZORVEKScreenSaver" filling the parent window (the
// X11 window id): 0 made (its picture read), 1 not.
int CreatePreviewWindow(long parent);

enum class PreviewMessage : uint8_t { kCreate, kPaint, kDestroy };
// The preview window's procedure: kCreate reads the picture of the appended
// block, kPaint draws it at its own size in the top left (the rest black),
// kDestroy ends the preview's loop (false; true otherwise).
bool PreviewWindowProc(PreviewMessage message);

// The preview picture read by the last preview (tests).
const std::optional<PreviewPicture>& ThePreviewPicture();

// A screen saver's main window takes no input-method composition, and the
// desktop's own screen saver is never held off (command 93's switch is for
// games, not for screen savers).
void ApplyScreenSaverToMainWindow(platform::WindowHandle main_window);

void RegisterScreenSaver();
void ResetScreenSaver();

}  // namespace zk
