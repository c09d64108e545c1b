#include "system/file_commands.h"

#include <filesystem>
#include <optional>
#include <vector>

#include "base/ascii.h"
#include "base/nul_text.h"
#include "base/sjis.h"
#include "base/text_encoding.h"
#include "core/error_report.h"
#include "core/named_tree.h"
#include "core/root_trees.h"
#include "images/image_writers.h"
#include "layers/dirty_rect.h"
#include "platform/game_path.h"
#include "platform/mime_association.h"
#include "platform/process_launch.h"
#include "platform/ui.h"
#include "script/command_table.h"
#include "script/compiled_tables.h"
#include "script/variables.h"
#include "storage/asset_name.h"
#include "system/preload_groups.h"
#include "system/script_paths.h"

namespace zk {

namespace fs = std::filesystem;

namespace {

constexpr size_t kFolderPathBuffer = 524;
constexpr size_t kQueryNameBuffer = 264;

enum class ExportFormat { kBmp, kPng, kJpeg, kWebp };

std::string SlotText(const CommandArgSlot* slot) { return slot != nullptr ? std::string(UpToNul(slot->Text())) : std::string(); }

bool HasValue1(const CommandArgBlock& args, uint32_t keyword) {
    const CommandArgSlot* slot = args.Find(keyword);
    return slot != nullptr && slot->value == 1;
}

// The layer named by keywords 10 and 11, written to `path` (which receives
// the format's suffix). 0, or -1 after a report or a writer failure.
int32_t ExportLayer(const CommandArgBlock& args, ExportFormat format, std::string& path) {
    std::string name = SlotText(args.Find(10));
    if (const CommandArgSlot* number = args.Find(11)) {
        name += "." + std::to_string(number->value);
        if (name.size() > 1023) name.resize(1023);
    }
    const RootTrees& trees = TheRootTrees();
    std::string node_path;
    if (NormaliseNodePath(node_path, name, trees.layer_folder, false) < 0) return -1;
    NamedTreeNode* node = trees.layers != nullptr ? FindNodeByPath(trees.layers, node_path, kFindLeaf) : nullptr;
    const CgImage* image = LayerImage(node);
    if (image == nullptr) {
        ReportScriptErrorF(kErrLayerNotFound, true, {CommandName(kCmdFileOperation), std::string_view(node_path)});
        return -1;
    }
    const CommandArgSlot* quality_slot = args.Find(9);
    const bool given = quality_slot != nullptr;
    const int64_t value = given ? quality_slot->value : 0;
    const char* suffix = ".png";
    switch (format) {
        case ExportFormat::kBmp: suffix = ".bmp"; break;
        case ExportFormat::kPng: suffix = ".png"; break;
        case ExportFormat::kJpeg: suffix = ".jpg"; break;
        case ExportFormat::kWebp: suffix = ".webp"; break;
    }
    if (!AsciiEndsWithIgnoreCase(path, suffix)) path += suffix;
    // A path outside the reachable folders is a writer failure: nothing is
    // created there.
    const std::optional<std::string> host = ScriptPathToHost(path);
    if (!host) return -1;
    int32_t result = 0;
    switch (format) {
        case ExportFormat::kBmp: result = SaveBMP(*image, *host); break;
        case ExportFormat::kPng: {
            const int64_t level = !given ? 5 : value < 0 ? 0 : value > 9 ? 9 : value;
            result = SavePNG(*image, *host, static_cast<int32_t>(level));
            break;
        }
        case ExportFormat::kJpeg: {
            const int64_t q = !given ? 90 : value <= 0 ? 1 : value > 100 ? 100 : value;
            result = SaveJPEG(*image, static_cast<int32_t>(q), *host);
            break;
        }
        case ExportFormat::kWebp: {
            const int64_t q = !given ? 90 : value < 0 ? 0 : value > 101 ? 101 : value;
            result = SaveWEBP(*image, *host, static_cast<int32_t>(q));
            break;
        }
    }
    platform::ClearPathCache();
    return result == 0 ? 0 : -1;
}


// Keyword 6 or 7: a native program is started with the parameters split as
// a Windows program would split them; a document, a folder or a URL goes
// to the desktop's opener (no parameters, no wait). A Windows program
// cannot run here: nothing happens.
void OpenOrRun(const std::string& path, const std::string& parameters, bool wait) {
    if (IsUrlText(path)) {
        platform::OpenWithDesktop(Cp932ToUtf8(SjisReplaceByte(path, '\\', '/')));
        return;
    }
    const std::optional<std::string> host = ScriptPathToHost(path);
    std::error_code ec;
    if (!host || !fs::exists(*host, ec)) return;
    if (AsciiEndsWithIgnoreCase(path, ".exe")) return;
    if (platform::IsExecutableFile(*host)) {
        std::vector<std::string> arguments;
        for (const std::string& argument : platform::SplitCommandLine(parameters)) arguments.push_back(Cp932ToUtf8(argument));
        platform::SpawnProgram(*host, arguments, wait);
        return;
    }
    platform::OpenWithDesktop(*host);
}

}  // namespace

std::string FileCommandPath(std::string_view text) { return SjisReplaceByte(SjisLowerAscii(text), '/', '\\'); }

int32_t CreateFolderPath(std::string_view path) {
    if (path.size() >= kFolderPathBuffer) return 0;
    for (size_t i = 0; i < path.size(); i += SjisCharLength(path, i)) {
        if (path[i] != '\\' || i == 0) continue;
        const std::optional<std::string> host = ScriptPathToHost(path.substr(0, i));
        if (!host) continue;
        std::error_code ec;
        fs::create_directory(*host, ec);
        platform::ClearPathCache();
    }
    return 0;
}

int32_t CmdFileOperation() {
    if (DecodeCommandArgs(kCmdFileOperation) != 0) return -1;
    const CommandArgBlock& args = Args();
    std::string path = FileCommandPath(SlotText(args.Find(0)));
    const std::string destination = FileCommandPath(SlotText(args.Find(1)));
    std::string folder = FileCommandPath(SlotText(args.Find(2)));
    if (args.Given(2) && (folder.empty() || SjisFindLast(folder, '\\') != folder.size() - 1)) folder += '\\';
    const std::string parameters = SlotText(args.Find(8));

    ExportFormat format = ExportFormat::kPng;
    if (const CommandArgSlot* bmp = args.Find(12)) format = bmp->value == 1 ? ExportFormat::kBmp : ExportFormat::kPng;
    if (HasValue1(args, 13)) format = ExportFormat::kPng;
    if (HasValue1(args, 14)) format = ExportFormat::kJpeg;
    if (HasValue1(args, 15)) format = ExportFormat::kWebp;

    // Preloads: a group outside 1..4 is ignored.
    if (const CommandArgSlot* image = args.Find(16); image != nullptr && image->value != 0) {
        if (image->value >= 1 && image->value <= kPreloadGroupCount) PreloadFile(static_cast<int>(image->value - 1), path, kAssetModeImage);
    }
    if (const CommandArgSlot* sound = args.Find(17)) {
        if (sound->value >= 1 && sound->value <= kPreloadGroupCount) PreloadFile(static_cast<int>(sound->value - 1), path, kAssetModeSound);
    }

    if (args.Given(10) && ExportLayer(args, format, path) != 0) return -1;

    std::error_code ec;
    if (args.Given(3) && args.Given(2)) CreateFolderPath(folder);
    if (args.Given(4) && args.Given(0) && args.Given(1)) {
        const std::optional<std::string> from = ScriptPathToHost(path);
        const std::optional<std::string> to = ScriptPathToHost(destination);
        if (from && to && fs::is_regular_file(*from, ec)) fs::copy_file(*from, *to, fs::copy_options::overwrite_existing, ec);
        platform::ClearPathCache();
    }
    if (args.Given(5)) {
        if (args.Given(0)) {
            const std::optional<std::string> file = ScriptPathToHost(path);
            if (file && !fs::is_directory(fs::symlink_status(*file, ec))) fs::remove(*file, ec);
        }
        if (args.Given(2)) {
            const std::optional<std::string> dir = ScriptPathToHost(folder);
            // Only an empty folder goes; the game folder itself never.
            if (dir && !folder.empty() && folder != "\\" && fs::is_directory(fs::symlink_status(*dir, ec)) && fs::is_empty(*dir, ec)) {
                fs::remove(*dir, ec);
            }
        }
        platform::ClearPathCache();
    }
    if (args.Given(6) && !path.empty()) {
        OpenOrRun(path, parameters, false);
    } else if (args.Given(7) && !path.empty()) {
        OpenOrRun(path, parameters, true);
    }
    return 0;
}

// ---- command 21 -----------------------------------------------------------------

namespace {

enum class LookupKind { kNone, kFolder, kFile, kImage, kSound };

bool IsFolderOnDisk(const std::string& name) {
    const std::optional<std::string> host = ScriptPathToHost(name);
    std::error_code ec;
    return host && fs::is_directory(*host, ec);
}

uint64_t FileSizeOnDisk(const std::string& name) {
    const std::optional<std::string> host = ScriptPathToHost(name);
    std::error_code ec;
    if (!host || !fs::is_regular_file(*host, ec)) return 0;
    const uintmax_t size = fs::file_size(*host, ec);
    return ec ? 0 : static_cast<uint64_t>(size);
}

std::string ProgramFor(const std::string& name) {
    const std::optional<std::string> host = ScriptPathToHost(name);
    std::error_code ec;
    if (!host || !fs::exists(*host, ec)) return std::string();
    const std::string program = platform::AssociatedProgram(*host);
    if (program.empty()) return program;
    return program[0] == '/' ? platform::HostPathToEnginePath(program) : Utf8ToCp932(program);
}

}  // namespace

int32_t CmdQueryFile() {
    if (DecodeCommandArgs(kCmdQueryFile) != 0) return -1;
    const CommandArgBlock& args = Args();
    LookupKind kind = LookupKind::kNone;
    std::string name;
    for (uint32_t k = 0; k <= 3; ++k) {
        if (!args.Given(k)) continue;
        kind = static_cast<LookupKind>(k + 1);
        name = SjisLowerAscii(SlotText(args.Find(k)));
    }
    const CommandArgSlot* result = args.Find(7);
    if (kind == LookupKind::kNone || result == nullptr) return 0;
    // A name longer than the 264-byte buffer finds nothing.
    const bool fits = name.size() < kQueryNameBuffer;
    const uint32_t number = result->var_number;
    const int64_t element = static_cast<int32_t>(static_cast<uint64_t>(result->var_element) & 0xFFFFFFFFu);
    const ScriptVariable* variable = FindVariable(number);
    if (variable == nullptr || !ElementInRange(*variable, element)) return 0;

    if (args.Given(4)) {
        bool exists = false;
        if (fits) {
            if (kind == LookupKind::kFolder) {
                exists = IsFolderOnDisk(name);
            } else {
                const uint8_t mode = kind == LookupKind::kFile ? kAssetModeExact : kind == LookupKind::kImage ? kAssetModeImage : kAssetModeSound;
                FileSource source;
                std::string out_name;
                std::string given = name;
                exists = ResolveAssetName(source, out_name, given, mode) == 0;
            }
        }
        SetNumberElement(number, element, exists ? 1 : 0);
    } else if (args.Given(5)) {
        const uint64_t size = fits && kind == LookupKind::kFile ? FileSizeOnDisk(name) : 0;
        SetNumberElement(number, element, static_cast<int64_t>(size));
    } else if (args.Given(6)) {
        if (variable->type == kVariableText) {
            SetStringElement(number, element, fits && kind != LookupKind::kFolder ? ProgramFor(name) : std::string());
        } else if (variable->type == kVariableInteger || variable->type == kVariableReal) {
            SetNumberElement(number, element, 0);
        }
    }
    return 0;
}

void RegisterFileCommands() {
    RegisterCommandHandler(kCmdFileOperation, CmdFileOperation);
    RegisterCommandHandler(kCmdQueryFile, CmdQueryFile);
}

}  // namespace zk
