// The declaration commands 25 (real), 50 (integer) and 92 (text): the first
// record names the variable with its sizes as subscripts, the second gives
// the value every element starts with. A declaration can be repeated; it
// re-sizes the variable and re-fills every element, and keeps its group.
#include <array>

#include "core/error_report.h"
#include "script/assign.h"
#include "script/command_table.h"
#include "script/expr_eval.h"

namespace zk {

namespace {

std::array<char, kTextBufferSize> initial_text;

// The code of a decoded record, or nullopt when it points outside the data
// section.
std::optional<std::span<const uint8_t>> SlotCode(const CommandArgSlot& slot) {
    ArgDescriptor record;
    record.code_length = slot.code_length;
    record.code_offset = slot.code_offset;
    return ArgCode(CurrentCommand().data, record);
}

int32_t Declare(uint8_t command_code, uint8_t type) {
    if (DecodeCommandArgs(command_code) != 0) return -1;
    const CommandArgBlock& args = Args();
    const CommandArgSlot* target = args.Record(1);
    std::optional<std::span<const uint8_t>> target_code;
    if (target != nullptr) target_code = SlotCode(*target);
    if (!target_code) {
        ReportScriptError(kErrMalformedCode, true);
        return -1;
    }

    // With the flag set the evaluator names the variable and leaves its
    // subscripts (the sizes) in its list instead of reading an element,
    // which would check them against the sizes being replaced.
    SetExprDeclaring(true);
    EvalIntExpr(*target_code);
    SetExprDeclaring(false);
    if (LastExprAborted()) return -1;  // reported by the evaluator

    const uint32_t number = LastExprReference().variable;
    ScriptVariable* variable = FindVariable(number);
    if (variable == nullptr) {
        ReportScriptError(kErrVariableMissing, true);
        return -1;
    }
    VariableShape shape;
    std::span<const int64_t> sizes = ExprSubscripts();  // at most 8: the evaluator refuses more
    shape.dimension_count = static_cast<uint8_t>(sizes.size());
    for (size_t j = 0; j < sizes.size(); ++j) shape.sizes[j] = static_cast<int32_t>(sizes[j]);

    // No value record: every element starts at 0, 0.0 or the empty text.
    const CommandArgSlot* value = args.Record(2);
    std::optional<std::span<const uint8_t>> value_code;
    if (value != nullptr) {
        value_code = SlotCode(*value);
        if (!value_code) {
            ReportScriptError(kErrMalformedCode, true);
            return -1;
        }
    }
    const uint32_t value_type = value != nullptr ? static_cast<uint32_t>(value->expr_type) : 0;
    switch (type) {
        case kVariableInteger: {
            int64_t x = value_code ? EvaluateExpr(value_type, *value_code).integer : 0;
            return FillIntegerVariable(*variable, shape, x);
        }
        case kVariableReal: {
            double x = value_code ? EvaluateExpr(value_type + 5, *value_code).real : 0.0;
            return FillRealVariable(*variable, shape, x);
        }
        default: {
            size_t length = 0;
            initial_text[0] = '\0';
            if (value_code) length = EvalTextExpr(*value_code, initial_text).text_length;
            return FillStringVariable(*variable, shape, std::string_view(initial_text.data(), length));
        }
    }
}

}  // namespace

int32_t CmdDeclareRealVariable() { return Declare(kCmdDeclareReal, kVariableReal); }
int32_t CmdDeclareIntVariable() { return Declare(kCmdDeclareInteger, kVariableInteger); }
int32_t CmdDeclareStringVariable() { return Declare(kCmdDeclareText, kVariableText); }

}  // namespace zk
