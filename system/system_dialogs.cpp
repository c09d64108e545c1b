#include "system/system_dialogs.h"

#include <mutex>

#include "base/sjis.h"
#include "base/text_encoding.h"
#include "core/main_thread_calls.h"
#include "core/window_record.h"
#include "platform/game_path.h"
#include "platform/ui.h"
#include "system/script_paths.h"

namespace zk {

namespace {

// The file name buffer of the save dialogs and the folder browser's name
// buffer: 521 bytes with their terminator. A longer choice cannot come
// back whole, so it is taken as no choice.
constexpr size_t kPathLimit = 520;

std::mutex text_entry_lock;
std::string last_confirmed;  // under text_entry_lock

platform::WindowHandle MainWindow() {
    const WindowRecord* record = MainWindowRecord();
    return record != nullptr ? record->window : platform::kNoWindow;
}

std::string ScriptFolderToHost(std::string_view folder) {
    if (folder.empty()) return {};
    const std::optional<std::string> host = ScriptPathToHost(SjisReplaceByte(folder, '/', '\\'));
    return host ? *host : std::string();
}

// A host folder as scripts see it, without the trailing '\' (the root
// keeps its own).
std::string EngineFolder(const std::string& host_folder) {
    std::string folder = platform::HostPathToEnginePath(host_folder);
    while (folder.size() > 1 && folder.back() == '\\') folder.pop_back();
    return folder;
}

}  // namespace

int64_t RunTextEntry(std::string_view initial) {
    platform::TextEntryRequest request;
    request.owner = MainWindow();
    request.initial = std::string(initial);
    platform::TextEntryResult result;
    CallOnMainThread([&] { result = platform::GetUi().TextEntry(request); });
    switch (result.outcome) {
        case platform::TextEntryResult::Outcome::kOk: {
            std::lock_guard hold(text_entry_lock);
            last_confirmed = std::string(SjisTruncate(result.text, platform::kDialogResultLimit));
            return 1;
        }
        case platform::TextEntryResult::Outcome::kCancel: return 0;
        case platform::TextEntryResult::Outcome::kNotShown: break;
    }
    return -1;
}

std::string LastConfirmedText() {
    std::lock_guard hold(text_entry_lock);
    return last_confirmed;
}

std::string RunFolderBrowser(std::string_view initial_folder, std::string_view title) {
    platform::FolderRequest request;
    request.owner = MainWindow();
    request.initial_folder = ScriptFolderToHost(initial_folder);
    request.title = std::string(title);
    std::optional<std::string> chosen;
    CallOnMainThread([&] { chosen = platform::GetUi().BrowseFolder(request); });
    if (!chosen || chosen->empty()) return {};
    const std::string folder = EngineFolder(*chosen);
    if (folder.size() > kPathLimit) return {};
    AllowChosenFolder(folder);
    return folder;
}

std::optional<std::string> RunSaveDialog(bool png, std::string_view initial) {
    platform::SaveFileRequest request;
    request.owner = MainWindow();
    request.title = Utf8ToCp932("保存する場所を指定してください。");
    request.filter_name = png ? "PNG File(*.png)" : "BMP File(*.bmp)";
    request.pattern = png ? "*.png" : "*.bmp";
    const std::string name(SjisTruncate(SjisReplaceByte(initial, '/', '\\'), kPathLimit));
    const size_t separator = SjisFindLast(name, '\\');
    if (separator == std::string::npos) {
        request.initial_name = name;
    } else {
        request.initial_folder = ScriptFolderToHost(std::string_view(name).substr(0, separator + 1));
        request.initial_name = name.substr(separator + 1);
    }
    std::optional<std::string> chosen;
    CallOnMainThread([&] { chosen = platform::GetUi().SaveFile(request); });
    if (!chosen || chosen->empty()) return std::nullopt;
    const std::string file = platform::HostPathToEnginePath(*chosen);
    if (file.size() > kPathLimit) return std::nullopt;
    const size_t folder_end = SjisFindLast(file, '\\');
    if (folder_end != std::string::npos) AllowChosenFolder(file.substr(0, folder_end + 1));
    return file;
}

void ResetSystemDialogs() {
    std::lock_guard hold(text_entry_lock);
    last_confirmed.clear();
}

}  // namespace zk
