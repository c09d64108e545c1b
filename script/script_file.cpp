#include "script/script_file.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include "base/byte_reader.h"
#include "core/error_report.h"
#include "core/named_tree.h"
#include "script/compiled_tables.h"
#include "script/labels.h"
#include "script/script_task.h"
#include "storage/descramble.h"
#include "storage/file_source.h"
#include "base/never.h"

namespace zk {

namespace {

// The command section's argument-count byte gives each record's place in
// the argument section, so the sections are parsed in this order.
struct SectionSizes {
    uint64_t commands = 0;
    uint64_t arguments = 0;
    uint64_t data = 0;
    uint64_t lines = 0;
};

// A copy of a section with the key's XOR undone; the XOR restarts at key
// byte 0 for every section.
std::vector<uint8_t> Descramble(std::span<const uint8_t> section, const ScriptFileKey4& key) {
    std::vector<uint8_t> plain(section.begin(), section.end());
    for (size_t i = 0; i < plain.size(); ++i) plain[i] ^= key[i % kScriptFileKeySize];
    return plain;
}

// Records whose code length is a jump target rather than a code length.
bool IsTargetRecord(uint8_t code, size_t record_number) {
    switch (code) {
        case kCmdBlockBegin: return record_number == 2 || record_number == 3;
        case kCmdBlockElseIf: return record_number == 2;
        case kCmdLoopBegin: return record_number == 2;
        default: return false;
    }
}

// Records the control-flow commands read without asking how many there are.
bool HasRecordsItNeeds(uint8_t code, uint8_t arg_count) {
    switch (code) {
        case kCmdBlockBegin: return arg_count >= 3;
        case kCmdLoopBegin: return arg_count >= 2;
        case kCmdJumpToLabel: return arg_count >= 1;
        // No records is an else part; otherwise the condition and the next branch.
        case kCmdBlockElseIf: return arg_count == 0 || arg_count >= 2;
        default: return true;
    }
}

bool CallCountsFit(uint16_t info) {
    CallValueCounts counts = UnpackCallInfo(info);
    return counts.integers <= kMaxCallValues && counts.reals <= kMaxCallValues && counts.texts <= kMaxCallValues;
}

uint32_t ParseChecked(std::span<const uint8_t> bytes, const ScriptFileKey4& key, ScriptFile& out,
                      const LabelTable* labels, uint16_t file_number) {
    ByteReader reader(bytes);
    if (!reader.Seek(8)) return kErrFileUnreadable;
    std::optional<int32_t> count = reader.I32();
    std::optional<int32_t> size_commands = reader.I32();
    std::optional<int32_t> size_arguments = reader.I32();
    std::optional<int32_t> size_data = reader.I32();
    std::optional<int32_t> size_lines = reader.I32();
    if (!count || !size_commands || !size_arguments || !size_data || !size_lines) return kErrFileUnreadable;
    if (*count < 0 || *size_commands < 0 || *size_arguments < 0 || *size_data < 0 || *size_lines < 0) {
        return kErrFileUnreadable;
    }
    if (!reader.Seek(kScriptFileHeaderSize)) return kErrFileUnreadable;
    SectionSizes sizes{static_cast<uint64_t>(*size_commands), static_cast<uint64_t>(*size_arguments),
                       static_cast<uint64_t>(*size_data), static_cast<uint64_t>(*size_lines)};
    std::optional<std::span<const uint8_t>> commands_raw = reader.Take(sizes.commands);
    std::optional<std::span<const uint8_t>> arguments_raw = reader.Take(sizes.arguments);
    std::optional<std::span<const uint8_t>> data_raw = reader.Take(sizes.data);
    std::optional<std::span<const uint8_t>> lines_raw = reader.Take(sizes.lines);
    if (!commands_raw || !arguments_raw || !data_raw || !lines_raw) return kErrFileUnreadable;

    const uint64_t n = static_cast<uint64_t>(*count);
    if (n * kCommandRecordSize > sizes.commands || n * kLineRecordSize > sizes.lines) return kErrFileUnreadable;

    ScriptFile file;
    file.command_count = *count;
    const std::vector<uint8_t> commands = Descramble(*commands_raw, key);
    file.codes.resize(n);
    file.arg_counts.resize(n);
    file.info_words.resize(n);
    file.first_arg.resize(n);
    file.entries.resize(n);
    uint64_t records = 0;
    ByteReader command_reader(commands);
    for (uint64_t i = 0; i < n; ++i) {
        uint8_t code = *command_reader.U8();
        uint8_t arg_count = *command_reader.U8();
        uint16_t info = *command_reader.U16();
        if (code > kMaxCommandCode) return kErrFileUnreadable;
        if (arg_count > kMaxCommandArgs) return kErrFileUnreadable;
        if (!HasRecordsItNeeds(code, arg_count)) return kErrFileUnreadable;
        // Counts of up to 31 fit the info word's fields; the call frames
        // hold 16 of each kind.
        if ((code == kCmdCallSubroutine || code == kCmdReturn) && !CallCountsFit(info)) return kErrFileUnreadable;
        file.codes[i] = code;
        file.arg_counts[i] = arg_count;
        file.info_words[i] = info;
        file.first_arg[i] = static_cast<uint32_t>(records);
        file.entries[i] = CommandEntry{static_cast<uint32_t>(records), info, code, arg_count};
        records += arg_count;
        // Checked as it grows, so the record numbers above stay below 2^32.
        if (records * kArgDescriptorSize > sizes.arguments) return kErrFileUnreadable;
    }

    file.args = Descramble(arguments_raw->first(static_cast<size_t>(records * kArgDescriptorSize)), key);
    file.data = Descramble(*data_raw, key);
    DecodeArgDescriptors(file.args, file.records);
    const std::vector<uint8_t> lines = Descramble(*lines_raw, key);
    file.lines.resize(n);
    ByteReader line_reader(lines);
    for (uint64_t i = 0; i < n; ++i) file.lines[i] = *line_reader.I32();

    // Every record either points into the data section or, for the block
    // and loop commands, names a command of this file.
    for (uint64_t i = 0; i < n; ++i) {
        for (uint8_t k = 0; k < file.arg_counts[i]; ++k) {
            const ArgDescriptor* record = &file.records[size_t{file.first_arg[i]} + k];
            uint8_t code = file.codes[i];
            if (IsTargetRecord(code, k + 1u)) {
                if (record->code_length >= n) return kErrFileUnreadable;
                continue;
            }
            if (uint64_t{record->code_offset} + record->code_length > sizes.data) return kErrFileUnreadable;
            // A jump whose length already looks folded would be taken for a
            // label index at run time.
            if (code == kCmdJumpToLabel && k == 0 && (record->code_length & kFoldedJumpMask) != 0) {
                return kErrFileUnreadable;
            }
        }
    }

    // Integer-only expressions get their compiled programs.
    file.programs.resize(file.records.size());
    for (size_t r = 0; r < file.records.size(); ++r) {
        std::optional<std::span<const uint8_t>> code = ArgCode(file.data, file.records[r]);
        if (code) file.programs[r] = CompileIntExpr(*code, file.program_ops);
    }

    // A label that points past this file's commands would start a task or
    // land a jump outside them.
    if (labels != nullptr && file_number < labels->command_limit_by_file.size() &&
        labels->command_limit_by_file[file_number] > n) {
        return kErrFileUnreadable;
    }

    out = std::move(file);
    return 0;
}

}  // namespace

uint32_t ParseScriptFile(std::span<const uint8_t> bytes, const ScriptFileKey4& key, ScriptFile& out,
                         const LabelTable* labels, uint16_t file_number) {
    try {
        return ParseChecked(bytes, key, out, labels, file_number);
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
}

std::span<const uint8_t> ScriptFileRefs::CommandArgBytes(int64_t index) const {
    if (index < 0 || index >= command_count) return {};
    uint64_t begin = uint64_t{first_arg[static_cast<size_t>(index)]} * kArgDescriptorSize;
    uint64_t length = uint64_t{arg_counts[static_cast<size_t>(index)]} * kArgDescriptorSize;
    if (ZK_NEVER(begin + length > args.size())) return {};  // checked at load
    return args.subspan(static_cast<size_t>(begin), static_cast<size_t>(length));
}

std::optional<RunningCommand> ScriptFileRefs::Running(int64_t index) const {
    if (index < 0 || index >= command_count) return std::nullopt;
    RunningCommand command;
    command.code = codes[static_cast<size_t>(index)];
    command.index = static_cast<int32_t>(index);
    command.command_count = command_count;
    command.arg_count = arg_counts[static_cast<size_t>(index)];
    command.info = info_words[static_cast<size_t>(index)];
    command.args = CommandArgBytes(index);
    command.data = data;
    const uint64_t first = first_arg[static_cast<size_t>(index)];
    if (first + command.arg_count <= records.size()) {
        command.records = records.subspan(static_cast<size_t>(first), command.arg_count);
        if (first + command.arg_count <= programs.size()) {
            command.programs = programs.subspan(static_cast<size_t>(first), command.arg_count);
            command.program_ops = program_ops;
        }
    }
    command.plan = PlanAt(index);
    return command;
}

const CallPlan* ScriptFileRefs::PlanAt(int64_t index) const {
    if (index < 0 || static_cast<uint64_t>(index) >= plan_of.size()) return nullptr;
    const int32_t plan = plan_of[static_cast<size_t>(index)].plan;
    if (plan < 0 || static_cast<size_t>(plan) >= plans.size()) return nullptr;
    return &plans[static_cast<size_t>(plan)];
}

int32_t ScriptFileRefs::Line(int64_t index) const {
    if (index < 0 || index >= command_count) return 0;
    return lines[static_cast<size_t>(index)];
}

ScriptFileRefs ScriptFile::Refs() const {
    ScriptFileRefs refs;
    refs.command_count = command_count;
    refs.rows = {std::span<const CommandHandler>(rows[0]), std::span<const CommandHandler>(rows[1])};
    refs.codes = codes;
    refs.info_words = info_words;
    refs.arg_counts = arg_counts;
    refs.first_arg = first_arg;
    refs.entries = entries;
    refs.args = args;
    refs.records = records;
    refs.programs = programs;
    refs.program_ops = program_ops.data();
    refs.data = data;
    refs.lines = lines;
    refs.running = running;
    refs.plan_of = call_plans.plan_of;
    refs.plan_file = call_plans.loaded_as;
    refs.plans = call_plans.plans;
    refs.plan_values = call_plans.values;
    refs.plan_texts = call_plans.texts;
    return refs;
}

void BuildRunningCommands(ScriptFile& file) {
    const ScriptFileRefs refs = file.Refs();
    file.running.clear();
    file.running.reserve(static_cast<size_t>(std::max(file.command_count, 0)));
    for (int32_t i = 0; i < file.command_count; ++i) {
        std::optional<RunningCommand> command = refs.Running(i);
        if (ZK_NEVER(!command)) {  // every index below the count has its record
            file.running.clear();
            return;
        }
        FillLeadArguments(*command);
        file.running.push_back(*command);
    }
}

void BindDispatchRows(ScriptFile& file, std::span<const CommandHandler> command_table, CommandHandler pause_wait) {
    const size_t n = file.codes.size();
    file.rows[0].assign(n, pause_wait);
    file.rows[1].resize(n);
    for (size_t i = 0; i < n; ++i) {
        uint8_t code = file.codes[i];
        file.rows[1][i] = code < command_table.size() ? command_table[code] : CmdUndefined;
    }
}

namespace detail {
constinit ScriptFileTable script_file_table;
}  // namespace detail

void CreateScriptFileTable(uint32_t file_count) {
    ScriptFileTable& table = TheScriptFileTable();
    ClearRunningCommand();
    table.files.clear();
    table.files.resize(file_count);
}

std::string ScriptFileGamePath(uint32_t file_number) {
    char name[32];
    std::snprintf(name, sizeof name, "zkbin\\zkt%05u.zbn", static_cast<unsigned>(file_number));
    return name;
}

int32_t LoadScriptFile(uint16_t file_number) {
    ScriptFileTable& table = TheScriptFileTable();
    if (file_number >= table.files.size()) {
        ReportEngineErrorF(kErrFileNumberOutOfList, true, {int64_t{file_number}});
        return 0;
    }
    std::unique_ptr<ScriptFile>& slot = table.files[file_number];
    if (slot == nullptr) {
        slot = AllocZeroed<ScriptFile>();
        if (slot == nullptr) {
            ReportEngineError(kErrOutOfMemory, true);
            return 0;
        }
    }
    switch (slot->state) {
        case ScriptFileState::kLoaded: return 1;
        // A refused file was reported when it failed; answering 1 now would
        // run a task in a file without commands.
        case ScriptFileState::kFailed: return 0;
        case ScriptFileState::kNotLoaded: break;
    }
    slot->state = ScriptFileState::kFailed;

    const std::string name = ScriptFileGamePath(file_number);
    FileSource source;
    if (ReadGameFileReported(source, name) != 0) return 0;  // reported there

    BuildDescrambleTables();  // start-up has built them; this only makes sure
    ScriptFile parsed;
    uint32_t error = ParseScriptFile(source.data, ScriptFileKey(), parsed, &TheCompiledTables().labels, file_number);
    if (error == 0) {
        try {
            BindDispatchRows(parsed, Commands().handlers, DispatchWithPauseWait);
        } catch (const std::bad_alloc&) {
            error = kErrOutOfMemory;
        }
    }
    if (error != 0) {
        ReportEngineErrorF(error, true, {std::string_view(name)});
        return 0;
    }
    FoldLabels(parsed);
    try {
        BuildCallPlans(parsed, CallPlanKeywordsFromTables(), TheCompiledTables().labels.entries, parsed.call_plans);
        parsed.call_plans.loaded_as = file_number;
    } catch (const std::bad_alloc&) {
        parsed.call_plans = CallPlans{};  // the general path runs every call
    }
    parsed.state = ScriptFileState::kLoaded;
    *slot = std::move(parsed);
    try {
        BuildRunningCommands(*slot);
    } catch (const std::bad_alloc&) {
        slot->running.clear();  // the runner fills a record per command instead
    }
    // The file's own variables get their values at its first load; a failed
    // fill has been reported (fatal) and does not unload the file.
    InitVariablesFromDefinitions(file_number);
    return 1;
}

}  // namespace zk
