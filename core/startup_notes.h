// What start-up found out, for the closing line and for the script system:
// why it failed, and whether the model player library is loaded.
#pragma once

#include <string>

namespace zk {

// Keeps the first reason start-up failed, in a few words ("the label
// SYSTEM_START is not in ..."); later notes are dropped.
void NoteStartupFailure(std::string what);
const std::string& StartupFailureNote();
void ClearStartupFailureNote();

// The model player library loaded at start-up (the GPU path is on).
bool EmoteLibraryLoaded();
void SetEmoteLibraryLoaded(bool loaded);

}  // namespace zk
