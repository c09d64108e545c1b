#include "script/compiled_tables.h"

#include <algorithm>
#include <new>

#include "base/byte_reader.h"
#include "core/error_report.h"
#include "script/expr_eval.h"
#include "script/script_file.h"
#include "script/variables.h"
#include "storage/file_source.h"
#include "base/never.h"

namespace zk {

namespace {

CompiledTables compiled_tables;

// Reads one of the reporting tables whole: 0 with the bytes, or -1 after the
// reader's report (104060, 104010 or 901040 with the name, fatal).
int32_t ReadTable(std::string_view name, std::vector<uint8_t>& bytes) {
    FileSource source;
    if (ReadGameFileReported(source, name) != 0) return -1;
    bytes = std::move(source.data);
    return 0;
}

void ReportDamaged(uint32_t error, std::string_view name) { ReportEngineErrorF(error, true, {name}); }

// The initial text of a text variable: its byte code evaluated as text.
std::string EvaluateDefinitionText(std::span<const uint8_t> code) {
    std::array<char, kExprTextSize> buffer{};
    ExprValue value = EvalTextExpr(code, buffer);
    return std::string(buffer.data(), std::min(value.text_length, buffer.size() - 1));
}

}  // namespace

// ---- zkc.zbn ----------------------------------------------------------------

uint32_t ParseCommandDefinitions(std::vector<uint8_t> bytes, CommandDefinitionTable& out) {
    try {
        ByteReader reader(bytes);
        if (!reader.Seek(8)) return kErrFileUnreadable;
        std::optional<int32_t> count = reader.I32();
        if (!count || *count < 0 || !reader.Skip(4)) return kErrFileUnreadable;
        // A command record is at least its name's NUL and its keyword count.
        if (static_cast<uint64_t>(*count) > reader.Remaining() / 2) return kErrFileUnreadable;

        CommandDefinitionTable table;
        table.commands.resize(static_cast<size_t>(*count));
        for (CommandDefinition& command : table.commands) {
            std::optional<std::string_view> name = reader.CString();
            std::optional<uint8_t> keyword_count = reader.U8();
            if (!name || !keyword_count) return kErrFileUnreadable;
            command.name = *name;
            command.keywords.resize(*keyword_count);
            for (KeywordDefinition& keyword : command.keywords) {
                std::optional<std::string_view> keyword_name = reader.CString();
                std::optional<uint8_t> value_kind = reader.U8();
                std::optional<uint8_t> range_kind = reader.U8();
                if (!keyword_name || !value_kind || !range_kind) return kErrFileUnreadable;
                keyword = {*keyword_name, *value_kind, *range_kind};
            }
        }
        for (std::string_view& text : table.errno_texts) {
            std::optional<std::string_view> parsed = reader.CString();
            if (!parsed) return kErrFileUnreadable;
            text = *parsed;
        }
        std::optional<std::span<const uint8_t>> map = reader.Take(kKeyNumberMapSize);
        if (!map) return kErrFileUnreadable;
        std::copy(map->begin(), map->end(), table.key_number_map.begin());

        // The views point into the vector's heap block, which the move keeps.
        table.file_block = std::move(bytes);
        out = std::move(table);
        return 0;
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
}

const CommandDefinition* FindCommandDefinition(uint32_t code) {
    const auto& commands = compiled_tables.commands.commands;
    return code < commands.size() ? &commands[code] : nullptr;
}

const KeywordDefinition* FindKeywordDefinition(uint32_t code, uint32_t keyword) {
    const CommandDefinition* command = FindCommandDefinition(code);
    if (command == nullptr || keyword >= command->keywords.size()) return nullptr;
    return &command->keywords[keyword];
}

std::string_view CommandName(uint32_t code) {
    const CommandDefinition* command = FindCommandDefinition(code);
    return command != nullptr ? command->name : std::string_view();
}

std::string_view KeywordName(uint32_t code, uint32_t keyword) {
    const KeywordDefinition* definition = FindKeywordDefinition(code, keyword);
    return definition != nullptr ? definition->name : std::string_view();
}

const std::array<uint8_t, kKeyNumberMapSize>& KeyNumberMap() { return compiled_tables.commands.key_number_map; }

std::string_view ErrnoText(int64_t n) {
    if (n < 0 || n >= kErrnoTextCount) return {};
    return compiled_tables.commands.errno_texts[static_cast<size_t>(n)];
}

int32_t LoadCommandTable() {
    std::vector<uint8_t> bytes;
    if (ReadTable(kCommandDefinitionFile, bytes) != 0) return -1;
    CommandDefinitionTable table;
    if (uint32_t error = ParseCommandDefinitions(std::move(bytes), table); error != 0) {
        ReportDamaged(error, kCommandDefinitionFile);
        return -1;
    }
    compiled_tables.commands = std::move(table);
    // The handlers themselves are not in the file: every subsystem registers
    // its commands into the CommandTable at start-up, over CmdUndefined.
    return 0;
}

// ---- zkt.zbn ----------------------------------------------------------------

uint32_t ParseVariableTableInfo(std::span<const uint8_t> bytes, VariableTableInfo& out) {
    ByteReader reader(bytes);
    std::optional<uint32_t> version = reader.PeekAt<uint32_t>(4);
    std::optional<uint32_t> highest = reader.PeekAt<uint32_t>(8);
    std::optional<uint32_t> value = reader.PeekAt<uint32_t>(12);
    if (!version || !highest || !value) return kErrFileUnreadable;
    if (*version != kVariableTableVersion) return kErrVariableTableVersion;
    if (*highest > kMaxVariableNumber) return kErrFileUnreadable;
    out = {*version, *highest, *value};
    return 0;
}

int32_t LoadVariableTable() {
    std::vector<uint8_t> bytes;
    if (ReadTable(kVariableTableFile, bytes) != 0) return -1;
    VariableTableInfo info;
    if (uint32_t error = ParseVariableTableInfo(bytes, info); error != 0) {
        ReportDamaged(error, kVariableTableFile);
        return -1;
    }
    if (CreateVariableTable(info.highest_number) != 0) return -1;  // reported there
    compiled_tables.variable_table = info;
    return 0;
}

// ---- zkt_list.zbn -----------------------------------------------------------

uint32_t ParseScriptFileList(std::span<const uint8_t> bytes, ScriptFileList& out, int64_t& bad_number) {
    try {
        ByteReader reader(bytes);
        if (!reader.Seek(8)) return kErrFileUnreadable;
        std::optional<int32_t> count = reader.I32();
        if (!count || *count < 0) return kErrFileUnreadable;
        // A record is at least 28 bytes (an empty name).
        constexpr uint64_t kMinRecord = 28;
        if (static_cast<uint64_t>(*count) > reader.Remaining() / kMinRecord) return kErrFileUnreadable;

        ScriptFileList list;
        list.names.resize(static_cast<size_t>(*count));
        list.per_file_values.resize(static_cast<size_t>(*count));
        for (int32_t position = 0; position < *count; ++position) {
            std::optional<int32_t> number = reader.I32();
            std::optional<int32_t> length = reader.I32();
            if (!number || !length || *length < 0) return kErrFileUnreadable;
            std::optional<std::span<const uint8_t>> name = reader.Take(static_cast<uint64_t>(*length));
            if (!name || !reader.Skip(16)) return kErrFileUnreadable;
            std::optional<uint32_t> value = reader.U32();
            if (!value) return kErrFileUnreadable;
            if (*number < 0 || *number >= *count) {
                bad_number = *number;
                return kErrFileNumberOutOfList;
            }
            // Names go by file number, values by record position: the two
            // orders may differ.
            list.names[static_cast<size_t>(*number)].assign(reinterpret_cast<const char*>(name->data()), name->size());
            list.per_file_values[static_cast<size_t>(position)] = *value;
        }
        out = std::move(list);
        return 0;
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
}

std::string_view ScriptFileName(uint32_t file_number) {
    const auto& names = compiled_tables.file_list.names;
    return file_number < names.size() ? std::string_view(names[file_number]) : std::string_view();
}

int32_t LoadScriptFileList() {
    std::vector<uint8_t> bytes;
    if (ReadTable(kScriptFileListFile, bytes) != 0) return 1;
    ScriptFileList list;
    int64_t bad_number = 0;
    uint32_t error = ParseScriptFileList(bytes, list, bad_number);
    if (error == kErrFileNumberOutOfList) {
        ReportEngineErrorF(error, true, {bad_number});
        return 1;
    }
    if (error != 0) {
        ReportDamaged(error, kScriptFileListFile);
        return 1;
    }
    try {
        CreateScriptFileTable(static_cast<uint32_t>(list.names.size()));
    } catch (const std::bad_alloc&) {
        ReportEngineError(kErrOutOfMemory, true);
        return 1;
    }
    compiled_tables.file_list = std::move(list);
    return 0;
}

// ---- zkl.zbn ----------------------------------------------------------------

int32_t LoadLabelTable() {
    // No message of its own for a missing or unreadable file: the boot just
    // fails (the file loaders still report what they report).
    FileSource source;
    if (ResolveFileSource(source, kLabelTableFile) <= 0) return 1;
    if (LoadFromSource(source, kLabelTableFile) != 0) return 1;
    LabelTable table;
    bool parsed = false;
    try {
        parsed = ParseLabelTable(source.data, static_cast<uint32_t>(compiled_tables.file_list.names.size()), table);
    } catch (const std::bad_alloc&) {
        ReportEngineError(kErrOutOfMemory, true);
        return 1;
    }
    if (!parsed) {
        ReportDamaged(kErrFileUnreadable, kLabelTableFile);
        return 1;
    }
    compiled_tables.labels = std::move(table);
    return 0;
}

// ---- zkv.zbn ----------------------------------------------------------------

// A definition's fixed fields: scope, group, owner file, variable number,
// type and dimension count.
constexpr uint64_t kVariableDefinitionFixedSize = 1 + 1 + 2 + 2 + 1 + 1;

uint32_t ParseVariableDefinitions(std::vector<uint8_t> bytes, VariableDefinitionTable& out) {
    try {
        ByteReader reader(bytes);
        if (!reader.Seek(8)) return kErrFileUnreadable;
        std::optional<uint16_t> count = reader.U16();
        if (!count) return kErrFileUnreadable;
        // Every record takes at least its fixed fields: a count the bytes
        // cannot hold is refused before records are reserved for it.
        if (uint64_t{*count} * kVariableDefinitionFixedSize > reader.Remaining()) return kErrFileUnreadable;
        VariableDefinitionTable table;
        table.records.reserve(*count);
        for (uint32_t i = 0; i < *count; ++i) {
            VariableDefinition definition;
            std::optional<uint8_t> scope = reader.U8();
            std::optional<uint8_t> group = reader.U8();
            std::optional<uint16_t> owner = reader.U16();
            std::optional<uint16_t> number = reader.U16();
            std::optional<uint8_t> type = reader.U8();
            std::optional<uint8_t> dimensions = reader.U8();
            if (!scope || !group || !owner || !number || !type || !dimensions) return kErrFileUnreadable;
            if (*dimensions > kMaxVariableDimensions) return kErrFileUnreadable;
            definition.scope = *scope;
            definition.group = *group;
            definition.owner_file = *owner;
            definition.number = *number;
            definition.type = *type;
            definition.dimension_count = *dimensions;
            for (uint8_t d = 0; d < *dimensions; ++d) {
                std::optional<int32_t> size = reader.I32();
                if (!size) return kErrFileUnreadable;
                definition.sizes[d] = *size;
            }
            switch (definition.type) {
                case kVariableInteger: {
                    std::optional<int64_t> value = reader.I64();
                    if (!value) return kErrFileUnreadable;
                    definition.integer_value = *value;
                    break;
                }
                case kVariableReal: {
                    std::optional<double> value = reader.F64();
                    if (!value) return kErrFileUnreadable;
                    definition.real_value = *value;
                    break;
                }
                case kVariableText: {
                    std::optional<uint16_t> length = reader.U16();
                    if (!length) return kErrFileUnreadable;
                    definition.text_code_offset = static_cast<uint32_t>(reader.Offset());
                    definition.text_code_length = *length;
                    if (!reader.Skip(*length)) return kErrFileUnreadable;
                    break;
                }
                default: break;  // no value bytes
            }
            table.records.push_back(definition);
        }
        table.file_block = std::move(bytes);
        out = std::move(table);
        return 0;
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
}

std::span<const uint8_t> DefinitionTextCode(const VariableDefinitionTable& table, const VariableDefinition& definition) {
    std::span<const uint8_t> block(table.file_block);
    if (ZK_NEVER(uint64_t{definition.text_code_offset} + definition.text_code_length > block.size())) return {};
    return block.subspan(definition.text_code_offset, definition.text_code_length);
}

int32_t LoadVariableDefinitions() {
    std::vector<uint8_t> bytes;
    if (ReadTable(kVariableDefinitionFile, bytes) != 0) return 1;
    VariableDefinitionTable table;
    if (uint32_t error = ParseVariableDefinitions(std::move(bytes), table); error != 0) {
        ReportDamaged(error, kVariableDefinitionFile);
        return 1;
    }
    compiled_tables.variable_definitions = std::move(table);
    return 0;
}

int32_t SetVariableFromDefinition(const VariableDefinitionTable& table, const VariableDefinition& definition,
                                  ScriptVariable& variable) {
    VariableShape shape;
    shape.dimension_count = definition.dimension_count;
    shape.sizes = definition.sizes;
    variable.group = definition.group;
    switch (definition.type) {
        case kVariableInteger: return FillIntegerVariable(variable, shape, definition.integer_value);
        case kVariableReal: return FillRealVariable(variable, shape, definition.real_value);
        case kVariableText: {
            const std::string text = EvaluateDefinitionText(DefinitionTextCode(table, definition));
            return FillStringVariable(variable, shape, text);
        }
        default: SetVariableShape(variable, definition.type, shape); return 0;
    }
}

int32_t InitVariablesFromDefinitions(int32_t selector) {
    const VariableDefinitionTable& table = compiled_tables.variable_definitions;
    for (const VariableDefinition& definition : table.records) {
        ScriptVariable* variable = FindVariable(definition.number);
        if (variable == nullptr) {
            ReportEngineErrorF(kErrDefinitionBeyondTable, true, {int64_t{definition.number}});
            return -1;
        }
        bool selected = selector == -1 ? (definition.scope == kScopeGlobal || definition.scope == kScopeGlobalOther)
                                       : (definition.scope == kScopeFile && definition.owner_file == selector);
        if (!selected) continue;

        if (SetVariableFromDefinition(table, definition, *variable) != 0) return -1;  // reported by the fill
    }
    return 0;
}

// ---- the engine-wide tables ---------------------------------------------------

CompiledTables& TheCompiledTables() { return compiled_tables; }

void ResetCompiledTables() {
    compiled_tables = CompiledTables();
    ResetVariableTable();
    ClearRunningCommand();
    TheScriptFileTable().files.clear();
}

}  // namespace zk
