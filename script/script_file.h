// Compiled script files zkbin\zkt%05d.zbn, loaded on demand and kept for
// the life of the process.
//
// Layout (little-endian). A 32-byte header: 8 bytes not read, int32 command
// count n, int32 sizes of the command, argument, data and line sections,
// 4 bytes not read. The four sections follow back to back, each XOR-ed with
// the 4-byte script-file key, restarting at key byte 0 for each section:
//   commands   n × { uint8 code 0..120, uint8 argument count, uint16 info word }
//   arguments  the ArgDescriptors of all commands in command order, 12 bytes each
//   data       expression byte code and texts the descriptors point into
//   lines      n × int32 source line
//
// Loading checks everything the later steps trust: the sections lie inside
// the file and hold what the header and the argument counts promise, every
// code is 0..120, no command has more than 99 arguments, every expression
// lies inside the data section, every block and loop target names a command
// of this file, call and return counts fit their 16 slots, no label points
// past the file's commands, and no jump record looks already folded. A file
// that fails any of these is refused with 104010 and its name.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "script/call_counts.h"
#include "script/call_plan.h"
#include "script/command_handler.h"
#include "script/command_table.h"

namespace zk {

struct LabelTable;

inline constexpr size_t kScriptFileHeaderSize = 32;
inline constexpr size_t kCommandRecordSize = 4;
inline constexpr size_t kLineRecordSize = 4;
// The argument decoder has 99 slots.
inline constexpr uint8_t kMaxCommandArgs = 99;
inline constexpr size_t kScriptFileKeySize = 4;
using ScriptFileKey4 = std::array<uint8_t, kScriptFileKeySize>;

// The command codes whose records the loader reads or rewrites.
inline constexpr uint8_t kCmdBlockElseIf = 11;
inline constexpr uint8_t kCmdJumpToLabel = 42;
inline constexpr uint8_t kCmdCallSubroutine = 43;
inline constexpr uint8_t kCmdBlockBegin = 44;
inline constexpr uint8_t kCmdLoopBegin = 55;
inline constexpr uint8_t kCmdReturn = 79;

// ArgDescriptor (script/command_table.h), the 12-byte argument record. Some
// commands give its fields a meaning of their own:
//   - jump (42), record 1: a code length with any of its top four bits set is
//     a folded label index in its low 28 bits;
//   - call (43), keyword-0 records: bytes 2-3 read as one uint16 are a folded
//     label index when not 0;
//   - block begin (44) records 2 and 3, else-if (11) record 2, loop begin (55)
//     record 2: the code length is a command index (jump target).

inline constexpr uint32_t kFoldedJumpMask = 0xF0000000u;
inline constexpr uint32_t kFoldedJumpFlag = 0x10000000u;
inline constexpr uint32_t kFoldedJumpIndexMask = 0x0FFFFFFFu;

inline bool IsFoldedJump(const ArgDescriptor& d) { return (d.code_length & kFoldedJumpMask) != 0; }
inline uint32_t FoldedJumpLabel(const ArgDescriptor& d) { return d.code_length & kFoldedJumpIndexMask; }
// 0: not folded, look the name up at run time (this also covers label 0).
inline uint16_t FoldedCallLabel(int32_t expr_type, int32_t op) {
    return static_cast<uint16_t>((expr_type & 0xFF) | ((op & 0xFF) << 8));
}
inline uint16_t FoldedCallLabel(const ArgDescriptor& d) { return FoldedCallLabel(d.expr_type, d.op); }

// What the instruction loop reads of one command, packed so that one load
// brings it: the same values as the file's per-command tables.
struct CommandEntry {
    uint32_t first_arg = 0;
    uint16_t info = 0;
    uint8_t code = 0;
    uint8_t arg_count = 0;
};

// What a task copies from its current file: the two dispatch rows, the info
// words, the argument counts, the first argument record of each command, the
// data section and the line section (and the codes, for the running-command
// record). The spans point into the ScriptFile, which never moves or frees
// once made.
struct ScriptFileRefs {
    int32_t command_count = 0;
    std::array<std::span<const CommandHandler>, 2> rows{};
    std::span<const uint8_t> codes;
    std::span<const uint16_t> info_words;
    std::span<const uint8_t> arg_counts;
    std::span<const uint32_t> first_arg;  // record number (× 12 for its byte offset)
    std::span<const CommandEntry> entries;  // the four above, per command
    std::span<const uint8_t> args;        // the whole argument section
    std::span<const ArgDescriptor> records;  // the same, decoded
    std::span<const IntExprProgram> programs;  // one per record
    const IntExprOp* program_ops = nullptr;
    std::span<const uint8_t> data;
    std::span<const int32_t> lines;
    // The running-command record of each command, made at load (empty for
    // a file that was not loaded through LoadScriptFile).
    std::span<const RunningCommand> running;

    // Calls and returns planned at load (script/call_plan.h).
    std::span<const CallPlanRef> plan_of;
    int32_t plan_file = -1;  // the number the file is loaded under, or -1
    std::span<const CallPlan> plans;
    std::span<const PlannedValue> plan_values;
    std::string_view plan_texts;

    // The argument record bytes of command `index` (arg count × 12 bytes);
    // empty for an index outside the file.
    std::span<const uint8_t> CommandArgBytes(int64_t index) const;
    // The running-command record of command `index` for SetRunningCommand;
    // nullopt for an index outside the file.
    std::optional<RunningCommand> Running(int64_t index) const;
    // The command's source line, or 0 for an index outside the file.
    int32_t Line(int64_t index) const;
    // The plan of command `index`, or null (none, or outside the file).
    const CallPlan* PlanAt(int64_t index) const;
};

enum class ScriptFileState : uint8_t {
    kNotLoaded,  // never asked for
    kLoaded,
    kFailed,     // asked for and refused; never read again, never run
};

struct ScriptFile {
    ScriptFileState state = ScriptFileState::kNotLoaded;
    int32_t command_count = 0;
    // Row 0: DispatchWithPauseWait for every command; row 1: the CommandTable
    // handler of each command's code as it stood when the file loaded.
    std::array<std::vector<CommandHandler>, 2> rows;
    std::vector<uint8_t> codes;
    std::vector<uint16_t> info_words;
    std::vector<uint8_t> arg_counts;
    std::vector<uint32_t> first_arg;
    std::vector<CommandEntry> entries;
    std::vector<uint8_t> args;  // descrambled argument section, 12 bytes per record
    // The argument section decoded once (after label folding), so that no
    // command decodes its records from bytes when it runs.
    std::vector<ArgDescriptor> records;
    // Each record's integer-only expression compiled at load (length 0 when
    // it has none), and the ops they share.
    std::vector<IntExprProgram> programs;
    std::vector<IntExprOp> program_ops;
    std::vector<uint8_t> data;
    std::vector<int32_t> lines;
    // One running-command record per command (BuildRunningCommands), whose
    // spans point into the vectors above: a copy would point into the
    // original, so files move but do not copy.
    std::vector<RunningCommand> running;

    ScriptFile() = default;
    ScriptFile(ScriptFile&&) = default;
    ScriptFile& operator=(ScriptFile&&) = default;
    ScriptFile(const ScriptFile&) = delete;
    ScriptFile& operator=(const ScriptFile&) = delete;

    CallPlans call_plans;

    ScriptFileRefs Refs() const;
};

// Makes the file's running-command records from its tables, the same
// values as ScriptFileRefs::Running gives for each index.
void BuildRunningCommands(ScriptFile& file);

// Parses and checks the bytes of a script file (no engine state is read or
// changed): 0 with `out` filled and its rows empty, or 104010 with `out`
// unchanged. `labels`, when given, is the label table whose entries for
// `file_number` must point inside the file's commands.
uint32_t ParseScriptFile(std::span<const uint8_t> bytes, const ScriptFileKey4& key, ScriptFile& out,
                         const LabelTable* labels = nullptr, uint16_t file_number = 0);

// Fills both dispatch rows: row 0 with `pause_wait` for every command, row 1
// from `command_table` (121 handlers) by each command's code.
void BindDispatchRows(ScriptFile& file, std::span<const CommandHandler> command_table, CommandHandler pause_wait);

// Rewrites constant label names of jumps and calls into label indexes, with
// the evaluator in its folding mode. Calls keep the index in 16 bits, so
// only indexes 1..65535 are folded; anything else is looked up by name when
// the command runs.
void FoldLabels(ScriptFile& file);

// The ScriptFileTable: one entry per file number of the ScriptFileList,
// created empty by the list loader and filled by LoadScriptFile. Whoever
// empties it calls ClearRunningCommand, since the running command may be a
// record of one of its files.
struct ScriptFileTable {
    std::vector<std::unique_ptr<ScriptFile>> files;
};
namespace detail {
extern ScriptFileTable script_file_table;
}  // namespace detail
inline ScriptFileTable& TheScriptFileTable() { return detail::script_file_table; }
void CreateScriptFileTable(uint32_t file_count);

// "zkbin\zkt%05d.zbn".
std::string ScriptFileGamePath(uint32_t file_number);

// 1 when the file is loaded (now or earlier), 0 when it cannot be: a file
// number outside the list (901030), a file no source has (104060), an
// unreadable (104010) or damaged (104010) file, each reported fatal with the
// file's name. A file that failed once stays failed and keeps answering 0,
// so nothing ever runs commands from it.
int32_t LoadScriptFile(uint16_t file_number);
// The loaded file of a number, or null when it is not loaded.
inline const ScriptFile* LoadedScriptFile(uint32_t file_number) {
    const ScriptFileTable& table = TheScriptFileTable();
    if (file_number >= table.files.size()) return nullptr;
    const ScriptFile* file = table.files[file_number].get();
    return file != nullptr && file->state == ScriptFileState::kLoaded ? file : nullptr;
}

}  // namespace zk
