#include "tools/lib/expr_disassembler.h"

#include <cstdint>
#include <cstdio>

#include "base/byte_reader.h"
#include "script/expr_opcodes.h"

namespace zk::tools {

namespace {

// A little-endian value at `at`; the caller has checked the payload's size.
template <typename T>
T ReadLe(std::span<const uint8_t> p, size_t at = 0) {
    return ByteReader(p).PeekAt<T>(at).value_or(T{});
}

std::string Escaped(std::span<const uint8_t> bytes) {
    std::string out;
    for (uint8_t b : bytes) {
        if (b == '"' || b == '\\') {
            out += '\\';
            out += static_cast<char>(b);
        } else if (b >= 0x20 && b != 0x7F) {
            out += static_cast<char>(b);  // double-byte characters pass as they are
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", b);
            out += hex;
        }
    }
    return out;
}

std::string Operand(const ExprOpcodeInfo& info, std::span<const uint8_t> p) {
    switch (info.payload) {
        case ExprPayload::kNone: return {};
        case ExprPayload::kInt8: return std::to_string(ReadLe<int8_t>(p));
        case ExprPayload::kInt16: return std::to_string(ReadLe<int16_t>(p));
        case ExprPayload::kInt32: return std::to_string(ReadLe<int32_t>(p));
        case ExprPayload::kInt64: return std::to_string(ReadLe<int64_t>(p));
        case ExprPayload::kReal: {
            char text[64];
            std::snprintf(text, sizeof text, "%.17g", ReadLe<double>(p));
            return text;
        }
        case ExprPayload::kVariable: {
            std::string prefix;
            if (p[0] == kPrefixGrave) prefix = "`";
            else if (p[0] == kPrefixHash) prefix = "#";
            else if (p[0] != 0) prefix = "?" + std::to_string(p[0]) + ":";
            return prefix + std::to_string(ReadLe<uint16_t>(p, 1));
        }
        case ExprPayload::kText: {
            // The raw payload between its delimiters (escapes left as stored).
            uint8_t delimiter = p[0];
            std::span<const uint8_t> body = p.subspan(1);
            if (!body.empty() && body.back() == delimiter) body = body.first(body.size() - 1);
            std::string text = "\"" + Escaped(body) + "\"";
            if (delimiter != '"') text += " delim " + Escaped(p.first(1));
            return text;
        }
    }
    return {};
}

}  // namespace

std::string DisassembleExpr(std::span<const uint8_t> code) {
    std::string out;
    size_t pc = 0;
    while (pc < code.size()) {
        if (code.size() - pc < kExprHeaderSize) {
            out += "<truncated header>\n";
            break;
        }
        const uint8_t opcode = code[pc];
        const size_t length = ReadLe<uint16_t>(code, pc + 1);
        if (length > code.size() - pc - kExprHeaderSize) {
            out += "<payload past end>\n";
            break;
        }
        std::span<const uint8_t> payload = code.subspan(pc + kExprHeaderSize, length);
        const ExprOpcodeInfo* info = FindExprOpcode(opcode);
        if (info == nullptr) {
            char text[32];
            std::snprintf(text, sizeof text, "<unknown 0x%02X>\n", opcode);
            out += text;
        } else if (length < ExprPayloadSize(info->payload)) {
            out += std::string(info->mnemonic) + " <short payload>\n";
            break;
        } else {
            std::string operand = Operand(*info, payload);
            out += std::string(info->mnemonic);
            if (!operand.empty()) out += " " + operand;
            out += "\n";
        }
        pc += kExprHeaderSize + length;
    }
    return out;
}

}  // namespace zk::tools
