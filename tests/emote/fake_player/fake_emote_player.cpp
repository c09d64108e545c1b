// A model player library for tests, never installed: it implements
// zkemote.h, records every call in a log, and draws a known pattern when a
// player is asked to draw. Tests copy it beside an executable under the
// names the engine looks for.
//
// The log is one line a call: the ordinal, the player ("p1", "p2" … in
// load order, or "d" for the driver) and the arguments, floats with %g.
// FAKE_EMOTE_LOG names a file each line is appended to as well (for runs
// of the engine as a program). The test entry points below (fake_emote_*)
// read the log and steer the answers.
//
// Model files: bytes starting with "BAD" are refused; any other bytes load.
//
// The pattern: in the framebuffer bound at the draw, the pixels of the
// rectangle (8, 8)–(24, 24) from the top-left corner of the viewport,
// opaque colour 0xFF2060A0 (B = 0xA0, G = 0x60, R = 0x20). The draw's log
// line ends in " pattern" when it was drawn (the device gave OpenGL).
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/zkemote.h"

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct Player {
    int id = 0;
};

struct State {
    std::mutex lock;
    std::string log;
    std::vector<std::unique_ptr<Player>> players;  // live players
    int next_id = 1;
    int driver_token = 0;
    bool driver_live = false;
    bool fail_driver = false;
    uint8_t answer_255 = 0;
    uint8_t answer_246 = 0;
    ZkEmoteDevice* device = nullptr;
    float matrices_at_draw[48] = {};
    int draws = 0;
};

State& S() {
    static State state;
    return state;
}

void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Log(const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    S().log += line;
    S().log += '\n';
    if (const char* path = std::getenv("FAKE_EMOTE_LOG")) {
        if (FILE* file = std::fopen(path, "a")) {
            std::fprintf(file, "%s\n", line);
            std::fclose(file);
        }
    }
}

int Id(void* player) { return player != nullptr ? static_cast<Player*>(player)->id : 0; }

// ---- the pattern --------------------------------------------------------------------
using GlEnum = unsigned int;
constexpr GlEnum kScissorTest = 0x0C11;
constexpr GlEnum kColorBufferBit = 0x00004000;
constexpr GlEnum kViewport = 0x0BA2;

bool DrawPattern(ZkEmoteDevice* device) {
    if (device == nullptr || device->get_proc_address == nullptr) return false;
    auto proc = [&](const char* name) { return device->get_proc_address(name); };
    auto enable = reinterpret_cast<void (*)(GlEnum)>(proc("glEnable"));
    auto scissor = reinterpret_cast<void (*)(int, int, int, int)>(proc("glScissor"));
    auto clear_colour = reinterpret_cast<void (*)(float, float, float, float)>(proc("glClearColor"));
    auto clear = reinterpret_cast<void (*)(GlEnum)>(proc("glClear"));
    auto get_integers = reinterpret_cast<void (*)(GlEnum, int*)>(proc("glGetIntegerv"));
    if (enable == nullptr || scissor == nullptr || clear_colour == nullptr || clear == nullptr ||
        get_integers == nullptr) {
        return false;
    }
    int viewport[4] = {};
    get_integers(kViewport, viewport);
    // The engine's targets hold the picture top row first: OpenGL's row 0
    // is the top.
    enable(kScissorTest);
    scissor(viewport[0] + 8, viewport[1] + 8, 16, 16);
    clear_colour(0x20 / 255.0f, 0x60 / 255.0f, 0xA0 / 255.0f, 1.0f);
    clear(kColorBufferBit);
    // The scissor test and the clear colour are left as they are: the
    // engine puts its state back after every call.
    return true;
}

}  // namespace

FAKE_EXPORT int32_t zkemote_abi_version(void) {
#ifdef FAKE_EMOTE_ABI
    return FAKE_EMOTE_ABI;
#else
    return ZKEMOTE_ABI_VERSION;
#endif
}

FAKE_EXPORT void* zkemote_2(ZkEmoteDriverArgs* args) {
    std::lock_guard hold(S().lock);
    Log("2 %s %s", args != nullptr && args->device != nullptr ? "device" : "none",
        args != nullptr && args->reserved1 == nullptr && args->reserved2 == nullptr ? "0 0" : "?");
    if (S().fail_driver || args == nullptr) return nullptr;
    S().device = args->device;
    S().driver_live = true;
    return &S().driver_token;
}

FAKE_EXPORT void zkemote_110(void* driver, float zero) {
    std::lock_guard hold(S().lock);
    Log("110 %s %g", driver == &S().driver_token ? "d" : "?", zero);
}

FAKE_EXPORT void zkemote_102(void* driver) {
    std::lock_guard hold(S().lock);
    Log("102 %s", driver == &S().driver_token ? "d" : "?");
    S().driver_live = false;
    S().device = nullptr;
}

FAKE_EXPORT void zkemote_119(void* driver, const uint8_t* bytes, uint64_t size, void** player) {
    std::lock_guard hold(S().lock);
    Log("119 %s %llu", driver == &S().driver_token ? "d" : "?", static_cast<unsigned long long>(size));
    if (player == nullptr) return;
    *player = nullptr;
    if (driver != &S().driver_token || !S().driver_live) return;
    if (size >= 3 && std::memcmp(bytes, "BAD", 3) == 0) return;
    auto made = std::make_unique<Player>();
    made->id = S().next_id++;
    *player = made.get();
    S().players.push_back(std::move(made));
}

FAKE_EXPORT void zkemote_202(void* player) {
    std::lock_guard hold(S().lock);
    Log("202 p%d", Id(player));
    std::erase_if(S().players, [&](const std::unique_ptr<Player>& live) { return live.get() == player; });
}

FAKE_EXPORT void zkemote_205(void* player) {
    std::lock_guard hold(S().lock);
    Log("205 p%d", Id(player));
}

FAKE_EXPORT void zkemote_214(void* player, float value) {
    std::lock_guard hold(S().lock);
    Log("214 p%d %g", Id(player), value);
}

FAKE_EXPORT void zkemote_216(void* player, float value) {
    std::lock_guard hold(S().lock);
    Log("216 p%d %g", Id(player), value);
}

FAKE_EXPORT void zkemote_218(void* player, float value) {
    std::lock_guard hold(S().lock);
    Log("218 p%d %g", Id(player), value);
}

FAKE_EXPORT void zkemote_220(void* player, float x, float y, float zero1, float zero2) {
    std::lock_guard hold(S().lock);
    Log("220 p%d %g %g %g %g", Id(player), x, y, zero1, zero2);
}

FAKE_EXPORT void zkemote_222(void* player, float scale, float zero1, float zero2) {
    std::lock_guard hold(S().lock);
    Log("222 p%d %g %g %g", Id(player), scale, zero1, zero2);
}

FAKE_EXPORT void zkemote_224(void* player, float radians, float zero1, float zero2) {
    std::lock_guard hold(S().lock);
    Log("224 p%d %g %g %g", Id(player), radians, zero1, zero2);
}

FAKE_EXPORT void zkemote_233(void* player, const char* label, float value, float frames, float zero) {
    std::lock_guard hold(S().lock);
    Log("233 p%d %s %g %g %g", Id(player), label != nullptr ? label : "(null)", value, frames, zero);
}

FAKE_EXPORT void zkemote_235(void* player, float a, float b, float c, float d, float e) {
    std::lock_guard hold(S().lock);
    Log("235 p%d %g %g %g %g %g", Id(player), a, b, c, d, e);
}

FAKE_EXPORT float zkemote_236(void* player) {
    std::lock_guard hold(S().lock);
    Log("236 p%d", Id(player));
    return 0.0f;
}

FAKE_EXPORT void zkemote_245(void* player, const char* utf8, float one) {
    std::lock_guard hold(S().lock);
    Log("245 p%d %s %g", Id(player), utf8 != nullptr ? utf8 : "(null)", one);
}

FAKE_EXPORT uint8_t zkemote_246(void* player, const char* text) {
    std::lock_guard hold(S().lock);
    Log("246 p%d [%s]", Id(player), text != nullptr ? text : "(null)");
    return S().answer_246;
}

#ifndef FAKE_EMOTE_OMIT_247
FAKE_EXPORT void zkemote_247(void* player, const char* utf8) {
    std::lock_guard hold(S().lock);
    Log("247 p%d %s", Id(player), utf8 != nullptr ? utf8 : "(null)");
}
#endif

FAKE_EXPORT void zkemote_253(void* player) {
    std::lock_guard hold(S().lock);
    Log("253 p%d", Id(player));
}

FAKE_EXPORT void zkemote_254(void* player, float frames) {
    std::lock_guard hold(S().lock);
    Log("254 p%d %g", Id(player), frames);
}

FAKE_EXPORT uint8_t zkemote_255(void* player) {
    std::lock_guard hold(S().lock);
    Log("255 p%d", Id(player));
    return S().answer_255;
}

FAKE_EXPORT void zkemote_256(void* player) {
    std::lock_guard hold(S().lock);
    ZkEmoteDevice* device = S().device;
    if (device != nullptr) {
        std::memcpy(S().matrices_at_draw, device->world, sizeof device->world);
        std::memcpy(S().matrices_at_draw + 16, device->view, sizeof device->view);
        std::memcpy(S().matrices_at_draw + 32, device->projection, sizeof device->projection);
    }
    S().draws += 1;
    const bool drawn = DrawPattern(device);
    Log("256 p%d%s", Id(player), drawn ? " pattern" : "");
}

// ---- for the tests ------------------------------------------------------------------

// The log so far (valid until the next call into this library).
FAKE_EXPORT const char* fake_emote_log() {
    static std::string copy;
    std::lock_guard hold(S().lock);
    copy = S().log;
    return copy.c_str();
}

FAKE_EXPORT void fake_emote_clear_log() {
    std::lock_guard hold(S().lock);
    S().log.clear();
}

// Forgets everything: players, answers, log; player ids start at 1 again.
FAKE_EXPORT void fake_emote_reset() {
    std::lock_guard hold(S().lock);
    S().log.clear();
    S().players.clear();
    S().next_id = 1;
    S().driver_live = false;
    S().fail_driver = false;
    S().answer_255 = S().answer_246 = 0;
    S().device = nullptr;
    S().draws = 0;
}

FAKE_EXPORT void fake_emote_fail_driver(int fail) {
    std::lock_guard hold(S().lock);
    S().fail_driver = fail != 0;
}

FAKE_EXPORT void fake_emote_redraw_answers(int answer_255, int answer_246) {
    std::lock_guard hold(S().lock);
    S().answer_255 = static_cast<uint8_t>(answer_255);
    S().answer_246 = static_cast<uint8_t>(answer_246);
}

FAKE_EXPORT int fake_emote_live_players() {
    std::lock_guard hold(S().lock);
    return static_cast<int>(S().players.size());
}

// World, view and projection as the device held them at the last draw.
FAKE_EXPORT void fake_emote_matrices_at_draw(float out[48]) {
    std::lock_guard hold(S().lock);
    std::memcpy(out, S().matrices_at_draw, sizeof S().matrices_at_draw);
}

FAKE_EXPORT int fake_emote_draws() {
    std::lock_guard hold(S().lock);
    return S().draws;
}
