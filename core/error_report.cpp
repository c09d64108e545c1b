// Numbered error reporting: the zke.zbn table, the built-in
// texts, the four reporters, the error dialog with its edit button, and the
// plain message box.
//
// Every text from the table is a format written by others: it goes through
// FormatBounded with the arguments the caller supplied, never through printf.
#include "core/error_report.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <mutex>
#include <optional>

#include "base/ascii.h"
#include "base/byte_reader.h"
#include "core/engine_state.h"
#include "core/main_thread_calls.h"
#include "core/run_summary.h"
#include "base/sjis.h"
#include "platform/game_path.h"
#include "platform/ui.h"
#include "base/text_encoding.h"

namespace zk {

namespace {

constexpr size_t kMaxErrorTextRecords = 256;
// Room for an editor's parameter text (the longest Windows command line).
constexpr size_t kEditorParameterLimit = 32767;

// The texts are written here in UTF-8 and converted to CP932 once (Texts()).
struct BuiltInText {
    uint32_t code;
    std::string_view utf8;
};

constexpr std::string_view kCreditsNotice =
    "■ライセンスについて\n"
    "\n"
    "●Ogg Vorbis\n"
    "Copyright (c) 2002-2008 Xiph.org Foundation\n"
    "\n"
    "Redistribution and use in source and binary forms, with or without "
    "modification, are permitted provided that the following conditions are met:\n"
    "\n"
    "- Redistributions of source code must retain the above copyright notice, "
    "this list of conditions and the following disclaimer.\n"
    "\n"
    "- Redistributions in binary form must reproduce the above copyright notice, "
    "this list of conditions and the following disclaimer in the documentation "
    "and/or other materials provided with the distribution.\n"
    "\n"
    "- Neither the name of the Xiph.org Foundation nor the names of its "
    "contributors may be used to endorse or promote products derived from this "
    "software without specific prior written permission.\n"
    "\n"
    "THIS SOFTWARE IS PROVIDED BY THE COPYRIGHT HOLDERS AND CONTRIBUTORS "
    "``AS IS'' AND ANY EXPRESS OR IMPLIED WARRANTIES, INCLUDING, BUT NOT "
    "LIMITED TO, THE IMPLIED WARRANTIES OF MERCHANTABILITY AND FITNESS FOR "
    "A PARTICULAR PURPOSE ARE DISCLAIMED.  IN NO EVENT SHALL THE FOUNDATION "
    "OR CONTRIBUTORS BE LIABLE FOR ANY DIRECT, INDIRECT, INCIDENTAL, "
    "SPECIAL, EXEMPLARY, OR CONSEQUENTIAL DAMAGES (INCLUDING, BUT NOT "
    "LIMITED TO, PROCUREMENT OF SUBSTITUTE GOODS OR SERVICES; LOSS OF USE, "
    "DATA, OR PROFITS; OR BUSINESS INTERRUPTION) HOWEVER CAUSED AND ON ANY "
    "THEORY OF LIABILITY, WHETHER IN CONTRACT, STRICT LIABILITY, OR TORT "
    "(INCLUDING NEGLIGENCE OR OTHERWISE) ARISING IN ANY WAY OUT OF THE USE "
    "OF THIS SOFTWARE, EVEN IF ADVISED OF THE POSSIBILITY OF SUCH DAMAGE.\n"
    "\n"
    "http://www.xiph.org/\n"
    "\n"
    "●libpng\n"
    "Copyright (c) 1998-2008 Glenn Randers-Pehrson\n"
    "Copyright (c) 1996-1997 Andreas Dilger\n"
    "Copyright (c) 1995-1996 Guy Eric Schalnat, Group 42, Inc.\n"
    "\n"
    "The PNG Reference Library is supplied \"AS IS\". The Contributing Authors "
    "and Group 42, Inc. disclaim all warranties, expressed or implied, including, "
    "without limitation, the warranties of merchantability and of fitness for any "
    "purpose. Permission is granted to use, copy, modify, and distribute the source "
    "code, or portions hereof, for any purpose, without fee, provided that the origin "
    "is not misrepresented, altered versions are plainly marked as such, and the "
    "copyright notice is not removed or altered from any source distribution.\n"
    "\n"
    "http://www.libpng.org/pub/png/libpng.html\n"
    "\n"
    "●zlib 1.2.3\n"
    "(C) 1995-2005 Jean-loup Gailly and Mark Adler\n"
    "\n"
    "This software is provided 'as-is', without any express or implied "
    "warranty.  In no event will the authors be held liable for any damages "
    "arising from the use of this software.\n"
    "\n"
    "Permission is granted to anyone to use this software for any purpose, "
    "including commercial applications, and to alter it and redistribute it "
    "freely, subject to the following restrictions:\n"
    "\n"
    "1. The origin of this software must not be misrepresented; you must not "
    "claim that you wrote the original software. If you use this software "
    "in a product, an acknowledgment in the product documentation would be "
    "appreciated but is not required.\n"
    "2. Altered source versions must be plainly marked as such, and must not be "
    "misrepresented as being the original software.\n"
    "3. This notice may not be removed or altered from any source distribution.\n"
    "\n"
    "Jean-loup Gailly (jloup@gzip.org)\n"
    "Mark Adler (madler@alumni.caltech.edu)\n"
    "\n"
    "http://www.zlib.net/";

constexpr BuiltInText kBuiltInTexts[] = {
    {kErrLicenseNotice, kCreditsNotice},
    {kErrOutOfMemory, "メモリ不足です。"},
    {kErrFileUnreadable, "[%s]ファイルを\n読み込めませんでした。"},
    {kErrFileNoMemory, "メモリ不足のため[%s]ファイルを\n読み込めませんでした。"},
    {kErrFileMissing, "[%s]ファイルが\n存在しません。"},
    {kErrPackEntryDamaged, "パックファイル中に破損ファイルが見つかりました。\n\nPacFile = %s\nFile = %s"},
    {kErrTreeTooManyChildren, "フォルダの数が多すぎます。"},
    {kErrTreePathTooLong, "フォルダの階層が深すぎます。"},
    {kErrPackFormat, "パックファイル仕様が現在の仕様と一致しません。\n\n[%s]"},
    {kErrTooManyPacks, "パックファイルを同時に扱えるのは %d 個までです。"},
    {kErrTooManyPackEntries, "パックファイル内に含まれるファイルが、合計 %d 個を超えました。"},
    {kErrPackEntryTwice, "パックファイル内のファイル\n[%s]が\n重複しています。"},
    {kErrUnpackNoMemory, "メモリ不足により\n[%s]ファイルを展開出来ませんでした。"},
    {kErrUnpackBufferShort, "[内部エラー]\n\nバッファ不足により\n[%s]ファイルを展開出来ませんでした。"},
    {kErrPackNotOpened, "[内部エラー]\n\nパックファイル[%s]が\nオープンできませんでした。"},
};
constexpr size_t kBuiltInCount = std::size(kBuiltInTexts);
static_assert(kBuiltInCount == 15, "fifteen codes have built-in texts");

constexpr std::string_view kInternalErrorText =
    "[内部エラー]\n\nエラー文字列の指定ミスです。\nシステム開発者までお問い合わせください。";
constexpr std::string_view kLocationPrefix = "[対象ファイル]\n%s\n\n[場所]\n%d 行目\n\n[内容]\n\n";

struct Cp932Texts {
    std::array<std::string, kBuiltInCount> built_in;
    std::string internal_error;
    std::string location_prefix;
};

const Cp932Texts& Texts() {
    static const Cp932Texts texts = [] {
        Cp932Texts t;
        for (size_t i = 0; i < kBuiltInCount; ++i) t.built_in[i] = Utf8ToCp932(kBuiltInTexts[i].utf8);
        t.internal_error = Utf8ToCp932(kInternalErrorText);
        t.location_prefix = Utf8ToCp932(kLocationPrefix);
        return t;
    }();
    return texts;
}

const std::string* FindBuiltIn(uint32_t code) {
    for (size_t i = 0; i < kBuiltInCount; ++i)
        if (kBuiltInTexts[i].code == code) return &Texts().built_in[i];
    return nullptr;
}

// Reports come from the main thread, the game-loop thread and start-up. The
// shared texts are guarded while a report is built, but never while the
// dialog is up (the dialog may have to wait for the main thread, which may
// itself be reporting).
std::recursive_mutex& ReporterLock() {
    static std::recursive_mutex lock;
    return lock;
}

// The file name goes into the error text, which is then used as a format:
// each '%' is doubled so that the name prints as written.
std::string EscapePercent(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        out.push_back(c);
        if (c == '%') out.push_back('%');
    }
    return out;
}

// A text of ours longer than the bound (the credits notice) is kept whole.
size_t TextLimitFor(std::string_view text, size_t prefix_size) {
    return std::max(kErrorTextLimit, prefix_size + text.size());
}

void SetErrorText(ErrorReporterState& state, std::string_view prefix, std::string_view text, uint32_t code) {
    size_t limit = FindBuiltIn(code) != nullptr ? TextLimitFor(text, prefix.size()) : kErrorTextLimit;
    std::string joined;
    joined.reserve(prefix.size() + text.size());
    joined.append(prefix);
    joined.append(text);
    joined.resize(CutLength(joined, limit));
    state.error_text = std::move(joined);
}

std::string_view FileNamePartOf(std::string_view path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// EditorCommandTable: program, parameter format, and its arguments, where
// Q is the character '"', P the path and L the line.
enum class EditorArg : uint8_t { Q, P, L };
struct EditorCommand {
    std::string_view program;
    std::string_view format;
    std::array<EditorArg, 4> args;
    uint8_t arg_count;
};
using enum EditorArg;
constexpr EditorCommand kEditorCommandTable[] = {
    {"apsaly.exe", " /j%d %s", {L, P}, 2},
    {"EmEditor.exe", " %c%s%c /l %d", {Q, P, Q, L}, 4},
    {"Ginnie.exe", " %c%s%c /r%d", {Q, P, Q, L}, 4},
    {"GinnieFE.exe", " %c%s%c /r%d", {Q, P, Q, L}, 4},
    {"Jcref.exe", " %c%s%c /r%d", {Q, P, Q, L}, 4},
    {"JmEdit2.exe", " %c%s%c/%d", {Q, P, Q, L}, 4},
    {"K2Editor.exe", " %s /j%d", {P, L}, 2},
    {"MIW.exe", " %c%s+%d%c", {Q, P, L, Q}, 4},
    {"oseditor2.exe", " /j%d %s", {L, P}, 2},
    {"otbedit.exe", " %s /r%d", {P, L}, 2},
    {"QXW32.exe", " -J%d %c%s%c", {L, Q, P, Q}, 4},
    {"tepa.exe", " /j%d %c%s%c", {L, Q, P, Q}, 4},
    {"TeraPad.exe", " /jl=%d %s", {L, P}, 2},
    {"whinny.exe", " %c%s/%d%c", {Q, P, L, Q}, 4},
    {"WZEDITOR.exe", " %s /j%d", {P, L}, 2},
    {"sakura.exe", " %c%s%c -Y=%d", {Q, P, Q, L}, 4},
    {"hidemaru.exe", " /j%d %c%s%c", {L, Q, P, Q}, 4},
};
static_assert(std::size(kEditorCommandTable) == 17, "seventeen known editors");
constexpr std::string_view kOtherEditorFormat = " %s";

// Editors common on Linux, in the role of the table above: the arguments
// that open P at line L, each a template where %s is P and %d is L.
struct LinuxEditor {
    std::string_view program;
    std::array<std::string_view, 2> args;
    uint8_t arg_count;
};
constexpr LinuxEditor kLinuxEditorTable[] = {
    // vi-like and nano-like: +L P
    {"vi", {"+%d", "%s"}, 2},       {"vim", {"+%d", "%s"}, 2},    {"nvim", {"+%d", "%s"}, 2},
    {"gvim", {"+%d", "%s"}, 2},     {"nano", {"+%d", "%s"}, 2},   {"pico", {"+%d", "%s"}, 2},
    {"emacs", {"+%d", "%s"}, 2},    {"emacsclient", {"+%d", "%s"}, 2}, {"micro", {"+%d", "%s"}, 2},
    {"gedit", {"+%d", "%s"}, 2},    {"xed", {"+%d", "%s"}, 2},    {"pluma", {"+%d", "%s"}, 2},
    {"joe", {"+%d", "%s"}, 2},      {"mcedit", {"+%d", "%s"}, 2}, {"kak", {"+%d", "%s"}, 2},
    // VS Code and its builds: --goto P:L
    {"code", {"--goto", "%s:%d"}, 2}, {"codium", {"--goto", "%s:%d"}, 2}, {"code-oss", {"--goto", "%s:%d"}, 2},
    // P:L
    {"kate", {"%s:%d"}, 1},         {"subl", {"%s:%d"}, 1},       {"sublime_text", {"%s:%d"}, 1},
    {"geany", {"%s:%d"}, 1},
};

const LinuxEditor* FindLinuxEditor(std::string_view program) {
    std::string_view name = FileNamePartOf(program);
    for (const LinuxEditor& editor : kLinuxEditorTable)
        if (name == editor.program) return &editor;
    return nullptr;
}

// One argument of a Linux editor row: %s and %d filled, in one pass (the
// path may itself hold '%').
std::string FillEditorArgument(std::string_view format, std::string_view path, int32_t line) {
    std::string out;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size() && (format[i + 1] == 's' || format[i + 1] == 'd')) {
            out += format[i + 1] == 's' ? std::string(path) : std::to_string(line);
            ++i;
        } else {
            out += format[i];
        }
    }
    return out;
}

const EditorCommand* FindEditor(std::string_view program) {
    std::string_view name = FileNamePartOf(program);
    for (const EditorCommand& editor : kEditorCommandTable)
        if (AsciiEqualsIgnoreCase(name, editor.program)) return &editor;
    return nullptr;
}

constexpr std::string_view kNoEditorText =
    "スクリプトを開くエディタが見つかりません。\n\n"
    "環境変数 VISUAL か EDITOR にエディタを設定するか、\nテキストファイルを開くアプリケーションを設定してください。";
constexpr std::string_view kEditorNotStartedText = "エディタ[%s]を起動できませんでした。";

// The edit button: open the failing script line in the user's editor. The
// dialog stays open. The script's file name comes from the game data, so it
// is looked up inside the game folder only.
void OpenInEditor(const std::string& game_folder, const std::string& file, int32_t line) {
    std::optional<std::string> host_path = platform::ToHostPathUnder(game_folder, file);
    if (!host_path) return;  // names nothing inside the game folder
    std::string program = platform::FindTextEditor();
    // The button always answers: without an editor, or when it cannot be
    // started, a box says so (the error dialog stays open).
    if (program.empty()) {
        platform::GetUi().MessageBox(platform::kNoWindow, Utf8ToCp932(kNoEditorText), nullptr,
                                     platform::MB_SYSTEMMODAL);
        return;
    }
    if (!platform::LaunchProgram(program, EditorArguments(program, *host_path, line))) {
        std::string text = FormatBounded(Utf8ToCp932(kEditorNotStartedText),
                                         {std::string_view(Utf8ToCp932(program))}, kErrorTextLimit);
        platform::GetUi().MessageBox(platform::kNoWindow, text, nullptr, platform::MB_SYSTEMMODAL);
    }
}

}  // namespace

ErrorReporterState& ErrorReporter() {
    static ErrorReporterState state;
    return state;
}

void ResetErrorReporter() {
    std::lock_guard guard(ReporterLock());
    ErrorReporter() = ErrorReporterState{};
}

void SetScriptLocationProvider(ScriptLocationProvider provider) {
    std::lock_guard guard(ReporterLock());
    ErrorReporter().location_provider = provider;
}
void SetErrorEditSwitch(uint8_t value) {
    std::lock_guard guard(ReporterLock());
    ErrorReporter().edit_switch = value;
}
void SetErrorGameFolder(std::string folder) {
    std::lock_guard guard(ReporterLock());
    ErrorReporter().game_folder = std::move(folder);
}
void SetErrorDialogOwner(platform::WindowHandle owner) {
    std::lock_guard guard(ReporterLock());
    ErrorReporter().dialog_owner = owner;
}
void SetErrorCursorHook(void (*show_cursor)()) {
    std::lock_guard guard(ReporterLock());
    ErrorReporter().show_cursor = show_cursor;
}

// zke.zbn: 8 bytes not read, uint32 count, 4 bytes not read, then count
// records of uint32 code + NUL-terminated text. Damaged data: a short
// header, a count above 256, or a record running past the end.
bool ParseErrorTextTable(std::vector<uint8_t> bytes, ErrorTextTable& table) {
    struct Record {
        uint32_t code;
        size_t offset;
        size_t length;
    };
    std::vector<Record> records;
    ByteReader reader(bytes);
    if (!reader.Skip(8)) return false;
    std::optional<uint32_t> count = reader.U32();
    if (!count || !reader.Skip(4)) return false;
    if (*count > kMaxErrorTextRecords) return false;
    for (uint32_t i = 0; i < *count; ++i) {
        std::optional<uint32_t> code = reader.U32();
        if (!code) return false;
        size_t offset = reader.Offset();
        std::optional<std::string_view> text = reader.CString();
        if (!text) return false;
        records.push_back({*code, offset, text->size()});
    }

    // Offsets, not views, were kept: moving the bytes keeps their heap block.
    ErrorTextTable parsed;
    parsed.file_bytes = std::move(bytes);
    parsed.count = static_cast<int32_t>(records.size());
    const char* base = reinterpret_cast<const char*>(parsed.file_bytes.data());
    for (size_t i = 0; i < records.size(); ++i) {
        parsed.codes[i] = records[i].code;
        parsed.texts[i] = std::string_view(base + records[i].offset, records[i].length);
    }
    table = std::move(parsed);
    return true;
}

void InstallErrorTexts(ErrorTextTable table) {
    std::lock_guard guard(ReporterLock());
    ErrorReporter().table = std::move(table);
}

std::string_view LookupErrorText(uint32_t code) {
    const ErrorTextTable& table = ErrorReporter().table;
    int32_t count = std::clamp<int32_t>(table.count, 0, static_cast<int32_t>(kMaxErrorTextRecords));
    const std::string_view* from_table = nullptr;
    for (int32_t i = 0; i < count; ++i) {
        if (table.codes[i] == code) {
            from_table = &table.texts[i];
            break;
        }
    }
    if (const std::string* built_in = FindBuiltIn(code)) return *built_in;
    if (from_table != nullptr) return *from_table;
    return Texts().internal_error;
}

const std::string& BuildScriptErrorText(uint32_t code, bool fatal) {
    std::lock_guard guard(ReporterLock());
    ErrorReporterState& state = ErrorReporter();
    state.location = ErrorLocation{};
    std::string_view text = LookupErrorText(code);

    ScriptLocation where;
    if (state.location_provider != nullptr && state.location_provider(where)) {
        std::string prefix = FormatBounded(Texts().location_prefix,
                                           {std::string_view(EscapePercent(where.file)), int64_t{where.line}},
                                           kErrorTextLimit);
        SetErrorText(state, prefix, text, code);
        state.location = ErrorLocation{true, std::move(where.file), where.line};
    } else {
        SetErrorText(state, {}, text, code);
    }
    if (fatal) QuitFlag = 1;
    return state.error_text;
}

const std::string& BuildErrorText(uint32_t code, bool fatal) {
    std::lock_guard guard(ReporterLock());
    ErrorReporterState& state = ErrorReporter();
    state.location = ErrorLocation{};
    SetErrorText(state, {}, LookupErrorText(code), code);
    if (fatal) QuitFlag = 1;
    return state.error_text;
}

namespace {

// The common tail of the four reporters: format, count, tell the UI the
// number, show.
void Deliver(uint32_t code, const std::string& text, bool fatal, std::span<const FormatArg> args) {
    std::string message;
    bool credits = false;
    {
        std::lock_guard guard(ReporterLock());
        ErrorReporterState& state = ErrorReporter();
        state.message = FormatBounded(text, args, std::max(kErrorTextLimit, text.size()));
        ++state.reports;
        if (fatal) ++state.fatal_reports;
        // The credits are shown through the reporter, fatally so that the
        // engine stops, but they are what was asked for, not a failure.
        credits = text == LookupErrorText(kErrLicenseNotice);
        if (fatal && !credits) {
            ++state.fatal_failures;
            NoteFatalError(code);
        }
        message = state.message;
    }
    // Every error, shown or not: a headless run names each number on
    // stderr, whatever text the table gave it.
    if (!credits) platform::GetUi().ErrorNumber(code);
    ShowErrorDialog(message);
}

}  // namespace

// Each reporter holds the lock while its text is built and copied, so that
// another thread's report cannot replace the text in between.
void ReportScriptErrorF(uint32_t code, bool fatal, std::span<const FormatArg> args) {
    std::unique_lock guard(ReporterLock());
    std::string text = BuildScriptErrorText(code, fatal);
    guard.unlock();
    Deliver(code, text, fatal, args);
}

void ReportEngineErrorF(uint32_t code, bool fatal, std::span<const FormatArg> args) {
    std::unique_lock guard(ReporterLock());
    std::string text = BuildErrorText(code, fatal);
    guard.unlock();
    Deliver(code, text, fatal, args);
}

void ReportScriptError(uint32_t code, bool fatal) { ReportScriptErrorF(code, fatal, std::span<const FormatArg>()); }

void ReportEngineError(uint32_t code, bool fatal) { ReportEngineErrorF(code, fatal, std::span<const FormatArg>()); }

void ShowErrorDialog(const std::string& message) {
    platform::ErrorDialogRequest request;
    void (*show_cursor)() = nullptr;
    {
        std::lock_guard guard(ReporterLock());
        ErrorReporterState& state = ErrorReporter();
        // Only the first report of a run is shown; later reports have
        // already raised the QuitFlag when fatal.
        if (state.dialog_shown) return;
        state.dialog_shown = true;
        show_cursor = state.show_cursor;

        request.caption = state.caption;
        request.message = message;
        request.owner = state.dialog_owner;
        if (state.edit_switch != 1) {
            request.edit = platform::ErrorDialogRequest::EditButton::kAbsent;
        } else if (!state.location.has_file) {
            request.edit = platform::ErrorDialogRequest::EditButton::kDisabled;
        } else {
            request.edit = platform::ErrorDialogRequest::EditButton::kEnabled;
            // The location as it is now: a later report may overwrite it
            // while the dialog is up.
            std::string folder = state.game_folder;
            std::string file = state.location.file;
            int32_t line = state.location.line;
            request.on_edit = [folder, file, line] { OpenInEditor(folder, file, line); };
        }
    }
    // Dialogs belong to the main thread; a report from another thread waits
    // there until the dialog is closed, but never while it holds the engine
    // lock (the main thread may be waiting for that lock): then the dialog
    // comes once the lock is let go.
    auto show = [request = std::move(request), show_cursor] {
        CallOnMainThread([&] {
            if (show_cursor != nullptr) show_cursor();
            platform::GetUi().ErrorDialog(request);
        });
    };
    if (!OnMainThread() && EngineLock.HeldHere()) {
        EngineLock.RunAfterRelease(std::move(show));
        return;
    }
    show();
}

int ShowMessageBox(const char* caption, std::string_view format, std::span<const FormatArg> args) {
    std::optional<std::string> caption_text;
    if (caption != nullptr) caption_text = caption;
    auto show = [text = FormatBounded(format, args, kErrorTextLimit), caption_text] {
        int result = 0;
        CallOnMainThread([&] {
            result = platform::GetUi().MessageBox(platform::kNoWindow, text,
                                                  caption_text ? caption_text->c_str() : nullptr,
                                                  platform::MB_SYSTEMMODAL);
        });
        return result;
    };
    // As for the error dialog. The box put off cannot answer this call,
    // which gets what the box's only button answers.
    if (!OnMainThread() && EngineLock.HeldHere()) {
        EngineLock.RunAfterRelease([show = std::move(show)] { show(); });
        return platform::MessageBoxDefaultAnswer(platform::MB_SYSTEMMODAL);
    }
    return show();
}

void NoteFatalFailure(uint32_t number) {
    {
        std::lock_guard guard(ReporterLock());
        ++ErrorReporter().fatal_failures;
        NoteFatalError(number);
    }
    platform::GetUi().ErrorNumber(number);
}

std::string EditorParameters(std::string_view program, std::string_view path, int32_t line) {
    const EditorCommand* editor = FindEditor(program);
    if (editor == nullptr) return FormatBounded(kOtherEditorFormat, {path}, kEditorParameterLimit);
    std::array<FormatArg, 4> args;
    for (uint8_t i = 0; i < editor->arg_count; ++i) {
        switch (editor->args[i]) {
            case Q: args[i] = int64_t{'"'}; break;
            case P: args[i] = path; break;
            case L: args[i] = int64_t{line}; break;
        }
    }
    return FormatBounded(editor->format, std::span<const FormatArg>(args.data(), editor->arg_count),
                         kEditorParameterLimit);
}

std::vector<std::string> EditorArguments(std::string_view program, std::string_view host_path, int32_t line) {
    if (const LinuxEditor* editor = FindLinuxEditor(program)) {
        std::vector<std::string> args;
        for (uint8_t i = 0; i < editor->arg_count; ++i) args.push_back(FillEditorArgument(editor->args[i], host_path, line));
        return args;
    }
    if (FindEditor(program) == nullptr) return {std::string(host_path)};
    return platform::SplitCommandLine(EditorParameters(program, host_path, line));
}

}  // namespace zk
