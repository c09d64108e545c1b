#include "script/int_expr_program.h"

#include "base/byte_reader.h"
#include "script/expr_opcodes.h"
#include "script/int_arithmetic.h"
#include "script/variables.h"

namespace zk {

namespace {

constexpr size_t kHeaderSize = 3;  // opcode, uint16 payload length

bool IsBinaryOperator(uint8_t opcode) {
    switch (opcode) {
        case kOpAdd: case kOpEqual: case kOpNotEqual: case kOpGreater: case kOpLess: case kOpGreaterEqual:
        case kOpLessEqual: case kOpSubtract: case kOpMultiply: case kOpDivide: case kOpRemainder: case kOpBitAnd:
        case kOpBitOr: case kOpBitXor: case kOpLogicalAnd: case kOpLogicalOr:
            return true;
        default:
            return false;
    }
}

}  // namespace

IntExprProgram CompileIntExpr(std::span<const uint8_t> code, std::vector<IntExprOp>& ops) {
    std::vector<IntExprOp> program;
    std::vector<uint32_t> variables;
    size_t depth = 0;
    size_t pc = 0;
    while (pc < code.size()) {
        if (code.size() - pc < kHeaderSize) return {};
        const uint8_t opcode = code[pc];
        const size_t length = size_t{code[pc + 1]} | (size_t{code[pc + 2]} << 8);
        if (length > code.size() - pc - kHeaderSize) return {};
        const std::span<const uint8_t> payload = code.subspan(pc + kHeaderSize, length);
        ByteReader reader(payload);
        IntExprOp op;
        switch (opcode) {
            case kOpInt8:
            case kOpInt16:
            case kOpInt32:
            case kOpInt64: {
                std::optional<int64_t> value;
                if (opcode == kOpInt8) value = reader.PeekAt<int8_t>(0);
                if (opcode == kOpInt16) value = reader.PeekAt<int16_t>(0);
                if (opcode == kOpInt32) value = reader.PeekAt<int32_t>(0);
                if (opcode == kOpInt64) value = reader.PeekAt<int64_t>(0);
                if (!value) return {};
                op.kind = IntExprOpKind::kPushConstant;
                op.value = *value;
                ++depth;
                break;
            }
            case kOpVariable: {
                // A prefix reads a reference value, a system variable its
                // reader: neither is a plain integer.
                if (length < 3 || (payload[0] == kPrefixGrave || payload[0] == kPrefixHash)) return {};
                const uint32_t number = *reader.PeekAt<uint16_t>(1);
                if (number < kFirstScriptVariable) return {};
                size_t slot = 0;
                while (slot < variables.size() && variables[slot] != number) ++slot;
                if (slot == variables.size()) {
                    if (variables.size() == kMaxIntExprVariables) return {};
                    variables.push_back(number);
                }
                op.kind = IntExprOpKind::kPushVariable;
                op.variable_slot = static_cast<uint8_t>(slot);
                op.value = number;
                ++depth;
                break;
            }
            case kOpNegate:
                if (depth < 1) return {};
                op.kind = IntExprOpKind::kNegate;
                break;
            default:
                if (!IsBinaryOperator(opcode) || depth < 2) return {};
                op.kind = IntExprOpKind::kBinary;
                op.opcode = opcode;
                --depth;
                break;
        }
        if (depth > kMaxIntExprDepth || program.size() == kMaxIntExprOps) return {};
        program.push_back(op);
        pc += kHeaderSize + length;
    }
    if (program.empty() || ops.size() + program.size() > UINT32_MAX) return {};
    IntExprProgram compiled;
    compiled.first = static_cast<uint32_t>(ops.size());
    compiled.length = static_cast<uint8_t>(program.size());
    compiled.variable_count = static_cast<uint8_t>(variables.size());
    const IntExprOp& op0 = program[0];
    if (program.size() == 1 && op0.kind == IntExprOpKind::kPushConstant) {
        compiled.shape = IntExprShape::kConstant;
        compiled.constant = op0.value;
    } else if (program.size() == 1 && op0.kind == IntExprOpKind::kPushVariable) {
        compiled.shape = IntExprShape::kVariable;
        compiled.variable = static_cast<uint32_t>(op0.value);
    } else if (program.size() == 3 && op0.kind == IntExprOpKind::kPushVariable &&
               program[1].kind == IntExprOpKind::kPushConstant && program[2].kind == IntExprOpKind::kBinary) {
        compiled.shape = IntExprShape::kVariableConstant;
        compiled.variable = static_cast<uint32_t>(op0.value);
        compiled.constant = program[1].value;
        compiled.opcode = program[2].opcode;
    }
    ops.insert(ops.end(), program.begin(), program.end());
    return compiled;
}

}  // namespace zk
