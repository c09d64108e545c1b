#include "engine/engine_registration.h"


#include "core/engine_hooks.h"
#include "engine/emote_gpu_link.h"
#include "core/named_tree.h"
#include "core/root_trees.h"
#include "engine/cursor_command.h"
#include "engine/dialog_commands.h"
#include "engine/engine_commands.h"
#include "engine/main_loop.h"
#include "engine/menu_strip.h"
#include "engine/screen_saver.h"
#include "engine/system_variables.h"
#include "engine/window_commands.h"
#include "engine/window_sizing.h"
#include "core/startup_notes.h"
#include "core/window_record.h"
#include "images/frame_sequence.h"
#include "layers/layer_gpu_requests.h"
#include "renderer/cpu_back_buffer.h"
#include "renderer/cpu_presentation.h"
#include "script/data_commands.h"
#include "sound/window_movie.h"
#include "sound/window_movie_state.h"
#include "system/menus.h"
#include "system/system_command.h"
#include "system/text_file_commands.h"

namespace zk {

void RegisterSubsystemHooks() {
    RegisterStorageHooks();
    RegisterScriptHooks();
    // The numbers below 1000: what scripts read of the engine.
    InstallSystemVariables();
    Hooks().drain_messages = DrainMessages;
    RegisterLayerHooks();
    RegisterImageDecoders();
    InstallFrameSequenceCommands();
    RegisterRendererHooks();
    RegisterEffectJobs();
    RegisterInputHooks();
    RegisterSaveCommands();
    RegisterSoundHooks();
    SetMovieScreenGeometrySource([] {
        return MovieScreenGeometry{TheLetterboxOffset().x, TheLetterboxOffset().y, TheCpuBackBuffer().width,
                                   TheCpuBackBuffer().height};
    });
    RegisterEngineCommands();
    RegisterWindowSizingHooks();
    // A movie playing in the window follows the picture when the window's
    // size changes: its game-screen area placed again in client pixels.
    TheWindowSizingHooks().window_movie_rect = [](platform::Rect& movie) {
        const WindowMovieState& state = TheWindowMovieState();
        if (state.playing.load() == 0) return false;
        movie = platform::Rect{state.x, state.y, state.x + state.w, state.y + state.h};
        return true;
    };
    TheWindowSizingHooks().move_window_movie = [](const platform::Rect& placed) {
        PlaceMovieVideoWindow(placed.left, placed.top, placed.Width(), placed.Height());
    };
    // The models are drawn for the device window's size: a new size redraws
    // them.
    TheWindowSizingHooks().emote_follow_size = [] {
        if (EmoteLibraryLoaded()) TheLayerGpuRequests().full_redraw = 1;
    };
    RegisterEmoteGpuLink();
    RegisterWindowCommands();
    // Command 105's menu set, and the bar made again after a display-mode
    // switch from the name the window keeps: a menu deleted since then
    // takes the bar away rather than end the game with a report.
    // The bar is drawn as the window's menu strip (engine/menu_strip.h).
    TheWindowSizingHooks().set_window_menu_bar = [](WindowRecord& record, const std::string& name) {
        if (!SetWindowMenuBar(record, name)) return false;
        ApplyWindowMenuBar(record);
        return true;
    };
    TheWindowSizingHooks().rebuild_menu_bar = [](WindowRecord& record) {
        const bool exists = !record.menu_set_name.empty() &&
                            FindNodeByPath(TheRootTrees().menus, record.menu_set_name, kFindGroup) != nullptr;
        SetWindowMenuBar(record, exists ? record.menu_set_name : std::string());
        ApplyWindowMenuBar(record);
    };
    TheWindowSizingHooks().remove_menu_bar = RemoveWindowMenuBar;
    TheWindowSizingHooks().remove_menu_strip_menu = [] {
        if (WindowRecord* main_record = MainWindowRecord()) RemoveWindowMenuBar(*main_record);
    };
    Hooks().update_fullscreen_menu_strip = UpdateFullscreenMenuStrip;
    Hooks().menu_strip_shown = FullscreenMenuStripShown;
    RegisterEffectsHooks();
    RegisterScriptDataCommands();
    RegisterTextFileCommands();
    RegisterSystemServices();
    RegisterDialogCommands();
    RegisterCursorCommand();
    RegisterScreenSaver();
}

}  // namespace zk
