// The script-file loader over arbitrary bytes: parsing must refuse or
// accept cleanly, and everything an accepted file offers the runner (each
// command's records, their code in the data section, lines, the running
// command record, the call and return plans) must stay in bounds.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "script/call_plan.h"
#include "script/command_table.h"
#include "script/compiled_tables.h"
#include "script/expr_eval.h"
#include "script/script_file.h"
#include "storage/descramble.h"

namespace {

bool IsTargetRecord(uint8_t code, size_t record_number) {
    return (code == zk::kCmdBlockBegin && (record_number == 2 || record_number == 3)) ||
           ((code == zk::kCmdBlockElseIf || code == zk::kCmdLoopBegin) && record_number == 2);
}

// The keywords of the call and return commands as the compiler defines
// them: calls the label (text), 16 integers, 16 reals (raw), 16 texts;
// returns the same without the label.
zk::CallPlanKeywords CompilerCallKeywords() {
    zk::CallPlanKeywords keywords;
    auto define = [](std::array<zk::PlanKeyword, 256>& table, int first, uint8_t kind) {
        for (int k = first; k < first + 16; ++k) table[static_cast<size_t>(k)] = {true, kind, false};
    };
    keywords.call[0] = {true, zk::kValueKindText, false};
    define(keywords.call, 1, zk::kValueKindNumber);
    define(keywords.call, 17, zk::kValueKindRawCode);
    define(keywords.call, 33, zk::kValueKindText);
    define(keywords.ret, 0, zk::kValueKindNumber);
    define(keywords.ret, 16, zk::kValueKindRawCode);
    define(keywords.ret, 32, zk::kValueKindText);
    return keywords;
}

// Every plan's records, values and texts lie inside the file.
void CheckPlans(const zk::ScriptFile& file) {
    zk::ScriptFileRefs refs = file.Refs();
    if (refs.plan_of.size() != static_cast<size_t>(refs.command_count)) __builtin_trap();
    for (const zk::CallPlanRef& ref : refs.plan_of) {
        const int32_t p = ref.plan;
        if (p < 0) continue;
        if (static_cast<size_t>(p) >= refs.plans.size()) __builtin_trap();
        const zk::CallPlan& plan = refs.plans[static_cast<size_t>(p)];
        if (plan.first_record != ref.first_record || plan.first_record > refs.records.size()) __builtin_trap();
        const size_t values = size_t{plan.counts.integers} + plan.counts.reals + plan.counts.texts;
        if (plan.first_value + values > refs.plan_values.size()) __builtin_trap();
        for (size_t v = 0; v < values; ++v) {
            const zk::PlannedValue& value = refs.plan_values[plan.first_value + v];
            if (uint64_t{value.text_offset} + value.text_length > refs.plan_texts.size()) __builtin_trap();
        }
        if (uint64_t{plan.end.text_offset} + plan.end.text_length > refs.plan_texts.size()) __builtin_trap();
        if (plan.end.text_length >= zk::kExprTextSize) __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zk::BuildDescrambleTables();
    zk::FillExprEntryTable();
    zk::ScriptFile file;
    if (zk::ParseScriptFile(std::span<const uint8_t>(data, size), zk::ScriptFileKey(), file) != 0) return 0;
    static const zk::CallPlanKeywords keywords = CompilerCallKeywords();
    // Unfolded files: keyword 0's type and operator bytes read as a label
    // index; those below 256 lead somewhere, the rest stay unplanned.
    static const std::vector<zk::LabelEntry> labels(256);
    zk::BuildCallPlans(file, keywords, labels, file.call_plans);
    CheckPlans(file);

    zk::ScriptFileRefs refs = file.Refs();
    volatile uint64_t sink = 0;
    for (int32_t i = 0; i < refs.command_count; ++i) {
        std::span<const uint8_t> records = refs.CommandArgBytes(i);
        if (records.size() != size_t{refs.arg_counts[static_cast<size_t>(i)]} * zk::kArgDescriptorSize) __builtin_trap();
        sink = sink + static_cast<uint64_t>(refs.Line(i));
        const std::optional<zk::RunningCommand> running = refs.Running(i);
        if (!running) __builtin_trap();
        // A record's plan is its own command's, the one the per-command table names.
        if (running->plan != refs.PlanAt(i)) __builtin_trap();
        if (running->plan != nullptr && running->plan->command_index != i) __builtin_trap();
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
