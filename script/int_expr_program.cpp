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

// The byte-code operators on two integer cells, as the evaluator's handlers
// compute them in integer arithmetic.
inline int64_t ApplyBinary(uint8_t opcode, int64_t x, int64_t y) {
    switch (opcode) {
        case kOpAdd: return WrapAdd(x, y);
        case kOpSubtract: return WrapSub(x, y);
        case kOpMultiply: return WrapMul(x, y);
        case kOpDivide: return y == 0 ? 0 : WrapDiv(x, y);
        case kOpRemainder: return y == 0 ? 0 : WrapRem(x, y);
        case kOpBitAnd: return x & y;
        case kOpBitOr: return x | y;
        case kOpBitXor: return x ^ y;
        case kOpEqual: return x == y ? 1 : 0;
        case kOpNotEqual: return x != y ? 1 : 0;
        case kOpGreater: return x > y ? 1 : 0;
        case kOpLess: return x < y ? 1 : 0;
        case kOpGreaterEqual: return x >= y ? 1 : 0;
        case kOpLessEqual: return x <= y ? 1 : 0;
        case kOpLogicalAnd: return (x != 0 && y != 0) ? 1 : 0;
        default: return (x != 0 || y != 0) ? 1 : 0;  // kOpLogicalOr
    }
}

bool IntegerEntry(uint32_t type) {
    if (type >= kExprEntryCount) return false;
    const ExprEntry entry = ExprEntryTable()[type];
    return entry == EvalIntExpr || entry == EvalRealExprFromInt;
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
    ops.insert(ops.end(), program.begin(), program.end());
    return compiled;
}

namespace {

// The interpreter; `result` is position 0's integer cell.
[[gnu::always_inline]] inline bool RunProgram(const IntExprProgram& program, const IntExprOp* ops, int64_t& result) {
    ExprEvaluator& e = Evaluator();
    if (program.length == 0 || e.declaring != 0 || ExprOpTableFolding()) return false;
    const IntExprOp* const begin = ops + program.first;
    const IntExprOp* const end = begin + program.length;

    // Every variable first: any that is not an integer variable with an
    // element 0 sends the whole run to the byte code before anything changed.
    std::array<const int64_t*, kMaxIntExprVariables> cells;
    if (program.variable_count != 0) {
        uint8_t found = 0;
        const std::vector<ScriptVariable>& records = Variables().records;
        for (const IntExprOp* op = begin; op != end && found < program.variable_count; ++op) {
            if (op->kind != IntExprOpKind::kPushVariable || op->variable_slot != found) continue;
            const uint64_t number = static_cast<uint64_t>(op->value);
            if (number >= records.size()) return false;
            const ScriptVariable* variable = &records[number];
            if (variable->type != kVariableInteger || variable->element_count == 0 ||
                variable->integers.empty()) {
                return false;
            }
            cells[found++] = variable->integers.data();
        }
        if (found != program.variable_count) return false;  // NEVER: slots are numbered in order of first use
    }

    // The run state the byte-code run starts from.
    e.mode = kModeInteger;
    e.out = {};
    e.depth = 0;
    e.nesting = 0;
    e.next_text = 1;
    e.stack[0] = ExprPosition{};
    e.subscript_count = 0;
    e.subscripts[0] = 0;
    e.reference.prefix = kPrefixNone;
    e.reference.whole_variable = 0;
    e.result_length = 0;

    uint16_t depth = 0;
    for (const IntExprOp* op = begin; op != end; ++op) {
        switch (op->kind) {
            case IntExprOpKind::kPushConstant: {
                ExprPosition& p = e.stack[depth++];
                p.text = 0;
                p.integer = op->value;
                break;
            }
            case IntExprOpKind::kPushVariable: {
                e.reference.variable = static_cast<uint32_t>(op->value);
                e.reference.element = 0;
                e.reference.prefix = kPrefixNone;
                ExprPosition& p = e.stack[depth++];
                p.text = 0;
                p.integer = *cells[op->variable_slot];
                break;
            }
            case IntExprOpKind::kNegate: {
                ExprPosition& a = e.stack[depth - 1];
                a.integer = WrapNegate(a.integer);
                a.text = 0;
                break;
            }
            case IntExprOpKind::kBinary: {
                const ExprPosition& b = e.stack[--depth];
                ExprPosition& a = e.stack[depth - 1];
                a.integer = ApplyBinary(op->opcode, a.integer, b.integer);
                a.text = 0;
                break;
            }
        }
    }
    e.depth = depth;
    e.aborted = 0;
    result = e.stack[0].integer;
    return true;
}

}  // namespace

bool RunIntExprProgram(const IntExprProgram& program, const IntExprOp* ops, ExprValue& value) {
    int64_t result = 0;
    if (!RunProgram(program, ops, result)) return false;
    value = ExprValue{};
    value.integer = result;
    value.real = static_cast<double>(result);
    return true;
}

ExprValue EvaluateWithProgram(uint32_t type, std::span<const uint8_t> code, const IntExprProgram& program,
                              const IntExprOp* ops, std::span<char> text_out) {
    int64_t result = 0;
    if (program.length != 0 && IntegerEntry(type) && RunProgram(program, ops, result)) {
        ExprValue value;
        value.integer = result;
        value.real = static_cast<double>(result);
        return value;
    }
    return EvaluateExpr(type, code, text_out);
}

}  // namespace zk
