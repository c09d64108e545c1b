#include "engine/save_commands.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <optional>
#include <vector>

#include "base/sjis.h"
#include "base/system_text.h"
#include "core/engine_hooks.h"
#include "core/engine_state.h"
#include "core/error_report.h"
#include "core/named_tree.h"
#include "core/root_trees.h"
#include "core/settings.h"
#include "layers/cg_image.h"
#include "layers/dirty_rect.h"
#include "layers/layer_gpu_requests.h"
#include "platform/durable_file.h"
#include "platform/file_stream.h"
#include "platform/game_path.h"
#include "script/command_table.h"
#include "script/compiled_tables.h"
#include "script/variables.h"
#include "storage/save_format.h"
#include "storage/save_rows.h"

namespace zk {

namespace {

constexpr uint8_t kCmdDeclareInteger = 50;
constexpr uint8_t kCmdDeclareReal = 25;
constexpr uint8_t kCmdDeclareText = 92;
constexpr int64_t kLastRow = kSaveRowCount - 1;

// ---- messages ------------------------------------------------------------------

void ShowOutOfMemory() { ShowMessageBox("", Sjis("メモリ不足です.")); }

// The file (or row) holds something no save ever wrote: the load stops
// before anything changes.
void ShowInvalidSave(std::string_view display_name) {
    ShowMessageBox("",
                   Sjis("※不正セーブファイルの可能性※\r\n\r\n[%s]\r\n\r\nこのままこのセーブファイルを読み込むと、"
                        "予期せぬ動作をおこなう恐れがあります。\r\n読み込みを強制的に中断します。"),
                   {display_name});
}

void ReportRange(uint8_t command, uint32_t keyword, int64_t value, int64_t minimum, int64_t maximum) {
    ReportScriptErrorF(kErrOutOfRange, true,
                       {CommandName(command), KeywordName(command, keyword), value, minimum, maximum});
}

void ReportCannotWrite(uint8_t command, std::string_view name, int host_error) {
    const int64_t number = platform::RuntimeErrorNumber(host_error);
    ReportScriptErrorF(kErrSaveCannotWrite, true, {CommandName(command), name, number, ErrnoText(number)});
}

// ---- names -------------------------------------------------------------------------

struct SaveTarget {
    std::string name;       // for messages: the file name with ".sd"
    std::string game_path;  // the save folder followed by the name
};

int32_t ResolveSaveTarget(uint8_t command, std::string_view script_name, SaveTarget& out) {
    if (NormaliseSaveFileName(command, script_name, out.name) != 0) return -1;
    out.game_path = Settings().save_folder + out.name;
    return 0;
}

// The layer keywords 4 and 5 name: 0 with the path (and the node when it
// exists), or -1 after a failed normalisation.
int32_t ResolveLayerPath(const CommandArgBlock& args, std::string& path, NamedTreeNode*& node) {
    std::string name(args.Find(kSaveLayerName)->Text());
    if (const CommandArgSlot* number = args.Find(kSaveLayerNumber)) name += "." + std::to_string(number->value);
    const RootTrees& trees = TheRootTrees();
    const int32_t kind = NormaliseNodePath(path, name, trees.layer_folder, false);
    if (kind < 0) return -1;
    node = FindNodeByPath(trees.layers, path, kind);
    return 0;
}

bool PathNamesGroup(std::string_view name) { return !name.empty() && name.back() == '/'; }

// ---- building a block ----------------------------------------------------------------

VariableValues ValuesOf(const ScriptVariable& variable) {
    VariableValues values;
    values.type = variable.type == kVariableInteger ? kPayloadInteger
                  : variable.type == kVariableReal  ? kPayloadReal
                                                    : kPayloadText;
    values.sizes = std::span<const int32_t>(variable.sizes.data(),
                                            std::min<size_t>(variable.dimension_count, variable.sizes.size()));
    values.integers = variable.integers;
    values.reals = variable.reals;
    values.texts = variable.texts;
    return values;
}

std::optional<std::vector<uint8_t>> BuildVariableBlock(const CommandArgSlot& slot) {
    const ScriptVariable* variable = FindVariable(slot.var_number);
    if (variable == nullptr) return std::vector<uint8_t>();  // the evaluator has reported it
    std::vector<uint8_t> payload;
    if (slot.whole_variable != 0) {
        payload = EncodeScriptVariable(*variable);
    } else if (variable->type == kVariableReal) {
        payload = EncodeRealElementPayload(GetRealElement(slot.var_number, slot.var_element));
    } else if (variable->type == kVariableText) {
        const std::string* text = GetStringElement(slot.var_number, slot.var_element);
        payload = EncodeTextElementPayload(text != nullptr ? std::string_view(*text) : std::string_view());
    } else {
        payload = EncodeIntegerElementPayload(GetIntegerElement(slot.var_number, slot.var_element));
    }
    return MakeVariableBlock(static_cast<uint16_t>(slot.var_number), payload);
}

std::optional<std::vector<uint8_t>> BuildImageBlock(const CgImage& image) {
    const uint64_t pixel_bytes = uint64_t(uint32_t(std::max(image.width, 0))) * 4 * uint32_t(std::max(image.height, 0));
    // The image's own pixels (not a toned copy made for drawing). A block
    // shorter than the size says (never after AllocCgPixels) saves blank
    // pixels rather than bytes beyond it.
    std::span<const uint8_t> pixels;
    if (image.owned_block.data() != nullptr && pixel_bytes <= image.owned_block.size())
        pixels = {image.owned_block.data(), static_cast<size_t>(pixel_bytes)};
    return MakeImageBlock(EncodeImagePayload(image.width, image.height, pixels));
}

// Every script variable of the type and group, whole, in number order.
std::optional<std::vector<uint8_t>> BuildListBlock(uint8_t type, uint8_t group) {
    std::vector<std::vector<uint8_t>> records;
    const std::vector<ScriptVariable>& table = Variables().records;
    for (size_t number = kFirstScriptVariable; number < table.size(); ++number) {
        const ScriptVariable& variable = table[number];
        if (variable.type != type || variable.group != group) continue;
        std::optional<std::vector<uint8_t>> record =
            MakeVariableBlock(static_cast<uint16_t>(number), EncodeScriptVariable(variable));
        if (!record) return std::nullopt;
        records.push_back(std::move(*record));
    }
    return MakeListBlock(records);
}

// ---- writing the pending blocks -----------------------------------------------------

int32_t WritePendingToFile(uint8_t command, const SaveTarget& target) {
    SaveState& state = TheSaveState();
    const platform::PathRoot root = Settings().save_folder_root;
    std::vector<uint8_t> bytes;
    if (platform::GameFileExists(target.game_path, root)) {
        std::optional<std::string> old = platform::ReadGameFile(target.game_path, root);
        if (!old) {
            ReportCannotWrite(command, target.name, EACCES);
            return -1;
        }
        SaveFileUpdate update = UpdateSaveFile(
            std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(old->data()), old->size()), state.pending);
        switch (update.error) {
            case SaveFileError::kNone: break;
            case SaveFileError::kBadMagic: ReportScriptError(kErrSaveBadMagic, true); return -1;
            case SaveFileError::kBadVersion: ReportScriptError(kErrSaveBadVersion, true); return -1;
            case SaveFileError::kBadDataNumber:
                ShowMessageBox("", Sjis("( DNO = %d ) 不正なDNO番号を検出しました。"),
                               {int64_t{update.bad_data_number}});
                return -1;
            case SaveFileError::kDamaged: ShowInvalidSave(target.name); return -1;
        }
        bytes = std::move(update.bytes);
    } else {
        if (int error = platform::CreateGameFolders(Settings().save_folder, root); error != 0) {
            ReportCannotWrite(command, target.name, error);
            return -1;
        }
        bytes = BuildSaveFile(state.pending, kDataNumberCount);
    }
    if (int error = platform::ReplaceGameFile(target.game_path, bytes, root); error != 0) {
        ReportCannotWrite(command, target.name, error);
        return -1;
    }
    FreeDataBlockBuffers(-1);
    return 0;
}

// ---- reading a block -------------------------------------------------------------------

class FileSaveSource final : public SaveSource {
public:
    bool Open(std::string_view game_path, platform::PathRoot root) {
        if (!stream_.Open(game_path, root)) return false;
        size_ = stream_.Size().value_or(0);
        return true;
    }
    uint64_t Size() const override { return size_; }
    bool ReadAt(uint64_t offset, std::span<uint8_t> out) override {
        return stream_.Seek(offset) && stream_.ReadExact(out);
    }

private:
    platform::FileStream stream_;
    uint64_t size_ = 0;
};

// Restores a layer image payload at `path`; the layer that stands there
// (when any) is replaced by a new one. 0 or -1 (reported).
int32_t RestoreLayerImage(NamedTreeNode* existing, const std::string& path, std::span<const uint8_t> payload,
                          std::string_view display_name) {
    ImagePayload image;
    switch (ParseImagePayload(payload, image)) {
        case ImagePayloadError::kNone: break;
        case ImagePayloadError::kBadHeader: ReportScriptError(kErrSaveBadImageHeader, true); return -1;
        case ImagePayloadError::kDamaged: ShowInvalidSave(display_name); return -1;
    }
    // The size is checked before the old layer goes, so that a refused
    // image leaves the layer as it was.
    if (image.width > kMaxCgWidth) {
        ReportCgTooWide(image.width, image.height);
        return -1;
    }
    if (CgPixelBlockBytes(image.width, image.height) == 0) {
        ReportScriptErrorF(kErrFileNoMemory, true, {std::string_view()});
        return -1;
    }
    if (existing != nullptr) {
        InvalidateLayer(existing);
        ForgetCaptureLayerIn(existing);
        FreeLayerNode(existing);
    }
    NamedTreeNode* node = CreateTreeNode(TheRootTrees().layers, path, PathNamesGroup(path), 1);
    if (node == nullptr) return -1;
    CgImage* record = CreateCgImage(node);
    if (record == nullptr || !ResizeGroupCanvas(*record, image.width, image.height)) {
        FreeLayerNode(node);
        return -1;
    }
    record->width = image.width;
    record->height = image.height;
    std::copy(image.pixels.begin(), image.pixels.end(), record->current_pixels);
    InvalidateLayer(node);
    return 0;
}

// The records of a list block, decompressed and checked against their
// variables before the first is restored.
int32_t RestoreList(std::span<const uint8_t> stored, std::string_view display_name) {
    std::vector<ListRecord> records;
    if (!ParseListRecords(stored, records)) {
        ShowInvalidSave(display_name);
        return -1;
    }
    std::vector<std::vector<uint8_t>> payloads(records.size());
    std::vector<VariableRecordPayload> restores(records.size());
    for (size_t i = 0; i < records.size(); ++i) {
        if (!SnappyUncompress(records[i].stored, records[i].uncompressed_length, payloads[i])) {
            ShowMessageBox("", "Snp Uncompress Error.");
            return -1;
        }
        restores[i] = {records[i].variable, payloads[i]};
    }
    return RestoreVariableList(restores, display_name);
}

int32_t LoadBlock(uint8_t command, const CommandArgBlock& args, SaveSource& source, bool from_file,
                  std::string_view display_name) {
    const CommandArgSlot* number_slot = args.Find(kSaveDataNumber);
    const int64_t n = number_slot != nullptr ? number_slot->value : 0;
    switch (ReadSaveHeader(source)) {
        case SaveFileError::kNone: break;
        case SaveFileError::kBadVersion: ReportScriptError(kErrSaveBadVersion, true); return -1;
        default: ReportScriptError(kErrSaveBadMagic, true); return -1;
    }
    const uint32_t offset =
        n >= 1 && n <= int64_t{kDataNumberCount} ? ReadDirectoryEntry(source, static_cast<uint32_t>(n)) : 0;
    if (offset == 0) {
        ReportScriptErrorF(kErrSaveNoSuchBlock, true, {CommandName(command), KeywordName(command, kSaveDataNumber)});
        return -1;
    }
    std::vector<uint8_t> stored;
    std::optional<DataBlockHeader> header = ReadStoredBlock(source, offset, stored);
    if (!header) {
        ShowInvalidSave(display_name);
        return -1;
    }
    if (from_file && n == kRowsDataNumber) {
        if (!RestoreAllSaveRows(stored)) {
            ShowMessageBox("", "Load Error.");
            return -1;
        }
        return 0;
    }
    if (header->kind == kBlockList) {
        if (RestoreList(stored, display_name) != 0) return -1;
        // The list is in: the task's turn ends here and it goes on with
        // its next command in the next pass.
        return -1;
    }
    if (header->kind != kBlockVariable && header->kind != kBlockImage) {
        ShowInvalidSave(display_name);
        return -1;
    }
    std::vector<uint8_t> payload;
    if (header->kind == kBlockImage) {
        if (!ZlibUncompress(stored, header->uncompressed_length, payload)) {
            ShowMessageBox("", "Uncompress Error.");
            return -1;
        }
    } else if (!SnappyUncompress(stored, header->uncompressed_length, payload)) {
        ShowMessageBox("", "Snp Uncompress Error.");
        return -1;
    }
    const bool layer_target = args.Given(kSaveLayerName);
    if (layer_target && header->kind == kBlockVariable) {
        ReportScriptError(kErrSaveVariableIntoLayer, true);
        return -1;
    }
    if (!layer_target && header->kind == kBlockImage) {
        ReportScriptError(kErrSaveImageIntoVariable, true);
        return -1;
    }
    if (layer_target) {
        std::string path;
        NamedTreeNode* node = nullptr;
        if (ResolveLayerPath(args, path, node) != 0) return -1;
        if (RestoreLayerImage(node, path, payload, display_name) != 0) return -1;
        // Loading took time that was no fault of the frame.
        ResetFrameClock();
        return 0;
    }
    const CommandArgSlot* target = args.Find(kSaveVariable);
    if (target == nullptr) return 0;  // no target: the block is read and dropped
    return RestoreVariable(target->var_number, target->whole_variable != 0, payload, target->var_element,
                           display_name);
}

uint8_t DeclarationCommandOf(uint8_t type) {
    switch (type) {
        case kVariableInteger: return kCmdDeclareInteger;
        case kVariableReal: return kCmdDeclareReal;
        default: return kCmdDeclareText;
    }
}

}  // namespace

// ---- names ----------------------------------------------------------------------------------

int32_t NormaliseSaveFileName(uint8_t command, std::string_view script_name, std::string& name) {
    std::string lowered = SjisReplaceByte(SjisLowerAscii(script_name), '/', '\\');
    if (lowered.size() > kMaxSaveNameBytes) {
        ReportScriptErrorF(kErrSaveNameTooLong, true, {CommandName(command), std::string_view(lowered)});
        return 1;
    }
    // Double-byte characters are skipped: the trail byte of ソ or 表 is 0x5C.
    if (SjisFindLast(lowered, '\\') != std::string::npos) {
        ReportScriptErrorF(kErrSaveNameHasFolder, true, {CommandName(command), std::string_view(lowered)});
        return 1;
    }
    const std::string_view extension = ".sd";
    if (lowered.size() < extension.size() ||
        !SjisEqualsIgnoreCase(std::string_view(lowered).substr(lowered.size() - extension.size()), extension)) {
        lowered += extension;
    }
    name = std::move(lowered);
    return 0;
}

// ---- restoring a variable ------------------------------------------------------------------

namespace {

// A payload checked against its variable: what the restore will write,
// found before anything changes. The texts and values point into the
// payload, which outlives it.
struct CheckedRestore {
    ScriptVariable* variable = nullptr;
    uint32_t number = 0;
    bool whole = false;
    int64_t element = 0;
    VariablePayload parsed;
    uint64_t count = 1;
    std::vector<std::string_view> texts;
};

// Every check of RestoreVariable. 0 with `out` filled, or -1 after a report.
int32_t CheckRestore(uint32_t number, bool whole, std::span<const uint8_t> payload, int64_t element,
                     std::string_view display_name, CheckedRestore& out) {
    ScriptVariable* variable = FindVariable(number);
    if (variable == nullptr) {
        ReportScriptError(kErrVariableMissing, true);
        return -1;
    }
    // The type first: a payload of another type than the variable's is
    // refused before its lengths are looked at.
    if (payload.size() < 4) {
        ShowInvalidSave(display_name);
        return -1;
    }
    const uint32_t type = uint32_t{payload[0]} | uint32_t{payload[1]} << 8 | uint32_t{payload[2]} << 16 |
                          uint32_t{payload[3]} << 24;
    if (type < 1 || type > 3) {
        ReportScriptError(kErrBadPositionString, true);
        return -1;
    }
    if (type != variable->type) {
        ReportScriptErrorF(kErrSaveTypeMismatch, true,
                           {CommandName(kCmdLoadDataBlock), CommandName(DeclarationCommandOf(variable->type))});
        return -1;
    }
    VariablePayload& parsed = out.parsed;
    switch (ParseVariablePayload(payload, parsed)) {
        case PayloadError::kNone: break;
        case PayloadError::kBadType: ReportScriptError(kErrBadPositionString, true); return -1;
        case PayloadError::kTooLong: ReportScriptError(kErrSaveDataTooLong, true); return -1;
        case PayloadError::kDamaged: ShowInvalidSave(display_name); return -1;
    }
    const uint32_t wanted_count = whole ? variable->dimension_count : 0;
    if (parsed.dimension_count != wanted_count) {
        ReportScriptError(kErrSaveDimensionCount, true);
        return -1;
    }
    uint64_t count = 1;
    if (whole) {
        for (uint32_t d = 0; d < parsed.dimension_count; ++d) {
            if (variable->sizes[d] < 0 || parsed.sizes[d] != static_cast<uint32_t>(variable->sizes[d])) {
                ReportScriptError(kErrSaveDimensionSize, true);
                return -1;
            }
            count *= parsed.sizes[d];  // below 2^22 before, a 32-bit size after: no overflow
            if (count > kMaxElements) {
                ShowInvalidSave(display_name);
                return -1;
            }
        }
    }
    if (parsed.type == kVariableText) {
        bool too_long = false;
        if (!SplitPayloadTexts(parsed.data, count, out.texts, too_long) || too_long) {
            ShowInvalidSave(display_name);
            return -1;
        }
    } else if (!PayloadHoldsValues(parsed.data, count)) {
        ShowInvalidSave(display_name);
        return -1;
    }
    out.variable = variable;
    out.number = number;
    out.whole = whole;
    out.element = element;
    out.count = count;
    return 0;
}

// Writes a checked payload into its variable. 0, or -1 after a report.
int32_t ApplyRestore(const CheckedRestore& restore) {
    ScriptVariable& variable = *restore.variable;
    const VariablePayload& parsed = restore.parsed;
    if (!restore.whole) {
        // One element; an index outside the variable stores nothing.
        if (!ElementInRange(variable, restore.element)) return 0;
        if (parsed.type == kVariableText) return StoreStringElement(restore.number, restore.element, restore.texts[0]);
        int64_t bits = 0;
        std::memcpy(&bits, parsed.data.data(), 8);
        if (parsed.type == kVariableInteger) {
            variable.integers[static_cast<size_t>(restore.element)] = bits;
        } else {
            double value;
            std::memcpy(&value, &bits, 8);
            variable.reals[static_cast<size_t>(restore.element)] = value;
        }
        return 0;
    }
    const uint64_t count = restore.count;
    VariableArraysChanged();
    switch (parsed.type) {
        case kVariableInteger:
            variable.integers.resize(static_cast<size_t>(count));
            if (count != 0) std::memcpy(variable.integers.data(), parsed.data.data(), parsed.data.size());
            break;
        case kVariableReal:
            variable.reals.resize(static_cast<size_t>(count));
            if (count != 0) std::memcpy(variable.reals.data(), parsed.data.data(), parsed.data.size());
            break;
        default:
            variable.texts.resize(static_cast<size_t>(count));
            for (size_t i = 0; i < restore.texts.size(); ++i)
                SetStringElementFromBuffer(variable, static_cast<int64_t>(i), restore.texts[i]);
            break;
    }
    variable.element_count = count;
    return 0;
}

}  // namespace

int32_t RestoreVariable(uint32_t number, bool whole, std::span<const uint8_t> payload, int64_t element,
                        std::string_view display_name) {
    CheckedRestore restore;
    if (CheckRestore(number, whole, payload, element, display_name, restore) != 0) return -1;
    return ApplyRestore(restore);
}

int32_t RestoreVariableList(std::span<const VariableRecordPayload> records, std::string_view display_name) {
    // Every record is checked before the first is written, so a list
    // refused at its last record leaves every variable as it was.
    std::vector<CheckedRestore> checked(records.size());
    for (size_t i = 0; i < records.size(); ++i) {
        if (CheckRestore(records[i].variable, true, records[i].payload, 0, display_name, checked[i]) != 0) return -1;
    }
    for (const CheckedRestore& restore : checked) {
        // A whole restore never fails once checked.
        if (ApplyRestore(restore) != 0) return -1;
    }
    return 0;
}

// ---- the commands ------------------------------------------------------------------------------

int32_t CmdSaveDataBlock() {
    if (DecodeCommandArgs(kCmdSaveDataBlock) != 0) return -1;
    const CommandArgBlock& args = Args();
    const uint8_t command = kCmdSaveDataBlock;
    try {
        // 1. The layer and the file name.
        const CgImage* image = nullptr;
        if (args.Given(kSaveLayerName)) {
            std::string path;
            NamedTreeNode* node = nullptr;
            if (ResolveLayerPath(args, path, node) != 0) return -1;
            image = node != nullptr ? LayerImage(node) : nullptr;
            if (image == nullptr) {
                ReportScriptErrorF(kErrLayerNotFound, true, {CommandName(command), std::string_view(path)});
                return -1;
            }
        }
        SaveTarget target;
        const bool to_file = args.Given(kSaveFile);
        if (to_file && ResolveSaveTarget(command, args.Find(kSaveFile)->Text(), target) != 0) return -1;

        // 2. All rows into pending block 1024.
        const CommandArgSlot* row_slot = args.Find(kSaveRow);
        if (row_slot != nullptr && row_slot->value == kPackAllRows) {
            if (PackSaveRows() != 0) ShowMessageBox("", Sjis("圧縮エラー."));
            return 0;
        }
        if (row_slot != nullptr && (row_slot->value < 0 || row_slot->value > kLastRow)) {
            ReportRange(command, kSaveRow, row_slot->value, 0, kLastRow);
            return -1;
        }

        // 3. The block of data number n.
        if (const CommandArgSlot* number = args.Find(kSaveDataNumber)) {
            const int64_t n = number->value;
            if (n < 1 || n > int64_t{kDataNumberCount}) {
                ReportRange(command, kSaveDataNumber, n, 1, kDataNumberCount);
                return -1;
            }
            std::vector<uint8_t>& pending = TheSaveState().pending[static_cast<size_t>(n - 1)];
            if (!pending.empty()) {
                ReportScriptErrorF(kErrSaveBlockPending, true,
                                   {CommandName(command), KeywordName(command, kSaveDataNumber), n});
                return -1;
            }
            uint8_t type = 0, group = 0;
            for (uint8_t t = 1; t <= 3; ++t) {
                for (uint8_t g = 1; g <= 4; ++g) {
                    if (!args.Given(kSaveIntegerGroup1 + 4u * (t - 1u) + (g - 1u))) continue;
                    type = std::max(type, t);
                    group = std::max(group, g);
                }
            }
            std::optional<std::vector<uint8_t>> block;
            if (type != 0) {
                block = BuildListBlock(type, group);
            } else if (image != nullptr) {
                block = BuildImageBlock(*image);
            } else if (const CommandArgSlot* variable = args.Find(kSaveVariable)) {
                block = BuildVariableBlock(*variable);
            } else {
                block = std::vector<uint8_t>();  // nothing named: no block
            }
            if (!block) {
                ShowOutOfMemory();
                return -1;
            }
            pending = std::move(*block);
        }

        // 4. Written now when a row or a file is given; a row wins over a file.
        if (row_slot != nullptr) {
            WritePendingBlocksToRow(static_cast<uint32_t>(row_slot->value));
            return 0;
        }
        if (to_file) return WritePendingToFile(command, target);
        return 0;
    } catch (const std::bad_alloc&) {
        ShowOutOfMemory();
        return -1;
    }
}

int32_t CmdLoadDataBlock() {
    if (DecodeCommandArgs(kCmdLoadDataBlock) != 0) return -1;
    const CommandArgBlock& args = Args();
    const uint8_t command = kCmdLoadDataBlock;
    const CommandArgSlot* row_slot = args.Find(kSaveRow);
    SaveTarget target;
    if (args.Given(kSaveFile) && ResolveSaveTarget(command, args.Find(kSaveFile)->Text(), target) != 0) return -1;
    if (row_slot != nullptr && (row_slot->value < 0 || row_slot->value > kLastRow)) {
        ReportRange(command, kSaveRow, row_slot->value, 0, kLastRow);
        return -1;
    }
    try {
        if (row_slot != nullptr) {
            SaveRow& row = TheSaveState().rows[static_cast<size_t>(row_slot->value)];
            row.read_position = 0;
            MemorySaveSource source(row.content);
            return LoadBlock(command, args, source, false, kRowDisplayName);
        }
        FileSaveSource source;
        if (target.game_path.empty() || !source.Open(target.game_path, Settings().save_folder_root)) {
            ReportScriptErrorF(kErrSaveOpenForLoad, true,
                               {CommandName(command), KeywordName(command, kSaveFile), std::string_view(target.name)});
            return -1;
        }
        return LoadBlock(command, args, source, true, target.name);
    } catch (const std::bad_alloc&) {
        if (row_slot != nullptr) {
            // The block's two lengths, read again for the message.
            const CommandArgSlot* number = args.Find(kSaveDataNumber);
            const int64_t n = number != nullptr ? number->value : 0;
            DataBlockHeader header;
            const SaveRow& row = TheSaveState().rows[static_cast<size_t>(row_slot->value)];
            MemorySaveSource source(row.content);
            uint8_t head[kDataBlockHeaderBytes];
            const uint32_t offset =
                n >= 1 && n <= int64_t{kDataNumberCount} ? ReadDirectoryEntry(source, static_cast<uint32_t>(n)) : 0;
            if (offset != 0 && source.ReadAt(uint64_t{offset} + 4, head)) header = *ReadBlockHeader(head);
            ShowMessageBox("", Sjis("[Load]メモリ不足エラーです。VAL_ID=%d :%u, %u"),
                           {n, uint64_t{header.stored_length}, uint64_t{header.uncompressed_length}});
        } else {
            ShowMessageBox("", Sjis("[Load]メモリ不足エラーです。"));
        }
        return -1;
    }
}

int32_t CmdDiscardDataBlocks() {
    if (DecodeCommandArgs(kCmdDiscardDataBlocks) != 0) return -1;
    FreeDataBlockBuffers(-1);
    return 0;
}

int32_t CmdDataBlockNoOperation() {
    if (DecodeCommandArgs(kCmdDataBlockNoOperation) != 0) return -1;
    return 0;
}

std::vector<uint8_t> EncodeScriptVariable(const ScriptVariable& variable) {
    return EncodeVariablePayload(ValuesOf(variable));
}

void RegisterSaveCommands() {
    RegisterCommandHandler(kCmdSaveDataBlock, CmdSaveDataBlock);
    RegisterCommandHandler(kCmdLoadDataBlock, CmdLoadDataBlock);
    RegisterCommandHandler(kCmdDiscardDataBlocks, CmdDiscardDataBlocks);
    RegisterCommandHandler(kCmdDataBlockNoOperation, CmdDataBlockNoOperation);
    EngineHooks& hooks = Hooks();
    hooks.reset_save_rows = &ResetSaveRows;
    hooks.free_save_buffers = [] { FreeDataBlockBuffers(-1); };
}

}  // namespace zk
