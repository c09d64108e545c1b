// The UI switchboard (GetUi/InstallUi), the button layout every back end
// shares, the recording double, and the helpers the error dialog's edit
// button needs: splitting a Windows parameter text, finding the user's
// editor and starting it.
#include "platform/ui.h"

#include <atomic>
#include <cstdlib>
#include <string>

#include "base/sjis.h"
#include "base/text_encoding.h"
#include "platform/desktop_association.h"
#include "platform/process_launch.h"

namespace zk::platform {

namespace {

// Non-owning: the installer keeps its Ui alive. Atomic so that a test
// installing a double and a thread reading it never tear.
std::atomic<Ui*> g_installed_ui{nullptr};

Ui& StderrUi() {
    static const std::unique_ptr<Ui> ui = CreateStderrUi();
    return *ui;
}

}  // namespace

Ui& GetUi() {
    Ui* ui = g_installed_ui.load(std::memory_order_acquire);
    return ui ? *ui : StderrUi();
}

void InstallUi(Ui* ui) { g_installed_ui.store(ui, std::memory_order_release); }

std::string DialogTextToUtf8(std::string_view cp932) {
    std::string text;
    text.reserve(cp932.size());
    for (size_t i = 0; i < cp932.size(); ++i) {
        if (cp932[i] == '\r') {
            if (i + 1 < cp932.size() && cp932[i + 1] == '\n') continue;
            text.push_back('\n');
        } else {
            text.push_back(cp932[i]);
        }
    }
    return Cp932ToUtf8(text);
}

std::string DialogTextFromUtf8(std::string_view utf8, bool crlf) {
    std::string text;
    text.reserve(utf8.size());
    size_t i = 0;
    while (i < utf8.size()) {
        const uint8_t lead = static_cast<uint8_t>(utf8[i]);
        if (lead < 0x80) {
            if (lead == '\n' && crlf) text.push_back('\r');
            text.push_back(static_cast<char>(lead));
            ++i;
            continue;
        }
        size_t length = 0;
        if (lead >= 0xC2 && lead <= 0xDF) length = 2;
        else if (lead >= 0xE0 && lead <= 0xEF) length = 3;
        else if (lead >= 0xF0 && lead <= 0xF4) length = 4;
        bool valid = length != 0 && i + length <= utf8.size();
        for (size_t k = 1; valid && k < length; ++k) valid = (static_cast<uint8_t>(utf8[i + k]) & 0xC0) == 0x80;
        if (!valid) {
            text.push_back('?');
            ++i;
            continue;
        }
        const std::string_view character = utf8.substr(i, length);
        const std::string converted = Utf8ToCp932(character);
        // The converter passes what it cannot convert through unchanged.
        if (converted == character || converted.empty() || converted.size() > 2) {
            text.push_back('?');
        } else {
            text += converted;
        }
        i += length;
    }
    return text;
}

size_t SjisCharacterCount(std::string_view cp932) {
    size_t count = 0;
    for (size_t i = 0; i < cp932.size(); i += SjisCharLength(cp932, i)) ++count;
    return count;
}

std::string_view LimitCharacters(std::string_view cp932, int32_t limit) {
    if (limit <= 0) return cp932;
    size_t i = 0;
    for (int32_t count = 0; i < cp932.size() && count < limit; ++count) i += SjisCharLength(cp932, i);
    return cp932.substr(0, i);
}

std::string MnemonicsToGtk(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size() + 4);
    for (size_t i = 0; i < utf8.size(); ++i) {
        const char c = utf8[i];
        if (c == '&') {
            if (i + 1 < utf8.size() && utf8[i + 1] == '&') {
                out.push_back('&');
                ++i;
            } else if (i + 1 < utf8.size()) {
                out.push_back('_');
            }
            // A lone '&' at the end marks nothing and is dropped.
        } else if (c == '_') {
            out += "__";
        } else {
            out.push_back(c);
        }
    }
    return out;
}

// --- Buttons ---------------------------------------------------------------

std::vector<MessageBoxButton> MessageBoxButtons(uint32_t flags) {
    std::vector<MessageBoxButton> buttons;
    switch (flags & MB_TYPEMASK) {
        case MB_OKCANCEL:
            buttons = {{IDOK, "OK", false, false}, {IDCANCEL, "キャンセル", false, true}};
            break;
        case MB_YESNOCANCEL:
            buttons = {{IDYES, "はい", false, false},
                       {IDNO, "いいえ", false, false},
                       {IDCANCEL, "キャンセル", false, true}};
            break;
        case MB_YESNO:
            buttons = {{IDYES, "はい", false, false}, {IDNO, "いいえ", false, false}};
            break;
        default:  // MB_OK, and the types the engine never asks for
            buttons = {{IDOK, "OK", false, true}};
            break;
    }
    size_t default_index = (flags & MB_DEFMASK) >> 8;
    if (default_index >= buttons.size()) default_index = 0;
    buttons[default_index].is_default = true;
    return buttons;
}

int MessageBoxDefaultAnswer(uint32_t flags) {
    for (const MessageBoxButton& button : MessageBoxButtons(flags)) {
        if (button.is_default) return button.id;
    }
    return IDOK;  // not reached: MessageBoxButtons always marks one
}

// --- RecordingUi -----------------------------------------------------------

int RecordingUi::MessageBox(WindowHandle owner, std::string_view text, const char* caption, uint32_t flags) {
    Box box{owner, std::string(text), std::nullopt, flags};
    if (caption) box.caption = caption;
    boxes.push_back(std::move(box));
    if (!answers_.empty()) {
        int answer = answers_.front();
        answers_.pop_front();
        return answer;
    }
    return MessageBoxDefaultAnswer(flags);
}

int RecordingUi::ErrorDialog(const ErrorDialogRequest& request) {
    dialogs.push_back(Dialog{request.caption, request.message, request.edit, request.owner});
    if (request.edit == ErrorDialogRequest::EditButton::kEnabled && request.on_edit) {
        for (int i = 0; i < edit_presses_; ++i) request.on_edit();
    }
    return kErrorDialogExitButton;
}

std::optional<std::string> RecordingUi::InputBox(const InputBoxRequest& request) {
    input_boxes.push_back(request);
    std::optional<std::string> typed = request.initial;
    if (!input_typing_.empty()) {
        typed = std::move(input_typing_.front());
        input_typing_.pop_front();
    }
    if (!typed) return std::nullopt;
    return std::string(SjisTruncate(LimitCharacters(*typed, request.limit), kDialogResultLimit));
}

TextEntryResult RecordingUi::TextEntry(const TextEntryRequest& request) {
    text_entry_boxes.push_back(request);
    if (text_entries_.empty()) return TextEntryResult{};  // as headless: not shown
    TextEntryResult result = std::move(text_entries_.front());
    text_entries_.pop_front();
    return result;
}

std::optional<std::string> RecordingUi::BrowseFolder(const FolderRequest& request) {
    folder_boxes.push_back(request);
    if (folders_.empty()) return std::nullopt;
    std::optional<std::string> folder = std::move(folders_.front());
    folders_.pop_front();
    return folder;
}

std::optional<std::string> RecordingUi::SaveFile(const SaveFileRequest& request) {
    save_boxes.push_back(request);
    if (save_files_.empty()) return std::nullopt;
    std::optional<std::string> file = std::move(save_files_.front());
    save_files_.pop_front();
    return file;
}

uint32_t RecordingUi::PopupMenu(const PopupMenuRequest& request) {
    popups.push_back(request);
    if (popup_choices_.empty()) return 0;
    const uint32_t id = popup_choices_.front();
    popup_choices_.pop_front();
    return id;
}

void RecordingUi::ErrorNumber(uint32_t code) {
    std::lock_guard guard(numbers_lock_);
    error_numbers_.push_back(code);
}

std::vector<uint32_t> RecordingUi::ErrorNumbers() const {
    std::lock_guard guard(numbers_lock_);
    return error_numbers_;
}

// --- SplitCommandLine ------------------------------------------------------

// The MSVC runtime's parse_cmdline (the parameter part; the program name has
// its own simpler rule and is not part of the text here), with _MBCS
// lead-byte handling.
std::vector<std::string> SplitCommandLine(std::string_view text) {
    std::vector<std::string> args;
    size_t i = 0;
    const size_t n = text.size();
    auto is_blank = [&](size_t k) { return k < n && (text[k] == ' ' || text[k] == '\t'); };
    for (;;) {
        while (is_blank(i)) ++i;
        if (i >= n) break;
        std::string arg;
        bool in_quotes = false;
        for (;;) {
            bool copy = true;
            size_t slashes = 0;
            while (i < n && text[i] == '\\') {
                ++i;
                ++slashes;
            }
            if (i < n && text[i] == '"') {
                if (slashes % 2 == 0) {
                    if (in_quotes && i + 1 < n && text[i + 1] == '"') {
                        ++i;  // "" inside quotes: a literal quote, still quoted
                    } else {
                        copy = false;
                        in_quotes = !in_quotes;
                    }
                }
                slashes /= 2;
            }
            arg.append(slashes, '\\');
            if (i >= n || (!in_quotes && is_blank(i))) break;
            if (copy) {
                arg.push_back(text[i]);
                // A lead byte takes its trail byte along, whatever it is.
                if (IsSjisLeadByte(static_cast<uint8_t>(text[i])) && i + 1 < n) arg.push_back(text[++i]);
            }
            ++i;
        }
        args.push_back(std::move(arg));
    }
    return args;
}

// --- FindTextEditor --------------------------------------------------------

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// The program of an $EDITOR-style value. The value is meant for a shell, so
// a quoted first word ('...' or "...") is taken whole; otherwise the first
// word is the program. A value that as a whole names an executable file is a
// path with spaces and is kept as it is.
std::string EditorProgram(std::string_view value) {
    while (!value.empty() && IsSpace(value.front())) value.remove_prefix(1);
    while (!value.empty() && IsSpace(value.back())) value.remove_suffix(1);
    if (value.empty()) return {};
    std::string whole(value);
    if (whole.find('/') != std::string::npos && access(whole.c_str(), X_OK) == 0) return whole;
    if (value.front() == '"' || value.front() == '\'') {
        size_t close = value.find(value.front(), 1);
        if (close != std::string_view::npos) return std::string(value.substr(1, close - 1));
    }
    size_t end = 0;
    while (end < value.size() && !IsSpace(value[end])) ++end;
    return std::string(value.substr(0, end));
}

}  // namespace

std::string FindTextEditor() {
    for (const char* name : {"VISUAL", "EDITOR"}) {
        const char* value = std::getenv(name);
        if (!value) continue;
        std::string program = EditorProgram(value);
        if (!program.empty()) return program;
    }
    return DesktopProgramFor("text/plain");
}

// --- LaunchProgram ---------------------------------------------------------

// posix_spawnp reports a program that cannot be started, so "could not be
// started" is exact. Launches are rare (the error dialog's edit button), so
// a reaping thread for each is cheap.
bool LaunchProgram(const std::string& program, const std::vector<std::string>& arguments) {
    const int32_t pid = StartChildProcess(program, arguments, true);
    if (pid < 0) return false;
    ReapChildInBackground(pid);
    return true;
}

}  // namespace zk::platform
