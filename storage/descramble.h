// The tables that hide pack entry names and script files from a casual
// look: the name-length table T (a pack entry stores the code 255 - T[n]
// for a name of n bytes) and the 4-byte key that script file sections are
// XOR-ed with. The engine and the tools that write packs and script files
// share them.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace zk {

// Start-up fills both tables (once; later calls change nothing). Result 0.
int32_t BuildDescrambleTables();

// T: the identity with twelve pairs exchanged, so it is its own inverse.
const std::array<uint8_t, 256>& NameLengthTable();
// The CRC-32 of a fixed text, most significant byte first.
const std::array<uint8_t, 4>& ScriptFileKey();

// A stored length code to the name length, and back (for writers).
inline uint8_t NameLengthFromCode(uint8_t code) { return NameLengthTable()[255 - code]; }
inline uint8_t NameLengthCode(uint8_t length) { return static_cast<uint8_t>(255 - NameLengthTable()[length]); }

// A stored name byte to the plain byte and back: the complement XOR 0xA7
// (the same operation both ways).
constexpr uint8_t DescrambleNameByte(uint8_t stored) { return static_cast<uint8_t>(~stored ^ 0xA7); }
constexpr uint8_t ScrambleNameByte(uint8_t plain) { return static_cast<uint8_t>(~plain ^ 0xA7); }
std::string DescrambleName(std::span<const uint8_t> stored);

}  // namespace zk
