// The assignment operator tables and command 53. The command reads its two
// records itself (target, then value) rather than through the decoder: the
// target is evaluated only for the variable element it names, and the value
// by the entry that the target's type asks for.
#include "script/assign.h"

#include <array>
#include <cstring>

#include "core/error_report.h"
#include "script/command_table.h"
#include "script/expr_eval.h"
#include "script/int_arithmetic.h"
#include "script/system_variable_hooks.h"
#include "base/never.h"

namespace zk {

namespace {

AssignOpTable assign_ops;

// Text values pass through these; kept for the run so that an assignment
// allocates nothing.
std::array<char, kTextBufferSize> value_text;
std::array<char, kTextBufferSize> joined_text;

int64_t& IntegerAt(ScriptVariable& v, int64_t e) { return v.integers[static_cast<size_t>(e)]; }
double& RealAt(ScriptVariable& v, int64_t e) { return v.reals[static_cast<size_t>(e)]; }

bool IntegerTarget(const ScriptVariable& v, int64_t e) { return v.type == kVariableInteger && ElementInRange(v, e); }
bool RealTarget(const ScriptVariable& v, int64_t e) { return v.type == kVariableReal && ElementInRange(v, e); }

// Integer row: each operator in wrapping arithmetic; a divisor of 0 leaves
// the element as it is.
template <AssignOperator kOp>
void ApplyInteger(int64_t& element, int64_t x) {
    switch (kOp) {
        case kAssignSet: element = x; break;
        case kAssignAdd: element = WrapAdd(element, x); break;
        case kAssignSubtract: element = WrapSub(element, x); break;
        case kAssignMultiply: element = WrapMul(element, x); break;
        case kAssignDivide: if (x != 0) element = WrapDiv(element, x); break;
        case kAssignRemainder: if (x != 0) element = WrapRem(element, x); break;
        case kAssignAnd: element &= x; break;
        case kAssignOr: element |= x; break;
        case kAssignXor: element ^= x; break;
    }
}

// Real row: remainder and the bit operators work on both values truncated
// toward zero to integers, and give the result back as a double.
template <AssignOperator kOp>
void ApplyReal(double& element, double x) {
    const int64_t a = TruncateToInt64(element);
    const int64_t b = TruncateToInt64(x);
    switch (kOp) {
        case kAssignSet: element = x; break;
        case kAssignAdd: element += x; break;
        case kAssignSubtract: element -= x; break;
        case kAssignMultiply: element *= x; break;
        case kAssignDivide: if (x != 0.0) element /= x; break;
        case kAssignRemainder: if (b != 0) element = static_cast<double>(WrapRem(a, b)); break;
        case kAssignAnd: element = static_cast<double>(a & b); break;
        case kAssignOr: element = static_cast<double>(a | b); break;
        case kAssignXor: element = static_cast<double>(a ^ b); break;
    }
}

template <AssignOperator kOp>
void IntegerOp(ScriptVariable& v, int64_t e, int64_t x) {
    if (IntegerTarget(v, e)) ApplyInteger<kOp>(IntegerAt(v, e), x);
}

template <AssignOperator kOp>
void RealOp(ScriptVariable& v, int64_t e, double x) {
    if (RealTarget(v, e)) ApplyReal<kOp>(RealAt(v, e), x);
}

// The code of one of the command's own records; null (reported) when the
// record is missing or points outside the data section.
const ArgDescriptor* CommandRecord(const RunningCommand& command, size_t index, std::span<const uint8_t>& code) {
    const ArgDescriptor* record = index < command.arg_count ? command.Record(index) : nullptr;
    std::optional<std::span<const uint8_t>> span;
    if (record) span = ArgCode(command.data, *record);
    if (!span) {
        ReportScriptError(kErrMalformedCode, true);
        return nullptr;
    }
    code = *span;
    return record;
}

std::string_view EvaluateText(uint32_t type, std::span<const uint8_t> code) {
    ExprValue value = EvaluateExpr(type, code, value_text);
    return std::string_view(value_text.data(), std::min(value.text_length, value_text.size() - 1));
}

// One element of a text variable: set, or append when the joined text
// stays below 4096 bytes.
int32_t AssignTextElement(uint32_t number, int64_t element, uint8_t op, uint32_t type,
                          std::span<const uint8_t> code) {
    if (op != kAssignSet && op != kAssignAdd) {
        ReportScriptError(kErrWrongVariableType, true);
        return -1;
    }
    std::string_view text = EvaluateText(type + 15, code);
    if (op == kAssignSet) {
        StoreStringElement(number, element, text);  // out of range: nothing, no error
        return 0;
    }
    const std::string* current = GetStringElement(number, element);
    if (current == nullptr) return 0;
    std::string_view old_text(current->c_str());
    if (old_text.size() + text.size() >= kTextBufferSize) return 0;
    std::memcpy(joined_text.data(), old_text.data(), old_text.size());
    std::memcpy(joined_text.data() + old_text.size(), text.data(), text.size());
    StoreStringElement(number, element, std::string_view(joined_text.data(), old_text.size() + text.size()));
    return 0;
}

}  // namespace

AssignOpTable& AssignOps() { return assign_ops; }

void FillAssignOpTable() {
    assign_ops.integer = {IntegerOp<kAssignSet>,       IntegerOp<kAssignAdd>, IntegerOp<kAssignSubtract>,
                          IntegerOp<kAssignMultiply>,  IntegerOp<kAssignDivide>, IntegerOp<kAssignRemainder>,
                          IntegerOp<kAssignAnd>,       IntegerOp<kAssignOr>,  IntegerOp<kAssignXor>};
    assign_ops.real = {RealOp<kAssignSet>,      RealOp<kAssignAdd>,    RealOp<kAssignSubtract>,
                       RealOp<kAssignMultiply>, RealOp<kAssignDivide>, RealOp<kAssignRemainder>,
                       RealOp<kAssignAnd>,      RealOp<kAssignOr>,     RealOp<kAssignXor>};
}

namespace {

// One integer operator applied in place; false for an operator outside the
// table. Inlined into the assignment's fast paths.
[[gnu::always_inline]] inline bool ApplyIntegerOperator(int64_t& element, uint8_t op, int64_t value) {
    switch (op) {
        case kAssignSet: ApplyInteger<kAssignSet>(element, value); return true;
        case kAssignAdd: ApplyInteger<kAssignAdd>(element, value); return true;
        case kAssignSubtract: ApplyInteger<kAssignSubtract>(element, value); return true;
        case kAssignMultiply: ApplyInteger<kAssignMultiply>(element, value); return true;
        case kAssignDivide: ApplyInteger<kAssignDivide>(element, value); return true;
        case kAssignRemainder: ApplyInteger<kAssignRemainder>(element, value); return true;
        case kAssignAnd: ApplyInteger<kAssignAnd>(element, value); return true;
        case kAssignOr: ApplyInteger<kAssignOr>(element, value); return true;
        case kAssignXor: ApplyInteger<kAssignXor>(element, value); return true;
        default: return false;
    }
}

}  // namespace

bool ApplyAssignOperator(int64_t& element, uint8_t op, int64_t value) {
    return ApplyIntegerOperator(element, op, value);
}

bool ApplyAssignOperator(double& element, uint8_t op, double value) {
    switch (op) {
        case kAssignSet: ApplyReal<kAssignSet>(element, value); return true;
        case kAssignAdd: ApplyReal<kAssignAdd>(element, value); return true;
        case kAssignSubtract: ApplyReal<kAssignSubtract>(element, value); return true;
        case kAssignMultiply: ApplyReal<kAssignMultiply>(element, value); return true;
        case kAssignDivide: ApplyReal<kAssignDivide>(element, value); return true;
        case kAssignRemainder: ApplyReal<kAssignRemainder>(element, value); return true;
        case kAssignAnd: ApplyReal<kAssignAnd>(element, value); return true;
        case kAssignOr: ApplyReal<kAssignOr>(element, value); return true;
        case kAssignXor: ApplyReal<kAssignXor>(element, value); return true;
        default: return false;
    }
}

bool ApplyAssignOperator(ScriptVariable& variable, int64_t element, uint8_t op, int64_t value) {
    if (op >= kAssignOperatorCount || variable.type != kVariableInteger) return false;
    IntegerAssignOp apply = assign_ops.integer[op];
    if (ZK_NEVER(apply == nullptr)) return false;  // FillAssignOpTable fills every slot
    apply(variable, element, value);
    return true;
}

bool ApplyAssignOperator(ScriptVariable& variable, int64_t element, uint8_t op, double value) {
    if (op >= kAssignOperatorCount || variable.type != kVariableReal) return false;
    RealAssignOp apply = assign_ops.real[op];
    if (ZK_NEVER(apply == nullptr)) return false;  // FillAssignOpTable fills every slot
    apply(variable, element, value);
    return true;
}

namespace {

// The commonest assignment of all, without a call: a plain integer target
// and a value of a shaped form (a literal, a variable, a variable and a
// literal), each variable's cell kept from an earlier run in this variable
// generation. The same steps as AssignPlainInteger below, in the same
// order; false (nothing changed) when any of it does not hold.
[[gnu::always_inline]] inline bool AssignKeptCells(const RunningCommand& command) {
    const IntExprProgram& target_program = command.lead_programs[0];
    const IntExprProgram& value_program = command.lead_programs[1];
    const ArgDescriptor& target = command.lead_records[0];
    const ArgDescriptor& value = command.lead_records[1];
    const uint8_t op = target.op;
    const uint64_t generation = VariableGeneration();
    if (target_program.shape != IntExprShape::kVariable || op >= kAssignOperatorCount ||
        target_program.cell_generation != generation || target_program.cell == nullptr) {
        return false;
    }
    // An empty program (no record 1, or none compiled) is general too.
    if (value_program.shape == IntExprShape::kGeneral) return false;
    if (value_program.shape != IntExprShape::kConstant &&
        (value_program.cell_generation != generation || value_program.cell == nullptr)) {
        return false;
    }
    if (!IntProgramsStandFor(target.expr_type) || !IntProgramsStandFor(value.expr_type)) return false;
    int64_t* cell = target_program.cell;
    detail::the_evaluator.reference.variable = target_program.variable;
    detail::the_evaluator.reference.element = 0;
    int64_t x = 0;
    detail::RunShapeOn(value_program, value_program.cell, x);
    ApplyIntegerOperator(*cell, op, x);  // op checked above
    return true;
}

// The common assignment: a plain integer variable (element 0) takes an
// integer-only value. The target's own run would only name that element in
// the reference record before the value's run starts afresh, so the record
// is set directly and the value's program runs; the result is the same
// element, the same evaluator state and the same value as by the general
// path below. False when any of it does not hold: the general path then
// runs the whole command, whose target run names the same element again.
[[gnu::always_inline]] inline bool AssignPlainInteger(const RunningCommand& command) {
    // The lead copies of records 0 and 1: a command with fewer records, or
    // without their programs, has empty programs there and goes on below.
    const IntExprProgram& target_program = command.lead_programs[0];
    if (target_program.shape != IntExprShape::kVariable) return false;
    const ArgDescriptor& target = command.lead_records[0];
    const ArgDescriptor& value = command.lead_records[1];
    const uint8_t op = target.op;
    if (op >= kAssignOperatorCount || command.lead_programs[1].length == 0) return false;
    // The target's entry must be one that runs the program (an integer
    // result in integer arithmetic); a plain variable then never aborts.
    int64_t* cell = detail::ProgramCell(target_program);
    if (cell == nullptr || !IntProgramsStandFor(target.expr_type)) return false;
    detail::the_evaluator.reference.variable = target_program.variable;
    detail::the_evaluator.reference.element = 0;
    int64_t x = 0;
    const IntExprProgram& value_program = command.lead_programs[1];
    if (!RunShapedIntProgram(value.expr_type, value_program, x) &&
        !EvaluateIntProgram(value.expr_type, value_program, command.program_ops, x)) {
        return false;
    }
    ApplyIntegerOperator(*cell, op, x);  // op checked above
    return true;
}

// Everything but the common form: the target's run names the element, the
// value runs by the entry the variable's type asks for. Out of line, so
// that the common form pays for none of its set-up.
[[gnu::noinline]] int32_t AssignGeneral(const RunningCommand& command) {
    std::span<const uint8_t> target_code, value_code;
    const ArgDescriptor* target = CommandRecord(command, 0, target_code);
    if (target == nullptr) return -1;
    const ArgDescriptor* value = CommandRecord(command, 1, value_code);
    if (!value) return -1;
    const uint8_t op = target->op;
    if (op >= kAssignOperatorCount) {
        ReportScriptError(kErrMalformedCode, true);
        return -1;
    }

    // The value's evaluation replaces the reference record: take the
    // target's first.
    EvaluateRecordCode(command, *target, target->expr_type, target_code);
    // A target that failed (a subscript out of range, say) names its
    // variable but not the element: write nothing rather than an element
    // left from an earlier expression.
    if (LastExprAborted()) return -1;
    // Field by field: the evaluator has just stored them one by one, and a
    // whole-record copy would wait on those stores.
    const ExprReference& last = LastExprReference();
    const uint32_t number = last.variable;
    const int64_t element = last.element;
    const uint8_t whole_variable = last.whole_variable;
    const uint32_t t = value->expr_type;

    ScriptVariable* variable = FindVariable(number);
    if (variable == nullptr) {
        ReportScriptError(kErrVariableMissing, true);
        return -1;
    }

    if (number < kFirstScriptVariable) {
        if (whole_variable) return 0;
        switch (variable->type) {
            case kVariableInteger: return WriteSystemInteger(number, element, op, EvaluateExpr(t, value_code).integer);
            case kVariableReal: return WriteSystemReal(number, element, op, EvaluateExpr(t + 5, value_code).real);
            case kVariableText: return WriteSystemText(number, element, EvaluateText(t + 15, value_code));
            default: ReportScriptError(kErrWrongVariableType, true); return -1;
        }
    }

    if (whole_variable) {
        // The whole variable takes the value; the operator does not apply.
        switch (variable->type) {
            case kVariableInteger: return FillIntegerVariable(*variable, EvaluateExpr(t, value_code).integer);
            case kVariableReal: return FillRealVariable(*variable, EvaluateExpr(t + 5, value_code).real);
            case kVariableText: return FillStringVariable(*variable, EvaluateText(t + 15, value_code));
            default: ReportScriptError(kErrWrongVariableType, true); return -1;
        }
    }

    switch (variable->type) {
        case kVariableInteger:
            assign_ops.integer[op](*variable, element, EvaluateRecordCode(command, *value, t, value_code).integer);
            return 0;
        case kVariableReal:
            // Always in double arithmetic, whatever the value's type.
            assign_ops.real[op](*variable, element, EvaluateExpr(t + 10, value_code).real);
            return 0;
        case kVariableText:
            return AssignTextElement(number, element, op, t, value_code);
        default:
            ReportScriptError(kErrWrongVariableType, true);
            return -1;
    }
}

// Everything AssignKeptCells leaves: the common form whose cells are to
// be looked up or whose value is a general program, then the general path.
[[gnu::noinline]] int32_t AssignOther(const RunningCommand& command) {
    if (AssignPlainInteger(command)) return 0;
    return AssignGeneral(command);
}

}  // namespace

int32_t CmdAssign() {
    const RunningCommand& command = CurrentCommand();
    if (AssignKeptCells(command)) [[likely]] return 0;
    return AssignOther(command);
}

}  // namespace zk
