// Start-up of the evaluator: its tables (the expression opcode and entry
// tables, the assignment operator tables, the per-command switches) and the
// command handlers of this module (no-operation slots, 14, 15, 25, 50, 53,
// 92), registered into the CommandTable.
#pragma once

namespace zk {

// Both are called once from the script machine's fill_script_tables hook
// (and by tests). Safe to call again: they refill the same slots.
void FillEvaluatorTables();
void InstallEvaluatorCommands();

}  // namespace zk
