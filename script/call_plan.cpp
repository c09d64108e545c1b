#include "script/call_plan.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "base/byte_reader.h"
#include "script/arg_decoder.h"
#include "script/compiled_tables.h"
#include "script/expr_eval.h"
#include "script/expr_opcodes.h"
#include "script/int_expr_program.h"
#include "script/script_file.h"
#include "script/script_task.h"
#include "script/variables.h"

namespace zk {

namespace {

enum class PlanRole : uint8_t { kNone, kLabel, kInteger, kReal, kText };

struct RoleSlot {
    PlanRole role = PlanRole::kNone;
    int index = 0;  // 1..16
};

// Value i of a kind comes from keyword base + i: calls 0 / 16 / 32 with the
// label at keyword 0, returns -1 / 15 / 31.
RoleSlot RoleOf(bool call, uint8_t keyword) {
    const int k = keyword;
    const int base = call ? 0 : -1;
    if (call && k == 0) return {PlanRole::kLabel, 0};
    if (k - base >= 1 && k - base <= 16) return {PlanRole::kInteger, k - base};
    if (k - base - 16 >= 1 && k - base - 16 <= 16) return {PlanRole::kReal, k - base - 16};
    if (k - base - 32 >= 1 && k - base - 32 <= 16) return {PlanRole::kText, k - base - 32};
    return {};
}

struct Instruction {
    uint8_t opcode = 0;
    std::span<const uint8_t> payload;
};

// The byte code's instructions (`count` of them) when it is well formed and
// holds at most two.
std::optional<std::array<Instruction, 2>> SplitInstructions(std::span<const uint8_t> code, size_t& count) {
    std::array<Instruction, 2> out{};
    count = 0;
    size_t pc = 0;
    while (pc < code.size()) {
        if (count == out.size() || code.size() - pc < kExprHeaderSize) return std::nullopt;
        const uint8_t opcode = code[pc];
        const size_t length = size_t{code[pc + 1]} | (size_t{code[pc + 2]} << 8);
        if (length > code.size() - pc - kExprHeaderSize) return std::nullopt;
        out[count++] = Instruction{opcode, code.subspan(pc + kExprHeaderSize, length)};
        pc += kExprHeaderSize + length;
    }
    return out;
}

template <typename T>
std::optional<T> PayloadAs(std::span<const uint8_t> payload) {
    return ByteReader(payload).PeekAt<T>(0);
}

// A literal number as double arithmetic computes it: one integer or real
// literal, optionally negated.
std::optional<double> RealLiteral(std::span<const uint8_t> code) {
    size_t count = 0;
    std::optional<std::array<Instruction, 2>> in = SplitInstructions(code, count);
    if (!in || count == 0) return std::nullopt;
    if (count == 2 && (*in)[1].opcode != kOpNegate) return std::nullopt;
    const Instruction& literal = (*in)[0];
    std::optional<double> value;
    switch (literal.opcode) {
        case kOpInt8:
            if (auto v = PayloadAs<int8_t>(literal.payload)) value = static_cast<double>(*v);
            break;
        case kOpInt16:
            if (auto v = PayloadAs<int16_t>(literal.payload)) value = static_cast<double>(*v);
            break;
        case kOpInt32:
            if (auto v = PayloadAs<int32_t>(literal.payload)) value = static_cast<double>(*v);
            break;
        case kOpInt64:
            if (auto v = PayloadAs<int64_t>(literal.payload)) value = static_cast<double>(*v);
            break;
        case kOpReal:
            if (auto v = PayloadAs<double>(literal.payload)) value = *v;
            break;
        default: break;
    }
    if (value && count == 2) value = -*value;
    return value;
}

// A text literal alone: its text.
std::optional<std::string> TextLiteral(std::span<const uint8_t> code) {
    size_t count = 0;
    std::optional<std::array<Instruction, 2>> in = SplitInstructions(code, count);
    if (!in || count != 1 || (*in)[0].opcode != kOpText || (*in)[0].payload.empty()) return std::nullopt;
    std::array<char, kExprTextSize> buffer;
    std::optional<size_t> length = DecodeTextLiteral((*in)[0].payload, buffer.data());
    if (!length) return std::nullopt;
    return std::string(buffer.data(), *length);
}

// The text mode of a return's text argument, which evaluates with entry
// type + 15: 0 when that entry is no text entry.
uint8_t TextModeOf(uint32_t entry) {
    if (entry >= kExprEntryCount) return 0;
    const ExprEntry e = ExprEntryTable()[entry];
    if (e == EvalTextExpr) return kModeTextInteger;
    if (e == EvalTextExprReal) return kModeTextReal;
    return 0;
}

uint32_t AddText(CallPlans& out, const std::string& text) {
    const auto offset = static_cast<uint32_t>(out.texts.size());
    out.texts += text;
    return offset;
}

// The plan of command i, appended to `out`; false (out unchanged but for
// texts no plan refers to) when the command cannot have one.
bool PlanCommand(const ScriptFile& file, size_t i, bool call, const std::array<PlanKeyword, 256>& keywords,
                 CallPlans& out) {
    const uint8_t arg_count = file.arg_counts[i];
    const size_t first = file.first_arg[i];
    if (first + arg_count > file.records.size() || first + arg_count > file.programs.size()) return false;
    const CallValueCounts counts = UnpackCallInfo(file.info_words[i]);
    if (counts.integers > kMaxCallValues || counts.reals > kMaxCallValues || counts.texts > kMaxCallValues) {
        return false;
    }

    CallPlan plan;
    plan.first_record = static_cast<uint32_t>(first);
    plan.counts = counts;
    std::array<PlannedValue, kMaxCallValues + 1> integers{}, reals{}, texts{};
    std::array<bool, 256> seen{};
    bool label_given = false;
    PlannedEvaluatorEnd end;  // after the records, in record order
    for (size_t k = 0; k < arg_count; ++k) {
        const ArgDescriptor& record = file.records[first + k];
        if (seen[record.keyword]) return false;
        seen[record.keyword] = true;
        const PlanKeyword& keyword = keywords[record.keyword];
        if (!keyword.defined) return false;
        std::optional<std::span<const uint8_t>> code = ArgCode(file.data, record);
        if (!code) return false;
        const RoleSlot slot = RoleOf(call, record.keyword);
        switch (slot.role) {
            case PlanRole::kNone: return false;
            case PlanRole::kLabel:
            case PlanRole::kText: {
                if (keyword.value_kind != kValueKindText) return false;
                if (slot.role == PlanRole::kText && slot.index > counts.texts) return false;
                // The call reads texts with the fixed text entry: the label's
                // type byte may hold its folded index.
                const uint8_t mode = call ? TextModeOf(kFixedTextEntry) : TextModeOf(uint32_t{record.expr_type} + 15);
                if (mode == 0) return false;
                std::optional<std::string> text = TextLiteral(*code);
                if (!text) return false;
                const uint32_t offset = AddText(out, *text);
                end.kind = PlannedEndKind::kText;
                end.mode = mode;
                end.text_offset = offset;
                end.text_length = static_cast<uint32_t>(text->size());
                if (slot.role == PlanRole::kLabel) {
                    plan.label = FoldedCallLabel(record);
                    if (plan.label == 0) return false;  // looked up by name when run
                    label_given = true;
                } else {
                    PlannedValue& value = texts[static_cast<size_t>(slot.index)];
                    value.kind = PlannedValueKind::kConstant;
                    value.text_offset = offset;
                    value.text_length = end.text_length;
                }
                break;
            }
            case PlanRole::kInteger: {
                if (keyword.value_kind != kValueKindNumber || keyword.checked) return false;
                if (slot.index > counts.integers) return false;
                const IntExprProgram& program = file.programs[first + k];
                if (detail::integer_entry[record.expr_type] == 0) return false;
                PlannedValue& value = integers[static_cast<size_t>(slot.index)];
                if (program.shape == IntExprShape::kConstant) {
                    value.kind = PlannedValueKind::kConstant;
                    value.integer = program.constant;
                    end.kind = PlannedEndKind::kInteger;
                    end.integer = program.constant;
                } else if (program.shape == IntExprShape::kVariable) {
                    value.kind = PlannedValueKind::kIntegerVariable;
                    value.variable = program.variable;
                    end.kind = PlannedEndKind::kIntegerVariable;
                    end.variable = program.variable;
                    end.names_variable = true;
                    end.reference_variable = program.variable;
                } else {
                    return false;
                }
                end.mode = kModeInteger;
                break;
            }
            case PlanRole::kReal: {
                // Reals are raw records: the decoder leaves them to the call.
                if (keyword.value_kind == kValueKindNumber || keyword.value_kind == kValueKindText) return false;
                if (slot.index > counts.reals) return false;
                std::optional<double> literal = RealLiteral(*code);
                if (!literal) return false;
                PlannedValue& value = reals[static_cast<size_t>(slot.index)];
                value.kind = PlannedValueKind::kConstant;
                value.real = *literal;
                break;
            }
        }
    }
    if (call && !label_given) return false;

    // A call with its label alone fills nothing; a return without records
    // neither.
    plan.fill = call ? !(arg_count == 1 && label_given) : arg_count >= 1;
    if (plan.fill) {
        // The call evaluates its reals after decoding, in slot order.
        for (int r = 1; r <= counts.reals; ++r) {
            const PlannedValue& value = reals[static_cast<size_t>(r)];
            if (value.kind != PlannedValueKind::kConstant) continue;
            const bool names = end.names_variable;
            const uint32_t reference = end.reference_variable;
            end = PlannedEvaluatorEnd{};
            end.kind = PlannedEndKind::kReal;
            end.mode = kModeReal;
            end.real = value.real;
            end.names_variable = names;
            end.reference_variable = reference;
        }
    }
    plan.end = end;

    plan.first_value = static_cast<uint32_t>(out.values.size());
    for (int n = 1; n <= counts.integers; ++n) out.values.push_back(integers[static_cast<size_t>(n)]);
    for (int n = 1; n <= counts.reals; ++n) out.values.push_back(reals[static_cast<size_t>(n)]);
    for (int n = 1; n <= counts.texts; ++n) out.values.push_back(texts[static_cast<size_t>(n)]);
    out.plan_of[i] = static_cast<int32_t>(out.plans.size());
    out.plans.push_back(plan);
    return true;
}

std::span<const PlannedValue> ValuesOf(const CallPlan& plan, const ScriptFileRefs& file) {
    const size_t count = size_t{plan.counts.integers} + plan.counts.reals + plan.counts.texts;
    return file.plan_values.subspan(plan.first_value, count);
}

std::string_view PlanText(const ScriptFileRefs& file, uint32_t offset, uint32_t length) {
    return file.plan_texts.substr(offset, length);
}

// Integers, reals, texts into one frame's arrays, as the general path fills
// them.
void FillFrom(std::span<const PlannedValue> values, const CallValueCounts& counts, const ScriptFileRefs& file,
              std::array<int64_t, kCallValueSlots>& integers, std::array<double, kCallValueSlots>& reals,
              std::array<std::string, kCallValueSlots>& texts, std::array<uint8_t, kCallValueSlots>& integer_given,
              std::array<uint8_t, kCallValueSlots>& real_given, std::array<uint8_t, kCallValueSlots>& text_given) {
    size_t at = 0;
    for (int i = 1; i <= counts.integers; ++i, ++at) {
        const PlannedValue& value = values[at];
        integer_given[i] = value.kind != PlannedValueKind::kAbsent ? 1 : 0;
        switch (value.kind) {
            case PlannedValueKind::kAbsent: integers[i] = 0; break;
            case PlannedValueKind::kConstant: integers[i] = value.integer; break;
            case PlannedValueKind::kIntegerVariable: integers[i] = *IntegerCellZero(value.variable); break;
        }
    }
    for (int i = 1; i <= counts.reals; ++i, ++at) {
        const PlannedValue& value = values[at];
        real_given[i] = value.kind != PlannedValueKind::kAbsent ? 1 : 0;
        reals[i] = value.kind != PlannedValueKind::kAbsent ? value.real : 0.0;
    }
    for (int i = 1; i <= counts.texts; ++i, ++at) {
        const PlannedValue& value = values[at];
        text_given[i] = value.kind != PlannedValueKind::kAbsent ? 1 : 0;
        if (value.kind != PlannedValueKind::kAbsent) {
            texts[i].assign(PlanText(file, value.text_offset, value.text_length));
        } else {
            texts[i].clear();
        }
    }
}

}  // namespace

CallPlanKeywords CallPlanKeywordsFromTables() {
    CallPlanKeywords out;
    for (uint32_t k = 0; k < 256; ++k) {
        for (auto [code, table] : {std::pair{kCmdCallSubroutine, &out.call}, std::pair{kCmdReturn, &out.ret}}) {
            const KeywordDefinition* definition = FindKeywordDefinition(code, k);
            if (definition == nullptr) continue;
            PlanKeyword& keyword = (*table)[k];
            keyword.defined = true;
            keyword.value_kind = definition->value_kind;
            keyword.checked = definition->range_kind >= 1 && definition->range_kind < kRangeKindCount;
        }
    }
    return out;
}

void BuildCallPlans(const ScriptFile& file, const CallPlanKeywords& keywords, CallPlans& out) {
    out = CallPlans{};
    const size_t n = file.codes.size();
    if (file.arg_counts.size() != n || file.first_arg.size() != n || file.info_words.size() != n) return;
    out.plan_of.assign(n, -1);
    for (size_t i = 0; i < n; ++i) {
        const uint8_t code = file.codes[i];
        if (code == kCmdCallSubroutine) PlanCommand(file, i, true, keywords.call, out);
        if (code == kCmdReturn) PlanCommand(file, i, false, keywords.ret, out);
    }
}

const CallPlan* CallPlanFor(const ScriptTask& task, const RunningCommand& command) {
    const ScriptFileRefs& file = task.file;
    const size_t at = static_cast<size_t>(static_cast<uint32_t>(command.index));
    if (at >= file.plan_of.size()) return nullptr;
    const int32_t p = file.plan_of[at];
    if (p < 0 || static_cast<size_t>(p) >= file.plans.size()) return nullptr;
    const CallPlan& plan = file.plans[static_cast<size_t>(p)];
    // A command set from elsewhere is not this file's.
    if (command.records.data() != file.records.data() + plan.first_record || command.data.data() != file.data.data()) {
        return nullptr;
    }
    return &plan;
}

bool CallPlanUsable(const CallPlan& plan, const ScriptTask& task) {
    const ExprEvaluator& e = detail::the_evaluator;
    if (e.declaring != 0 || detail::normal_op_table == 0) return false;
    if (plan.end.kind == PlannedEndKind::kText && !e.pool[1].bytes) return false;
    if (plan.end.kind == PlannedEndKind::kIntegerVariable && IntegerCellZero(plan.end.variable) == nullptr) {
        return false;
    }
    if (plan.end.names_variable) {
        for (const PlannedValue& value : ValuesOf(plan, task.file).first(plan.counts.integers)) {
            if (value.kind == PlannedValueKind::kIntegerVariable && IntegerCellZero(value.variable) == nullptr) {
                return false;
            }
        }
    }
    return true;
}

void ApplyPlannedEvaluatorEnd(const CallPlan& plan, const ScriptTask& task) {
    const PlannedEvaluatorEnd& end = plan.end;
    if (end.kind == PlannedEndKind::kNone) return;
    ExprEvaluator& e = detail::the_evaluator;
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
            const std::string_view text = PlanText(task.file, end.text_offset, end.text_length);
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

void FillPlannedArguments(const CallPlan& plan, const ScriptTask& task, CallFrame& callee) {
    FillFrom(ValuesOf(plan, task.file), plan.counts, task.file, callee.int_args, callee.real_args, callee.text_args,
             callee.int_arg_given, callee.real_arg_given, callee.text_arg_given);
}

void FillPlannedReturns(const CallPlan& plan, const ScriptTask& task, CallFrame& entry) {
    FillFrom(ValuesOf(plan, task.file), plan.counts, task.file, entry.int_returns, entry.real_returns,
             entry.text_returns, entry.int_return_given, entry.real_return_given, entry.text_return_given);
}

}  // namespace zk
