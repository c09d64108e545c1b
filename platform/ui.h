// Dialogs and popup menus: message boxes, the engine's error dialog, the
// input box, the text-entry box, the folder browser, the save dialog and
// popup menus. Back ends: GTK 3 on the UI thread (platform/ui_thread.h);
// SDL2 message boxes where GTK cannot open the display (no other dialog
// there); stderr when headless (every box answers its default); a
// recording double for tests. Texts arrive as CP932 bytes and are
// converted here; paths are host paths (UTF-8).
//
// Threading: main thread only (SDL dialogs, like every SDL window call, run
// on the main thread; the GTK back end hands its work to the UI thread and
// keeps the engine's windows painted while it waits).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/window_messages.h"

namespace zk::platform {

// MessageBox flags and results (Windows values).
enum MessageBoxFlags : uint32_t {
    MB_OK = 0x0,
    MB_OKCANCEL = 0x1,
    MB_YESNOCANCEL = 0x3,
    MB_YESNO = 0x4,
    MB_TYPEMASK = 0xF,
    MB_ICONERROR = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONWARNING = 0x30,
    MB_ICONINFORMATION = 0x40,
    MB_ICONMASK = 0xF0,
    MB_DEFBUTTON2 = 0x100,
    MB_DEFBUTTON3 = 0x200,
    MB_DEFMASK = 0xF00,
    MB_SYSTEMMODAL = 0x1000,
};
enum MessageBoxResult : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

// The buttons of a box type (flags & MB_TYPEMASK), left to right as Windows
// lays them out, with a Japanese system's labels (UTF-8; "はい" and "いいえ"
// without their "(&Y)"/"(&N)" mnemonics, which the back ends cannot show).
// Types other than MB_OK, MB_OKCANCEL, MB_YESNOCANCEL and MB_YESNO (the
// engine uses no others) are shown as MB_OK. `is_default`: the button Enter
// presses (MB_DEFBUTTONn; a number past the last button means the first, as
// on Windows). `is_escape`: the button Esc presses (Cancel, or OK in an
// MB_OK box; none in an MB_YESNO box, where Windows ignores Esc).
struct MessageBoxButton {
    int id;  // MessageBoxResult
    const char* label;
    bool is_default;
    bool is_escape;
};
std::vector<MessageBoxButton> MessageBoxButtons(uint32_t flags);
// The answer of the default button: IDOK for MB_OK, IDYES for MB_YESNO, ...
int MessageBoxDefaultAnswer(uint32_t flags);

// What the back ends show for a box whose caption is null: the system
// caption of a Japanese desktop (UTF-8).
inline constexpr const char* kDefaultBoxCaptionUtf8 = "エラー";

// A CP932 dialog text as UTF-8 with LF line breaks: CR LF and a lone CR
// become LF (the engine's texts mix both; CR and LF are never trail bytes,
// and a dialog would draw a CR as a glyph).
std::string DialogTextToUtf8(std::string_view cp932);

// UTF-8 from a dialog back to CP932: a character CP932 lacks, or a byte
// that is no UTF-8, becomes '?'; with `crlf` each LF becomes CR LF.
std::string DialogTextFromUtf8(std::string_view utf8, bool crlf);

// Characters in a CP932 text (a double-byte character is one).
size_t SjisCharacterCount(std::string_view cp932);
// The first `limit` characters of a CP932 text (0: the whole text).
std::string_view LimitCharacters(std::string_view cp932, int32_t limit);

// '&' mnemonics (UTF-8) as GTK writes them: "&x" becomes "_x", "&&" a
// literal '&', and a literal '_' is doubled.
std::string MnemonicsToGtk(std::string_view utf8);

// What a dialog hands back at most (bytes, the terminator not counted).
inline constexpr size_t kDialogResultLimit = 4095;

// The error dialog's controls.
constexpr int kErrorDialogEditButton = 1033;  // "編集(&E)"
constexpr int kErrorDialogExitButton = 1034;  // "終了(&X)"

struct ErrorDialogRequest {
    enum class EditButton { kAbsent, kDisabled, kEnabled };
    std::string caption;  // CP932
    std::string message;  // CP932, LF line breaks
    EditButton edit = EditButton::kAbsent;
    WindowHandle owner = kNoWindow;
    // Called each time the edit button is pressed; the dialog stays open.
    std::function<void()> on_edit;
};

// The input box: a title, a centred prompt, an edit with the initial text
// and an OK button. Only OK (or Enter) ends it.
struct InputBoxRequest {
    WindowHandle owner = kNoWindow;
    std::string title;    // CP932
    std::string prompt;   // CP932
    std::string initial;  // CP932
    // The most characters the edit takes (a double-byte character is one);
    // 0: no limit but the result's size.
    int32_t limit = 0;
};

// The text-entry box ("編集"): a multi-line edit with OK and Cancel.
struct TextEntryRequest {
    WindowHandle owner = kNoWindow;
    std::string initial;  // CP932, CR LF line breaks
};
struct TextEntryResult {
    enum class Outcome { kNotShown, kOk, kCancel };
    Outcome outcome = Outcome::kNotShown;
    std::string text;  // kOk: the text (CP932, CR LF line breaks)
};

// The folder browser.
struct FolderRequest {
    WindowHandle owner = kNoWindow;
    std::string initial_folder;  // host path; empty: the back end's choice
    std::string title;           // CP932
};

// The save dialog: one filter; the dialog asks before it overwrites a file.
struct SaveFileRequest {
    WindowHandle owner = kNoWindow;
    std::string title;           // CP932
    std::string filter_name;     // CP932, e.g. "PNG File(*.png)"
    std::string pattern;         // e.g. "*.png"
    std::string initial_folder;  // host path; empty: the back end's choice
    std::string initial_name;    // CP932 file name
};

// A popup menu. Texts are CP932 with '&' before a mnemonic letter ("&&" a
// literal '&').
struct PopupMenuItem {
    enum class Kind { kCommand, kSeparator, kSubmenu };
    Kind kind = Kind::kCommand;
    std::string text;
    uint32_t id = 0;  // kCommand: what choosing it answers (never 0)
    bool enabled = true;
    bool checked = false;
    std::vector<PopupMenuItem> children;  // kSubmenu
};
struct PopupMenuRequest {
    WindowHandle owner = kNoWindow;
    std::vector<PopupMenuItem> items;
    // Where the menu opens: below this rectangle of the owner's window as
    // the host shows it (a docked menu strip's rows included) when
    // `below_rect` is set (a menu bar caption), else at the pointer.
    bool below_rect = false;
    int32_t rect_x = 0, rect_y = 0, rect_width = 0, rect_height = 0;
};

class Ui {
public:
    virtual ~Ui() = default;
    // caption null: the system's default caption. Returns a MessageBoxResult.
    virtual int MessageBox(WindowHandle owner, std::string_view text, const char* caption, uint32_t flags) = 0;
    // Blocks until the exit button; returns kErrorDialogExitButton.
    virtual int ErrorDialog(const ErrorDialogRequest& request) = 0;
    // The number of every numbered error report, shown in a dialog or not,
    // just before its dialog (the credits notice of "/info" is no error and
    // has no number here). Called on the reporting thread (any thread,
    // unlike the calls above); back ends that do nothing with it keep this
    // default. The stderr back end prints "error NNNNNN".
    virtual void ErrorNumber(uint32_t /*code*/) {}

    // The entered text (CP932), or nullopt when the box cannot be shown.
    virtual std::optional<std::string> InputBox(const InputBoxRequest&) { return std::nullopt; }
    virtual TextEntryResult TextEntry(const TextEntryRequest&) { return {}; }
    // The chosen folder (host path), or nullopt after a cancel or when no
    // browser can be shown.
    virtual std::optional<std::string> BrowseFolder(const FolderRequest&) { return std::nullopt; }
    // The chosen file (host path), or nullopt after a cancel or when no
    // dialog can be shown.
    virtual std::optional<std::string> SaveFile(const SaveFileRequest&) { return std::nullopt; }
    // Shows the menu and waits: the chosen item's id, or 0 when the menu
    // was dismissed or cannot be shown.
    virtual uint32_t PopupMenu(const PopupMenuRequest&) { return 0; }
};

Ui& GetUi();
// Not owned: the caller keeps `ui` alive while it is installed. nullptr
// restores the stderr back end.
void InstallUi(Ui* ui);

std::unique_ptr<Ui> CreateSdlUi();
std::unique_ptr<Ui> CreateStderrUi();
class UiThread;
// The GTK back end on `thread`, which must outlive it; null when the
// thread has no GTK (its display did not open). Boxes GTK fails to show go
// to the SDL back end.
std::unique_ptr<Ui> CreateGtkUi(UiThread& thread);

// Test double: records every box; answers from a queue, then with the
// default button (MessageBoxDefaultAnswer: IDOK for MB_OK boxes, IDYES for
// MB_YESNO boxes). Error dialogs can be scripted to press the edit button a
// number of times before exit: every dialog whose edit button is enabled
// calls on_edit that many times (the count is kept, not used up).
class RecordingUi final : public Ui {
public:
    struct Box {
        WindowHandle owner;
        std::string text;
        std::optional<std::string> caption;  // nullopt = null caption
        uint32_t flags;
    };
    struct Dialog {
        std::string caption;
        std::string message;
        ErrorDialogRequest::EditButton edit;
        WindowHandle owner;
    };

    int MessageBox(WindowHandle owner, std::string_view text, const char* caption, uint32_t flags) override;
    int ErrorDialog(const ErrorDialogRequest& request) override;
    void ErrorNumber(uint32_t code) override;
    // The numbers received so far, in order.
    std::vector<uint32_t> ErrorNumbers() const;

    std::optional<std::string> InputBox(const InputBoxRequest& request) override;
    TextEntryResult TextEntry(const TextEntryRequest& request) override;
    std::optional<std::string> BrowseFolder(const FolderRequest& request) override;
    std::optional<std::string> SaveFile(const SaveFileRequest& request) override;
    uint32_t PopupMenu(const PopupMenuRequest& request) override;

    void QueueAnswer(int answer) { answers_.push_back(answer); }
    void PressEditTimes(int times) { edit_presses_ = times; }
    // The input box: the player clears the edit, types `typed` (CP932)
    // into it as far as its limit lets them, and presses OK. Without a
    // queued entry the box is closed with OK at once (the initial text).
    // nullopt: the box cannot be shown.
    void QueueInputTyping(std::optional<std::string> typed) { input_typing_.push_back(std::move(typed)); }
    // The text-entry box's answer; without one it is not shown (as
    // headless).
    void QueueTextEntry(TextEntryResult result) { text_entries_.push_back(std::move(result)); }
    // The folder browser's and the save dialog's answers; without one they
    // are cancelled.
    void QueueFolder(std::optional<std::string> folder) { folders_.push_back(std::move(folder)); }
    void QueueSaveFile(std::optional<std::string> file) { save_files_.push_back(std::move(file)); }
    // A popup's choice; without one it is dismissed (0).
    void QueuePopupChoice(uint32_t id) { popup_choices_.push_back(id); }

    std::vector<Box> boxes;
    std::vector<Dialog> dialogs;
    std::vector<InputBoxRequest> input_boxes;
    std::vector<TextEntryRequest> text_entry_boxes;
    std::vector<FolderRequest> folder_boxes;
    std::vector<SaveFileRequest> save_boxes;
    std::vector<PopupMenuRequest> popups;

private:
    std::deque<int> answers_;
    std::deque<std::optional<std::string>> input_typing_;
    std::deque<TextEntryResult> text_entries_;
    std::deque<std::optional<std::string>> folders_;
    std::deque<std::optional<std::string>> save_files_;
    std::deque<uint32_t> popup_choices_;
    int edit_presses_ = 0;
    mutable std::mutex numbers_lock_;  // numbers come from any thread
    std::vector<uint32_t> error_numbers_;
};

// Starts a program without a shell: `program` is looked up on PATH when it
// has no '/'. Program and arguments are host strings (UTF-8), passed as
// they are. Returns false when it could not be started (not found, not
// executable). Does not wait: a detached thread waits for the child, so no
// zombie remains and no SIGCHLD handler is needed.
bool LaunchProgram(const std::string& program, const std::vector<std::string>& arguments);

// The program the user opens text files with ($VISUAL, then $EDITOR; an
// empty variable counts as unset; then the desktop's program for text/plain,
// platform/desktop_association.h), as a host path or name; empty when none
// is set. A value with arguments ("code --wait") gives only its program.
std::string FindTextEditor();

// Splits a Windows-style parameter text (CP932) into arguments, the way a
// program's start-up code (the MSVC runtime) would: spaces and tabs
// separate; double quotes group and are removed; "" inside a quoted part is
// a literal quote; 2n backslashes before a quote give n backslashes (the
// quote groups), 2n+1 give n and a literal quote; other backslashes are
// literal. A double-byte character is one unit (a trail byte 0x5C is no
// backslash). The arguments stay CP932.
std::vector<std::string> SplitCommandLine(std::string_view text);

}  // namespace zk::platform
