// Dialogs: message boxes and the engine's error dialog. Back ends: SDL2
// message boxes; stderr when headless (every box answers its default);
// a recording double for tests. Texts arrive as CP932 bytes and are
// converted here.
//
// Threading: main thread only (SDL dialogs, like every SDL window call, run
// on the main thread).
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

// The error dialog's controls.
constexpr int kErrorDialogEditButton = 1033;  // "編集(&E)"
constexpr int kErrorDialogExitButton = 1034;  // "終了(&X)"

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
    // Where the menu opens: below this rectangle of the owner's client
    // area when `below_rect` is set (a menu bar caption), else at the
    // pointer.
    bool below_rect = false;
    int32_t rect_x = 0, rect_y = 0, rect_width = 0, rect_height = 0;
};

struct ErrorDialogRequest {
    enum class EditButton { kAbsent, kDisabled, kEnabled };
    std::string caption;  // CP932
    std::string message;  // CP932, LF line breaks
    EditButton edit = EditButton::kAbsent;
    WindowHandle owner = kNoWindow;
    // Called each time the edit button is pressed; the dialog stays open.
    std::function<void()> on_edit;
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
    uint32_t PopupMenu(const PopupMenuRequest& request) override;
    // The numbers received so far, in order.
    std::vector<uint32_t> ErrorNumbers() const;

    void QueueAnswer(int answer) { answers_.push_back(answer); }
    void PressEditTimes(int times) { edit_presses_ = times; }
    // A popup's choice; without one it is dismissed (0).
    void QueuePopupChoice(uint32_t id) { popup_choices_.push_back(id); }

    std::vector<Box> boxes;
    std::vector<Dialog> dialogs;
    std::vector<PopupMenuRequest> popups;

private:
    std::deque<int> answers_;
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
