// The shape every command handler shares. A handler takes no arguments: it
// reads the current task and command (script/script_task.h) and, when it has
// arguments, decodes them itself. The low 8 bits of the result decide:
// 0 goes on with the task's next command, anything else ends the task's turn
// in this pass (waits and task switches return -1 or 1, errors -1 after
// their report).
#pragma once

#include <cstdint>

namespace zk {

using CommandHandler = int32_t (*)();

// Command codes are 0..120: one CommandTable slot each.
inline constexpr int kCommandSlotCount = 121;
inline constexpr uint8_t kMaxCommandCode = 120;

}  // namespace zk
