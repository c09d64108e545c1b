#include "engine/engine_registration.h"

#include "core/engine_hooks.h"
#include "engine/cursor_command.h"
#include "engine/dialog_commands.h"
#include "engine/engine_commands.h"
#include "engine/main_loop.h"
#include "engine/screen_saver.h"
#include "engine/system_variables.h"
#include "engine/window_commands.h"
#include "engine/window_sizing.h"
#include "images/frame_sequence.h"
#include "renderer/cpu_back_buffer.h"
#include "renderer/cpu_presentation.h"
#include "script/data_commands.h"
#include "sound/window_movie.h"
#include "sound/window_movie_state.h"
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
    RegisterWindowCommands();
    RegisterEffectsHooks();
    RegisterScriptDataCommands();
    RegisterTextFileCommands();
    RegisterSystemServices();
    RegisterDialogCommands();
    RegisterCursorCommand();
    RegisterScreenSaver();
}

}  // namespace zk
