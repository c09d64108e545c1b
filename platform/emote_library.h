// The model player library (zkemote.h): found only beside the executable,
// never in a game folder or on a search path (a game folder is data, and
// the engine runs no code that arrives with it). Loading it runs its code.
//
// Threading: loaded and unloaded by the main thread at start-up and
// shutdown, called by the thread of the frame step in between.
#pragma once

#include <memory>
#include <string_view>

#include "platform/zkemote.h"

namespace zk::platform {

// The library's entry points, all set while it is loaded.
struct EmoteApiTable {
    void* (*create_driver)(ZkEmoteDriverArgs*) = nullptr;          // 2
    void (*release_driver)(void*) = nullptr;                        // 102
    void (*set_up_driver)(void*, float) = nullptr;                  // 110
    void (*load_player)(void*, const uint8_t*, uint64_t, void**) = nullptr;  // 119
    void (*release_player)(void*) = nullptr;                        // 202
    void (*player_loaded)(void*) = nullptr;                         // 205
    void (*set_value_214)(void*, float) = nullptr;
    void (*set_value_216)(void*, float) = nullptr;
    void (*set_value_218)(void*, float) = nullptr;
    void (*set_position)(void*, float, float, float, float) = nullptr;  // 220
    void (*set_scale)(void*, float, float, float) = nullptr;            // 222
    void (*set_rotation)(void*, float, float, float) = nullptr;         // 224
    void (*set_named_value)(void*, const char*, float, float, float) = nullptr;  // 233
    void (*set_five_values)(void*, float, float, float, float, float) = nullptr;  // 235
    float (*clear_five_values)(void*) = nullptr;                        // 236
    void (*text_action_1)(void*, const char*, float) = nullptr;         // 245
    uint8_t (*needs_redraw_for)(void*, const char*) = nullptr;          // 246
    void (*text_action)(void*, const char*) = nullptr;                  // 247
    void (*action_253)(void*) = nullptr;
    void (*advance)(void*, float) = nullptr;                            // 254
    uint8_t (*needs_redraw)(void*) = nullptr;                           // 255
    void (*draw)(void*) = nullptr;                                      // 256
};

// Opens "emotedriver.so" in `folder` (a host folder) and closes it again,
// then opens "VEZoduz.so" there and takes every entry point. True when the
// library is loaded and complete; anything missing (either file, a symbol,
// or an ABI version other than 1) is no library, silently, and leaves none
// loaded. A library loaded before is unloaded first.
bool LoadEmoteLibraryFrom(std::string_view folder);
// The same from the folder of the running executable.
bool LoadEmoteLibrary();
// Closes the library; its entry points are gone.
void UnloadEmoteLibrary();
bool EmoteLibraryAvailable();
// The entry points (all null while no library is loaded).
const EmoteApiTable& EmoteApi();

}  // namespace zk::platform
