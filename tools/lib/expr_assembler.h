// Writes expression byte code instruction by instruction (opcode, uint16
// payload length, payload), for tests, the script writers and the demo.
// Raw() writes any opcode with any payload, so that a test can build the
// malformed code it needs.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace zk::tools {

class ExprAssembler {
public:
    // An opcode without payload ('+', ')', 'R', ...).
    ExprAssembler& Op(uint8_t opcode);
    // Any opcode with any payload; `length` overrides the stored length.
    ExprAssembler& Raw(uint8_t opcode, std::span<const uint8_t> payload);
    ExprAssembler& RawWithLength(uint8_t opcode, uint16_t length, std::span<const uint8_t> payload);

    ExprAssembler& Int8(int8_t value);    // 'B'
    ExprAssembler& Int16(int16_t value);  // 'W'
    ExprAssembler& Int32(int32_t value);  // 'I'
    ExprAssembler& Int64(int64_t value);  // 'L'
    // The shortest of the four that holds the value.
    ExprAssembler& Int(int64_t value);
    ExprAssembler& Real(double value);    // 'F'

    // A text literal ('M'): the bytes are escaped ('\\', '\n', '\t') and put
    // between a delimiter byte that the text does not use as a character
    // ('"' when it can be). Double-byte characters are copied as they are.
    ExprAssembler& Text(std::string_view text);
    // A literal whose payload is given exactly: the delimiter, then `body`
    // as written (no escaping, no closing delimiter added).
    ExprAssembler& TextPayload(uint8_t delimiter, std::string_view body);

    // Variable opcodes; prefix 0, '`' or '#'.
    ExprAssembler& Var(uint16_t number, uint8_t prefix = 0);        // 'H'
    ExprAssembler& Subscript(uint16_t number, uint8_t prefix = 0);  // 'V' (close with End)
    ExprAssembler& End();                                           // ')'
    ExprAssembler& Whole(uint16_t number, uint8_t prefix = 0);      // 'v'

    // Appends code written elsewhere.
    ExprAssembler& Append(std::span<const uint8_t> code);

    const std::vector<uint8_t>& Code() const { return code_; }
    std::vector<uint8_t> Take() { return std::move(code_); }

private:
    void Header(uint8_t opcode, uint16_t length);
    std::vector<uint8_t> code_;
};

// The escaped body of a text literal with its delimiters, as Text() writes it.
std::vector<uint8_t> TextLiteralPayload(std::string_view text);

}  // namespace zk::tools
