// Commands 26 (set the text style of a slot) and 27 (read the style, the
// font list, or the size of a character).
#include <string>

#include "base/sjis.h"
#include "core/error_report.h"
#include "layers/text_buffer.h"
#include "layers/text_draw.h"
#include "layers/text_style.h"
#include "script/arg_decoder.h"
#include "script/command_table.h"
#include "script/compiled_tables.h"
#include "script/variables.h"

namespace zk {

namespace {

void ReportKeywordError(uint32_t code, uint8_t command, uint32_t keyword, std::initializer_list<FormatArg> values) {
    const std::string name(CommandName(command));
    const std::string keyword_name(KeywordName(command, keyword));
    std::vector<FormatArg> args = {FormatArg(name), FormatArg(keyword_name)};
    args.insert(args.end(), values.begin(), values.end());
    ReportScriptErrorF(code, true, std::span<const FormatArg>(args.data(), args.size()));
}

// A font number n (1-based) against the list: false after reporting 101010
// or 101240.
bool FontNumberAcceptable(uint8_t command, uint32_t keyword, int64_t n) {
    if (n < 1) {
        ReportKeywordError(kErrBelowMinimum, command, keyword, {n, int64_t{1}});
        return false;
    }
    if (n > GetFontCount()) {
        ReportKeywordError(kErrFontNumberTooLarge, command, keyword, {n, int64_t{GetFontCount()}});
        return false;
    }
    return true;
}

// Keyword k's operator and value over slot 0's value as the buffer head
// holds it, with the row's limits.
int64_t Combined(const CommandArgSlot& slot, int64_t old_value, int64_t maximum) {
    return ApplyArgOperatorClamped(static_cast<uint8_t>(slot.op), old_value, slot.value, 0, maximum);
}

}  // namespace

int32_t CmdSetTextStyle() {
    if (DecodeCommandArgs(kCmdSetTextStyle) != 0) return -1;
    const CommandArgBlock& args = Args();
    if (const CommandArgSlot* slot = args.Find(0)) {
        // The slot indexes eight records: anything else is refused rather
        // than taken for a slot that does not exist.
        if (slot->value < 0 || slot->value >= kTextSlotCount) {
            ReportKeywordError(kErrOutOfRange, kCmdSetTextStyle, 0,
                               {slot->value, int64_t{0}, int64_t{kTextSlotCount - 1}});
            return -1;
        }
        SelectFontSlot(static_cast<int32_t>(slot->value));
    }
    if (const CommandArgSlot* font = args.Find(1)) {
        if (!FontNumberAcceptable(kCmdSetTextStyle, 1, font->value)) return -1;
        SetSlotFontIndex(static_cast<int32_t>(font->value - 1));
    }
    if (const CommandArgSlot* face = args.Find(2)) SelectFaceByName(face->Text());

    TextStyle& style = CurrentTextSlot().style;
    TextBufferStyle& head = TheTextBuffer().style;
    const bool slot0 = TheFontList().current == 0;
    if (const CommandArgSlot* smoothing = args.Find(3)) {
        style.smoothing = static_cast<uint8_t>(smoothing->value);
        if (slot0) head.smoothing = style.smoothing;
    }
    if (const CommandArgSlot* k = args.Find(4)) {
        const auto value = static_cast<uint32_t>(Combined(*k, head.colour, 0xFFFFFF));
        style.colour = value;
        if (slot0) head.colour = value;
    }
    if (const CommandArgSlot* k = args.Find(5)) {
        const auto value = static_cast<uint32_t>(Combined(*k, head.second_colour, 0xFFFFFF));
        style.second_colour = value;
        if (slot0) head.second_colour = static_cast<int32_t>(value);
    }
    auto byte_field = [&](uint32_t keyword, uint8_t TextStyle::*field, uint8_t TextBufferStyle::*head_field,
                          int64_t maximum) {
        const CommandArgSlot* k = args.Find(keyword);
        if (k == nullptr) return;
        const auto value = static_cast<uint8_t>(Combined(*k, head.*head_field, maximum));
        style.*field = value;
        if (slot0) head.*head_field = value;
    };
    byte_field(6, &TextStyle::gradient_layout, &TextBufferStyle::gradient_layout, 8);
    byte_field(7, &TextStyle::orientation, &TextBufferStyle::orientation, 8);
    byte_field(8, &TextStyle::draw_mode, &TextBufferStyle::draw_mode, 1);
    if (const CommandArgSlot* k = args.Find(9)) {
        const auto value = static_cast<int32_t>(Combined(*k, head.size, kMaxGlyphSize));
        style.size = value;
        if (slot0) head.size = value;
    }
    if (const CommandArgSlot* k = args.Find(10)) {
        const auto value = static_cast<int32_t>(Combined(*k, head.height, kMaxGlyphSize));
        style.height = value;
        if (slot0) head.height = value;
    }
    if (const CommandArgSlot* k = args.Find(11)) {
        const auto value = static_cast<int32_t>(Combined(*k, head.bold, 1));
        style.bold = value;
        if (slot0) head.bold = static_cast<uint8_t>(value);
    }
    SelectFontSlot(0);
    return 0;
}

int32_t CmdQueryTextStyle() {
    if (DecodeCommandArgs(kCmdQueryTextStyle) != 0) return -1;
    const CommandArgBlock& args = Args();
    const TextBufferStyle& head = TheTextBuffer().style;
    const CommandArgSlot* result = args.Find(18);
    const int64_t n = args.Given(0) ? args.Find(0)->value : int64_t{GetSlotFontIndex()} + 1;
    auto given_as_one = [&](uint32_t keyword) { return args.Given(keyword) && args.Find(keyword)->value == 1; };
    auto store = [&](int64_t value) {
        if (result != nullptr) SetNumberElement(result->var_number, result->var_element, value);
        return 0;
    };

    if (args.Given(2)) return store(head.smoothing);
    if (args.Given(3)) return store(head.colour);
    if (args.Given(4)) return store(head.second_colour);
    if (args.Given(5)) return store(head.gradient_layout);
    if (args.Given(6)) return store(head.orientation);
    if (args.Given(7)) return store(head.draw_mode);
    if (args.Given(8)) return store(head.size);
    if (args.Given(9)) return store(head.height);
    if (args.Given(10)) return store(head.bold);
    if (given_as_one(11)) return store(GetFontCount());
    if (args.Given(12)) return store(0);
    if (args.Given(14) || args.Given(15)) {
        // Without a text there is no character to measure: 0.
        const CommandArgSlot* text = args.Find(17);
        if (text == nullptr || text->Text().empty()) return store(0);
        const std::string_view characters = text->Text();
        const std::string_view first = characters.substr(0, SjisCharLength(characters, 0));
        const GlyphExtent extent = RasteriseGlyph(first, head.size, head.height, head.bold, head.smoothing);
        return store(args.Given(14) ? extent.width : extent.height);
    }
    if (given_as_one(1)) {
        if (!FontNumberAcceptable(kCmdQueryTextStyle, 0, n)) return -1;
        if (result != nullptr) SetStringElement(result->var_number, result->var_element, GetFontName(int32_t(n - 1)));
        return 0;
    }
    if (given_as_one(13)) {
        if (!FontNumberAcceptable(kCmdQueryTextStyle, 0, n)) return -1;
        return store(GetFontScriptFlag(int32_t(n - 1)));
    }
    return store(0);
}

void RegisterTextStyleCommands() {
    RegisterCommandHandler(kCmdSetTextStyle, CmdSetTextStyle);
    RegisterCommandHandler(kCmdQueryTextStyle, CmdQueryTextStyle);
}

}  // namespace zk
