// Commands 94 and 103: questions about the compiled script file list and
// the model player (94), and about a variable (103): its type and shape, a
// text's first character and length, where a value sits in an array, and
// which text of a range sorts first.
#pragma once

#include <cstdint>
#include <string_view>

namespace zk {

inline constexpr uint8_t kCmdScriptFileInfo = 94;
inline constexpr uint8_t kCmdVariableInfo = 103;

// The length of a CP932 text in characters (a double-byte character is one).
int64_t CountCharacters(std::string_view text);
// The first character's code: 0 for the empty text, lead x 256 + trail for
// a double-byte character, else the byte.
int64_t FirstCharacterCode(std::string_view text);

int32_t CmdScriptFileInfo();
int32_t CmdVariableInfo();

}  // namespace zk
