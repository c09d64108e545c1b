// Constant label names of jumps and calls become label indexes once per
// file, so that running a jump or call looks nothing up by name.
#include <array>

#include "script/command_table.h"
#include "script/expr_eval.h"
#include "script/labels.h"
#include "script/script_file.h"
#include "base/never.h"

namespace zk {

namespace {

void WriteU32(std::span<uint8_t> bytes, size_t offset, uint32_t value) {
    for (size_t i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

// Evaluates a record's code as a label name in folding mode: the label
// index, or -1 when the name reads a variable or names no label.
int32_t ConstantLabel(const ScriptFile& file, const ArgDescriptor& record, std::array<char, kExprTextSize>& buffer) {
    std::optional<std::span<const uint8_t>> code = ArgCode(file.data, record);
    if (ZK_NEVER(!code)) return -1;  // every code record was checked at load
    buffer[0] = '\0';
    ClearExprVariableMet();
    ExprValue value = EvalTextExpr(*code, buffer);
    if (ExprVariableMet()) return -1;
    size_t length = std::min(value.text_length, buffer.size() - 1);
    return FindLabel(std::string_view(buffer.data(), length));
}

}  // namespace

void FoldLabels(ScriptFile& file) {
    std::array<char, kExprTextSize> buffer{};
    std::span<uint8_t> args(file.args);
    // Variable opcodes abort in this mode instead of reading variables; the
    // normal table is put back below before anything else evaluates.
    FillExprOpTable(0);
    for (size_t i = 0; i < file.codes.size(); ++i) {
        const uint8_t code = file.codes[i];
        if (code != kCmdJumpToLabel && code != kCmdCallSubroutine) continue;
        for (uint32_t k = 0; k < file.arg_counts[i]; ++k) {
            const size_t record_number = size_t{file.first_arg[i]} + k;
            std::optional<ArgDescriptor> record = ReadArgDescriptor(file.args, record_number);
            if (ZK_NEVER(!record)) break;  // checked at load
            const size_t offset = record_number * kArgDescriptorSize;
            if (code == kCmdJumpToLabel) {
                // Record 1 only; a folded length has one of its top four bits set.
                int32_t label = ConstantLabel(file, *record, buffer);
                if (label >= 0 && static_cast<uint32_t>(label) <= kFoldedJumpIndexMask) {
                    WriteU32(args, offset + 4, static_cast<uint32_t>(label) + kFoldedJumpFlag);
                }
                break;
            }
            if (record->keyword != 0) continue;
            // The call keeps the index in the 16 bits of the type and
            // operator bytes, where 0 means "look the name up when it runs":
            // label 0 and labels beyond 65535 stay unfolded.
            args[offset + 2] = 0;
            args[offset + 3] = 0;
            int32_t label = ConstantLabel(file, *record, buffer);
            if (label >= 1 && label <= 0xFFFF) {
                args[offset + 2] = static_cast<uint8_t>(label & 0xFF);
                args[offset + 3] = static_cast<uint8_t>(label >> 8);
            }
        }
    }
    FillExprOpTable(1);
    // The decoded records follow the rewritten bytes.
    DecodeArgDescriptors(file.args, file.records);
}

}  // namespace zk
