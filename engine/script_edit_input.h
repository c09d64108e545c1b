// The window-procedure side of the script's EDIT field: window 0's typed
// text, input-method composition, editing keys and Ctrl+V reach the field
// while it has the focus; the keys still reach the key-state arrays. The
// field ends when window 0 is destroyed.
#pragma once

#include <cstdint>

namespace zk {

void HandleScriptEditMessage(int window_number, uint32_t message, uint64_t wparam);

}  // namespace zk
