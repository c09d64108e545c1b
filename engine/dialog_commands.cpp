#include "engine/dialog_commands.h"

#include <optional>

#include "base/nul_text.h"
#include "base/sjis.h"
#include "base/text_encoding.h"
#include "core/main_thread_calls.h"
#include "core/window_record.h"
#include "engine/input.h"
#include "platform/ui.h"
#include "platform/window_system.h"
#include "script/command_table.h"
#include "script/variables.h"

namespace zk {

namespace {

constexpr size_t kPasteLimit = 1024;

platform::WindowHandle MainWindow() {
    const WindowRecord* record = MainWindowRecord();
    return record != nullptr ? record->window : platform::kNoWindow;
}

// The answer of a box as the script numbers it: 1, 2, 3 for the buttons
// left to right.
int64_t ScriptAnswer(uint32_t type, int answer) {
    const bool yes_no = type == platform::MB_YESNO || type == platform::MB_YESNOCANCEL;
    if (yes_no) {
        switch (answer) {
            case platform::IDYES: return 1;
            case platform::IDNO: return 2;
            case platform::IDCANCEL: return 3;
            default: return 0;
        }
    }
    switch (answer) {
        case platform::IDOK: return 1;
        case platform::IDCANCEL: return 2;
        default: return 0;
    }
}

void StoreNumberInto(const CommandArgSlot* slot, int64_t value) {
    if (slot != nullptr) SetNumberElement(slot->var_number, slot->var_element, value);
}

int32_t ShowInputBox(const CommandArgBlock& args) {
    platform::InputBoxRequest request;
    request.owner = MainWindow();
    if (const CommandArgSlot* limit = args.Find(17)) request.limit = static_cast<int32_t>(limit->value);
    if (const CommandArgSlot* title = args.Find(0)) request.title = std::string(UpToNul(title->Text()));
    if (const CommandArgSlot* prompt = args.Find(1)) request.prompt = std::string(UpToNul(prompt->Text()));
    if (const CommandArgSlot* initial = args.Find(9)) request.initial = std::string(UpToNul(initial->Text()));
    // Read before the box: nothing else decodes while it is up, but the
    // block is the running command's.
    const CommandArgSlot* number_result = args.Find(11);
    const CommandArgSlot* text_result = args.Find(10);
    std::optional<std::string> entered;
    CallOnMainThread([&] { entered = platform::GetUi().InputBox(request); });
    if (!entered) return -1;
    StoreNumberInto(number_result, 1);
    if (text_result != nullptr) {
        SetStringElement(text_result->var_number, text_result->var_element,
                         SjisTruncate(*entered, platform::kDialogResultLimit));
    }
    return 0;
}

}  // namespace

std::string PastedText(std::string_view cp932) {
    std::string out;
    const std::string_view head = cp932.substr(0, std::min(cp932.size(), kPasteLimit));
    for (size_t i = 0; i < head.size();) {
        const uint8_t byte = static_cast<uint8_t>(head[i]);
        if (IsSjisLeadByte(byte)) {
            if (i + 1 >= head.size()) break;  // its trail byte is past the limit
            out.append(head.substr(i, 2));
            i += 2;
            continue;
        }
        if (byte >= 0x20) out.push_back(static_cast<char>(byte));
        ++i;
    }
    return out;
}

int32_t CmdCopyToClipboard() {
    if (DecodeCommandArgs(kCmdCopyToClipboard) != 0) return -1;
    const CommandArgBlock& args = Args();
    const CommandArgSlot* text = args.Find(1);
    if (args.Find(0) == nullptr || text == nullptr) return 0;
    const std::string utf8 = Cp932ToUtf8(UpToNul(text->Text()));
    CallOnMainThread([&] {
        if (platform::HasWindowSystem()) platform::GetWindowSystem().SetClipboardText(utf8);
    });
    return 0;
}

int32_t CmdPasteFromClipboard() {
    if (DecodeCommandArgs(kCmdPasteFromClipboard) != 0) return -1;
    const CommandArgBlock& args = Args();
    if (args.Find(0) == nullptr) return 0;
    const CommandArgSlot* result = args.Find(1);
    std::string utf8;
    CallOnMainThread([&] {
        if (platform::HasWindowSystem()) utf8 = platform::GetWindowSystem().ClipboardText();
    });
    if (utf8.empty()) return -1;
    const std::string text = PastedText(platform::DialogTextFromUtf8(utf8, false));
    if (result != nullptr) SetStringElement(result->var_number, result->var_element, text);
    return 0;
}

int32_t CmdMessageBox() {
    if (DecodeCommandArgs(kCmdMessageBox) != 0) return -1;
    const CommandArgBlock& args = Args();
    if (args.Given(20)) return 0;
    // The player needs the pointer for the box.
    RequestCursorShow();
    ApplyCursorRequest();
    if (args.Given(16)) return ShowInputBox(args);

    uint32_t style = 0;
    if (const CommandArgSlot* default_button = args.Find(18)) {
        if (default_button->value == 2) style |= platform::MB_DEFBUTTON2;
        if (default_button->value == 3) style |= platform::MB_DEFBUTTON3;
    }
    uint32_t type = platform::MB_OK;
    if (args.Given(15)) {
        type = platform::MB_YESNOCANCEL;
    } else if (args.Given(14)) {
        type = platform::MB_YESNO;
    } else if (args.Given(13)) {
        type = platform::MB_OKCANCEL;
    }
    style |= type;
    if (const CommandArgSlot* icon = args.Find(19)) {
        switch (icon->value) {
            case 1: style |= platform::MB_ICONINFORMATION; break;
            case 2: style |= platform::MB_ICONQUESTION; break;
            case 3: style |= platform::MB_ICONWARNING; break;
            case 4: style |= platform::MB_ICONERROR; break;
            default: break;
        }
    }
    const CommandArgSlot* caption_slot = args.Find(0);
    std::optional<std::string> caption;
    if (caption_slot != nullptr) caption = std::string(UpToNul(caption_slot->Text()));
    std::string text;
    if (const CommandArgSlot* message = args.Find(1)) text = std::string(UpToNul(message->Text()));
    const CommandArgSlot* number_result = args.Find(11);
    const platform::WindowHandle owner = MainWindow();
    int answer = 0;
    CallOnMainThread([&] {
        answer = platform::GetUi().MessageBox(owner, text, caption ? caption->c_str() : nullptr, style);
    });
    StoreNumberInto(number_result, ScriptAnswer(type, answer));
    return 0;
}

void RegisterDialogCommands() {
    RegisterCommandHandler(kCmdCopyToClipboard, CmdCopyToClipboard);
    RegisterCommandHandler(kCmdPasteFromClipboard, CmdPasteFromClipboard);
    RegisterCommandHandler(kCmdMessageBox, CmdMessageBox);
}

}  // namespace zk
