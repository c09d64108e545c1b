// Draws the script's EDIT field over window 0's picture: a white box with
// a thin edge, its text from the scroll position in a 14-pixel Gothic face,
// the composition in progress underlined after the caret, and the caret
// while the field has the focus. The field is drawn after every
// presentation of window 0, so the picture never covers it.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "core/window_record.h"
#include "system/script_edit.h"

namespace zk {

inline constexpr int32_t kScriptEditFontHeight = 14;

// The field's picture: B, G, R, X, top row first, width x height.
std::vector<uint8_t> RenderScriptEdit(const ScriptEditField& field);
// The width in pixels of a CP932 text in the field's face (half-width 7,
// double-byte 14: the Gothic face is monospaced).
int32_t ScriptEditTextWidth(std::string_view text);

void DrawScriptEditOverlay(const WindowRecord& record);
// Drops the field's rasteriser (engine reset).
void ResetScriptEditOverlay();

}  // namespace zk
