// Numbered error reporting: the error texts of zkbin\zke.zbn with the
// built-in texts that win over them, the four reporting entry points, the
// error dialog with its edit button, and the plain message box.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/format.h"
#include "core/error_codes.h"
#include "platform/window_messages.h"

namespace zk {

struct ErrorTextTable {
    int32_t count = 0;
    uint32_t codes[256] = {};
    std::string_view texts[256];  // point into `file_bytes`
    std::vector<uint8_t> file_bytes;  // kept for the whole run
};

struct ErrorLocation {
    bool has_file = false;
    std::string file;  // script file name (CP932)
    int32_t line = 1;
};

// Where the current script stands, for the location prefix. The script
// machine installs this (no task: returns false).
struct ScriptLocation {
    std::string file;
    int32_t line = 1;
};
using ScriptLocationProvider = bool (*)(ScriptLocation& out);
void SetScriptLocationProvider(ScriptLocationProvider provider);

// The error dialog's captions (ErrorDialogCaption).
inline constexpr const char* kErrorDialogCaptionDefault = "ZORVEK Debug Info.";
inline constexpr const char* kLicenseCaption = "License Information";

// The game folder's file of error texts.
inline constexpr std::string_view kErrorTextFile = "zkbin\\zke.zbn";

// Bound of the error text and of the formatted message, in bytes (a
// 1024-byte buffer less its terminator). The built-in credits
// notice of 100000 is the one text longer than that; it is shown whole.
inline constexpr size_t kErrorTextLimit = 1023;

// Engine-wide state of the reporter.
struct ErrorReporterState {
    ErrorTextTable table;
    std::string caption = kErrorDialogCaptionDefault;  // ErrorDialogCaption
    bool dialog_shown = false;                          // ErrorDialogShown
    ErrorLocation location;
    std::string error_text;  // last text built (bounded, see kErrorTextLimit)
    std::string message;     // last formatted message
    uint32_t reports = 0;    // every report, shown or not
    uint32_t fatal_reports = 0;
    uint32_t fatal_failures = 0;  // fatal reports other than the credits

    // Set up by other parts at start-up (see the setters below).
    ScriptLocationProvider location_provider = nullptr;
    uint8_t edit_switch = 0;       // the zkcfg.zbn debug byte
    std::string game_folder;       // game path with a trailing '\'
    platform::WindowHandle dialog_owner = platform::kNoWindow;
    void (*show_cursor)() = nullptr;
};
ErrorReporterState& ErrorReporter();
// Back to the start-of-run state (tests).
void ResetErrorReporter();

// The edit switch (the zkcfg.zbn debug byte): 1 gives the error
// dialog its edit button.
void SetErrorEditSwitch(uint8_t value);
// The game folder (a game path ending in '\'), for the edit button's path.
void SetErrorGameFolder(std::string folder);
// The main window, owner of the error dialog; kNoWindow when it has none.
void SetErrorDialogOwner(platform::WindowHandle owner);
// Requests the cursor shown before the dialog (RequestCursorShow and
// ShowCursor); nullptr: nothing to do.
void SetErrorCursorHook(void (*show_cursor)());

// The bytes of zke.zbn into a table (the texts point into the bytes, which
// the table keeps). False for damaged data, leaving `table` unchanged.
bool ParseErrorTextTable(std::vector<uint8_t> bytes, ErrorTextTable& table);
// Makes `table` the one the reports take their texts from (the loaders
// in storage/startup_files.h read zke.zbn into it).
void InstallErrorTexts(ErrorTextTable table);
std::string_view LookupErrorText(uint32_t code);

const std::string& BuildScriptErrorText(uint32_t code, bool fatal);
const std::string& BuildErrorText(uint32_t code, bool fatal);

void ReportScriptErrorF(uint32_t code, bool fatal, std::span<const FormatArg> args);
void ReportEngineErrorF(uint32_t code, bool fatal, std::span<const FormatArg> args);
inline void ReportScriptErrorF(uint32_t code, bool fatal, std::initializer_list<FormatArg> args) {
    ReportScriptErrorF(code, fatal, std::span<const FormatArg>(args.begin(), args.size()));
}
inline void ReportEngineErrorF(uint32_t code, bool fatal, std::initializer_list<FormatArg> args) {
    ReportEngineErrorF(code, fatal, std::span<const FormatArg>(args.begin(), args.size()));
}
void ReportScriptError(uint32_t code, bool fatal);
void ReportEngineError(uint32_t code, bool fatal);

// Shown on the main thread; another thread waits for it there. A thread
// that holds EngineLock does not wait: its dialog comes when it lets go of
// the lock (the main thread may be waiting for that lock).
void ShowErrorDialog(const std::string& message);

// caption nullptr: no caption (the system's default). Returns the box's
// result. Threads as for ShowErrorDialog: a box put off until EngineLock is
// let go answers IDOK at once.
int ShowMessageBox(const char* caption, std::string_view format, std::span<const FormatArg> args);
inline int ShowMessageBox(const char* caption, std::string_view format, std::initializer_list<FormatArg> args = {}) {
    return ShowMessageBox(caption, format, std::span<const FormatArg>(args.begin(), args.size()));
}

// A fatal failure shown outside the numbered reports (the sound thread's
// own box): counted as a fatal report is, so that the run ends with exit
// code 1 and `number` on its closing line, and `number` goes to the UI as a
// report's does. Any thread.
void NoteFatalFailure(uint32_t number);

// The edit button's command line for a program (file-name part compared
// ignoring case with the known editors): the parameter text.
// `program` may be a whole path; its file-name part (after the last '/' or
// '\') is what is compared.
std::string EditorParameters(std::string_view program, std::string_view path, int32_t line);
// The arguments the edit button starts `program` with, for a host path: an
// editor common on Linux (vi, nano, emacs, gedit, ...: +L P; VS Code:
// --goto P:L; Kate, Sublime Text, Geany: P:L) gets its row's arguments; a
// known editor of the table above its parameter text split as its start-up
// code would split it; any other program gets the path as its one argument
// (a path with spaces stays whole).
std::vector<std::string> EditorArguments(std::string_view program, std::string_view host_path, int32_t line);

}  // namespace zk
