#include "system/script_edit.h"

#include <mutex>

#include "base/sjis.h"

namespace zk {

namespace {

// The field is edited by the window procedure (main thread) and read and
// set by scripts (possibly the game-loop thread).
std::mutex field_lock;
ScriptEditField field;

constexpr uint32_t kVkBack = 0x08, kVkEnd = 0x23, kVkHome = 0x24, kVkLeft = 0x25, kVkRight = 0x27, kVkDelete = 0x2E;

size_t CharCount(std::string_view text) {
    size_t count = 0;
    for (size_t i = 0; i < text.size(); i += SjisCharLength(text, i)) ++count;
    return count;
}

// The first `chars` characters of the text.
std::string_view FirstChars(std::string_view text, size_t chars) {
    size_t i = 0;
    for (size_t n = 0; i < text.size() && n < chars; ++n) i += SjisCharLength(text, i);
    return text.substr(0, i);
}

size_t PreviousChar(std::string_view text, size_t at) {
    size_t i = 0, previous = 0;
    while (i < at && i < text.size()) {
        previous = i;
        i += SjisCharLength(text, i);
    }
    return previous;
}

void SetTextLocked(std::string_view text) {
    field.text = std::string(FirstChars(text, kScriptEditMaxChars));
    field.caret = 0;
    field.scroll = 0;
    field.composition.clear();
}

}  // namespace

ScriptEditField ScriptEditState() {
    std::lock_guard<std::mutex> hold(field_lock);
    return field;
}

void CreateScriptEdit(std::string_view text, int32_t x, int32_t y, int32_t width, int32_t height) {
    std::lock_guard<std::mutex> hold(field_lock);
    field = ScriptEditField{};
    field.exists = true;
    field.x = x, field.y = y, field.width = width, field.height = height;
    SetTextLocked(text);
}

void CloseScriptEdit() {
    std::lock_guard<std::mutex> hold(field_lock);
    field = ScriptEditField{};
}

void SetScriptEditText(std::string_view text) {
    std::lock_guard<std::mutex> hold(field_lock);
    if (field.exists) SetTextLocked(text);
}

std::string GetScriptEditText() {
    std::lock_guard<std::mutex> hold(field_lock);
    return field.exists ? field.text : std::string();
}

void FocusScriptEdit(bool focused) {
    std::lock_guard<std::mutex> hold(field_lock);
    if (field.exists) field.focused = focused;
}

void ScriptEditInsert(std::string_view cp932) {
    std::lock_guard<std::mutex> hold(field_lock);
    if (!field.exists || !field.focused) return;
    field.composition.clear();
    const size_t room = kScriptEditMaxChars - std::min(kScriptEditMaxChars, CharCount(field.text));
    // Line breaks end a paste into a one-line field.
    std::string_view typed = cp932.substr(0, cp932.find_first_of("\r\n"));
    typed = FirstChars(typed, room);
    field.text.insert(field.caret, typed);
    field.caret += typed.size();
}

void ScriptEditComposition(std::string_view cp932) {
    std::lock_guard<std::mutex> hold(field_lock);
    if (field.exists && field.focused) field.composition = std::string(cp932);
}

void ScriptEditKey(uint32_t virtual_key) {
    std::lock_guard<std::mutex> hold(field_lock);
    if (!field.exists || !field.focused) return;
    std::string& text = field.text;
    switch (virtual_key) {
        case kVkBack:
            if (field.caret > 0) {
                const size_t previous = PreviousChar(text, field.caret);
                text.erase(previous, field.caret - previous);
                field.caret = previous;
            }
            break;
        case kVkDelete:
            if (field.caret < text.size()) text.erase(field.caret, SjisCharLength(text, field.caret));
            break;
        case kVkLeft:
            if (field.caret > 0) field.caret = PreviousChar(text, field.caret);
            break;
        case kVkRight:
            if (field.caret < text.size()) field.caret += SjisCharLength(text, field.caret);
            break;
        case kVkHome: field.caret = 0; break;
        case kVkEnd: field.caret = text.size(); break;
        default: break;
    }
    if (field.scroll > field.caret) field.scroll = field.caret;
}

void ScriptEditScrollToCaret(int32_t (*text_width)(std::string_view)) {
    std::lock_guard<std::mutex> hold(field_lock);
    if (!field.exists) return;
    if (field.scroll > field.caret) field.scroll = field.caret;
    const int32_t room = field.width > 4 ? field.width - 4 : 1;
    while (field.scroll < field.caret &&
           text_width(std::string_view(field.text).substr(field.scroll, field.caret - field.scroll)) > room) {
        field.scroll += SjisCharLength(field.text, field.scroll);
    }
}

void ResetScriptEdit() { CloseScriptEdit(); }

}  // namespace zk
