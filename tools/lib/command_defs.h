// The command definition table: every command's name and keywords with
// their value kinds (0 number, 1 text, 2 raw code) and range kinds, written
// from each command's definition. The writers of zkc.zbn, the tests and the
// demo all take it from here, so a keyword is named in one place.
//
// Keywords whose records the handler reads itself rather than through the
// decoder are raw (2): the jump targets of blocks and loops, the label of a
// jump, and the variable a declaration sizes (evaluating it before the
// declaration exists would check it against the old sizes).
//
// Commands not listed yet are written as "cmd<n>" without keywords.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/lib/script_writer.h"

namespace zk::tools {

struct CommandEntry {
    uint8_t code = 0;
    std::string name;
    std::vector<KeywordDef> keywords;  // by keyword number
};

// The commands defined so far, in code order.
const std::vector<CommandEntry>& CommandEntries();
const CommandEntry* FindCommandEntry(uint8_t code);
const CommandEntry* FindCommandEntry(std::string_view name);
// The keyword number of `keyword` in a command, or -1.
int KeywordNumber(const CommandEntry& command, std::string_view keyword);
// The same by command name; throws std::invalid_argument for a name that
// is not defined (tests want to fail loudly).
uint8_t CommandCode(std::string_view command);
uint8_t Keyword(std::string_view command, std::string_view keyword);

// zkc.zbn contents for all 121 codes: the defined commands, "cmd<n>" for the
// others; errno texts "errno <n>", the identity KeyNumberMap.
ZkcFile EngineCommandDefinitions();

}  // namespace zk::tools
