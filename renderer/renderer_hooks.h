// The renderer's entry into start-up: fills the engine hooks it serves.
#pragma once

namespace zk {

// Fills present_whole_window and request_window_paint and registers the
// scalers' worker jobs. Called by RegisterSubsystemHooks.
void RegisterRendererHooks();

}  // namespace zk
