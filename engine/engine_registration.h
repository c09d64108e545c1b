// Start-up's first step: every subsystem of this build fills its hooks,
// command table rows and job kinds. Each Register function lives in the
// folder it registers; this is the one place that knows them all.
#pragma once

namespace zk {

void RegisterSubsystemHooks();

void RegisterStorageHooks();     // storage/storage_hooks.cpp
void RegisterScriptHooks();      // script/script_hooks.cpp
void RegisterLayerHooks();       // layers/layer_hooks.cpp
void RegisterImageDecoders();    // images/image_decode.cpp
void RegisterRendererHooks();    // renderer/renderer_hooks.cpp
void RegisterEffectJobs();       // effects/scale_supersampled.cpp
void RegisterEffectsHooks();     // effects/effects_hooks.cpp
void RegisterSoundHooks();       // sound/sound_hooks.cpp
void RegisterInputHooks();       // engine/input.cpp
void RegisterSaveCommands();     // engine/save_commands.cpp

}  // namespace zk
