#include "script/data_commands.h"

#include "script/command_table.h"
#include "script/math_command.h"
#include "script/position_command.h"
#include "script/variable_conversions.h"
#include "script/variable_info.h"

namespace zk {

void RegisterScriptDataCommands() {
    RegisterCommandHandler(kCmdMath, CmdMath);
    RegisterCommandHandler(kCmdComputePosition, CmdComputePosition);
    RegisterCommandHandler(kCmdScriptFileInfo, CmdScriptFileInfo);
    RegisterCommandHandler(kCmdConvertVariable, CmdConvertVariable);
    RegisterCommandHandler(kCmdVariableInfo, CmdVariableInfo);
}

}  // namespace zk
