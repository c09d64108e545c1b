// Expression byte code as text, one instruction per line, for the dumper
// and for test failure messages:
//   int8 5 / int64 -1 / real 2.5 / text "abc" (delimiter shown when not '"')
//   var 1000 / subscript #1000 / whole `1000 / end / add / eq / ...
// Damaged code is shown as far as it reads, then one line saying why it
// stops ("<truncated header>", "<payload past end>", "<short payload>",
// "<unknown 0x41>" is shown and decoding goes on past unknown opcodes).
#pragma once

#include <span>
#include <string>

namespace zk::tools {

std::string DisassembleExpr(std::span<const uint8_t> code);

}  // namespace zk::tools
