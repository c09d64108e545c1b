// Running a call or return from its plan (script/call_plan.h): the lookup
// of the running command's plan, the test that the plan may stand for the
// general path right now, the evaluator's end state and the frame values.
// Inline: these run once per call and per return.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "script/call_plan.h"
#include "script/expr_eval.h"
#include "script/int_expr_program.h"
#include "script/script_task.h"
#include "script/variables.h"

namespace zk {

// The plan of the running command when it is command `command.index` of
// the task's current file and has one; else null. The record carries its
// plan; a record set from elsewhere, or one whose file's plans were
// replaced since, does not pass for the file's.
[[gnu::always_inline]] inline const CallPlan* CallPlanFor(const ScriptTask& task, const RunningCommand& command) {
    const CallPlan* plan = command.plan;
    if (plan == nullptr) return nullptr;
    const ScriptFileRefs& file = task.file;
    const uintptr_t offset = reinterpret_cast<uintptr_t>(plan) - reinterpret_cast<uintptr_t>(file.plans.data());
    if (offset >= file.plans.size_bytes()) [[unlikely]] return nullptr;
    if (plan->command_index != command.index || command.records.data() != file.records.data() + plan->first_record ||
        command.data.data() != file.data.data()) [[unlikely]] {
        return nullptr;
    }
    return plan;
}

namespace detail {
[[gnu::noinline]] bool CallPlanVariablesReadable(const CallPlan& plan, const ScriptTask& task);
}  // namespace detail

// True when the plan may stand for the general path right now: the
// variables it reads are integer variables with an element 0, no
// declaration is under way, the opcode table is the normal one and the
// first text buffer exists. Nothing is changed.
[[gnu::always_inline]] inline bool CallPlanUsable(const CallPlan& plan, const ScriptTask& task) {
    const ExprEvaluator& e = detail::the_evaluator;
    if (e.declaring != 0 || detail::normal_op_table == 0) [[unlikely]] return false;
    if (plan.end.kind == PlannedEndKind::kText && !e.pool[1].bytes) [[unlikely]] return false;
    if (plan.end.names_variable) return detail::CallPlanVariablesReadable(plan, task);
    return true;
}

// Puts the evaluator into the plan's end state (after CallPlanUsable).
[[gnu::always_inline]] inline void ApplyPlannedEvaluatorEnd(const CallPlan& plan, const ScriptTask& task) {
    const PlannedEvaluatorEnd& end = plan.end;
    if (end.kind == PlannedEndKind::kNone) return;
    // Through the evaluator's mutable accessor, as anything that rewrites
    // its run state from outside: whatever the evaluator keeps about its
    // own state must learn that it changed.
    ExprEvaluator& e = Evaluator();
    e.mode = end.mode;
    e.out = {};
    detail::ResetRunState(e);
    ExprPosition& top = e.stack[0];
    switch (end.kind) {
        case PlannedEndKind::kNone: break;
        case PlannedEndKind::kInteger: top.integer = end.integer; break;
        case PlannedEndKind::kIntegerVariable: top.integer = *IntegerCellZero(end.variable); break;
        case PlannedEndKind::kReal: top.real = end.real; break;
        case PlannedEndKind::kText: {
            const std::string_view text(task.file.plan_texts.data() + end.text_offset, end.text_length);
            ExprTextSlot& slot = e.pool[1];
            if (!text.empty()) std::memcpy(slot.bytes.get(), text.data(), text.size());
            slot.bytes[text.size()] = '\0';
            slot.length = text.size();
            top.text = 1;
            e.next_text = 2;
            e.result_length = text.size();
            break;
        }
    }
    if (end.names_variable) {
        e.reference.variable = end.reference_variable;
        e.reference.element = 0;
    }
    e.depth = 1;
    e.aborted = 0;
}

namespace detail {
// A frame text takes the value's bytes; one that holds them already (a call
// made again with the same text) is left as it is.
[[gnu::always_inline]] inline void SetFrameText(std::string& text, std::string_view value) {
    if (text.size() == value.size()) {
        // Short texts: a byte loop beats a library call.
        size_t k = 0;
        while (k < value.size() && text[k] == value[k]) ++k;
        if (k == value.size()) return;
    }
    text.assign(value);
}

// Integers, reals, texts into one frame's arrays, as the general path fills
// them.
[[gnu::always_inline]] inline void FillPlannedValues(
    const CallPlan& plan, const ScriptFileRefs& file, std::array<int64_t, kCallValueSlots>& integers,
    std::array<double, kCallValueSlots>& reals, std::array<std::string, kCallValueSlots>& texts,
    std::array<uint8_t, kCallValueSlots>& integer_given, std::array<uint8_t, kCallValueSlots>& real_given,
    std::array<uint8_t, kCallValueSlots>& text_given) {
    const PlannedValue* value = file.plan_values.data() + plan.first_value;
    const CallValueCounts counts = plan.counts;
    for (int i = 1; i <= counts.integers; ++i, ++value) {
        integer_given[i] = value->kind != PlannedValueKind::kAbsent ? 1 : 0;
        integers[i] = value->kind == PlannedValueKind::kIntegerVariable ? *IntegerCellZero(value->variable)
                                                                         : value->integer;  // absent: 0
    }
    for (int i = 1; i <= counts.reals; ++i, ++value) {
        real_given[i] = value->kind != PlannedValueKind::kAbsent ? 1 : 0;
        reals[i] = value->real;  // absent: 0.0
    }
    for (int i = 1; i <= counts.texts; ++i, ++value) {
        text_given[i] = value->kind != PlannedValueKind::kAbsent ? 1 : 0;
        // Offsets and lengths were checked against the texts when planned.
        SetFrameText(texts[i], std::string_view(file.plan_texts.data() + value->text_offset, value->text_length));
    }
}
}  // namespace detail

// True when a switch of the task to `file_number` changes nothing: the task
// is bound to the loaded file of that number (as TaskInLoadedFile tells,
// for a file whose plan it runs, without a look at the file table).
[[gnu::always_inline]] inline bool PlannedFileKept(const ScriptTask& task, uint16_t file_number) {
    return task.file_number == file_number && task.file.plan_file == int32_t{file_number};
}

// Fills arguments (call) or return values (return) as the general path
// does, presence bytes included.
[[gnu::always_inline]] inline void FillPlannedArguments(const CallPlan& plan, const ScriptTask& task,
                                                        CallFrame& callee) {
    detail::FillPlannedValues(plan, task.file, callee.int_args, callee.real_args, callee.text_args,
                              callee.int_arg_given, callee.real_arg_given, callee.text_arg_given);
}
[[gnu::always_inline]] inline void FillPlannedReturns(const CallPlan& plan, const ScriptTask& task,
                                                      CallFrame& entry) {
    detail::FillPlannedValues(plan, task.file, entry.int_returns, entry.real_returns, entry.text_returns,
                              entry.int_return_given, entry.real_return_given, entry.text_return_given);
}

}  // namespace zk
