#include "script/evaluator_setup.h"

#include "script/assign.h"
#include "script/command_table.h"
#include "script/expr_eval.h"

namespace zk {

void FillEvaluatorTables() {
    FillExprOpTable(1);
    FillExprEntryTable();
    FillAssignOpTable();
    ResetCommandSwitches();
}

void InstallEvaluatorCommands() {
    constexpr uint8_t kNoOperationSlots[] = {0, 9, 77, 80, 82, 83, 84};
    for (uint8_t code : kNoOperationSlots) RegisterCommandHandler(code, CmdNoOperation);
    RegisterCommandHandler(14, CmdSetCommandSwitches);
    RegisterCommandHandler(15, CmdCheckArgs15);
    RegisterCommandHandler(kCmdDeclareReal, CmdDeclareRealVariable);
    RegisterCommandHandler(kCmdDeclareInteger, CmdDeclareIntVariable);
    RegisterCommandHandler(kCmdAssign, CmdAssign);
    RegisterCommandHandler(kCmdDeclareText, CmdDeclareStringVariable);
}

}  // namespace zk
