// The SDL2 UI: message boxes and the error dialog as SDL message boxes.
//
// What SDL cannot do, and what stands in for it:
// - Owner window: our WindowHandle cannot be turned into an SDL_Window here
//   (the window system keeps that map), so every box has no parent window.
//   MB_SYSTEMMODAL has no SDL counterpart either; boxes are modal to the
//   calling thread only (SDL blocks it until a button is pressed).
// - MB_ICONQUESTION: SDL has no question icon; the information icon is used.
// - Mnemonics: SDL buttons have no '&' access keys. Box buttons use the
//   plain labels of MessageBoxButtons; the error dialog keeps the letter as
//   text ("編集(E)", "終了(X)").
// - A disabled button: SDL cannot show one, so the error dialog's edit
//   button is left out when it is disabled (kDisabled looks like kAbsent).
// - Closing a box from the window manager (SDL answers -1): the box's Esc
//   answer; an MB_YESNO box (no Esc answer; Windows does not let it close)
//   answers IDNO, the answer that changes nothing. The error dialog, which
//   Windows does not let close either, takes it as the exit button.
// - No display (SDL_ShowMessageBox fails): that one box goes to the stderr
//   back end instead, which answers its default.
#include <SDL.h>

#include <string>
#include <vector>

#include "platform/game_path.h"
#include "platform/ui.h"
#include "base/text_encoding.h"

namespace zk::platform {

namespace {

constexpr const char* kEditLabel = "編集(E)";  // 編集(&E)
constexpr const char* kExitLabel = "終了(X)";  // 終了(&X)
constexpr int kClosed = -1;                    // SDL: closed without a button

Uint32 IconFlags(uint32_t flags) {
    switch (flags & MB_ICONMASK) {
        case MB_ICONERROR: return SDL_MESSAGEBOX_ERROR;
        case MB_ICONWARNING: return SDL_MESSAGEBOX_WARNING;
        case MB_ICONINFORMATION:
        case MB_ICONQUESTION: return SDL_MESSAGEBOX_INFORMATION;
        default: return 0;
    }
}

// Shows one box; false when SDL could not show it. Buttons are given left to
// right as Windows places them.
bool Show(Uint32 flags, const std::string& title, const std::string& message,
          const std::vector<SDL_MessageBoxButtonData>& buttons, int& pressed) {
    SDL_MessageBoxData data{};
    data.flags = flags | SDL_MESSAGEBOX_BUTTONS_LEFT_TO_RIGHT;
    data.window = nullptr;  // see the top of the file
    data.title = title.c_str();
    data.message = message.c_str();
    data.numbuttons = static_cast<int>(buttons.size());
    data.buttons = buttons.data();
    data.colorScheme = nullptr;
    pressed = kClosed;
    return SDL_ShowMessageBox(&data, &pressed) == 0;
}

class SdlUi final : public Ui {
public:
    int MessageBox(WindowHandle owner, std::string_view text, const char* caption, uint32_t flags) override {
        const std::vector<MessageBoxButton> layout = MessageBoxButtons(flags);
        std::vector<SDL_MessageBoxButtonData> buttons;
        int closed_answer = IDNO;  // MB_YESNO: see the top of the file
        for (const MessageBoxButton& b : layout) {
            Uint32 button_flags = 0;
            if (b.is_default) button_flags |= SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT;
            if (b.is_escape) {
                button_flags |= SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT;
                closed_answer = b.id;
            }
            buttons.push_back(SDL_MessageBoxButtonData{button_flags, b.id, b.label});
        }
        const std::string title = caption ? Cp932ToUtf8(caption) : std::string(kDefaultBoxCaptionUtf8);
        int pressed = kClosed;
        if (!Show(IconFlags(flags), title, DialogTextToUtf8(text), buttons, pressed)) {
            return fallback_->MessageBox(owner, text, caption, flags);
        }
        return pressed == kClosed ? closed_answer : pressed;
    }

    // The dialog stays up while the edit button is pressed: each press runs
    // on_edit and shows it again, the way IDD_ZKE stays open.
    int ErrorDialog(const ErrorDialogRequest& request) override {
        const bool edit = request.edit == ErrorDialogRequest::EditButton::kEnabled;
        std::vector<SDL_MessageBoxButtonData> buttons;
        if (edit) {
            buttons.push_back({SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, kErrorDialogEditButton, kEditLabel});
            buttons.push_back({SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, kErrorDialogExitButton, kExitLabel});
        } else {
            buttons.push_back({SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT | SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT,
                               kErrorDialogExitButton, kExitLabel});
        }
        const std::string title = Cp932ToUtf8(request.caption);
        const std::string message = DialogTextToUtf8(request.message);
        for (;;) {
            int pressed = kClosed;
            // No icon: the error dialog has none, and the credits notice
            // (License Information) is shown in this dialog too.
            if (!Show(0, title, message, buttons, pressed)) {
                return fallback_->ErrorDialog(request);
            }
            if (pressed != kErrorDialogEditButton) return kErrorDialogExitButton;
            if (request.on_edit) request.on_edit();
        }
    }

private:
    std::unique_ptr<Ui> fallback_ = CreateStderrUi();
};

}  // namespace

std::unique_ptr<Ui> CreateSdlUi() { return std::make_unique<SdlUi>(); }

}  // namespace zk::platform
