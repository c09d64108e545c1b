// The script's one-line EDIT field (command 116 codes 10102-10105, 20005,
// 20006): a text of at most 256 characters at a rectangle of window 0's
// picture, with a caret and horizontal scrolling. SDL windows have no child
// controls, so the engine keeps the field here, edits it from the text
// input and key events of window 0, and draws it over window 0's picture.
// A new field replaces the old one; the field ends with window 0.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zk {

inline constexpr size_t kScriptEditMaxChars = 256;

struct ScriptEditField {
    bool exists = false;
    bool focused = false;
    int32_t x = 0, y = 0, width = 0, height = 0;
    std::string text;        // CP932
    size_t caret = 0;        // byte offset, at a character boundary
    size_t scroll = 0;       // first byte shown, at a character boundary
    std::string composition;  // input-method text not yet committed (CP932)
};

// A copy of the field's state (tests, drawing).
ScriptEditField ScriptEditState();

void CreateScriptEdit(std::string_view text, int32_t x, int32_t y, int32_t width, int32_t height);
void CloseScriptEdit();
void SetScriptEditText(std::string_view text);
std::string GetScriptEditText();
void FocusScriptEdit(bool focused);

// Editing, as the field's window procedure would: text typed or pasted
// (CP932; cut to the 256-character limit), the composition in progress,
// and the editing keys (Windows virtual-key numbers: VK_BACK, VK_DELETE,
// VK_LEFT, VK_RIGHT, VK_HOME, VK_END). Ignored unless the field exists and
// has the focus.
void ScriptEditInsert(std::string_view cp932);
void ScriptEditComposition(std::string_view cp932);
void ScriptEditKey(uint32_t virtual_key);

// Keeps the caret inside the shown part: `visible_bytes(from, to)` gives
// the width in pixels of text bytes [from, to).
void ScriptEditScrollToCaret(int32_t (*text_width)(std::string_view));

// Ends the field (window 0 destroyed, the engine reset).
void ResetScriptEdit();

}  // namespace zk
