#include "core/engine_hooks.h"
#include "core/named_tree.h"
#include "core/root_trees.h"
#include "layers/blend_jobs.h"
#include "layers/blend_tables.h"
#include "layers/compositor.h"
#include "layers/dirty_rect.h"
#include "layers/emote_command.h"
#include "layers/emote_players.h"
#include "layers/layer_command.h"
#include "layers/layer_query.h"
#include "layers/layer_tree_root.h"
#include "layers/pixel_kernels.h"
#include "layers/text_buffer.h"
#include "layers/text_buffer_commands.h"
#include "layers/text_style.h"
#include "layers/worker_pool.h"
#include "platform/emote_library.h"
#include "script/task_runner.h"

namespace zk {

namespace {

void ResetLayerTreeDirtyRects() {
    NamedTreeNode* root = TheRootTrees().layers;
    ResetDirtyRects(root != nullptr ? root->first_child : nullptr);
}

void PropagateDirtyRectHook(NamedTreeNode* node) { PropagateDirtyRect(node); }

}  // namespace

// Plugs this subsystem into start-up, the frame step and shutdown.
void RegisterLayerHooks() {
    EngineHooks& hooks = Hooks();
    hooks.create_layer_tree = CreateLayerTree;
    hooks.install_pixel_kernels = InstallPixelKernels;
    hooks.build_blend_tables = BuildBlendTables;
    hooks.compose_window = ComposeWindow;
    hooks.reset_dirty_rects = ResetLayerTreeDirtyRects;
    hooks.propagate_dirty_rect = PropagateDirtyRectHook;
    hooks.create_text_buffer = [] { CreateTextBuffer(); };
    SetTaskTextClearer(ClearTextBuffer);
    hooks.enumerate_fonts = EnumerateFonts;
    hooks.delete_text_slot_objects = DeleteTextSlotObjects;
    RegisterTextStyleCommands();
    RegisterTextBufferCommands();
    RegisterWorkerHooks();
    RegisterBlendJobs();
    InstallLayerCommands();
    InstallLayerQueryCommand();
    InstallEmoteCommand();
    // The model player library: its players go before the device at
    // shutdown, the library itself last. A hook already filled is kept:
    // the start-up tests put their own stand-ins there before start-up
    // registers the subsystems.
    if (hooks.load_emote_library == nullptr) hooks.load_emote_library = [] { return platform::LoadEmoteLibrary(); };
    if (hooks.release_emote_players == nullptr) hooks.release_emote_players = ReleaseAllEmotePlayers;
    if (hooks.unload_emote_library == nullptr) hooks.unload_emote_library = platform::UnloadEmoteLibrary;
}

}  // namespace zk
