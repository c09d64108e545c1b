// The script-file loader over arbitrary bytes: parsing must refuse or
// accept cleanly, and everything an accepted file offers the runner (each
// command's records, their code in the data section, lines, the running
// command record) must stay in bounds.
#include <cstddef>
#include <cstdint>
#include <span>

#include "script/command_table.h"
#include "script/script_file.h"
#include "storage/descramble.h"

namespace {

bool IsTargetRecord(uint8_t code, size_t record_number) {
    return (code == zk::kCmdBlockBegin && (record_number == 2 || record_number == 3)) ||
           ((code == zk::kCmdBlockElseIf || code == zk::kCmdLoopBegin) && record_number == 2);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zk::BuildDescrambleTables();
    zk::ScriptFile file;
    if (zk::ParseScriptFile(std::span<const uint8_t>(data, size), zk::ScriptFileKey(), file) != 0) return 0;

    zk::ScriptFileRefs refs = file.Refs();
    volatile uint64_t sink = 0;
    for (int32_t i = 0; i < refs.command_count; ++i) {
        std::span<const uint8_t> records = refs.CommandArgBytes(i);
        if (records.size() != size_t{refs.arg_counts[static_cast<size_t>(i)]} * zk::kArgDescriptorSize) __builtin_trap();
        sink = sink + static_cast<uint64_t>(refs.Line(i));
        if (!refs.Running(i)) __builtin_trap();
        const uint8_t code = refs.codes[static_cast<size_t>(i)];
        for (size_t k = 0; k < records.size() / zk::kArgDescriptorSize; ++k) {
            std::optional<zk::ArgDescriptor> record = zk::ReadArgDescriptor(records, k);
            if (!record) __builtin_trap();
            if (IsTargetRecord(code, k + 1)) {
                // A target must name a command of this file.
                if (record->code_length >= static_cast<uint32_t>(refs.command_count)) __builtin_trap();
                continue;
            }
            std::optional<std::span<const uint8_t>> bytes = zk::ArgCode(refs.data, *record);
            if (!bytes) __builtin_trap();
            for (uint8_t b : *bytes) sink = sink + b;
        }
        if (code == zk::kCmdCallSubroutine || code == zk::kCmdReturn) {
            zk::CallValueCounts counts = zk::UnpackCallInfo(refs.info_words[static_cast<size_t>(i)]);
            if (counts.integers > 16 || counts.reals > 16 || counts.texts > 16) __builtin_trap();
        }
    }
    return 0;
}
