#include "system/debug_log.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <optional>

#include "base/format.h"
#include "base/text_encoding.h"
#include "core/engine_state.h"
#include "core/error_report.h"
#include "core/startup_paths.h"
#include "platform/clock.h"
#include "platform/game_path.h"

namespace zk {

namespace {

// Touched by the script thread only; atomics so that a reader elsewhere
// (tests, a summary) never races it.
std::atomic<bool> first_write{true};
std::atomic<uint64_t> written_total{0};

// The log's host path: the game folder, else the current folder.
std::optional<std::string> LogPath(std::string_view file_name) {
    const std::string& game = Paths().game_folder;
    if (!game.empty()) return platform::EnginePathToHost(game + std::string(file_name));
    return platform::ToHostPath(file_name);
}

// Appends under EngineLock: open, write, close. A file that cannot be
// opened is skipped. Returns the bytes written.
int64_t AppendText(const std::optional<std::string>& path, std::string text) {
    if (!path) return 0;
    text += '\n';
    std::lock_guard<EngineMutex> hold(EngineLock);
    std::FILE* file = std::fopen(path->c_str(), "ab");
    if (file == nullptr) return 0;
    const size_t written = std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
    return static_cast<int64_t>(written);
}

}  // namespace

std::string DebugLogHeader(uint16_t year, uint16_t month, uint16_t day, uint16_t hour, uint16_t minute,
                           uint16_t second) {
    const std::string rule = "//" + std::string(76, '-');
    return FormatBounded(rule + "\n" + Utf8ToCp932("//■") + "%02d/%02d/%02d time=%02d:%02d:%02d\n" + rule,
                         {int64_t{year % 100}, int64_t{month}, int64_t{day}, int64_t{hour}, int64_t{minute},
                          int64_t{second}},
                         2047);
}

int64_t AppendDebugLog(std::string_view file_name, bool delete_first, std::string_view message) {
    const int64_t budget = kDebugLogBudget - static_cast<int64_t>(written_total.load());
    const std::optional<std::string> path = LogPath(file_name);
    int64_t appended = 0;
    if (first_write.load()) {
        if (delete_first && path) {
            std::lock_guard<EngineMutex> hold(EngineLock);
            std::remove(path->c_str());
        }
        const platform::LocalTime now = platform::GetLocalTime();
        appended += AppendText(path, DebugLogHeader(now.year, now.month, now.day, now.hour, now.minute, now.second));
        first_write.store(false);
    }
    appended += AppendText(path, std::string(message.substr(0, CutLength(message, kMaxDebugLogMessage))));
    if (budget <= 0) {
        const std::string warning = FormatBounded(
            Utf8ToCp932("log が 10MB を超えました。\n\nこのまま続けていくと動作が遅くなっていく可能性があります。\n\n"
                        "\t\t\t\t\t\t\t\t\t%s を削除していただくか、\n別の場所に待避させてください。"),
            {file_name}, 2046);
        appended += AppendText(path, warning);
        ShowMessageBox("", warning);
    }
    written_total.fetch_add(static_cast<uint64_t>(appended));
    return appended;
}

void DeleteDebugLog() {
    const std::optional<std::string> path = LogPath(kDebugLogName);
    if (!path) return;
    std::lock_guard<EngineMutex> hold(EngineLock);
    std::remove(path->c_str());
}

uint64_t DebugLogWrittenTotal() { return written_total.load(); }

void ResetDebugLog() {
    first_write.store(true);
    written_total.store(0);
}

}  // namespace zk
