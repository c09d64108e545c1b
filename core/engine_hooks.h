// The points where start-up, the frame step and shutdown call into
// subsystems that plug into the engine core. Each is filled at start-up by
// the subsystem that owns it (engine/engine_registration.h); a hook left empty
// means that subsystem is not part of this build, and its step does nothing.
#pragma once

#include <cstdint>
#include <string_view>

namespace zk {

struct WindowRecord;
struct NamedTreeNode;

struct EngineHooks {
    // Storage.
    bool (*load_codec_libraries)() = nullptr;       // true when the Snappy-style codec loaded
    void (*unload_codec_libraries)() = nullptr;
    int (*detect_appended_data)() = nullptr;        // -1 end, 1 appended data, 0 none
    void (*build_descramble_tables)() = nullptr;
    int (*build_pack_index)() = nullptr;            // 0 ok
    bool (*pack_index_holds_config)() = nullptr;    // zkbin\zkcfg.zbn is packed: release data
    // 0 ok; sets the working folder. Calls `while_compiling` (start-up's
    // one-time tables) while the compiler works.
    int (*run_compiler_link)(void (*while_compiling)()) = nullptr;
    bool (*appended_data_present)() = nullptr;
    void (*reset_save_rows)() = nullptr;
    void (*free_save_buffers)() = nullptr;

    // Screen-saver build.
    bool (*screen_saver_build)() = nullptr;
    int (*handle_screen_saver_switches)() = nullptr;  // -1 handled the run

    // Script machine.
    void (*fill_script_tables)() = nullptr;  // expression entries, operator tables
    int (*boot_script_system)() = nullptr;   // 0 ok
    int (*run_task_tree)() = nullptr;        // the walk's result
    void (*reset_pause_clock)(uint32_t now) = nullptr;
    // Gives a task node its record; `system` marks the task "SYSTEM".
    bool (*create_script_task)(NamedTreeNode* node, bool system) = nullptr;

    // Layers.
    // The layer tree's root with the main window's layer set (null on failure).
    NamedTreeNode* (*create_layer_tree)(int32_t width, int32_t height) = nullptr;
    void (*install_pixel_kernels)() = nullptr;
    void (*build_blend_tables)() = nullptr;
    void (*create_text_buffer)() = nullptr;
    void (*enumerate_fonts)() = nullptr;
    int (*compose_window)(int window_number) = nullptr;  // non-zero stops the frame
    void (*reset_dirty_rects)() = nullptr;
    void (*propagate_dirty_rect)(NamedTreeNode* node) = nullptr;
    int (*start_worker_threads)() = nullptr;             // 0, or -1 after a message box
    void (*stop_worker_threads)() = nullptr;
    bool (*load_emote_library)() = nullptr;     // true when the model player library loaded
    void (*release_emote_players)() = nullptr;  // at shutdown, while that library is loaded
    void (*unload_emote_library)() = nullptr;
    void (*load_webp_library)() = nullptr;
    void (*unload_webp_library)() = nullptr;
    void (*delete_text_slot_objects)() = nullptr;

    // Renderer.
    int (*present_whole_window)(WindowRecord& record) = nullptr;
    int (*request_window_paint)(int window_number) = nullptr;  // non-zero stops the frame
    // The GPU path's device, made last in start-up when the path is on:
    // 0 ready, 1 unusable (start-up falls back to CPU drawing), -1 fatal.
    int (*init_direct3d)() = nullptr;
    // Releases the capture and render-target textures, then the device.
    void (*release_direct3d)() = nullptr;

    // Window sizing: the sizing messages the window procedure routes here
    // (each followed by the default handling). lparam as the message has it.
    void (*on_window_move)(WindowRecord& record, int64_t lparam) = nullptr;                  // WM_MOVE
    void (*on_window_size)(WindowRecord& record, uint64_t wparam, int64_t lparam) = nullptr;  // WM_SIZE
    void (*on_window_sizing)(WindowRecord& record, uint64_t wparam, int64_t lparam) = nullptr;  // WM_SIZING
    void (*on_get_min_max_info)(WindowRecord& record, int64_t lparam) = nullptr;             // WM_GETMINMAXINFO
    void (*on_window_pos_changed)(WindowRecord& record, int64_t lparam) = nullptr;           // WM_WINDOWPOSCHANGED
    // A maximize the window allows, before the window is maximized: the
    // main window's frame, maximized flag and the sizes kept for the restore.
    void (*on_maximize_command)(WindowRecord& record) = nullptr;
    // A restore of the main window that is neither minimised nor fullscreen,
    // before it happens: the frame back, and the restore of the saved sizes.
    void (*on_restore_command)(WindowRecord& record) = nullptr;
    // The GPU path's device is to be reset before the next frame (does
    // nothing on the CPU path).
    void (*request_direct3d_reset)() = nullptr;

    // Display modes.
    // Leaves fullscreen at shutdown (called only while fullscreen); true on
    // success, which clears the fullscreen and maximized flags.
    bool (*leave_fullscreen)() = nullptr;

    // Sound and movie.
    int (*create_direct_sound)() = nullptr;  // 0 ok
    int (*init_sound)() = nullptr;           // 0 ok
    int8_t (*sound_thread_state)() = nullptr;  // -1 never started, 0 running, else ended
    void (*release_direct_sound)() = nullptr;
    void (*advance_layer_movie)() = nullptr;
    bool (*window_movie_playing)() = nullptr;
    // The window movie's notification (WM_MOVIE_NOTIFY): drains the movie's
    // events and, once it has ended, clears its playing byte.
    void (*window_movie_notify)() = nullptr;
    void (*release_window_movie)() = nullptr;
    // After a window's paint: a movie over the window draws its frame again.
    void (*window_painted)(WindowRecord& record) = nullptr;
    void (*release_flash)() = nullptr;  // the Flash control and its child window
    // A tree node is about to be freed (the layer movie forgets its target).
    void (*tree_node_freed)(NamedTreeNode* node) = nullptr;
    bool (*create_sound_channel)(NamedTreeNode* node) = nullptr;

    // Input.
    void (*poll_input)() = nullptr;
    // Forgets the wheel turns and pointer moves not yet taken (a window record
    // starts afresh).
    void (*clear_pointer_messages)() = nullptr;
    // Handles the window messages waiting on the main thread (the script's
    // pause wait pumps them).
    void (*drain_messages)() = nullptr;
    void (*update_input_state)() = nullptr;
    // A run playing an input script takes the next frame's scripted input
    // (before a frame step counts its frame, and while a script is held).
    void (*take_scripted_input)() = nullptr;
    void (*fill_key_transition_table)() = nullptr;
    int (*count_joysticks)() = nullptr;  // 1 when there is a joystick slot, else 0
    // The touch library: loaded at start-up on systems that have touch
    // input, unloaded at shutdown.
    void (*load_touch_library)() = nullptr;
    void (*unload_touch_library)() = nullptr;
    // Set while the touch library is loaded on a system new enough for
    // gestures: true when the gesture message (wparam, lparam) is a tap the
    // engine takes as a left-button press.
    bool (*decode_gesture)(uint64_t wparam, int64_t lparam) = nullptr;
    // A new window takes dropped files.
    void (*accept_dropped_files)(WindowRecord& record) = nullptr;
    // Shows the mouse cursor again at shutdown, whatever hid it.
    void (*show_cursor)() = nullptr;
    // The pause clock follows the main window's focus (script machine).
    void (*update_inactive_pause)() = nullptr;
    // Whether the fullscreen menu strip is shown (it wakes a hidden cursor).
    bool (*menu_strip_shown)() = nullptr;

    // System services.
    void (*update_fullscreen_menu_strip)() = nullptr;
    void (*show_requested_popup_menu)() = nullptr;
    void (*destroy_menus)() = nullptr;
    // Asks the frame step to show popup menu set `set` at a point of the
    // main window's client area (the letterbox offset already taken off).
    void (*request_popup_menu)(int set, int32_t x, int32_t y) = nullptr;
    // The tray icon goes with the main window.
    void (*remove_tray_icon)() = nullptr;
    // The main window's shape region (the window command's) goes with it.
    void (*delete_window_region)() = nullptr;
    // Command 93's screen-saver suppression is on.
    bool (*screen_saver_suppressed)() = nullptr;
    bool (*draw_during_window_movie)() = nullptr;
    // A new window gets the arrow cursor.
    void (*set_arrow_cursor)(WindowRecord& record) = nullptr;
    // Gives a menu node its record with the caption.
    bool (*create_menu_item)(NamedTreeNode* node, const char* caption) = nullptr;
};

EngineHooks& Hooks();

}  // namespace zk
