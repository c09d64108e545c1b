#include "script/variable_conversions.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <new>

#include "base/format.h"
#include "base/nul_text.h"
#include "base/sjis.h"
#include "base/sjis_case_width.h"
#include "base/system_text.h"
#include "core/error_report.h"
#include "script/arg_decoder.h"
#include "script/command_table.h"
#include "script/compiled_tables.h"
#include "script/expr_eval.h"
#include "script/variables.h"

namespace zk {

namespace {

// Keywords.
constexpr uint32_t kSource = 0;
constexpr uint32_t kDestination = 1;
constexpr uint32_t kRemove = 2;
constexpr uint32_t kSubstring = 3;
constexpr uint32_t kStart = 4;
constexpr uint32_t kCount = 5;
constexpr uint32_t kNumberText = 6;
constexpr uint32_t kUpperAscii = 7;
constexpr uint32_t kUpperCp932 = 8;
constexpr uint32_t kLowerAscii = 9;
constexpr uint32_t kLowerCp932 = 10;
constexpr uint32_t kFullWidth = 11;
constexpr uint32_t kHalfWidth = 12;
constexpr uint32_t kResize = 13;
constexpr uint32_t kInsert = 14;
constexpr uint32_t kDelete = 15;
constexpr uint32_t kReset = 16;
constexpr uint32_t kIntegerGroups = 17;  // 17..20
constexpr uint32_t kRealGroups = 21;     // 21..24
constexpr uint32_t kTextGroups = 25;     // 25..28

// Texts built by the width conversions fit a 4096-byte buffer with its NUL.
constexpr size_t kWidthLimit = kTextBufferSize - 1;

struct Element {
    uint32_t number = 0;
    int64_t element = 0;
    const ScriptVariable* variable = nullptr;
    uint8_t Type() const { return variable != nullptr ? variable->type : uint8_t{kVariableNone}; }
};

Element ElementOf(const CommandArgSlot* slot) {
    if (slot == nullptr) return {};
    return {slot->var_number, slot->var_element, FindVariable(slot->var_number)};
}

std::string TextOf(const Element& e) {
    const std::string* text = GetStringElement(e.number, e.element);
    return text != nullptr ? std::string(UpToNul(*text)) : std::string();
}

int32_t Fail(uint32_t code) {
    ReportScriptError(code, true);
    return -1;
}

// ---- option 6 -----------------------------------------------------------------

int32_t ConvertNumberText(const Element& source, const Element& destination) {
    const uint8_t from = source.Type();
    const uint8_t to = destination.Type();
    const bool from_number = from == kVariableInteger || from == kVariableReal;
    const bool to_number = to == kVariableInteger || to == kVariableReal;
    if (from_number && to == kVariableText) {
        std::array<char, 400> buffer{};  // the longest "%f" of a double is 317 bytes
        std::to_chars_result r =
            from == kVariableInteger
                ? std::to_chars(buffer.data(), buffer.data() + buffer.size(), GetIntegerElement(source.number, source.element))
                : std::to_chars(buffer.data(), buffer.data() + buffer.size(), GetRealElement(source.number, source.element),
                                std::chars_format::fixed, 6);
        const size_t length = r.ec == std::errc() ? static_cast<size_t>(r.ptr - buffer.data()) : 0;
        SetStringElement(destination.number, destination.element, std::string_view(buffer.data(), length));
        return 0;
    }
    if (from == kVariableText && to_number) {
        uint32_t error = 0;
        std::optional<ParsedNumber> parsed = ParseNumberText(TextOf(source), error);
        if (!parsed) return error != 0 ? Fail(error) : -1;
        if (parsed->is_real) SetRealElement(destination.number, destination.element, parsed->real);
        else SetNumberElement(destination.number, destination.element, parsed->integer);
        return 0;
    }
    return Fail(kErrConversionTypes);
}

// ---- options 2 and 3 ----------------------------------------------------------------

int32_t EditSubstring(const CommandArgBlock& args, bool removal, const Element& source,
                      const CommandArgSlot* destination_slot) {
    if (source.Type() != kVariableText) return Fail(kErrNotText);
    Element target = source;
    if (destination_slot != nullptr) {
        target = ElementOf(destination_slot);
        if (target.Type() != kVariableText) return Fail(kErrNotText);
    }
    const std::string text = TextOf(source);
    const CommandArgSlot* start = args.Find(kStart);
    const CommandArgSlot* count = args.Find(kCount);
    size_t begin = 0, end = 0;
    switch (ResolveCharacterRange(text, start != nullptr ? start->value : 0, count != nullptr ? count->value : 0, begin, end)) {
        case 1: return Fail(removal ? kErrRemoveStart : kErrSubstringStart);
        case 2: return Fail(removal ? kErrRemoveLength : kErrSubstringLength);
        default: break;
    }
    const std::string result = removal ? text.substr(0, begin) + text.substr(end) : text.substr(begin, end - begin);
    SetStringElement(target.number, target.element, result);
    return 0;
}

// ---- options 7 to 12 ------------------------------------------------------------------

int32_t ConvertText(uint32_t option, const Element& source, const Element& destination) {
    // The destination is where these options write: without one there is
    // nothing to convert into.
    if (source.Type() != kVariableText || destination.Type() != kVariableText) return Fail(kErrNotText);
    std::string text = TextOf(source);
    switch (option) {
        case kUpperAscii: UpperCaseAscii(text); break;
        case kLowerAscii: SjisLowerAsciiInPlace(text); break;
        case kUpperCp932: text = UpperCaseCp932(text); break;
        case kLowerCp932: text = LowerCaseCp932(text); break;
        case kFullWidth: text = ToFullWidth(text, kWidthLimit); break;
        case kHalfWidth: text = ToHalfWidth(text, kWidthLimit); break;
        default: break;
    }
    StoreStringElement(destination.number, destination.element, text);
    return 0;
}

// ---- options 13 to 15 ------------------------------------------------------------------

int32_t ShowArrayMessage(const char* utf8_text) {
    ShowMessageBox(nullptr, Sjis(utf8_text));
    return -1;
}

// The variable of the array options: a script variable of one dimension.
// System variables keep the shapes the engine reads them by.
ScriptVariable* OneDimensionalArray(uint32_t number, uint32_t option) {
    ScriptVariable* variable = FindVariable(number);
    if (variable == nullptr) {
        ReportScriptError(kErrVariableMissing, true);
        return nullptr;
    }
    if (number < kFirstScriptVariable) {
        ReportScriptError(kErrSystemVariableReadOnly, true);
        return nullptr;
    }
    if (variable->dimension_count != 1) {
        if (option == kResize) ShowArrayMessage("配列サイズを変更しようとしましたが、この変数は１次元配列ではありません。");
        else if (option == kInsert) ShowArrayMessage("配列挿入処理をしようとしましたが、この変数は１次元配列ではありません。");
        else ShowArrayMessage("配列削除処理をしようとしましたが、この変数は１次元配列ではありません。");
        return nullptr;
    }
    return variable;
}

// Element `to` := element `from`, or the type's empty value when from < 0.
void MoveElement(ScriptVariable& v, size_t to, int64_t from) {
    switch (v.type) {
        case kVariableInteger: v.integers[to] = from < 0 ? 0 : v.integers[static_cast<size_t>(from)]; break;
        case kVariableReal: v.reals[to] = from < 0 ? 0.0 : v.reals[static_cast<size_t>(from)]; break;
        case kVariableText:
            if (from < 0) v.texts[to].clear();
            else v.texts[to].swap(v.texts[static_cast<size_t>(from)]);
            break;
        default: break;
    }
}

size_t HeldElements(const ScriptVariable& v) {
    switch (v.type) {
        case kVariableInteger: return v.integers.size();
        case kVariableReal: return v.reals.size();
        case kVariableText: return v.texts.size();
        default: return 0;
    }
}

int32_t InsertOrDelete(uint32_t option, uint32_t number, int64_t index) {
    ScriptVariable* v = OneDimensionalArray(number, option);
    if (v == nullptr) return -1;
    // The size the record gives, bounded by the elements it holds.
    const int64_t n = std::min<int64_t>(v->sizes[0], static_cast<int64_t>(HeldElements(*v)));
    if (n <= 0) return 0;
    // A negative index names no element: refused before anything moves.
    if (index < 0) return Fail(kErrSubscriptRange);
    if (option == kInsert) {
        // Elements k..N-2 move up one place (N-1 is lost), k becomes empty;
        // from N-1 on only the last element is cleared.
        const int64_t k = std::min(index, n - 1);
        for (int64_t i = n - 1; i > k; --i) MoveElement(*v, static_cast<size_t>(i), i - 1);
        MoveElement(*v, static_cast<size_t>(k), -1);
    } else {
        for (int64_t i = index; i + 1 < n; ++i) MoveElement(*v, static_cast<size_t>(i), i + 1);
        MoveElement(*v, static_cast<size_t>(n - 1), -1);
    }
    return 0;
}

int32_t ResizeArray(const CommandArgSlot& slot, uint32_t number) {
    ScriptVariable* v = OneDimensionalArray(number, kResize);
    if (v == nullptr) return -1;
    const int64_t n = v->sizes[0];
    const int64_t size = ApplyArgOperator(static_cast<uint8_t>(slot.op), n, slot.value);
    if (size <= 0) return ShowArrayMessage("変更後の配列サイズが不正です。");
    if (size == n) return 0;
    return ResizeVariableArray(number, size);
}

}  // namespace

// ---- text helpers ---------------------------------------------------------------------

void UpperCaseAscii(std::string& text) {
    for (size_t i = 0; i < text.size();) {
        const size_t step = SjisCharLength(text, i);
        if (step == 1 && text[i] >= 'a' && text[i] <= 'z') text[i] = static_cast<char>(text[i] - 'a' + 'A');
        i += step;
    }
}

namespace {

std::string MapCase(std::string_view text, bool upper) {
    std::string out(text);
    for (size_t i = 0; i < out.size();) {
        const size_t step = SjisCharLength(out, i);
        if (step == 2) {
            const uint16_t code = static_cast<uint16_t>(static_cast<uint8_t>(out[i]) << 8 | static_cast<uint8_t>(out[i + 1]));
            const uint16_t mapped = upper ? Cp932UpperCase(code) : Cp932LowerCase(code);
            out[i] = static_cast<char>(mapped >> 8);
            out[i + 1] = static_cast<char>(mapped & 0xFF);
        } else if (upper && out[i] >= 'a' && out[i] <= 'z') {
            out[i] = static_cast<char>(out[i] - 'a' + 'A');
        } else if (!upper && out[i] >= 'A' && out[i] <= 'Z') {
            out[i] = static_cast<char>(out[i] - 'A' + 'a');
        }
        i += step;
    }
    return out;
}

}  // namespace

std::string UpperCaseCp932(std::string_view text) { return MapCase(text, true); }
std::string LowerCaseCp932(std::string_view text) { return MapCase(text, false); }

std::string ToFullWidth(std::string_view text, size_t limit) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const size_t step = SjisCharLength(text, i);
        std::array<char, 2> bytes = {text[i], step == 2 ? text[i + 1] : '\0'};
        size_t length = step;
        if (step == 1) {
            const uint16_t full = Cp932FullWidth(static_cast<uint8_t>(text[i]));
            if (full != static_cast<uint8_t>(text[i])) {
                bytes = {static_cast<char>(full >> 8), static_cast<char>(full & 0xFF)};
                length = 2;
            }
        }
        if (out.size() + length > limit) break;  // whole characters only
        out.append(bytes.data(), length);
        i += step;
    }
    return out;
}

std::string ToHalfWidth(std::string_view text, size_t limit) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const size_t step = SjisCharLength(text, i);
        std::array<char, 2> bytes = {text[i], step == 2 ? text[i + 1] : '\0'};
        size_t length = step;
        if (step == 2) {
            std::array<uint8_t, 2> half{};
            const uint16_t code = static_cast<uint16_t>(static_cast<uint8_t>(text[i]) << 8 | static_cast<uint8_t>(text[i + 1]));
            const size_t half_length = Cp932HalfWidth(code, half);
            if (half_length != 0) {
                bytes = {static_cast<char>(half[0]), static_cast<char>(half[1])};
                length = half_length;
            }
        }
        if (out.size() + length > limit) break;
        out.append(bytes.data(), length);
        i += step;
    }
    return out;
}

std::optional<ParsedNumber> ParseNumberText(std::string_view t, uint32_t& error) {
    error = 0;
    ParsedNumber number;
    if (t.size() >= 2 && t[0] == '0' && t[1] == 'x') {
        size_t digits = 0;
        while (2 + digits < t.size() && IsHexDigit(t[2 + digits])) ++digits;
        if (digits == 0 || digits > 16) return std::nullopt;  // no report
        uint64_t value = 0;
        std::from_chars(t.data() + 2, t.data() + 2 + digits, value, 16);
        number.integer = static_cast<int64_t>(value);
        return number;
    }
    bool has_point = false;
    for (char c : t) {
        if (c == '.') {
            has_point = true;
        } else if (!((c >= '0' && c <= '9') || c == '-')) {
            error = kErrNotANumber;  // a double-byte character's lead byte fails here too
            return std::nullopt;
        }
    }
    if (has_point) {
        number.is_real = true;
        number.real = ParseDecimalReal(t);
    } else {
        number.integer = ParseDecimalInteger(t);
    }
    return number;
}

int ResolveCharacterRange(std::string_view text, int64_t start, int64_t count, size_t& begin, size_t& end) {
    size_t position = 0;
    for (int64_t step = 1; step < start; ++step) {
        if (position >= text.size()) return 1;  // the empty text: a step would pass its end
        position += SjisCharLength(text, position);
        if (position >= text.size()) return 1;
    }
    begin = position;
    for (int64_t step = 0; step < count; ++step) {
        if (position >= text.size()) return 2;
        position += SjisCharLength(text, position);
    }
    end = position;
    return 0;
}

// ---- arrays and definitions -------------------------------------------------------------

int32_t CountVariableElements(uint32_t number) {
    ScriptVariable* variable = FindVariable(number);
    if (variable == nullptr) return -1;
    uint32_t error = 0;
    const uint64_t count = ShapeElementCount(variable->Shape(), error);
    if (error == kErrTooManyElements) {
        ReportScriptErrorF(error, true, {int64_t{4000000}});
        return -1;
    }
    if (error != 0) {
        ReportScriptError(error, true);
        return -1;
    }
    VariableArraysChanged();
    variable->element_count = count;
    return 0;
}

int32_t ResizeVariableArray(uint32_t number, int64_t count) {
    ScriptVariable* variable = FindVariable(number);
    if (variable == nullptr) return -1;
    // The count is checked before anything changes: a refused size leaves
    // the array as it was.
    if (count > static_cast<int64_t>(kMaxElements)) {
        ReportScriptErrorF(kErrTooManyElements, true, {int64_t{4000000}});
        return -1;
    }
    if (count <= 0) {
        ReportScriptError(kErrNoElements, true);
        return -1;
    }
    const size_t n = static_cast<size_t>(count);
    VariableArraysChanged();
    try {
        switch (variable->type) {
            case kVariableInteger: variable->integers.resize(n, 0); break;
            case kVariableReal: variable->reals.resize(n, 0.0); break;
            case kVariableText:
                variable->texts.resize(n);
                variable->texts.shrink_to_fit();
                break;
            default: break;
        }
        if (variable->type == kVariableInteger) variable->integers.shrink_to_fit();
        if (variable->type == kVariableReal) variable->reals.shrink_to_fit();
    } catch (const std::bad_alloc&) {
        ReportScriptError(kErrOutOfMemory, true);
        return -1;
    }
    variable->sizes[0] = static_cast<int32_t>(count);
    return CountVariableElements(number);
}

int32_t ResetVariablesFromDefinitions(int32_t key, uint32_t integer_mask, uint32_t real_mask, uint32_t text_mask) {
    const VariableDefinitionTable& table = TheCompiledTables().variable_definitions;
    for (const VariableDefinition& definition : table.records) {
        ScriptVariable* variable = FindVariable(definition.number);
        if (variable == nullptr) {
            ReportEngineErrorF(kErrDefinitionBeyondTable, true, {int64_t{definition.number}});
            return -1;
        }
        if (key != -1 || definition.scope != kScopeGlobal) continue;
        if (definition.type >= kVariableInteger && definition.type <= kVariableText && definition.group >= 1 &&
            definition.group <= 4) {
            const uint32_t mask = definition.type == kVariableInteger ? integer_mask
                                  : definition.type == kVariableReal  ? real_mask
                                                                      : text_mask;
            if ((mask >> (definition.group - 1) & 1) == 0) continue;
        }
        if (SetVariableFromDefinition(table, definition, *variable) != 0) return -1;
    }
    return 0;
}

// ---- the command ----------------------------------------------------------------------------

int32_t CmdConvertVariable() {
    if (DecodeCommandArgs(kCmdConvertVariable) != 0) return -1;
    const CommandArgBlock& args = Args();
    const Element source = ElementOf(args.Find(kSource));
    const CommandArgSlot* destination_slot = args.Find(kDestination);
    const Element destination = ElementOf(destination_slot);

    if (args.Given(kNumberText)) return ConvertNumberText(source, destination);
    if (args.Given(kSubstring)) return EditSubstring(args, false, source, destination_slot);
    if (args.Given(kRemove)) return EditSubstring(args, true, source, destination_slot);

    for (uint32_t option : {kFullWidth, kHalfWidth, kUpperAscii, kUpperCp932, kLowerAscii, kLowerCp932}) {
        if (args.Given(option) && ConvertText(option, source, destination) != 0) return -1;
    }
    if (const CommandArgSlot* resize = args.Find(kResize)) {
        if (ResizeArray(*resize, source.number) != 0) return -1;
    }
    for (uint32_t option : {kInsert, kDelete}) {
        if (const CommandArgSlot* slot = args.Find(option)) {
            if (InsertOrDelete(option, source.number, slot->value) != 0) return -1;
        }
    }
    if (args.Given(kReset)) {
        uint32_t masks[3] = {};
        for (uint32_t group = 0; group < 4; ++group) {
            masks[0] |= args.Given(kIntegerGroups + group) ? 1u << group : 0;
            masks[1] |= args.Given(kRealGroups + group) ? 1u << group : 0;
            masks[2] |= args.Given(kTextGroups + group) ? 1u << group : 0;
        }
        if (ResetVariablesFromDefinitions(-1, masks[0], masks[1], masks[2]) != 0) return -1;
    }
    return 0;
}

}  // namespace zk
