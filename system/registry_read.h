// Command 78: one registry value into a text element.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zk {

inline constexpr uint8_t kCmdReadRegistry = 78;
inline constexpr size_t kRegistryValueBuffer = 1024;

// The text a value's bytes give: up to the first NUL, at most 1023 bytes
// cut at a character boundary (a value of 1024 bytes without a NUL still
// ends in a terminator).
std::string RegistryValueText(const std::vector<uint8_t>& bytes);

int32_t CmdReadRegistry();
void RegisterRegistryCommand();

}  // namespace zk
