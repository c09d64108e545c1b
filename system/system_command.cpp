#include "system/system_command.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>

#include "base/ascii.h"
#include "base/format.h"
#include "base/nul_text.h"
#include "base/sjis.h"
#include "base/text_encoding.h"
#include "core/engine_hooks.h"
#include "core/engine_state.h"
#include "core/error_report.h"
#include "core/main_thread_calls.h"
#include "core/startup_paths.h"
#include "core/system_facts.h"
#include "core/window_record.h"
#include "core/window_requests.h"
#include "platform/game_path.h"
#include "platform/process_launch.h"
#include "platform/window_messages.h"
#include "platform/window_system.h"
#include "script/command_table.h"
#include "script/pause_clock.h"
#include "script/variables.h"
#include "storage/file_source.h"
#include "system/debug_log.h"
#include "system/file_commands.h"
#include "system/menus.h"
#include "system/file_name_list.h"
#include "system/line_tokenizer.h"
#include "system/registry_read.h"
#include "system/registry_store.h"
#include "system/script_edit.h"
#include "system/script_paths.h"
#include "system/tray_command.h"
#include "system/system_dialogs.h"

namespace zk {

namespace fs = std::filesystem;

namespace {

constexpr size_t kTextArgBuffer = 1024;

std::atomic<bool> draw_during_window_movie{false};
std::atomic<bool> off_screen_mode{false};

struct Arguments {
    uint32_t result_var = 0;
    int64_t result_element = 0;
    bool has_result = false;
    int64_t ints[4] = {};
    std::string texts[3];
};

// A script text as the command's 1024-byte buffer holds it.
std::string BufferText(std::string_view text) {
    text = UpToNul(text);
    return std::string(text.substr(0, CutLength(text, kTextArgBuffer - 1)));
}

std::string Slashes(std::string_view text) { return SjisReplaceByte(text, '/', '\\'); }

// A variable reference in the engine's encoding: the variable number in the
// high 32 bits, the element index in the low 32 bits.
uint32_t RefVariable(int64_t reference) { return static_cast<uint32_t>(static_cast<uint64_t>(reference) >> 32); }
int64_t RefElement(int64_t reference) { return static_cast<int64_t>(static_cast<uint64_t>(reference) & 0xFFFFFFFFu); }

void StoreNumber(const Arguments& a, int64_t value) {
    if (a.has_result) SetNumberElement(a.result_var, a.result_element, value);
}
void StoreText(const Arguments& a, std::string_view text) {
    if (a.has_result) SetStringElement(a.result_var, a.result_element, text);
}

void CopyGameFileToDisk(const std::string& name, const std::string& destination) {
    FileSource source;
    if (ReadGameFileReported(source, name) != 0) return;
    const std::optional<std::string> host = ScriptPathToHost(destination);
    if (!host) return;
    std::FILE* file = std::fopen(host->c_str(), "wb");
    if (file == nullptr) return;
    bool ok = std::fwrite(source.data.data(), 1, source.data.size(), file) == source.data.size();
    ok = std::fclose(file) == 0 && ok;
    if (!ok) std::remove(host->c_str());
    platform::ClearPathCache();
}

void WriteTextFile(const std::string& path, const std::string& text) {
    const std::optional<std::string> host = ScriptPathToHost(path);
    if (!host) return;
    std::FILE* file = std::fopen(host->c_str(), "wb");
    if (file == nullptr) return;
    const std::string line = text + "\r\n";
    bool ok = std::fwrite(line.data(), 1, line.size(), file) == line.size();
    ok = std::fclose(file) == 0 && ok;
    if (!ok) std::remove(host->c_str());
    platform::ClearPathCache();
}

// The order NTFS lists names in: compared after folding a-z to A-Z, byte
// by byte (double-byte characters compared as they are).
std::string NtfsKey(std::string_view name) {
    std::string key(name);
    for (size_t i = 0; i < key.size(); i += SjisCharLength(key, i)) {
        if (key[i] >= 'a' && key[i] <= 'z') key[i] = static_cast<char>(key[i] - 'a' + 'A');
    }
    return key;
}

bool IsAdministrator() {
    const uint8_t level = TheSystemFacts().os_level;
    if (level >= 20 && level <= 39) return true;
    return MachineAccessCheck()();
}


void ShowMainWindow(int show_command) {
    WindowRecord* record = GetWindowRecord(0);
    if (record == nullptr || record->window == platform::kNoWindow) return;
    const platform::WindowHandle window = record->window;
    CallOnMainThread([window, show_command] { platform::GetWindowSystem().ShowWindow(window, show_command); });
}

}  // namespace

std::vector<std::string> ListFolderNames(std::string_view folder, std::string_view extension, bool with_folders) {
    std::vector<std::string> names;
    const std::optional<std::string> host = ScriptPathToHost(folder);
    std::error_code ec;
    if (!host || !fs::is_directory(*host, ec)) return names;
    struct Entry {
        std::string key, name;
        bool is_folder;
    };
    std::vector<Entry> entries;
    for (fs::directory_iterator it(*host, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = Utf8ToCp932(it->path().filename().string());
        std::error_code type_ec;
        entries.push_back({NtfsKey(name), name, it->is_directory(type_ec)});
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.key < b.key; });
    const std::string suffix = "." + std::string(extension);
    for (const Entry& entry : entries) {
        if (entry.is_folder) {
            if (!with_folders) continue;
            names.push_back(entry.name + "/");
        } else {
            if (!extension.empty() && !AsciiEndsWithIgnoreCase(entry.name, suffix)) continue;
            names.push_back(entry.name);
        }
        if (names.size() == kMaxListing) {
            ShowMessageBox("", Utf8ToCp932("リストが %d 個に達しました. 取得を中断します。"), {int64_t{kMaxListing}});
            break;
        }
    }
    return names;
}

int64_t StoreTextLengths(uint32_t text_var, int64_t first_text, uint32_t int_var, int64_t first_int) {
    if (FindVariable(text_var) == nullptr || FindVariable(int_var) == nullptr) return 0;
    int64_t count = 0;
    for (int64_t i = 0;; ++i) {
        const std::string* text = GetStringElement(text_var, first_text + i);
        if (text == nullptr) break;  // past the end of the variable
        const int64_t length = static_cast<int64_t>(UpToNul(*text).size());
        SetNumberElement(int_var, first_int + i, length);
        if (length == 0) break;
        ++count;
    }
    return count;
}

bool OffScreenModeRequested() { return off_screen_mode.load(); }
void RequestOffScreenMode(bool on) { off_screen_mode.store(on); }
bool DrawDuringWindowMovie() { return draw_during_window_movie.load(); }

int32_t CmdSystemFunction() {
    if (DecodeCommandArgs(kCmdSystemFunction) != 0) return -1;
    const CommandArgBlock& args = Args();
    const CommandArgSlot* code_slot = args.Find(0);
    const int64_t code_value = code_slot != nullptr ? code_slot->value : 0;
    if ((static_cast<uint64_t>(code_value) >> 32) != 0) return 0;
    const uint32_t code = static_cast<uint32_t>(code_value);
    Arguments a;
    if (const CommandArgSlot* result = args.Find(1)) {
        a.has_result = true;
        a.result_var = result->var_number;
        a.result_element = result->var_element;
    }
    for (int i = 0; i < 4; ++i) {
        if (const CommandArgSlot* slot = args.Find(2 + static_cast<uint32_t>(i))) a.ints[i] = slot->value;
    }
    for (int i = 0; i < 3; ++i) {
        if (const CommandArgSlot* slot = args.Find(22 + static_cast<uint32_t>(i))) a.texts[i] = BufferText(slot->Text());
    }
    const std::string& text1 = a.texts[0];
    const std::string& text2 = a.texts[1];

    switch (code) {
        case 1: {
            const ScriptVariable* variable = FindVariable(a.result_var);
            if (a.has_result && variable != nullptr && ElementInRange(*variable, a.result_element)) StoreNumber(a, 502);
            break;
        }
        case 2: ShowMessageBox("", "= %s", {std::string_view(text1)}); break;
        case 10: ShowMessageBox(nullptr, "COM:10 Deleted."); break;
        case 30: ShowMessageBox(nullptr, "COM:30 Deleted."); break;
        case 31: ShowMessageBox(nullptr, "COM:31 Deleted."); break;
        case 12: CopyGameFileToDisk(Slashes(SjisLowerAscii(text1)), Slashes(text2)); break;
        case 15: WriteTextFile(Slashes(text1), text2); break;
        case 21: {
            // The folder's names are those of "folder\*.*": an empty folder
            // text names the root, which no script may list.
            const std::vector<std::string> names = ListFolderNames(Slashes(text1) + "\\", text2, a.ints[0] != 0);
            std::lock_guard<EngineMutex> hold(EngineLock);
            ReplaceFileNameList(names, kMaxListing);
            break;
        }
        case 22: {
            const int64_t count = TokenizeLine(text1, RefVariable(a.ints[0]), RefElement(a.ints[0]), RefVariable(a.ints[1]),
                                               RefElement(a.ints[1]), RefVariable(a.ints[2]), RefElement(a.ints[2]));
            StoreNumber(a, count);
            break;
        }
        case 23:
            StoreNumber(a, StoreTextLengths(RefVariable(a.ints[0]), RefElement(a.ints[0]), RefVariable(a.ints[1]),
                                            RefElement(a.ints[1])));
            break;
        case 25:
        case 26:
            // Nothing stored after a cancel.
            if (const std::optional<std::string> file = RunSaveDialog(code == 26, text1)) StoreText(a, *file);
            break;
        case 27: draw_during_window_movie.store(true); break;
        case 28: draw_during_window_movie.store(false); break;
        case 32: {
            const std::optional<std::string> host = ScriptPathToHost(Slashes(text1));
            std::error_code ec;
            if (host && fs::is_directory(*host, ec)) {
                platform::ChangeDirectory(platform::HostPathToEnginePath(*host));
                platform::ClearPathCache();
            }
            break;
        }
        case 33: DeleteUserRegistryValue(text1, text2); break;
        case 34: {
            // No drive letters here: the file system that holds the game.
            const std::optional<std::string> game = platform::RootHostPath(platform::PathRoot::kGame);
            StoreNumber(a, static_cast<int64_t>(game ? platform::FreeDiskBytes(*game) : 0));
            break;
        }
        case 36: DeleteMachineRegistryValue(Slashes(text1), text2); break;
        case 37: DeleteMachineRegistryKey(Slashes(text1)); break;
        case 38: StoreNumber(a, IsAdministrator() ? 1 : 0); break;
        case 51: DeleteDebugLog(); break;
        case 52: AppendDebugLog(kDebugLogName, true, text1); break;
        case 80: RequestOffScreenMode(true); break;
        case 81: RequestOffScreenMode(false); break;
        case 100: ShowMainWindow(platform::SW_HIDE); break;
        case 110: ShowMainWindow(platform::SW_SHOW); break;
        case 120: {
            if (IsUrlText(text1)) {
                platform::OpenWithDesktop(Cp932ToUtf8(text1));
            } else if (const std::optional<std::string> host = ScriptPathToHost(Slashes(text1))) {
                std::error_code ec;
                if (fs::exists(*host, ec)) platform::OpenWithDesktop(*host);
            }
            break;
        }
        case 10102:
            CreateScriptEdit(text1, static_cast<int32_t>(a.ints[0]), static_cast<int32_t>(a.ints[1]),
                             static_cast<int32_t>(a.ints[2]), static_cast<int32_t>(a.ints[3]));
            break;
        case 10103: CloseScriptEdit(); break;
        case 10104: SetScriptEditText(text1); break;
        case 10105: StoreText(a, GetScriptEditText()); break;
        case 10201: StoreNumber(a, RunTextEntry(text1)); break;
        case 10205: StoreText(a, LastConfirmedText()); break;
        case 20005: FocusScriptEdit(true); break;
        case 20006: FocusScriptEdit(false); break;
        case 20011: CaptionDragPause.store(1); break;
        case 20012: CaptionDragPause.store(0); break;
        case 20013: BeginScriptPause(); break;
        case 20014: EndScriptPause(); break;
        case 20021: StoreNumber(a, 0); break;
        case 21000: StoreText(a, RunFolderBrowser(text1, text2)); break;
        case 21031: StoreText(a, ""); break;  // there is no Windows folder
        default: break;
    }
    return 0;
}

void RegisterSystemServices() {
    RegisterCommandHandler(kCmdSystemFunction, CmdSystemFunction);
    RegisterFileCommands();
    RegisterRegistryCommand();
    RegisterMenuCommands();
    RegisterTrayCommands();
    Hooks().draw_during_window_movie = DrawDuringWindowMovie;
}

void ResetSystemCommandState() {
    draw_during_window_movie.store(false);
    off_screen_mode.store(false);
}

}  // namespace zk
