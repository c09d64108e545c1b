#include "script/command_table.h"

#include "base/byte_reader.h"
#include "core/error_report.h"

namespace zk {

namespace {

CommandArgBlock arg_block;
// Records of a command set from its bytes alone (tests, tools).
std::vector<ArgDescriptor> loose_records;
CommandTable command_table;
std::array<uint8_t, kCommandSwitchCount> command_switches = [] {
    std::array<uint8_t, kCommandSwitchCount> switches{};
    switches.fill(1);
    return switches;
}();

}  // namespace

namespace detail {
RunningCommand own_command;
const RunningCommand* running_command = &own_command;
}  // namespace detail

RunningCommand& OwnRunningCommand() {
    if (detail::running_command != &detail::own_command) {
        detail::own_command = *detail::running_command;
        detail::running_command = &detail::own_command;
    }
    return detail::own_command;
}

void ClearRunningCommand() {
    detail::own_command = RunningCommand{};
    detail::running_command = &detail::own_command;
}

std::optional<ArgDescriptor> ReadArgDescriptor(std::span<const uint8_t> records, size_t index) {
    if (index >= records.size() / kArgDescriptorSize) return std::nullopt;
    ByteReader r(records.subspan(index * kArgDescriptorSize, kArgDescriptorSize));
    ArgDescriptor d;
    d.keyword = *r.U8();
    d.unused = *r.U8();
    d.expr_type = *r.U8();
    d.op = *r.U8();
    d.code_length = *r.U32();
    d.code_offset = *r.U32();
    return d;
}

void DecodeArgDescriptors(std::span<const uint8_t> bytes, std::vector<ArgDescriptor>& out) {
    const size_t count = bytes.size() / kArgDescriptorSize;
    out.resize(count);
    for (size_t i = 0; i < count; ++i) out[i] = *ReadArgDescriptor(bytes, i);
}

ExprValue EvaluateRecordCode(const RunningCommand& command, const ArgDescriptor& record, uint32_t type,
                             std::span<const uint8_t> code, std::span<char> text_out) {
    const ArgDescriptor* first = command.records.data();
    if (first != nullptr && &record >= first) {
        const size_t index = static_cast<size_t>(&record - first);
        if (index < command.programs.size()) {
            return EvaluateWithProgram(type, code, command.programs[index], command.program_ops, text_out);
        }
    }
    return EvaluateExpr(type, code, text_out);
}

void FillLeadArguments(RunningCommand& command) {
    for (size_t k = 0; k < command.lead_records.size(); ++k) {
        const bool has_record = k < command.arg_count && k < command.records.size();
        command.lead_records[k] = has_record ? command.records[k] : ArgDescriptor{};
        command.lead_programs[k] = has_record && k < command.programs.size() ? command.programs[k] : IntExprProgram{};
    }
}

bool SetRunningCommand(const RunningCommand& command) {
    if (command.index < 0 || command.index >= command.command_count) return false;
    if (command.records.size() >= command.arg_count) {
        RunningCommand& own = OwnRunningCommand();
        own = command;
        FillLeadArguments(own);
        return true;
    }
    if (command.args.size() < size_t{command.arg_count} * kArgDescriptorSize) return false;
    DecodeArgDescriptors(command.args, loose_records);
    RunningCommand& own = OwnRunningCommand();
    own = command;
    own.records = loose_records;
    own.programs = {};
    own.program_ops = nullptr;
    FillLeadArguments(own);
    return true;
}

CommandArgBlock& Args() { return arg_block; }

CommandTable::CommandTable() { handlers.fill(CmdUndefined); }

CommandTable& Commands() { return command_table; }

bool RegisterCommandHandler(uint32_t code, CommandHandler handler) {
    if (code >= command_table.handlers.size() || handler == nullptr) return false;
    command_table.handlers[code] = handler;
    return true;
}

CommandHandler CommandHandlerFor(uint32_t code) {
    return code < command_table.handlers.size() ? command_table.handlers[code] : CmdUndefined;
}

void ResetCommandTable() { command_table.handlers.fill(CmdUndefined); }

int32_t CmdUndefined() {
    ReportEngineError(kErrUndefinedCommand, true);
    return -1;
}

int32_t CmdNoOperation() { return 0; }

int32_t CmdSetCommandSwitches() {
    constexpr uint8_t kCode = 14;
    if (DecodeCommandArgs(kCode) != 0) return -1;
    const CommandArgBlock& args = Args();
    for (uint32_t k = 3; k < kKeywordMapSize; ++k) {
        const CommandArgSlot* slot = args.Find(k);
        // Switches go up to 127; a keyword beyond them has nothing to set.
        if (slot != nullptr && k - 2 < kCommandSwitchCount) {
            command_switches[k - 2] = static_cast<uint8_t>(slot->value);
        }
    }
    return 0;
}

int32_t CmdCheckArgs15() {
    constexpr uint8_t kCode = 15;
    return DecodeCommandArgs(kCode) != 0 ? -1 : 0;
}

std::array<uint8_t, kCommandSwitchCount>& CommandSwitches() { return command_switches; }

void ResetCommandSwitches() { command_switches.fill(1); }

}  // namespace zk
