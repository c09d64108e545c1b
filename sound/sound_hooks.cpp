// The sound system's part in start-up and shutdown, and its commands.
#include "core/engine_hooks.h"
#include "sound/flash_movie.h"
#include "sound/layer_movie.h"
#include "sound/sound_commands.h"
#include "sound/window_movie.h"
#include "sound/window_movie_state.h"
#include "sound/sound_system.h"

namespace zk {

void RegisterSoundHooks() {
    EngineHooks& hooks = Hooks();
    hooks.create_direct_sound = [] { return static_cast<int>(CreateDirectSound()); };
    hooks.init_sound = [] { return static_cast<int>(InitSound(true)); };
    hooks.sound_thread_state = [] { return TheSoundSystem().thread_state.load(); };
    hooks.release_direct_sound = ReleaseDirectSound;
    hooks.create_sound_channel = CreateSoundChannel;
    RegisterSoundCommands();
    hooks.advance_layer_movie = AdvanceLayerMovie;
    hooks.tree_node_freed = ForgetLayerMovieTarget;
    hooks.release_window_movie = [] {
        ReleaseMovieGraph();
        ResetLayerMovie();
    };
    hooks.window_movie_playing = [] { return TheWindowMovieState().playing.load() != 0; };
    hooks.window_movie_notify = [] {
        if (HandleMovieGraphEvents() == 1) TheWindowMovieState().playing = 0;
    };
    hooks.window_painted = RedrawWindowMovie;
    RegisterWindowMovieCommands();
    RegisterLayerMovieCommands();
    hooks.release_flash = ReleaseFlashControl;
    RegisterFlashCommands();
}

}  // namespace zk
