// Model layers: a layer whose image is a model file (.psb) holds a model
// player of the model player library (platform/emote_library.h) in its
// CgImage. This file keeps the players: the driver made on the GPU device,
// the table of registered players with the milliseconds each has still to
// advance, loading and releasing players, the calls that place, advance
// and draw them, the camera matrices handed to the driver, and the poll
// that asks whether a model needs redrawing.
//
// Without the library no player ever exists: model files stay 2 x 2
// placeholders and none of this runs.
//
// Threading: the thread of the frame step and the script; shutdown
// releases the players after that thread has ended. Nothing is locked.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "layers/cg_image.h"
#include "platform/zkemote.h"

namespace zk {

// A player held by an image. `image` follows the player when a copy hands
// it to another image.
struct EmotePlayer {
    void* handle = nullptr;
    CgImage* image = nullptr;
};

constexpr size_t kEmotePlayerSlots = 128;

struct EmotePlayerSlot {
    CgImage* image = nullptr;  // null: free
    float pending_ms = 0.0f;   // elapsed time the player has still to advance by
};

struct EmotePlayerTable {
    std::array<EmotePlayerSlot, kEmotePlayerSlots> slots{};
    // Players loaded while every slot was taken: they have no slot, so the
    // clock and the poll pass them by, but they are released with the rest.
    std::vector<CgImage*> unregistered;
    void* driver = nullptr;
};
EmotePlayerTable& TheEmotePlayerTable();

// True while the model player library is loaded.
bool EmoteAvailable();

// The GPU device the driver draws with, as the GPU path lends it.
struct EmoteDeviceLink {
    // True while the device exists.
    bool (*device_ready)() = nullptr;
    // Runs `body(data)` with the device's OpenGL context current, then puts
    // the device's own state back (a library call may change any of it).
    // Null, or without a device: `body` runs as it is.
    void (*with_device)(void (*body)(void*), void* data) = nullptr;
};
EmoteDeviceLink& TheEmoteDeviceLink();
bool EmoteDeviceReady();
// What ordinal 2 is given; the camera writes its matrices here.
ZkEmoteDevice& TheEmoteDevice();
// The OpenGL loader and version the driver is told of.
void DescribeEmoteDevice(void* (*get_proc_address)(const char*), int32_t gl_major, int32_t gl_minor);

// Releases every player and the driver, then makes the driver on the
// device. 0, or 1 when no driver could be made (no library, no device, or
// the library's refusal).
int32_t CreateEmoteDriver();
// Every player (those without a slot first), then the driver.
void ReleaseAllEmotePlayers();
// When the image holds a player: its slots are cleared, the player is
// released, and the image becomes a CPU image (texture kind 0).
void ReleaseEmotePlayer(CgImage& image);
// Loads a player for the model file's bytes into the image. 0, or 1 after
// a message box: the image already holds a player, the library refused the
// bytes, or every slot is taken (the player then stays in the image,
// without a slot).
int32_t LoadEmotePlayer(CgImage& image, std::span<const uint8_t> bytes);

// Each passes the image's handle; without one they do nothing.
void SetEmotePlayerPosition(CgImage& image, float x, float y);
void SetEmotePlayerScale(CgImage& image, float scale);
void SetEmotePlayerRotation(CgImage& image, float radians);
// Advances by `ms` milliseconds (frames at 60 a second).
void AdvanceEmotePlayer(CgImage& image, float ms);
void DrawEmotePlayer(CgImage& image);

// The camera of the next draws: world, view and projection into the
// device record. Only while a device is attached; h = 0 makes w = h = 1.
void SetEmoteCamera(float x, float y, float angle, int32_t view_width, int32_t view_height);
void ResetEmoteCamera();

// Places, advances and draws the model of a model layer into the render
// target bound now, for a device window of view_width x view_height. The
// layer's own position, zoom and third angle act here.
void RenderEmoteModel(CgImage& image, int32_t view_width, int32_t view_height);

// 1 when a registered player asks to be redrawn.
uint8_t PollEmotePlayers();

// The frame clock. At the start of pacing every registered player with a
// pending time advances by it; then every registered player's pending time
// becomes the frame's elapsed milliseconds (16 above 10000).
void AdvancePendingEmoteTime();
void RecordEmoteElapsed(uint32_t elapsed_ms);

// Copy operations that move the picture of a model layer to another image
// hand its player over: `other` becomes the model layer (its own player is
// released first), `target` a texture layer without a player.
void HandOverEmotePlayer(CgImage& target, CgImage& other);

// CP932 text as NUL-terminated UTF-8 for the library.
std::string ShiftJisToUtf8(std::string_view text);

// Calls one entry of the library with the device's context current, and
// lets the GPU path put its state back afterwards.
void RunWithEmoteDevice(void (*body)(void*), void* data);
template <class R, class... P, class... A>
R CallEmote(R (*entry)(P...), A... args) {
    if constexpr (std::is_void_v<R>) {
        auto body = [&] { entry(args...); };
        RunWithEmoteDevice([](void* data) { (*static_cast<decltype(body)*>(data))(); }, &body);
    } else {
        R result{};
        auto body = [&] { result = entry(args...); };
        RunWithEmoteDevice([](void* data) { (*static_cast<decltype(body)*>(data))(); }, &body);
        return result;
    }
}

// Back to the start (ResetEngine): players and driver released while the
// library is loaded, the table emptied, the library unloaded.
void ResetEmotePlayers();

}  // namespace zk
