// DecodeCommandArgs: evaluates the running command's argument records into
// the CommandArgBlock and checks each number against its keyword's range
// kind. The command's records come from an untrusted script file, so the
// keyword number of every record is checked against what zkc.zbn defines
// for the command before its value or range kind is read.
#include "script/arg_decoder.h"

#include <array>

#include "core/error_report.h"
#include "core/window_record.h"
#include "script/command_table.h"
#include "script/compiled_tables.h"
#include "script/expr_eval.h"
#include "script/int_arithmetic.h"

namespace zk {

namespace {

struct Bounds {
    int64_t minimum;
    int64_t maximum;
};

// Kinds 3..23: an accepted range of the value's low 32 bits.
constexpr std::array<Bounds, 24> kBoundedKinds = {{
    {0, 0},  {0, 0},   {0, 0},    {0, 1},     {0, 2},    {0, 3},    {1, 3},     {0, 4},
    {0, 8},  {1, 8},   {0, 15},   {0, 18},    {0, 256},  {1, 256},  {0, 512},   {0, 1024},
    {1, 1024}, {128, 1024}, {0, 2048}, {1, 2048}, {0, 8192}, {1, 8192}, {16, 8192}, {128, 8192},
}};

RangeCheck Refuse(uint32_t error, uint8_t argument_count, int64_t minimum = 0, int64_t maximum = 0) {
    return RangeCheck{error, minimum, maximum, argument_count};
}

// Low 32 bits, unsigned: minimum <= low <= maximum as one unsigned test.
bool LowInRange(int64_t value, int64_t minimum, int64_t maximum) {
    uint32_t low = static_cast<uint32_t>(value);
    return static_cast<uint32_t>(low - static_cast<uint32_t>(minimum)) <=
           static_cast<uint32_t>(maximum - minimum);
}

// Evaluates one record into its slot by the keyword's value kind. False
// (reported) when the record points outside the data section.
bool EvaluateRecord(const RunningCommand& command, const ArgDescriptor& record, uint8_t value_kind,
                    bool fixed_text_entry, CommandArgSlot& slot) {
    std::optional<std::span<const uint8_t>> code = ArgCode(command.data, record);
    slot.code = code.value_or(std::span<const uint8_t>());
    // Raw records are the handler's: some carry jump targets in the length.
    if (value_kind != kValueKindNumber && value_kind != kValueKindText) return true;
    if (!code) {
        ReportScriptError(kErrMalformedCode, true);
        return false;
    }
    if (value_kind == kValueKindNumber) {
        // A literal or a counter (the common forms) runs here.
        const ArgDescriptor* first = command.records.data();
        const size_t index = first != nullptr && &record >= first ? static_cast<size_t>(&record - first) : SIZE_MAX;
        int64_t result = 0;
        if (index < command.programs.size() && RunShapedIntProgram(record.expr_type, command.programs[index], result)) {
            slot.value = result;
        } else {
            slot.value = EvaluateRecordCode(command, record, record.expr_type, *code).integer;
        }
    } else {
        if (!slot.text_buffer) slot.text_buffer = std::make_unique<char[]>(kExprTextSize);
        uint32_t entry = fixed_text_entry ? kFixedTextEntry : uint32_t{record.expr_type} + 15;
        ExprValue value = EvaluateExpr(entry, *code, std::span<char>(slot.text_buffer.get(), kExprTextSize));
        slot.text_length = value.text_length;
    }
    const ExprReference& reference = LastExprReference();
    slot.var_number = reference.variable;
    slot.var_element = reference.element;
    slot.whole_variable = reference.whole_variable;
    return true;
}

int32_t Decode(uint8_t command_code, bool fixed_text_entry) {
    CommandArgBlock& block = Args();
    block.keyword_map.fill(0);
    block.arg_count = 0;

    const RunningCommand& command = CurrentCommand();
    // SetRunningCommand keeps these true; a command record that never went
    // through it (or a table that changed since) fails here, not in memory.
    if (command.index < 0 || command.index >= command.command_count || command.records.size() < command.arg_count) {
        ReportScriptError(kErrMalformedCode, true);
        return -1;
    }
    const WindowRecord* main_window = MainWindowRecord();
    const int32_t screen_width = main_window != nullptr ? main_window->client_width : 0;
    const int32_t screen_height = main_window != nullptr ? main_window->client_height : 0;

    block.arg_count = command.arg_count;
    for (uint32_t s = 1; s <= command.arg_count; ++s) {
        const ArgDescriptor* record = &command.records[s - 1];
        CommandArgSlot& slot = block.slots[s];
        slot.keyword = record->keyword;
        slot.expr_type = record->expr_type;
        slot.op = record->op;
        slot.code_length = record->code_length;
        slot.code_offset = record->code_offset;
        block.keyword_map[record->keyword] = static_cast<uint8_t>(s);

        // A keyword the command does not define has no value or range
        // kind: the file does not belong to these tables.
        const KeywordDefinition* keyword = FindKeywordDefinition(command_code, record->keyword);
        if (keyword == nullptr) {
            ReportScriptError(kErrMalformedCode, true);
            return -1;
        }
        if (!EvaluateRecord(command, *record, keyword->value_kind, fixed_text_entry, slot)) return -1;

        // A text or raw argument has no number of its own to check (the slot
        // still holds an earlier command's value).
        if (keyword->value_kind != kValueKindNumber) continue;
        RangeCheck check = CheckRangeKind(keyword->range_kind, slot.value, screen_width, screen_height);
        if (check.error != 0) {
            ReportRangeFailure(check, CommandName(command_code), keyword->name, slot.value);
            return -1;
        }
    }
    return 0;
}

}  // namespace

RangeCheck CheckRangeKind(uint8_t kind, int64_t value, int32_t screen_width, int32_t screen_height) {
    const uint32_t low = static_cast<uint32_t>(value);
    switch (kind) {
        case 0: return {};
        case 1: return value >= 0 ? RangeCheck{} : Refuse(kErrBelowMinimum, 2, 0);
        case 2: return value >= 1 ? RangeCheck{} : Refuse(kErrBelowMinimum, 2, 1);
        case 24: return low + 1u <= 0x1000000u ? RangeCheck{} : Refuse(kErrNotColour, 1);
        case 25: return low <= 0xFFFFFFu ? RangeCheck{} : Refuse(kErrNotColourNoAlpha, 1);
        case 26:
            return low <= static_cast<uint32_t>(screen_width - 1) ? RangeCheck{}
                                                                   : Refuse(kErrOutOfRange, 3, 0, int64_t{screen_width} - 1);
        case 27:
            return low <= static_cast<uint32_t>(screen_height - 1)
                       ? RangeCheck{}
                       : Refuse(kErrOutOfRange, 3, 0, int64_t{screen_height} - 1);
        case 28:
            if (value < 0) return Refuse(kErrNegative, 1);
            if (value > 3) return Refuse(kErrAboveThree, 2, 3);
            return {};
        default:
            if (kind >= 3 && kind <= 23) {
                const Bounds& b = kBoundedKinds[kind];
                return LowInRange(value, b.minimum, b.maximum) ? RangeCheck{}
                                                               : Refuse(kErrOutOfRange, 3, b.minimum, b.maximum);
            }
            return {};  // kinds above 28 accept anything
    }
}

void ReportRangeFailure(const RangeCheck& check, std::string_view command, std::string_view keyword, int64_t value) {
    std::array<FormatArg, 5> args = {command, keyword, value, check.minimum, check.maximum};
    size_t count = 2 + std::min<size_t>(check.argument_count, 3);
    ReportScriptErrorF(check.error, true, std::span<const FormatArg>(args.data(), count));
}

int64_t ApplyArgOperator(uint8_t kind, int64_t old_value, int64_t argument) {
    switch (kind) {
        case kArgSet: return argument;
        case kArgAdd: return WrapAdd(old_value, argument);
        case kArgSubtract: return WrapSub(old_value, argument);
        case kArgMultiply: return WrapMul(old_value, argument);
        case kArgDivide: return argument == 0 ? old_value : WrapDiv(old_value, argument);
        default: return old_value;
    }
}

int64_t ApplyArgOperatorClamped(uint8_t kind, int64_t old_value, int64_t argument, int64_t minimum, int64_t maximum) {
    auto clamp = [&](int64_t v) { return v < minimum ? minimum : v > maximum ? maximum : v; };
    switch (kind) {
        case kArgSet: return argument;
        case kArgAdd: {
            int64_t v = WrapAdd(old_value, argument);
            return v > maximum ? maximum : v;
        }
        case kArgSubtract: {
            int64_t v = WrapSub(old_value, argument);
            return v < minimum ? minimum : v;
        }
        case kArgMultiply: return clamp(WrapMul(old_value, argument));
        case kArgDivide: return argument == 0 ? old_value : clamp(WrapDiv(old_value, argument));
        default: return old_value;
    }
}

int64_t ApplyArgOperatorMin(uint8_t kind, int64_t old_value, int64_t argument, int64_t minimum) {
    switch (kind) {
        case kArgSet: return argument;
        case kArgAdd: return WrapAdd(old_value, argument);
        case kArgSubtract:
        case kArgMultiply:
        case kArgDivide: {
            if (kind == kArgDivide && argument == 0) return old_value;
            int64_t v = ApplyArgOperator(kind, old_value, argument);
            return v < minimum ? minimum : v;
        }
        default: return old_value;
    }
}

int32_t DecodeCommandArgs(uint8_t command_code) { return Decode(command_code, false); }

int32_t DecodeCallCommandArgs(uint8_t command_code) { return Decode(command_code, true); }

}  // namespace zk
