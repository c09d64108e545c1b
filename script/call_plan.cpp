#include "script/call_plan.h"
#include "script/call_plan_run.h"

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
                 std::span<const LabelEntry> labels, CallPlans& out) {
    const uint8_t arg_count = file.arg_counts[i];
    const size_t first = file.first_arg[i];
    if (first + arg_count > file.records.size() || first + arg_count > file.programs.size()) return false;
    const CallValueCounts counts = UnpackCallInfo(file.info_words[i]);
    if (counts.integers > kMaxCallValues || counts.reals > kMaxCallValues || counts.texts > kMaxCallValues) {
        return false;
    }

    CallPlan plan;
    plan.command_index = static_cast<int32_t>(i);
    plan.first_record = static_cast<uint32_t>(first);
    plan.line = i < file.lines.size() ? file.lines[i] : 0;
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
                    if (plan.label >= labels.size()) return false;
                    plan.label_file = labels[plan.label].file_number;
                    plan.label_command_index = labels[plan.label].command_index;
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
    out.plan_of[i] = CallPlanRef{static_cast<int32_t>(out.plans.size()), plan.first_record};
    out.plans.push_back(plan);
    return true;
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

void BuildCallPlans(const ScriptFile& file, const CallPlanKeywords& keywords, std::span<const LabelEntry> labels,
                    CallPlans& out) {
    out = CallPlans{};
    const size_t n = file.codes.size();
    if (file.arg_counts.size() != n || file.first_arg.size() != n || file.info_words.size() != n) return;
    out.plan_of.assign(n, CallPlanRef{});
    for (size_t i = 0; i < n; ++i) {
        const uint8_t code = file.codes[i];
        if (code == kCmdCallSubroutine) PlanCommand(file, i, true, keywords.call, labels, out);
        if (code == kCmdReturn) PlanCommand(file, i, false, keywords.ret, labels, out);
    }
}

namespace detail {

bool CallPlanVariablesReadable(const CallPlan& plan, const ScriptTask& task) {
    const PlannedValue* value = task.file.plan_values.data() + plan.first_value;
    for (int i = 1; i <= plan.counts.integers; ++i, ++value) {
        if (value->kind == PlannedValueKind::kIntegerVariable && IntegerCellZero(value->variable) == nullptr) {
            return false;
        }
    }
    return plan.end.kind != PlannedEndKind::kIntegerVariable || IntegerCellZero(plan.end.variable) != nullptr;
}

}  // namespace detail

}  // namespace zk
