#include "tools/lib/expr_assembler.h"

#include <array>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "base/sjis.h"
#include "script/expr_opcodes.h"

namespace zk::tools {

namespace {

template <typename T>
std::array<uint8_t, sizeof(T)> Le(T value) {
    std::array<uint8_t, sizeof(T)> bytes{};
    using U = std::make_unsigned_t<T>;
    U u = static_cast<U>(value);
    for (size_t i = 0; i < sizeof(T); ++i) bytes[i] = static_cast<uint8_t>(u >> (8 * i));
    return bytes;
}

// A delimiter the text never holds as a single-byte character: '"' first,
// then other punctuation.
uint8_t ChooseDelimiter(std::string_view text) {
    std::array<bool, 256> used{};
    for (size_t i = 0; i < text.size(); i += SjisCharLength(text, i)) used[static_cast<uint8_t>(text[i])] = true;
    for (uint8_t candidate : std::string_view("\"'|!$%&~^@*:;?")) {
        if (!used[candidate]) return candidate;
    }
    throw std::invalid_argument("text literal uses every delimiter");
}

}  // namespace

std::vector<uint8_t> TextLiteralPayload(std::string_view text) {
    std::vector<uint8_t> payload;
    const uint8_t delimiter = ChooseDelimiter(text);
    payload.push_back(delimiter);
    for (size_t i = 0; i < text.size();) {
        const uint8_t b = static_cast<uint8_t>(text[i]);
        if (IsSjisLeadByte(b) && i + 1 < text.size()) {
            payload.push_back(b);
            payload.push_back(static_cast<uint8_t>(text[i + 1]));
            i += 2;
            continue;
        }
        if (b == '\\') {
            payload.push_back('\\');
            payload.push_back('\\');
        } else if (b == '\n') {
            payload.push_back('\\');
            payload.push_back('n');
        } else if (b == '\t') {
            payload.push_back('\\');
            payload.push_back('t');
        } else {
            payload.push_back(b);
        }
        ++i;
    }
    payload.push_back(delimiter);
    return payload;
}

void ExprAssembler::Header(uint8_t opcode, uint16_t length) {
    code_.push_back(opcode);
    code_.push_back(static_cast<uint8_t>(length & 0xFF));
    code_.push_back(static_cast<uint8_t>(length >> 8));
}

ExprAssembler& ExprAssembler::Op(uint8_t opcode) {
    Header(opcode, 0);
    return *this;
}

ExprAssembler& ExprAssembler::Raw(uint8_t opcode, std::span<const uint8_t> payload) {
    if (payload.size() > std::numeric_limits<uint16_t>::max()) throw std::length_error("payload above 65535 bytes");
    return RawWithLength(opcode, static_cast<uint16_t>(payload.size()), payload);
}

ExprAssembler& ExprAssembler::RawWithLength(uint8_t opcode, uint16_t length, std::span<const uint8_t> payload) {
    Header(opcode, length);
    code_.insert(code_.end(), payload.begin(), payload.end());
    return *this;
}

ExprAssembler& ExprAssembler::Int8(int8_t value) { return Raw(kOpInt8, Le(value)); }
ExprAssembler& ExprAssembler::Int16(int16_t value) { return Raw(kOpInt16, Le(value)); }
ExprAssembler& ExprAssembler::Int32(int32_t value) { return Raw(kOpInt32, Le(value)); }
ExprAssembler& ExprAssembler::Int64(int64_t value) { return Raw(kOpInt64, Le(value)); }

ExprAssembler& ExprAssembler::Int(int64_t value) {
    if (value >= INT8_MIN && value <= INT8_MAX) return Int8(static_cast<int8_t>(value));
    if (value >= INT16_MIN && value <= INT16_MAX) return Int16(static_cast<int16_t>(value));
    if (value >= INT32_MIN && value <= INT32_MAX) return Int32(static_cast<int32_t>(value));
    return Int64(value);
}

ExprAssembler& ExprAssembler::Real(double value) {
    std::array<uint8_t, 8> bytes{};
    std::memcpy(bytes.data(), &value, 8);
    return Raw(kOpReal, bytes);
}

ExprAssembler& ExprAssembler::Text(std::string_view text) { return Raw(kOpText, TextLiteralPayload(text)); }

ExprAssembler& ExprAssembler::TextPayload(uint8_t delimiter, std::string_view body) {
    std::vector<uint8_t> payload;
    payload.push_back(delimiter);
    payload.insert(payload.end(), body.begin(), body.end());
    return Raw(kOpText, payload);
}

ExprAssembler& ExprAssembler::Var(uint16_t number, uint8_t prefix) {
    const std::array<uint8_t, 3> payload = {prefix, static_cast<uint8_t>(number & 0xFF), static_cast<uint8_t>(number >> 8)};
    return Raw(kOpVariable, payload);
}

ExprAssembler& ExprAssembler::Subscript(uint16_t number, uint8_t prefix) {
    const std::array<uint8_t, 3> payload = {prefix, static_cast<uint8_t>(number & 0xFF), static_cast<uint8_t>(number >> 8)};
    return Raw(kOpSubscripted, payload);
}

ExprAssembler& ExprAssembler::End() { return Op(kOpSubscriptEnd); }

ExprAssembler& ExprAssembler::Whole(uint16_t number, uint8_t prefix) {
    const std::array<uint8_t, 3> payload = {prefix, static_cast<uint8_t>(number & 0xFF), static_cast<uint8_t>(number >> 8)};
    return Raw(kOpWholeVariable, payload);
}

ExprAssembler& ExprAssembler::Append(std::span<const uint8_t> code) {
    code_.insert(code_.end(), code.begin(), code.end());
    return *this;
}

}  // namespace zk::tools
