#include "script/control_flow.h"

#include <algorithm>
#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/engine_state.h"
#include "core/error_report.h"
#include "script/call_plan_run.h"
#include "script/command_table.h"
#include "script/compiled_tables.h"
#include "script/expr_eval.h"
#include "script/labels.h"
#include "script/script_file.h"
#include "script/script_task.h"
#include "script/task_runner.h"
#include "script/variables.h"
#include "base/never.h"

namespace zk {

namespace {

std::array<char, kExprTextSize> label_text;

void ReportNoOpen(uint8_t command, uint8_t opening) {
    ReportScriptErrorF(kErrNoOpenConstruct, true, {CommandName(command), CommandName(command), CommandName(opening)});
}

void ReportDepthLimit(uint8_t opening, int64_t limit) {
    ReportScriptErrorF(kErrDepthLimit, true, {CommandName(opening), CommandName(opening), limit});
}

// Record n (1-based) of the running command; reported when the command has
// fewer records than its code needs.
const ArgDescriptor* RecordOf(size_t n) {
    const ArgDescriptor* record = CurrentCommand().Record(n - 1);
    if (record == nullptr) ReportScriptError(kErrMalformedCode, true);
    return record;
}

// A jump target kept in a record's code length. One outside the file is
// refused by the runner before anything runs there.
int32_t TargetOf(const ArgDescriptor& record) { return static_cast<int32_t>(record.code_length); }

// The general evaluation of a record: nullopt when its code lies outside
// the data section or the run failed with a report.
[[gnu::noinline]] std::optional<ExprValue> EvaluateRecordCodeChecked(const ArgDescriptor& record) {
    std::optional<std::span<const uint8_t>> code = ArgCode(CurrentCommand().data, record);
    if (!code) {
        ReportScriptError(kErrMalformedCode, true);
        return std::nullopt;
    }
    ExprValue value = EvaluateRecordCode(CurrentCommand(), record, record.expr_type, *code);
    if (LastExprAborted() && QuitFlag.load() != 0) return std::nullopt;
    return value;
}

// Evaluates a record with its own expression type's entry; nullopt when its
// code lies outside the data section or the run failed with a report.
[[gnu::always_inline]] inline std::optional<ExprValue> EvaluateRecord(const ArgDescriptor& record) {
    // A condition or count of a common form (a literal, a counter, a
    // counter's test) runs here; a program stands only for code inside
    // the data section.
    const RunningCommand& command = CurrentCommand();
    const ArgDescriptor* first = command.records.data();
    const size_t index = first != nullptr && &record >= first ? static_cast<size_t>(&record - first) : SIZE_MAX;
    int64_t result = 0;
    if (index < command.programs.size() && RunShapedIntProgram(record.expr_type, command.programs[index], result)) {
        ExprValue value;
        value.integer = result;
        value.real = static_cast<double>(result);
        return value;
    }
    return EvaluateRecordCodeChecked(record);
}

bool IsTrue(const ExprValue& value) { return value.integer != 0 || value.real != 0.0; }

// A condition (record 0 of if and else-if) as true or false: a common form
// runs here, where its integer alone decides (its real is the same number),
// anything else through the general evaluation. False when the run failed
// with a report.
[[gnu::always_inline]] inline bool EvaluateCondition(const ArgDescriptor& condition, bool& truth) {
    const RunningCommand& command = CurrentCommand();
    int64_t result = 0;
    // The condition is record 0, whose lead copy the command carries.
    if (&condition == command.records.data() &&
        RunShapedIntProgram(command.lead_records[0].expr_type, command.lead_programs[0], result)) [[likely]] {
        truth = result != 0;
        return true;
    }
    std::optional<ExprValue> value = EvaluateRecordCodeChecked(condition);
    if (!value) return false;
    truth = IsTrue(*value);
    return true;
}

// The info word can announce up to 31 values of a kind; the frames hold 16.
// The loader refuses such files already; this keeps the runner safe too.
CallValueCounts ClampedCounts(uint16_t info) {
    CallValueCounts counts = UnpackCallInfo(info);
    counts.integers = std::min(counts.integers, kMaxCallValues);
    counts.reals = std::min(counts.reals, kMaxCallValues);
    counts.texts = std::min(counts.texts, kMaxCallValues);
    return counts;
}

struct ValueArrays {
    std::array<int64_t, kCallValueSlots>& integers;
    std::array<double, kCallValueSlots>& reals;
    std::array<std::string, kCallValueSlots>& texts;
    std::array<uint8_t, kCallValueSlots>& integer_given;
    std::array<uint8_t, kCallValueSlots>& real_given;
    std::array<uint8_t, kCallValueSlots>& text_given;
};

// Value i of each kind comes from keyword `base` + i of its kind.
struct KeywordBases {
    int integers, reals, texts;
};
constexpr KeywordBases kCallKeywords{0, 16, 32};
constexpr KeywordBases kReturnKeywords{-1, 15, 31};

void FillValues(const CommandArgBlock& args, const CallValueCounts& counts, KeywordBases bases, ValueArrays out) {
    for (int i = 1; i <= counts.integers; ++i) {
        const CommandArgSlot* slot = args.Find(static_cast<uint32_t>(bases.integers + i));
        out.integer_given[i] = slot != nullptr ? 1 : 0;
        out.integers[i] = slot != nullptr ? slot->value : 0;
    }
    for (int i = 1; i <= counts.reals; ++i) {
        const CommandArgSlot* slot = args.Find(static_cast<uint32_t>(bases.reals + i));
        out.real_given[i] = slot != nullptr ? 1 : 0;
        // Reals are raw records: the decoder would truncate them.
        out.reals[i] = slot != nullptr ? EvalRealExpr(slot->code).real : 0.0;
    }
    for (int i = 1; i <= counts.texts; ++i) {
        const CommandArgSlot* slot = args.Find(static_cast<uint32_t>(bases.texts + i));
        out.text_given[i] = slot != nullptr ? 1 : 0;
        if (slot != nullptr) {
            out.texts[i].assign(slot->Text());
        } else {
            out.texts[i].clear();
        }
    }
}

// Opens the loop frames between the task's stack and a restored depth.
bool RestoreLoopDepth(ScriptTask& task, int8_t depth) {
    task.loop_depth = depth;
    return EnsureStackEntries(task);
}

bool RestoreBlockDepth(ScriptTask& task, int8_t depth) {
    task.block_depth = depth;
    return EnsureStackEntries(task);
}

// n of the leave and restart commands: keyword 0's low 32 bits, default 1.
int32_t CountArgument() {
    const CommandArgSlot* slot = Args().Find(0);
    return slot != nullptr ? static_cast<int32_t>(slot->value) : 1;
}

ScriptTask* Task() { return TheCurrentTask().task; }

}  // namespace

const LabelEntry* FindLabelReported(std::string_view name) {
    const LabelEntry* label = LabelAt(FindLabel(name));
    if (label == nullptr) ReportScriptErrorF(kErrLabelMissing, true, {name});
    return label;
}

int32_t CmdJumpToLabel() {
    ScriptTask* task = Task();
    if (ZK_NEVER(task == nullptr)) return -1;  // the runner sets it
    const ArgDescriptor* record = RecordOf(1);
    if (!record) return -1;
    const LabelEntry* label = nullptr;
    if (IsFoldedJump(*record)) {
        label = LabelAt(FoldedJumpLabel(*record));
        if (label == nullptr) {  // folded at load from this very table: never outside it
            ReportScriptError(kErrMalformedCode, true);
            return -1;
        }
    } else {
        std::optional<std::span<const uint8_t>> code = ArgCode(CurrentCommand().data, *record);
        if (!code) {
            ReportScriptError(kErrMalformedCode, true);
            return -1;
        }
        const ExprValue name = EvalTextExpr(*code, label_text);
        label = FindLabelReported(std::string_view(label_text.data(), std::min(name.text_length, label_text.size())));
        if (label == nullptr) return -1;
    }

    // A label's depths count from the start of its subroutine.
    int block_depth = label->block_depth;
    int loop_depth = label->loop_depth;
    if (task->call_depth > 0) {
        const CallFrame* caller = CallAt(*task, task->call_depth - 1);
        if (caller == nullptr) return -1;
        block_depth += caller->saved_block_depth;
        loop_depth += caller->saved_loop_depth;
    }
    if (block_depth > kMaxOpenBlocks) {
        ReportDepthLimit(kCmdBlockBegin, kMaxOpenBlocks + 1);
        return -1;
    }
    if (loop_depth > kMaxOpenLoops) {
        ReportDepthLimit(kCmdLoopBegin, kMaxOpenLoops + 1);
        return -1;
    }
    if (!SwitchTaskFile(*task, label->file_number)) return -1;
    task->block_depth = static_cast<int8_t>(block_depth);
    task->loop_depth = static_cast<int8_t>(loop_depth);
    if (!EnsureStackEntries(*task)) return -1;
    task->next_index = static_cast<int32_t>(label->command_index);
    return 0;
}

namespace {

// A call planned at load: the same frames, evaluator state and errors as
// the general path. nullopt when the general path must run.
[[gnu::always_inline]] inline std::optional<int32_t> RunPlannedCall(ScriptTask& task, const RunningCommand& command,
                                                                    const CallPlan& plan) {
    if (!CallPlanUsable(plan, task)) return std::nullopt;
    const int depth = task.call_depth;
    if (depth + 1 > kMaxOpenCalls) return std::nullopt;  // reported there
    ApplyPlannedEvaluatorEnd(plan, task);
    CallFrame* callee = CallAt(task, depth + 1);
    CallFrame* caller = CallAt(task, depth);
    if (callee == nullptr || caller == nullptr) return -1;
    callee->arg_counts = plan.counts;
    if (plan.fill) FillPlannedArguments(plan, task, *callee);
    const uint16_t return_file = task.file_number;
    if (!PlannedFileKept(task, plan.label_file) && !SwitchTaskFile(task, plan.label_file)) return -1;
    caller->return_index = command.index + 1;
    caller->return_file = return_file;
    caller->caller_line = plan.line;
    caller->saved_block_depth = static_cast<uint8_t>(task.block_depth);
    caller->saved_loop_depth = static_cast<uint8_t>(task.loop_depth);
    task.call_depth = static_cast<int8_t>(depth + 1);
    task.next_index = static_cast<int32_t>(plan.label_command_index);
    return 0;
}

// A return planned at load, from an open call; nullopt when the general
// path must run.
[[gnu::always_inline]] inline std::optional<int32_t> RunPlannedReturn(ScriptTask& task, const CallPlan& plan) {
    const int depth = task.call_depth;
    if (depth <= 0 || !CallPlanUsable(plan, task)) return std::nullopt;
    ApplyPlannedEvaluatorEnd(plan, task);
    CallFrame* entry = CallAt(task, depth - 1);
    if (entry == nullptr) return -1;
    entry->return_counts = plan.counts;
    if (plan.fill) FillPlannedReturns(plan, task, *entry);
    if (!PlannedFileKept(task, entry->return_file) && !SwitchTaskFile(task, entry->return_file)) return -1;
    task.call_depth = static_cast<int8_t>(depth - 1);
    task.next_index = entry->return_index;
    return 0;
}

// The general call: decodes every record and fills the frame from the
// argument block. Out of line, so that the planned path stays small.
[[gnu::noinline]] int32_t CallSubroutineDecoded() {
    if (DecodeCallCommandArgs(kCmdCallSubroutine) != 0) return -1;
    ScriptTask* task = Task();
    if (ZK_NEVER(task == nullptr)) return -1;
    const int depth = task->call_depth;
    if (depth + 1 > kMaxOpenCalls) {
        ReportDepthLimit(kCmdCallSubroutine, kMaxOpenCalls + 1);
        return -1;
    }
    CallFrame* callee = CallAt(*task, depth + 1);
    CallFrame* caller = CallAt(*task, depth);
    if (callee == nullptr || caller == nullptr) return -1;

    const RunningCommand& command = CurrentCommand();
    const CommandArgBlock& args = Args();
    const CallValueCounts counts = ClampedCounts(command.info);
    callee->arg_counts = counts;
    const CommandArgSlot* label_slot = args.Find(0);
    const bool label_only = command.arg_count == 1 && label_slot != nullptr;
    if (!label_only) {
        FillValues(args, counts, kCallKeywords,
                   {callee->int_args, callee->real_args, callee->text_args, callee->int_arg_given,
                    callee->real_arg_given, callee->text_arg_given});
    }

    const uint16_t folded = label_slot != nullptr ? FoldedCallLabel(label_slot->expr_type, label_slot->op) : 0;
    const LabelEntry* label = nullptr;
    if (folded != 0) {
        label = LabelAt(folded);
        if (label == nullptr) {  // folded at load from this very table: never outside it
            ReportScriptError(kErrMalformedCode, true);
            return -1;
        }
    } else {
        label = FindLabelReported(label_slot != nullptr ? label_slot->Text() : std::string_view());
        if (label == nullptr) return -1;
    }
    const uint16_t return_file = task->file_number;
    const int32_t caller_line = task->file.Line(command.index);
    if (!SwitchTaskFile(*task, label->file_number)) return -1;
    caller->return_index = command.index + 1;
    caller->return_file = return_file;
    caller->caller_line = caller_line;
    caller->saved_block_depth = static_cast<uint8_t>(task->block_depth);
    caller->saved_loop_depth = static_cast<uint8_t>(task->loop_depth);
    task->call_depth = static_cast<int8_t>(depth + 1);
    task->next_index = static_cast<int32_t>(label->command_index);
    return 0;
}

// The general return, as the general call.
[[gnu::noinline]] int32_t ReturnDecoded() {
    if (DecodeCommandArgs(kCmdReturn) != 0) return -1;
    ScriptTask* task = Task();
    if (ZK_NEVER(task == nullptr)) return -1;
    const int depth = task->call_depth;
    if (depth <= 0) {
        if (task->system_flag != 0) {
            ReportNoOpen(kCmdReturn, kCmdCallSubroutine);
            return -1;
        }
        // A return with no call open ends the task.
        EndTaskNode(TheCurrentTask().node);
        return -1;
    }
    CallFrame* entry = CallAt(*task, depth - 1);
    if (entry == nullptr) return -1;
    const RunningCommand& command = CurrentCommand();
    const CallValueCounts counts = ClampedCounts(command.info);
    entry->return_counts = counts;
    if (command.arg_count >= 1) {
        FillValues(Args(), counts, kReturnKeywords,
                   {entry->int_returns, entry->real_returns, entry->text_returns, entry->int_return_given,
                    entry->real_return_given, entry->text_return_given});
    }
    if (!SwitchTaskFile(*task, entry->return_file)) return -1;
    task->call_depth = static_cast<int8_t>(depth - 1);
    task->next_index = entry->return_index;
    return 0;
}

}  // namespace

int32_t CmdCallSubroutine() {
    if (ScriptTask* task = Task(); task != nullptr) {
        if (const CallPlan* plan = CallPlanFor(*task, CurrentCommand())) {
            if (std::optional<int32_t> result = RunPlannedCall(*task, CurrentCommand(), *plan)) return *result;
        }
    }
    return CallSubroutineDecoded();
}

int32_t CmdReturn() {
    if (ScriptTask* task = Task(); task != nullptr) {
        if (const CallPlan* plan = CallPlanFor(*task, CurrentCommand())) {
            if (std::optional<int32_t> result = RunPlannedReturn(*task, *plan)) return *result;
        }
    }
    return ReturnDecoded();
}

namespace {

// The whole command, for every case BlockBeginKept leaves.
[[gnu::noinline]] int32_t BlockBeginGeneral() {
    ScriptTask* task = Task();
    if (ZK_NEVER(task == nullptr)) return -1;
    const int depth = task->block_depth;
    if (depth >= kMaxOpenBlocks) {
        ReportDepthLimit(kCmdBlockBegin, kMaxOpenBlocks + 1);
        return -1;
    }
    const ArgDescriptor* condition = RecordOf(1);
    const ArgDescriptor* next = condition ? RecordOf(2) : nullptr;
    const ArgDescriptor* end = next ? RecordOf(3) : nullptr;
    if (!end) return -1;
    BlockFrame* frame = BlockAt(*task, depth);
    if (frame == nullptr || BlockAt(*task, depth + 1) == nullptr) return -1;
    frame->begin_index = CurrentCommand().index;
    frame->loop_depth = task->loop_depth;
    frame->end_target = TargetOf(*end);
    task->block_depth = static_cast<int8_t>(depth + 1);

    bool truth = false;
    if (!EvaluateCondition(*condition, truth)) return -1;
    if (!truth) task->next_index = next->code_length != 0 ? TargetOf(*next) : TargetOf(*end);
    return 0;
}

// The common case without a call: the three records there, the frames at
// this depth and the next made already, and a condition of a shaped form
// whose cell (if any) is kept for this variable generation. The same steps
// as BlockBeginGeneral in the same order; false (nothing changed) when any
// of it does not hold.
[[gnu::always_inline]] inline bool BlockBeginKept() {
    ScriptTask* task = Task();
    const RunningCommand& command = CurrentCommand();
    if (task == nullptr || command.records.size() < 3) return false;
    const int depth = task->block_depth;
    if (depth < 0 || depth >= kMaxOpenBlocks) return false;
    const size_t at = static_cast<size_t>(depth);
    if (at + 1 >= task->blocks.size() || task->blocks[at] == nullptr || task->blocks[at + 1] == nullptr) return false;
    // Record 0's lead copy is the condition (empty when the command has no
    // record 0 of its own, which the general path reports).
    const IntExprProgram& program = command.lead_programs[0];
    if (program.shape == IntExprShape::kGeneral) return false;
    if (program.shape != IntExprShape::kConstant &&
        (program.cell_generation != VariableGeneration() || program.cell == nullptr)) {
        return false;
    }
    if (!IntProgramsStandFor(command.lead_records[0].expr_type)) return false;
    const ArgDescriptor& next = command.records[1];
    const ArgDescriptor& end = command.records[2];
    BlockFrame& frame = *task->blocks[at];
    frame.begin_index = command.index;
    frame.loop_depth = task->loop_depth;
    frame.end_target = TargetOf(end);
    task->block_depth = static_cast<int8_t>(depth + 1);
    int64_t result = 0;
    detail::RunShapeOn(program, program.cell, result);
    if (result == 0) task->next_index = next.code_length != 0 ? TargetOf(next) : TargetOf(end);
    return true;
}

}  // namespace

int32_t CmdBlockBegin() {
    if (BlockBeginKept()) [[likely]] return 0;
    return BlockBeginGeneral();
}

int32_t CmdBlockElseIf() {
    ScriptTask* task = Task();
    if (ZK_NEVER(task == nullptr)) return -1;
    const int depth = task->block_depth;
    if (depth <= 0) {
        ReportNoOpen(kCmdBlockElseIf, kCmdBlockBegin);
        return -1;
    }
    const RunningCommand& command = CurrentCommand();
    if (command.arg_count == 0) return 0;  // an else part
    const ArgDescriptor* condition = RecordOf(1);
    if (!condition) return -1;
    bool truth = false;
    if (!EvaluateCondition(*condition, truth)) return -1;
    if (truth) return 0;
    const ArgDescriptor* next = command.Record(1);
    if (next && next->code_length != 0) {
        task->next_index = TargetOf(*next);
        return 0;
    }
    const BlockFrame* block = BlockAt(*task, depth - 1);
    if (block == nullptr) return -1;
    task->next_index = block->end_target;
    return 0;
}

int32_t CmdBlockSkipToEnd() {
    ScriptTask* task = Task();
    if (ZK_NEVER(task == nullptr)) return -1;
    const int depth = task->block_depth;
    if (depth <= 0) {
        ReportNoOpen(kCmdBlockElseIf, kCmdBlockBegin);
        return -1;
    }
    const BlockFrame* block = BlockAt(*task, depth - 1);
    if (block == nullptr) return -1;
    task->next_index = block->end_target;
    return 0;
}

namespace {

// 46 and 47: leave n blocks (on after the n-th block's end), or run the
// n-th block again from its first command.
int32_t JumpOutOfBlocks(uint8_t code, bool restart) {
    if (DecodeCommandArgs(code) != 0) return -1;
    ScriptTask* task = Task();
    if (ZK_NEVER(task == nullptr)) return -1;
    const int32_t n = CountArgument();
    if (n <= 0) return 0;
    const int depth = task->block_depth;
    if (n > depth) {
        ReportNoOpen(code, kCmdBlockBegin);
        return -1;
    }
    const BlockFrame* block = BlockAt(*task, depth - n);
    if (block == nullptr) return -1;
    task->block_depth = static_cast<int8_t>(restart ? depth - n : depth - n + 1);
    task->next_index = restart ? block->begin_index : block->end_target;
    return RestoreLoopDepth(*task, block->loop_depth) ? 0 : -1;
}

}  // namespace

int32_t CmdLeaveBlocks() { return JumpOutOfBlocks(kCmdLeaveBlocks, false); }

int32_t CmdRestartBlock() { return JumpOutOfBlocks(kCmdRestartBlock, true); }

namespace {

// The whole command: reports a missing open block, makes a missing frame.
[[gnu::noinline]] int32_t BlockEndGeneral() {
    ScriptTask* task = Task();
    if (ZK_NEVER(task == nullptr)) return -1;
    const int depth = task->block_depth;
    if (depth <= 0) {
        ReportNoOpen(kCmdBlockEnd, kCmdBlockBegin);
        return -1;
    }
    BlockFrame* block = BlockAt(*task, depth - 1);
    if (block == nullptr) return -1;
    task->block_depth = static_cast<int8_t>(depth - 1);
    block->end_target = 0;
    return 0;
}

}  // namespace

int32_t CmdBlockEnd() {
    // An open block whose frame exists: the same steps, without a call.
    ScriptTask* task = Task();
    if (task != nullptr) [[likely]] {
        const int depth = task->block_depth;
        const size_t at = static_cast<size_t>(depth - 1);
        if (depth > 0 && at < task->blocks.size() && task->blocks[at] != nullptr) [[likely]] {
            task->block_depth = static_cast<int8_t>(depth - 1);
            task->blocks[at]->end_target = 0;
            return 0;
        }
    }
    return BlockEndGeneral();
}

int32_t CmdLoopBegin() {
    if (DecodeCommandArgs(kCmdLoopBegin) != 0) return -1;
    ScriptTask* task = Task();
    if (ZK_NEVER(task == nullptr)) return -1;
    const int depth = task->loop_depth;
    if (depth >= kMaxOpenLoops) {
        ReportDepthLimit(kCmdLoopBegin, kMaxOpenLoops + 1);
        return -1;
    }
    const ArgDescriptor* count = RecordOf(1);
    const ArgDescriptor* end = count ? RecordOf(2) : nullptr;
    if (!end) return -1;
    LoopFrame* frame = LoopAt(*task, depth);
    if (frame == nullptr || LoopAt(*task, depth + 1) == nullptr) return -1;
    std::optional<ExprValue> value = EvaluateRecord(*count);
    if (!value) return -1;
    frame->begin_index = CurrentCommand().index + 1;
    frame->block_depth = task->block_depth;
    frame->end_target = TargetOf(*end);
    frame->counter = 1;
    frame->count = static_cast<uint64_t>(value->integer);
    task->loop_depth = static_cast<int8_t>(depth + 1);
    if (frame->count == 0) {
        frame->counter = 0;
        task->next_index = frame->end_target;
    }
    return 0;
}

namespace {

// One round's end on a loop frame.
[[gnu::always_inline]] inline void EndLoopRound(ScriptTask& task, LoopFrame& frame, int depth) {
    constexpr uint64_t kEndless = ~uint64_t{0};
    if (frame.count == kEndless || static_cast<int64_t>(frame.counter) < static_cast<int64_t>(frame.count)) {
        frame.counter += 1;
        task.next_index = frame.begin_index;
        task.block_depth = frame.block_depth;
        return;
    }
    task.loop_depth = static_cast<int8_t>(depth - 1);
    frame.counter = 0;
    frame.count = 0;
    frame.begin_index = 0;
}

// The whole command: reports a missing open loop, makes a missing frame.
[[gnu::noinline]] int32_t LoopEndGeneral() {
    ScriptTask* task = Task();
    if (ZK_NEVER(task == nullptr)) return -1;
    const int depth = task->loop_depth;
    if (depth <= 0) {
        ReportScriptError(kErrLoopEndWithoutLoop, true);
        return -1;
    }
    LoopFrame* frame = LoopAt(*task, depth - 1);
    if (frame == nullptr) return -1;
    EndLoopRound(*task, *frame, depth);
    return 0;
}

}  // namespace

int32_t CmdLoopEnd() {
    // An open loop whose frame exists: the same steps, without a call.
    ScriptTask* task = Task();
    if (task != nullptr) [[likely]] {
        const int depth = task->loop_depth;
        const size_t at = static_cast<size_t>(depth - 1);
        if (depth > 0 && at < task->loops.size() && task->loops[at] != nullptr) [[likely]] {
            EndLoopRound(*task, *task->loops[at], depth);
            return 0;
        }
    }
    return LoopEndGeneral();
}

namespace {

// 56 and 57: leave n loops, or go on with the n-th loop's next round.
int32_t JumpToLoopEnd(uint8_t code, bool keep_count) {
    if (DecodeCommandArgs(code) != 0) return -1;
    ScriptTask* task = Task();
    if (ZK_NEVER(task == nullptr)) return -1;
    const int32_t n = CountArgument();
    if (n <= 0) return 0;
    const int depth = task->loop_depth;
    if (n > depth) {
        ReportNoOpen(code, kCmdLoopBegin);
        return -1;
    }
    LoopFrame* frame = LoopAt(*task, depth - n);
    if (frame == nullptr) return -1;
    task->loop_depth = static_cast<int8_t>(depth - n + 1);
    if (!keep_count) {
        frame->counter = 0;
        frame->count = 0;
    }
    task->next_index = frame->end_target;
    return RestoreBlockDepth(*task, frame->block_depth) ? 0 : -1;
}

}  // namespace

int32_t CmdLeaveLoops() { return JumpToLoopEnd(kCmdLeaveLoops, false); }

int32_t CmdContinueLoop() { return JumpToLoopEnd(kCmdContinueLoop, true); }

int32_t CmdLabelExists() {
    if (DecodeCommandArgs(kCmdLabelExists) != 0) return -1;
    const CommandArgBlock& args = Args();
    const CommandArgSlot* name_slot = args.Find(0);
    const std::string name(name_slot != nullptr ? name_slot->Text() : std::string_view());
    if (!args.Given(2)) return 0;
    const CommandArgSlot* result = args.Find(1);
    if (result == nullptr) return 0;
    const bool found = FindLabel(name) >= 0;
    const ScriptVariable* variable = FindVariable(result->var_number);
    if (variable != nullptr && result->var_number >= kFirstScriptVariable && variable->type != kVariableInteger &&
        variable->type != kVariableReal) {
        ReportScriptError(kErrWrongVariableType, true);
        return -1;
    }
    SetNumberElement(result->var_number, result->var_element, found ? 1 : 0);  // out of range: left alone
    return 0;
}

void InstallControlFlowCommands() {
    RegisterCommandHandler(kCmdBlockElseIf, CmdBlockElseIf);
    RegisterCommandHandler(kCmdJumpToLabel, CmdJumpToLabel);
    RegisterCommandHandler(kCmdCallSubroutine, CmdCallSubroutine);
    RegisterCommandHandler(kCmdBlockBegin, CmdBlockBegin);
    RegisterCommandHandler(kCmdBlockSkipToEnd, CmdBlockSkipToEnd);
    RegisterCommandHandler(kCmdLeaveBlocks, CmdLeaveBlocks);
    RegisterCommandHandler(kCmdRestartBlock, CmdRestartBlock);
    RegisterCommandHandler(kCmdBlockEnd, CmdBlockEnd);
    RegisterCommandHandler(kCmdLabelExists, CmdLabelExists);
    RegisterCommandHandler(kCmdLoopBegin, CmdLoopBegin);
    RegisterCommandHandler(kCmdLeaveLoops, CmdLeaveLoops);
    RegisterCommandHandler(kCmdContinueLoop, CmdContinueLoop);
    RegisterCommandHandler(kCmdLoopEnd, CmdLoopEnd);
    RegisterCommandHandler(kCmdReturn, CmdReturn);
    RegisterCommandHandler(kCmdWait, CmdWait);
}

}  // namespace zk
