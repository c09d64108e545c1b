// Case and width conversions of CP932 text, from the engine's own tables:
// full-width Latin, Greek and Cyrillic letters change case like ASCII
// letters do; ASCII and half-width katakana have full-width forms and back.
// Codes are a double-byte character's lead x 256 + trail.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace zk {

// The other case of a double-byte letter, or the code itself.
uint16_t Cp932UpperCase(uint16_t code);
uint16_t Cp932LowerCase(uint16_t code);

// The full-width form of a single byte (0x20..0x7E, 0xA1..0xDF), or the byte
// itself when it has none.
uint16_t Cp932FullWidth(uint8_t byte);

// The half-width form of a double-byte character: 1 or 2 bytes into `out`
// (a voiced katakana becomes its base and a sound mark), or 0 when it has
// none.
size_t Cp932HalfWidth(uint16_t code, std::array<uint8_t, 2>& out);

}  // namespace zk
