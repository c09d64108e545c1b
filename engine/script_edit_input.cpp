#include "engine/script_edit_input.h"

#include "base/text_encoding.h"
#include "platform/window_system.h"
#include "system/script_edit.h"

namespace zk {

void HandleScriptEditMessage(int window_number, uint32_t message, uint64_t wparam) {
    using namespace platform;
    if (window_number != 0) return;
    switch (message) {
        case WM_DESTROY:
            ResetScriptEdit();
            break;
        case WM_TEXT_INPUT:
            ScriptEditInsert(Utf8ToCp932(GetWindowSystem().TakeTextInput(wparam)));
            break;
        case WM_TEXT_COMPOSITION:
            ScriptEditComposition(Utf8ToCp932(GetWindowSystem().TakeTextInput(wparam)));
            break;
        case WM_KEYDOWN: {
            if (!ScriptEditState().focused) break;
            KeyboardState keys{};
            GetWindowSystem().GetKeyboardState(keys);
            if (wparam == 'V' && (keys[VK_CONTROL] & 0x80) != 0) {
                ScriptEditInsert(Utf8ToCp932(GetWindowSystem().ClipboardText()));
            } else {
                ScriptEditKey(static_cast<uint32_t>(wparam));
            }
            break;
        }
        default:
            break;
    }
}

}  // namespace zk
