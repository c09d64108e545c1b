// Control flow: the commands the script compiler lowers every conditional,
// loop and subroutine to. They move a task's program counter and push and
// pop its block, loop and call stacks (script/script_task.h).
//
// Targets of blocks and loops sit in their records' code length; jumps and
// calls find labels through the label table. Every stack has a depth limit
// (127 blocks, 63 loops, 63 calls open) and every misuse a numbered error
// naming the commands involved; all are fatal and the handler returns -1.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/error_codes.h"

namespace zk {

struct LabelEntry;

inline constexpr uint8_t kCmdBlockSkipToEnd = 45;
inline constexpr uint8_t kCmdLeaveBlocks = 46;
inline constexpr uint8_t kCmdRestartBlock = 47;
inline constexpr uint8_t kCmdBlockEnd = 48;
inline constexpr uint8_t kCmdLabelExists = 52;
inline constexpr uint8_t kCmdLeaveLoops = 56;
inline constexpr uint8_t kCmdContinueLoop = 57;
inline constexpr uint8_t kCmdLoopEnd = 58;

inline constexpr int kMaxOpenBlocks = 127;
inline constexpr int kMaxOpenLoops = 63;
inline constexpr int kMaxOpenCalls = 63;

int32_t CmdJumpToLabel();     // 42
int32_t CmdCallSubroutine();  // 43
int32_t CmdBlockBegin();      // 44
int32_t CmdBlockSkipToEnd();  // 45
int32_t CmdLeaveBlocks();     // 46
int32_t CmdRestartBlock();    // 47
int32_t CmdBlockEnd();        // 48
int32_t CmdBlockElseIf();     // 11
int32_t CmdLoopBegin();       // 55
int32_t CmdLeaveLoops();      // 56
int32_t CmdContinueLoop();    // 57
int32_t CmdLoopEnd();         // 58
int32_t CmdReturn();          // 79
int32_t CmdLabelExists();     // 52

// The label of a name, or null after reporting 108180 with the name.
const LabelEntry* FindLabelReported(std::string_view name);

// Registers the handlers above and command 104 (wait) into the CommandTable.
void InstallControlFlowCommands();

}  // namespace zk
