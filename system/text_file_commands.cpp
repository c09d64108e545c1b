#include "system/text_file_commands.h"

#include <vector>

#include "base/nul_text.h"
#include "base/sjis.h"
#include "core/error_report.h"
#include "layers/text_buffer.h"
#include "script/command_table.h"
#include "script/variables.h"
#include "storage/file_source.h"
#include "system/text_file_reader.h"

namespace zk {

namespace {

// Loads a data file by the name of a text keyword. A name that does not fit
// the name buffer is in no source (104060, fatal). False after a report.
bool LoadDataFile(const CommandArgSlot& name_slot, FileSource& source) {
    const std::string_view given = UpToNul(name_slot.Text());
    if (given.size() > kMaxDataFileName) {
        ReportEngineErrorF(kErrFileMissing, true, {given});
        return false;
    }
    return ReadGameFileReported(source, DataFileLookupName(given)) == 0;
}

std::span<const uint8_t> Bytes(const FileSource& source) { return std::span<const uint8_t>(source.data); }

// The variable that receives the texts: a text array, else 101140 (fatal).
const ScriptVariable* TextArray(const CommandArgSlot& slot) {
    const ScriptVariable* variable = FindVariable(slot.var_number);
    if (variable == nullptr || variable->type != kVariableText) {
        ReportScriptError(kErrWrongVariableType, true);
        return nullptr;
    }
    return variable;
}

}  // namespace

std::string DataFileLookupName(std::string_view name) {
    if (name.size() > kMaxDataFileName) return std::string();
    return SjisReplaceByte(SjisLowerAscii(name), '/', '\\');
}

int32_t CmdReadCsvFile() {
    if (DecodeCommandArgs(kCmdReadCsvFile) != 0) return -1;
    const CommandArgBlock& args = Args();
    const CommandArgSlot* name = args.Find(0);
    const CommandArgSlot* target = args.Find(1);
    if (name == nullptr || target == nullptr) return 0;
    const uint32_t number = target->var_number;
    FileSource source;
    if (!LoadDataFile(*name, source)) return -1;
    const ScriptVariable* variable = TextArray(*target);
    if (variable == nullptr) return -1;
    // Fields beyond the variable's elements are dropped.
    int64_t element = 0;
    ReadCsvFields(Bytes(source), variable->texts.size(),
                  [&](std::string_view field) { SetStringElement(number, element++, field); });
    return 0;
}

int32_t CmdCountCsvFields() {
    if (DecodeCommandArgs(kCmdCountCsvFields) != 0) return -1;
    const CommandArgBlock& args = Args();
    const CommandArgSlot* name = args.Find(0);
    const CommandArgSlot* result = args.Find(2);
    if (name == nullptr) return 0;
    const uint32_t number = result != nullptr ? result->var_number : 0;
    const int64_t element = result != nullptr ? result->var_element : 0;
    FileSource source;
    if (!LoadDataFile(*name, source)) return -1;
    const int64_t count = CountCsvFields(Bytes(source));
    if (result != nullptr) SetNumberElement(number, element, count);
    return 0;
}

int32_t CmdReadTextFileLines() {
    if (DecodeCommandArgs(kCmdReadTextFileLines) != 0) return -1;
    const CommandArgBlock& args = Args();
    const CommandArgSlot* name = args.Find(0);
    const CommandArgSlot* target = args.Find(1);
    const CommandArgSlot* clear = args.Find(2);
    const bool clear_buffer = clear != nullptr && clear->value == 1;
    int32_t result = 0;
    if (name != nullptr && target != nullptr) {
        const uint32_t number = target->var_number;
        FileSource source;
        if (!LoadDataFile(*name, source)) return -1;
        const ScriptVariable* variable = TextArray(*target);
        if (variable == nullptr) return -1;
        const size_t slots = variable->dimension_count > 0 && variable->sizes[0] > 0 ? static_cast<size_t>(variable->sizes[0]) : 0;
        // Texts beyond the variable's elements are refused by the setter.
        int64_t element = 0;
        ReadTextLines(Bytes(source), slots,
                      [&](std::string_view line) { SetStringElement(number, element++, line); });
    }
    if (clear_buffer) {
        TheTextBuffer().dirty = 1;
        ClearTextBuffer();
    }
    return result;
}

int32_t CmdTextFileCheckArgs99() { return DecodeCommandArgs(kCmdTextFileCheckArgs99) != 0 ? -1 : 0; }

void RegisterTextFileCommands() {
    RegisterCommandHandler(kCmdReadCsvFile, CmdReadCsvFile);
    RegisterCommandHandler(kCmdCountCsvFields, CmdCountCsvFields);
    RegisterCommandHandler(kCmdReadTextFileLines, CmdReadTextFileLines);
    RegisterCommandHandler(kCmdTextFileCheckArgs99, CmdTextFileCheckArgs99);
}

}  // namespace zk
