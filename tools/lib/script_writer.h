// Writers of the compiled script tables under zkbin\ and of the compiled
// script files zkt%05d.zbn, as the script compiler lays them out:
//   zkc.zbn       command and keyword definitions, 37 errno texts, KeyNumberMap
//   zkt.zbn       variable table version and size
//   zkt_list.zbn  script file names and per-file values
//   zkl.zbn       labels sorted by their check value's top byte, with buckets
//   zkv.zbn       variable definitions
//   zkt%05d.zbn   commands, argument records, data and lines, each section
//                 XOR-ed with the script-file key
// Every writer has raw overrides (stored counts, sizes, lengths, a cut) so
// that a test can write exactly the damaged file it needs. Argument code is
// taken already encoded (tools/lib/expr_assembler.h writes expressions).
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tools/lib/zke_writer.h"

namespace zk::tools {

// ---- zkc.zbn ------------------------------------------------------------

struct KeywordDef {
    std::string name;  // CP932
    uint8_t value_kind = 0;  // 0 number, 1 text, 2 raw code
    uint8_t range_kind = 0;
};
struct CommandDef {
    std::string name;  // CP932
    std::vector<KeywordDef> keywords;
};
struct ZkcFile {
    std::vector<CommandDef> commands;  // by command code
    std::array<std::string, 37> errno_texts{};
    std::array<uint8_t, 256> key_number_map{};
    // Raw overrides: the stored command count, and a cut.
    std::optional<int32_t> count;
    std::optional<size_t> truncate_to;
};
std::vector<uint8_t> BuildZkc(const ZkcFile& file);
// 121 commands named "cmd0".."cmd120", each with `keywords` number keywords
// "k0".."kN" of range kind 0: enough for tests that only need the table.
ZkcFile GenericCommandDefinitions(int keywords = 4);

// ---- zkt.zbn ------------------------------------------------------------

struct ZktFile {
    uint32_t version = 555;
    uint32_t highest_number = 1100;
    uint32_t system_value_124 = 0;
    std::optional<size_t> truncate_to;
};
std::vector<uint8_t> BuildZkt(const ZktFile& file);

// ---- zkt_list.zbn -------------------------------------------------------

struct ScriptListEntry {
    int32_t file_number = 0;
    std::string name;  // CP932, stored without terminator
    uint32_t per_file_value = 0;
    std::array<uint32_t, 4> unused{};
    std::optional<int32_t> name_length;  // raw override of the stored length
};
struct ZktListFile {
    std::vector<ScriptListEntry> files;  // in record order
    std::optional<int32_t> count;
    std::optional<size_t> truncate_to;
};
std::vector<uint8_t> BuildZktList(const ZktListFile& file);

// ---- zkl.zbn ------------------------------------------------------------

struct LabelDef {
    std::string name;  // CP932, at most 255 bytes
    uint32_t command_index = 0;
    uint16_t file_number = 0;
    uint8_t block_depth = 0;
    uint8_t loop_depth = 0;
    std::optional<uint32_t> check_value;  // raw override of the name's hash
};
struct ZklFile {
    std::vector<LabelDef> labels;
    // Sort the labels by their check value's top byte (stable), as the
    // compiler does. Off: written in the given order.
    bool sort = true;
    // Raw overrides: the bucket starts (default: computed, an empty bucket
    // starting where the next non-empty one does), the stored count, a cut.
    std::optional<std::array<uint32_t, 256>> bucket_starts;
    std::optional<int32_t> count;
    std::optional<size_t> truncate_to;
};
std::vector<uint8_t> BuildZkl(const ZklFile& file);
// The labels in the order BuildZkl writes them (their label indexes).
std::vector<LabelDef> SortedLabels(const ZklFile& file);

// ---- zkv.zbn ------------------------------------------------------------

struct VariableDef {
    uint8_t scope = 1;  // 1, 3 global; 2 owned by `owner_file`
    uint8_t group = 1;
    uint16_t owner_file = 0;
    uint16_t number = 1000;
    uint8_t type = 1;  // 1 integer, 2 real, 3 text
    std::vector<int32_t> sizes;  // one per dimension
    int64_t integer_value = 0;
    double real_value = 0.0;
    std::vector<uint8_t> text_code;  // expression byte code of the initial text
    // Raw overrides: the stored dimension count and text code length.
    std::optional<uint8_t> dimension_count;
    std::optional<uint16_t> text_code_length;
};
struct ZkvFile {
    std::vector<VariableDef> definitions;
    std::optional<uint16_t> count;
    std::optional<size_t> truncate_to;
};
std::vector<uint8_t> BuildZkv(const ZkvFile& file);

// ---- zkt%05d.zbn --------------------------------------------------------

struct ScriptArg {
    uint8_t keyword = 0;
    uint8_t expr_type = 0;
    uint8_t op = 0;
    // Encoded expression: appended to the data section; the record gets its
    // offset and length.
    std::vector<uint8_t> code;
    // A jump target (block, else-if, loop): written as the code length, with
    // offset 0 and no code.
    std::optional<uint32_t> target;
    // Raw overrides of the stored fields.
    std::optional<uint32_t> code_length;
    std::optional<uint32_t> code_offset;
};
struct ScriptCommand {
    uint8_t code = 0;
    std::vector<ScriptArg> args;
    uint16_t info = 0;  // call and return value counts (PackCallInfo)
    int32_t line = 0;
    std::optional<uint8_t> arg_count;  // raw override of the stored count
};
struct ScriptFileDef {
    std::vector<ScriptCommand> commands;
    // Default: the engine's script-file key.
    std::optional<std::array<uint8_t, 4>> key;
    bool scramble = true;
    // Raw overrides of the header fields, bytes appended to a section, a cut.
    std::optional<int32_t> command_count;
    std::optional<int32_t> commands_size;
    std::optional<int32_t> arguments_size;
    std::optional<int32_t> data_size;
    std::optional<int32_t> lines_size;
    std::vector<uint8_t> extra_data;
    std::optional<size_t> truncate_to;
};
std::vector<uint8_t> BuildScriptFile(const ScriptFileDef& file);

// Argument helpers.
ScriptArg CodeArg(uint8_t keyword, uint8_t expr_type, std::vector<uint8_t> code, uint8_t op = 0);
ScriptArg TargetArg(uint32_t target);
// A text literal in the expression byte code: 'M', length, '"', bytes, '"'.
// (The bytes must not hold '"' or '\'; use the expression assembler for more.)
std::vector<uint8_t> TextLiteralCode(std::string_view text);
// An int32 literal: 'I', length 4, the value.
std::vector<uint8_t> IntLiteralCode(int32_t value);

// A script file being written command by command, with its labels and the
// targets of its blocks and loops.
class ScriptBuilder {
public:
    explicit ScriptBuilder(uint16_t file_number = 0) : file_number_(file_number) {}

    uint16_t FileNumber() const { return file_number_; }
    // The index the next command gets.
    uint32_t Here() const { return static_cast<uint32_t>(file_.commands.size()); }
    // Appends a command; its index. The line defaults to the source line
    // set by SetLine, or index + 1 before any.
    uint32_t Add(ScriptCommand command);
    // The source line of the commands added from now on (0: index + 1).
    void SetLine(int32_t line) { line_ = line; }
    uint32_t Add(uint8_t code, std::vector<ScriptArg> args = {});
    // A label at the next command.
    void Label(std::string name, uint8_t block_depth = 0, uint8_t loop_depth = 0);
    // Sets record `record` (1-based) of command `command` to jump target `target`.
    void SetTarget(uint32_t command, size_t record, uint32_t target);

    // Control flow with its records: jump to a constant label, call with a
    // constant label (info word from the counts), block begin (condition,
    // next branch, end; patch with SetTarget), loop begin (count, end).
    uint32_t Jump(std::string_view label);
    uint32_t Call(std::string_view label, uint16_t info = 0);
    uint32_t BlockBegin(std::vector<uint8_t> condition, uint32_t next_branch = 0, uint32_t end = 0);
    uint32_t LoopBegin(std::vector<uint8_t> count, uint32_t end = 0);

    ScriptFileDef& File() { return file_; }
    const ScriptFileDef& File() const { return file_; }
    const std::vector<LabelDef>& Labels() const { return labels_; }

private:
    uint16_t file_number_;
    int32_t line_ = 0;
    ScriptFileDef file_;
    std::vector<LabelDef> labels_;
};

// ---- a whole game's zkbin -------------------------------------------------

// Every compiled file of a small game. Scripts added through Script() give
// the file list and the labels; the rest is filled by the test.
class GameBuilder {
public:
    GameBuilder();

    ZkcFile commands;
    ZktFile variable_table;
    ZkvFile variables;
    std::vector<ZkeRecord> error_texts;

    // The script of a file number (made on first use); `name` is its source
    // name in zkt_list.zbn (default "file<n>.txt").
    ScriptBuilder& Script(uint16_t file_number, std::string name = {});

    // Every file as game path ("zkbin\\zkc.zbn", ...) to its bytes. A test
    // may change or drop entries before writing them.
    std::map<std::string, std::vector<uint8_t>> Files() const;
    // Writes Files() under `folder` (zkbin/ made as needed). False on failure.
    bool Write(const std::filesystem::path& folder) const;
    static bool WriteFiles(const std::filesystem::path& folder, const std::map<std::string, std::vector<uint8_t>>& files);

private:
    std::map<uint16_t, ScriptBuilder> scripts_;
    std::map<uint16_t, std::string> names_;
};

// The smallest game that boots: file 0 ("main.txt") holding
//   SYSTEM_START: wait 1 frame (104); jump SYSTEM_START (42)
// with the generic command definitions. For game folders whose tests are
// about something else than scripts.
GameBuilder IdleGame();

}  // namespace zk::tools
