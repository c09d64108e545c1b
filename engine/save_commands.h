// The save and load commands: 86 builds pending blocks (a variable or an
// element, a layer image, or every variable of one type and group) and
// writes them into a save file or a memory row; 54 reads one block back
// into a variable, the variables of a list, a layer, or all memory rows;
// 87 drops the pending blocks; 88 only decodes its arguments.
//
// Save files live in the save folder that the settings choose, under the
// root of that folder: a name from a script is one file name (no folder,
// at most 32 bytes), lower-cased, with ".sd" appended. Every write replaces
// the file whole through a flushed temporary file (platform/durable_file.h),
// and the new contents are built and checked before anything is written.
//
// Threading: the script thread.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zk {

struct ScriptVariable;

inline constexpr uint8_t kCmdLoadDataBlock = 54;
inline constexpr uint8_t kCmdSaveDataBlock = 86;
inline constexpr uint8_t kCmdDiscardDataBlocks = 87;
inline constexpr uint8_t kCmdDataBlockNoOperation = 88;

// Keywords of command 86 (54 uses 0..5 alike).
enum SaveKeyword : uint8_t {
    kSaveFile = 0,
    kSaveRow = 1,
    kSaveDataNumber = 2,
    kSaveVariable = 3,
    kSaveLayerName = 4,
    kSaveLayerNumber = 5,
    kSaveIntegerGroup1 = 6,   // 6..9
    kSaveRealGroup1 = 10,     // 10..13
    kSaveTextGroup1 = 14,     // 14..17
};
inline constexpr int64_t kPackAllRows = 99999;
inline constexpr size_t kMaxSaveNameBytes = 32;
// The name that stands for a memory row in messages.
inline constexpr std::string_view kRowDisplayName = "(mem)";

// The save file's name from a script's: lower-cased, '/' made '\', checked
// (longer than 32 bytes: 102160; holding '\': 102150, both reported with the
// command's name), ".sd" appended unless it ends so. 0 and `name` set, or 1
// after the report.
int32_t NormaliseSaveFileName(uint8_t command, std::string_view script_name, std::string& name);

// Restores a variable payload into variable `number` (whole, or element
// `element`), every check made before anything changes. 0, or -1 after a
// report; `display_name` names the file in the invalid-save message.
int32_t RestoreVariable(uint32_t number, bool whole, std::span<const uint8_t> payload, int64_t element,
                        std::string_view display_name);

// One record of a list block: a whole variable's payload.
struct VariableRecordPayload {
    uint32_t variable = 0;
    std::span<const uint8_t> payload;
};
// Restores the records whole, in order, after checking every one of them:
// a record that is refused leaves all the variables unchanged. 0, or -1
// after the report of the first refused record.
int32_t RestoreVariableList(std::span<const VariableRecordPayload> records, std::string_view display_name);

int32_t CmdSaveDataBlock();
int32_t CmdLoadDataBlock();
int32_t CmdDiscardDataBlocks();
int32_t CmdDataBlockNoOperation();

// Puts the four handlers into the CommandTable and the save state's
// start-up and shutdown steps into the engine hooks.
// A whole script variable as a save payload (its type, sizes and elements).
std::vector<uint8_t> EncodeScriptVariable(const ScriptVariable& variable);

void RegisterSaveCommands();

}  // namespace zk
