// Task commands: 95 starts a named task at a label or restores it from a
// PositionString, 96 ends a task, 97 reads a task's state into a variable.
// Task names are paths of the task tree, normalised against the task folder.
#pragma once

#include <cstdint>

#include "core/error_codes.h"

namespace zk {

inline constexpr uint8_t kCmdStartTask = 95;
inline constexpr uint8_t kCmdEndTask = 96;
inline constexpr uint8_t kCmdQueryTask = 97;

int32_t CmdStartTask();  // 95
int32_t CmdEndTask();    // 96
int32_t CmdQueryTask();  // 97

void InstallTaskCommands();

}  // namespace zk
