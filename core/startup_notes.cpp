#include "core/startup_notes.h"

#include <utility>

namespace zk {

namespace {
std::string failure_note;
bool emote_library_loaded = false;
}  // namespace

void NoteStartupFailure(std::string what) {
    if (failure_note.empty()) failure_note = std::move(what);
}
const std::string& StartupFailureNote() { return failure_note; }
void ClearStartupFailureNote() { failure_note.clear(); }

bool EmoteLibraryLoaded() { return emote_library_loaded; }
void SetEmoteLibraryLoaded(bool loaded) { emote_library_loaded = loaded; }

}  // namespace zk
