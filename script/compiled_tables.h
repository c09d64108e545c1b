// The script compiler's engine-wide tables under zkbin\, read once at boot:
//   zkc.zbn       command and keyword definitions, the run-time library's
//                 error texts and the KeyNumberMap
//   zkt.zbn       the size of the variable table
//   zkt_list.zbn  the ScriptFileList (names by file number, per-file values)
//   zkl.zbn       the label table (script/labels.h)
//   zkv.zbn       the variable definitions, kept for every later file load
//
// Every file is untrusted. Each parser checks every count, length and
// offset against the bytes before it uses them and changes nothing when the
// file is damaged; the loaders then report 104010 with the file name
// (fatal). The parsers are plain functions over bytes so that tests and
// fuzzers can drive them without a game folder; the loaders read the file,
// parse it and install the result in the engine-wide tables below.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/error_codes.h"
#include "script/labels.h"

namespace zk {

struct ScriptVariable;

inline constexpr std::string_view kCommandDefinitionFile = "zkbin\\zkc.zbn";
inline constexpr std::string_view kVariableTableFile = "zkbin\\zkt.zbn";
inline constexpr std::string_view kScriptFileListFile = "zkbin\\zkt_list.zbn";
inline constexpr std::string_view kLabelTableFile = "zkbin\\zkl.zbn";
inline constexpr std::string_view kVariableDefinitionFile = "zkbin\\zkv.zbn";

// ---- zkc.zbn --------------------------------------------------------------

inline constexpr int kErrnoTextCount = 37;   // run-time library errors 0..36
inline constexpr int kKeyNumberMapSize = 256;

// Value kinds tell the argument decoder how to evaluate a keyword.
inline constexpr uint8_t kValueKindNumber = 0;
inline constexpr uint8_t kValueKindText = 1;
inline constexpr uint8_t kValueKindRawCode = 2;

struct KeywordDefinition {
    std::string_view name;   // CP932, points into the kept file block
    uint8_t value_kind = 0;  // kValueKind*; stored values above 2 are kept as they are
    uint8_t range_kind = 0;  // 0 none, 1..28 a check, above 28 accepts anything
};

// One per command code (the record's position in zkc.zbn).
struct CommandDefinition {
    std::string_view name;  // CP932, points into the kept file block
    std::vector<KeywordDefinition> keywords;  // by keyword number
};

// The parsed zkc.zbn. Names point into `file_block`, which lives as long as
// the table: the table moves but never copies.
struct CommandDefinitionTable {
    std::vector<uint8_t> file_block;
    std::vector<CommandDefinition> commands;  // by command code; may be fewer or more than 121
    std::array<std::string_view, kErrnoTextCount> errno_texts{};  // ErrnoTexts
    std::array<uint8_t, kKeyNumberMapSize> key_number_map{};      // KeyNumberMap

    CommandDefinitionTable() = default;
    CommandDefinitionTable(CommandDefinitionTable&&) = default;
    CommandDefinitionTable& operator=(CommandDefinitionTable&&) = default;
    CommandDefinitionTable(const CommandDefinitionTable&) = delete;
    CommandDefinitionTable& operator=(const CommandDefinitionTable&) = delete;
};

// 0 and `out` filled, or kErrFileUnreadable (damaged) with `out` unchanged.
uint32_t ParseCommandDefinitions(std::vector<uint8_t> bytes, CommandDefinitionTable& out);

// Bounded lookups: null for a command code or keyword number that zkc.zbn
// does not define (a compiled argument record names its keyword by number,
// and that number comes from an untrusted script file).
const CommandDefinition* FindCommandDefinition(uint32_t code);
const KeywordDefinition* FindKeywordDefinition(uint32_t code, uint32_t keyword);
// The command's name, or the empty text when it is not defined.
std::string_view CommandName(uint32_t code);
// The keyword's name, or the empty text when it is not defined.
std::string_view KeywordName(uint32_t code, uint32_t keyword);

const std::array<uint8_t, kKeyNumberMapSize>& KeyNumberMap();
// ErrnoTexts[n], or the empty text for n outside 0..36 (or before boot).
std::string_view ErrnoText(int64_t n);

// ---- zkt.zbn --------------------------------------------------------------

inline constexpr uint32_t kVariableTableVersion = 555;
// Every opcode and definition names a variable with 16 bits, so a higher
// number could never be reached; a table that claims one is damaged.
inline constexpr uint32_t kMaxVariableNumber = 0xFFFF;

struct VariableTableInfo {
    uint32_t version = 0;
    uint32_t highest_number = 0;   // N: variables 0..N exist
    uint32_t system_value_124 = 0; // handed through to system variable 124
};

// 0, kErrVariableTableVersion (not 555) or kErrFileUnreadable.
uint32_t ParseVariableTableInfo(std::span<const uint8_t> bytes, VariableTableInfo& out);

// ---- zkt_list.zbn ---------------------------------------------------------

struct ScriptFileList {
    // By file number 0..F-1: the source file's name as the script compiler
    // knows it (CP932, no terminator). Empty when no record names the number.
    std::vector<std::string> names;
    // By record position 0..F-1: the per-file value that command 94 reports.
    std::vector<uint32_t> per_file_values;
};
// 0, kErrFileNumberOutOfList (with `bad_number` set) or kErrFileUnreadable.
uint32_t ParseScriptFileList(std::span<const uint8_t> bytes, ScriptFileList& out, int64_t& bad_number);
// The name of a script file for error locations and task information; the
// empty text for a number outside the list.
std::string_view ScriptFileName(uint32_t file_number);

// ---- zkv.zbn --------------------------------------------------------------

inline constexpr int kMaxVariableDimensions = 8;
// Scopes: 1 and 3 initialised once at boot, 2 owned by one script file and
// initialised when that file first loads.
inline constexpr uint8_t kScopeGlobal = 1;
inline constexpr uint8_t kScopeFile = 2;
inline constexpr uint8_t kScopeGlobalOther = 3;

struct VariableDefinition {
    uint8_t scope = 0;
    uint8_t group = 0;          // 1..4, kept for the save commands
    uint16_t owner_file = 0;
    uint16_t number = 0;        // variable number
    uint8_t type = 0;           // 1 integer, 2 real, 3 text; others fill nothing
    uint8_t dimension_count = 0;  // 0..8
    std::array<int32_t, kMaxVariableDimensions> sizes{};  // beyond the count: 0
    int64_t integer_value = 0;    // type 1
    double real_value = 0.0;      // type 2
    // Type 3: the text's expression byte code, as an offset and length into
    // the table's kept file block.
    uint32_t text_code_offset = 0;
    uint16_t text_code_length = 0;
};

struct VariableDefinitionTable {
    std::vector<uint8_t> file_block;  // kept for the life of the process
    std::vector<VariableDefinition> records;  // in file order
};
// 0 or kErrFileUnreadable. Each record is checked whole (dimension count at
// most 8, the value bytes present), so the walks never re-read the file.
uint32_t ParseVariableDefinitions(std::vector<uint8_t> bytes, VariableDefinitionTable& out);
std::span<const uint8_t> DefinitionTextCode(const VariableDefinitionTable& table, const VariableDefinition& definition);

// ---- the engine-wide tables ----------------------------------------------

struct CompiledTables {
    CommandDefinitionTable commands;
    VariableTableInfo variable_table;
    ScriptFileList file_list;
    LabelTable labels;
    VariableDefinitionTable variable_definitions;
};
CompiledTables& TheCompiledTables();
// Drops every table, the variable table and the ScriptFileTable (tests).
// Tasks copy references into loaded files: free them first.
void ResetCompiledTables();

// ---- loaders --------------------------------------------------------------

// Each reads its file through the file sources; a file that no source has,
// that cannot be read or whose pack cannot be opened is reported (104060,
// 104010, 901040; fatal) with the name, a damaged file 104010 with the name.
int32_t LoadCommandTable();         // 0 or -1; also fills the CommandTable
int32_t LoadVariableTable();        // 0 or -1; creates N + 1 empty variables
int32_t LoadScriptFileList();       // 0 or 1; creates the ScriptFileTable
int32_t LoadVariableDefinitions();  // 0 or 1
// 0 or 1. A missing or unreadable zkl.zbn fails without a message of its
// own; a damaged one reports 104010 with the name.
int32_t LoadLabelTable();

// Gives a variable the shape, group and initial value its definition
// declares (a text by running the definition's expression). 0, or the fill's
// own error after its report.
int32_t SetVariableFromDefinition(const VariableDefinitionTable& table, const VariableDefinition& definition,
                                  ScriptVariable& variable);

// selector -1: the global variables (scopes 1 and 3); a file number: that
// file's scope-2 variables. 0, or -1 after a fatal report (900070 for a
// definition beyond the variable table, or the fill's own error).
int32_t InitVariablesFromDefinitions(int32_t selector);

}  // namespace zk
