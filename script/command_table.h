// The command table: one handler per command code 0..120, every empty slot
// the named handler CmdUndefined (never a null), the compiled argument
// records, and the engine-wide CommandArgBlock that DecodeCommandArgs fills
// for the handler of the running command.
//
// A handler that takes arguments begins with DecodeCommandArgs(its code) and
// then reads the block by keyword number:
//
//     if (DecodeCommandArgs(kMyCode) != 0) return -1;
//     const CommandArgBlock& args = Args();
//     if (const CommandArgSlot* wait = args.Find(0)) frames = wait->value;
//
// The block is overwritten by every decode, so a handler reads what it needs
// before anything else decodes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "core/error_codes.h"
#include "script/command_handler.h"
#include "script/int_expr_program.h"

namespace zk {

struct CallPlan;

// ---- Compiled argument records ----------------------------------------------

// One argument of a compiled command, 12 bytes in a script file's argument
// section. Some commands give the fields their own meaning (jump targets in
// the code length, a folded label index in bytes 2-3).
struct ArgDescriptor {
    uint8_t keyword = 0;    // 0-based keyword number of the command
    uint8_t unused = 0;
    uint8_t expr_type = 0;  // ExprEntryTable slot that evaluates the code
    uint8_t op = 0;         // 0 set, 1 add, 2 subtract, 3 multiply, 4 divide (53: 0..8)
    uint32_t code_length = 0;
    uint32_t code_offset = 0;  // from the start of the data section
};
inline constexpr size_t kArgDescriptorSize = 12;

// Record `index` of a command's argument bytes; nullopt when the bytes end
// before it.
std::optional<ArgDescriptor> ReadArgDescriptor(std::span<const uint8_t> records, size_t index);
// Every whole record of an argument section, decoded in order.
void DecodeArgDescriptors(std::span<const uint8_t> bytes, std::vector<ArgDescriptor>& out);
// The code a record points at inside the data section; nullopt when any of
// it lies outside (checked in 64 bits).
inline std::optional<std::span<const uint8_t>> ArgCode(std::span<const uint8_t> data, const ArgDescriptor& record) {
    const uint64_t end = uint64_t{record.code_offset} + record.code_length;
    if (end > data.size()) return std::nullopt;
    return data.subspan(record.code_offset, record.code_length);
}

// ---- The running command --------------------------------------------------

// What the decoder and the handlers read about the command being run. A
// loaded file holds one per command, made at load; the task runner points
// at it before it calls each handler. Anything else sets it through
// SetRunningCommand.
struct RunningCommand {
    uint8_t code = 0;
    int32_t index = -1;          // command index in its file
    int32_t command_count = 0;   // commands in the file
    uint8_t arg_count = 0;
    uint16_t info = 0;           // the command's info word
    std::span<const uint8_t> args;  // the command's records, arg_count x 12 bytes
    std::span<const uint8_t> data;  // the file's data section
    // The same records decoded (the file decodes them once, at load): what
    // the decoder and the handlers read. At least arg_count of them.
    std::span<const ArgDescriptor> records;
    // The records' compiled integer programs (script/int_expr_program.h),
    // parallel to `records`, and the file's op pool; empty when the command
    // was set from bytes alone.
    std::span<const IntExprProgram> programs;
    const IntExprOp* program_ops = nullptr;
    // Records 0 and 1 and their programs again, copied in (FillLeadArguments)
    // so that the commands run most often (assignments, conditions) read
    // them without going through the spans. A record the command does not
    // have, or one without a program, has the empty program (length 0).
    std::array<ArgDescriptor, 2> lead_records{};
    std::array<IntExprProgram, 2> lead_programs{};
    // A call's or return's plan (script/call_plan.h) in the file's plans,
    // or null. The handler checks it against the task's file before use.
    const CallPlan* plan = nullptr;

    // Record `index` (0-based), or null beyond the command's records.
    const ArgDescriptor* Record(size_t index) const { return index < records.size() ? &records[index] : nullptr; }
};

// Copies records 0 and 1 and their programs from the spans into the
// command's lead fields (the empty program where there is none).
void FillLeadArguments(RunningCommand& command);

// Evaluates `code` (record's code) with ExprEntryTable[type], through the
// record's compiled program when it has one that may stand for the byte
// code. `record` is one of command.records.
ExprValue EvaluateRecordCode(const RunningCommand& command, const ArgDescriptor& record, uint32_t type,
                             std::span<const uint8_t> code, std::span<char> text_out = {});

namespace detail {
// The running command: a loaded file's prebuilt record of it (the runner
// points here before each handler), or own_command.
extern const RunningCommand* running_command;
extern RunningCommand own_command;
}  // namespace detail
inline const RunningCommand& CurrentCommand() { return *detail::running_command; }
// Makes a file's prebuilt record the running command (the runner). The
// record must live as long as it stays current: freeing script files calls
// ClearRunningCommand.
inline void PointRunningCommandAt(const RunningCommand& command) { detail::running_command = &command; }
// The running command's own storage, made current with the running
// command's values copied into it: for a command that no file holds
// (tests, tools) or one whose fields a report changes.
RunningCommand& OwnRunningCommand();
// Back to an empty running command in own storage (reset, files freed).
void ClearRunningCommand();
// The index is checked against the file's command count and the records
// against the argument bytes: false (and nothing set) when either fails.
// A command given only as bytes gets its records decoded here, into storage
// that the next such call reuses.
bool SetRunningCommand(const RunningCommand& command);

// ---- CommandArgBlock ------------------------------------------------------

// Keyword numbers and record counts are bytes in the compiled files, so the
// map and the slots cover all 256 values.
inline constexpr size_t kKeywordMapSize = 256;
inline constexpr size_t kArgSlotCount = 256;  // slot 0 unused, 1..255

struct CommandArgSlot {
    int32_t keyword = 0;
    int32_t expr_type = 0;
    int32_t op = 0;
    uint32_t code_length = 0;
    uint32_t code_offset = 0;
    int64_t value = 0;  // number arguments
    // Text arguments: a 4096-byte buffer created at the slot's first text
    // argument and kept, and the text's length.
    std::unique_ptr<char[]> text_buffer;
    size_t text_length = 0;
    // The record's code (raw-code arguments evaluate it themselves); empty
    // when the record points outside the data section.
    std::span<const uint8_t> code;
    // The variable element the evaluator last named for this argument.
    uint32_t var_number = 0;
    int64_t var_element = 0;
    uint8_t whole_variable = 0;

    std::string_view Text() const {
        return text_buffer ? std::string_view(text_buffer.get(), text_length) : std::string_view();
    }
};

struct CommandArgBlock {
    // Keyword k -> its slot (1-based), 0 when the command instance does not
    // give keyword k.
    std::array<uint8_t, kKeywordMapSize> keyword_map{};
    uint8_t arg_count = 0;
    std::array<CommandArgSlot, kArgSlotCount> slots;

    bool Given(uint32_t keyword) const { return keyword < kKeywordMapSize && keyword_map[keyword] != 0; }
    // The slot of keyword k, or null when it is not given.
    const CommandArgSlot* Find(uint32_t keyword) const {
        return Given(keyword) ? &slots[keyword_map[keyword]] : nullptr;
    }
    // Slot s (1-based, record order), or null beyond the decoded records.
    const CommandArgSlot* Record(uint32_t slot) const {
        return slot >= 1 && slot <= arg_count ? &slots[slot] : nullptr;
    }
};
CommandArgBlock& Args();

// Evaluates every argument record of the current command into the block,
// by the value and range kinds that zkc.zbn gives (command, keyword), and
// checks each value. 0, or -1 after reporting the first failure (fatal).
int32_t DecodeCommandArgs(uint8_t command_code);
// The call command's twin: every text argument is evaluated with the fixed
// text entry (slot 18), because keyword 0's type byte may hold a folded
// label index.
int32_t DecodeCallCommandArgs(uint8_t command_code);

// ---- CommandTable -----------------------------------------------------------

struct CommandTable {
    std::array<CommandHandler, kCommandSlotCount> handlers;
    CommandTable();  // every slot CmdUndefined
};
CommandTable& Commands();

// Puts a handler into a slot at start-up (each subsystem registers its own).
// A code above 120 or a null handler is refused (false).
bool RegisterCommandHandler(uint32_t code, CommandHandler handler);
// The handler of a code; CmdUndefined for a code beyond the table.
CommandHandler CommandHandlerFor(uint32_t code);
// Every slot back to CmdUndefined (tests).
void ResetCommandTable();

// Every slot that no subsystem fills: reports 900050 (fatal, without the
// script location) and returns -1.
int32_t CmdUndefined();
// Slots 0, 9, 77, 80, 82, 83 and 84: nothing, no decoding.
int32_t CmdNoOperation();
// Command 14: switch k - 2 := low 8 bits of keyword k, for every k >= 3 given.
int32_t CmdSetCommandSwitches();
// Command 15: decodes and checks its arguments, nothing else.
int32_t CmdCheckArgs15();

// ---- Per-command switches ---------------------------------------------------

inline constexpr size_t kCommandSwitchCount = 128;
// Switch c belongs to command code c; all 1 after ResetCommandSwitches.
std::array<uint8_t, kCommandSwitchCount>& CommandSwitches();
void ResetCommandSwitches();

}  // namespace zk
