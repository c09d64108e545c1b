// The evaluator's dispatch loop and opcode handlers. Every handler works on
// the one engine-wide ExprEvaluator; the loop has already checked that the
// instruction's payload lies inside the code and is as long as its opcode
// needs, so handlers read their payload without further length tests.
#include "script/expr_eval.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <new>
#include <system_error>

#include "base/byte_reader.h"
#include "base/format.h"
#include "base/nul_text.h"
#include "base/sjis.h"
#include "core/engine_state.h"
#include "core/error_report.h"
#include "script/expr_opcodes.h"
#include "script/int_arithmetic.h"
#include "script/int_expr_program.h"
#include "script/system_variable_hooks.h"
#include "script/variables.h"
#include "base/never.h"

namespace zk {

namespace detail {
ExprEvaluator the_evaluator;
std::array<uint8_t, kExprEntryCount> integer_entry{};
uint8_t normal_op_table = 0;
}  // namespace detail

namespace {

using detail::the_evaluator;

// The variables that read through a variable reference (their first
// subscript is a reference value whose high half names a variable).
bool IsReferenceReader(uint32_t variable) {
    return variable == 50 || variable == 51 || variable == 52 || variable == 70;
}

int32_t Fail(uint32_t code) {
    ReportScriptError(code, true);
    return 1;
}
int32_t Malformed() { return Fail(kErrMalformedCode); }

// The little-endian value at `at` of bytes whose length the dispatch loop
// has already checked, so the reader's own bound never fails here.
template <typename T>
T PayloadValue(std::span<const uint8_t> p, size_t at = 0) {
    return ByteReader(p).PeekAt<T>(at).value_or(T{});
}

uint8_t PrefixKindOf(uint8_t byte) {
    if (byte == kPrefixGrave) return kPrefixKindGrave;
    if (byte == kPrefixHash) return kPrefixKindHash;
    return kPrefixNone;
}

// ---- Stack and text pool ----------------------------------------------------

// The next free position, or null (reported) when the stack is full.
ExprPosition* PushPosition() {
    ExprEvaluator& e = the_evaluator;
    if (e.depth >= kExprStackSize) {
        Malformed();
        return nullptr;
    }
    ExprPosition& position = e.stack[e.depth++];
    position.text = 0;
    return &position;
}

// A number in the current arithmetic: an integer is converted to double in
// double arithmetic.
int32_t PushInteger(int64_t value) {
    ExprPosition* p = PushPosition();
    if (p == nullptr) return 1;
    if (the_evaluator.IntegerArithmetic()) {
        p->integer = value;
    } else {
        p->real = static_cast<double>(value);
    }
    return 0;
}

// A double in the current arithmetic: truncated toward zero in integer
// arithmetic.
int32_t PushReal(double value) {
    ExprPosition* p = PushPosition();
    if (p == nullptr) return 1;
    if (the_evaluator.IntegerArithmetic()) {
        p->integer = TruncateToInt64(value);
    } else {
        p->real = value;
    }
    return 0;
}

// A fresh pool slot for a text this run produces, or null when the run has
// used every slot (reported) or the buffer cannot be made (QuitFlag).
ExprTextSlot* NewText(uint16_t& slot_number) {
    ExprEvaluator& e = the_evaluator;
    if (e.next_text >= kTextPoolSize) {
        Malformed();
        return nullptr;
    }
    ExprTextSlot& slot = e.pool[e.next_text];
    if (!slot.bytes) {
        try {
            slot.bytes = std::make_unique_for_overwrite<char[]>(kExprTextSize);
        } catch (const std::bad_alloc&) {
            QuitFlag = 1;
            return nullptr;
        }
    }
    slot_number = e.next_text++;
    slot.length = 0;
    slot.bytes[0] = '\0';
    return &slot;
}

// Pushes a text position for pool slot `slot_number`.
int32_t PushText(uint16_t slot_number) {
    ExprPosition* p = PushPosition();
    if (p == nullptr) return 1;
    p->integer = 0;
    p->real = 0.0;
    p->text = slot_number;
    return 0;
}

// Copies bytes (up to a NUL, cut below 4096 bytes without splitting a
// double-byte character) into a new slot and pushes it.
int32_t PushTextCopy(std::string_view text) {
    text = UpToNul(text);
    if (text.size() >= kExprTextSize) text = text.substr(0, CutLength(text, kExprTextSize - 1));
    uint16_t slot_number = 0;
    ExprTextSlot* slot = NewText(slot_number);
    if (slot == nullptr) return 1;
    if (!text.empty()) std::memcpy(slot->bytes.get(), text.data(), text.size());
    slot->bytes[text.size()] = '\0';
    slot->length = text.size();
    return PushText(slot_number);
}

std::string_view TextOf(const ExprPosition& p) {
    const ExprTextSlot& slot = the_evaluator.pool[p.text];
    return std::string_view(slot.bytes.get(), slot.length);
}

// The two operands of a binary operator: pops b, leaves a on top.
bool PopOperands(ExprPosition*& a, ExprPosition*& b) {
    ExprEvaluator& e = the_evaluator;
    if (e.depth < 2) return false;
    b = &e.stack[--e.depth];
    a = &e.stack[e.depth - 1];
    return true;
}

ExprPosition* Top() {
    ExprEvaluator& e = the_evaluator;
    return e.depth == 0 ? nullptr : &e.stack[e.depth - 1];
}

// ---- Variable values ------------------------------------------------------

// Pushes the value of element `element` of variable `number` (record
// `variable`, which exists) with prefix kind `prefix`.
int32_t PushElementValue(uint32_t number, const ScriptVariable& variable, int64_t element, uint8_t prefix) {
    if (number >= kFirstScriptVariable) {
        if (prefix != kPrefixNone && variable.type >= kVariableInteger && variable.type <= kVariableText) {
            return PushInteger(WrapAdd(static_cast<int64_t>(uint64_t{number} << 32), element));
        }
        bool in_range = ElementInRange(variable, element);
        size_t index = static_cast<size_t>(element);
        switch (variable.type) {
            case kVariableInteger: return PushInteger(in_range ? variable.integers[index] : 0);
            case kVariableReal: return PushReal(in_range ? variable.reals[index] : 0.0);
            case kVariableText: return PushTextCopy(in_range ? std::string_view(variable.texts[index]) : "");
            default: return PushInteger(0);  // never declared: 0
        }
    }
    if (prefix != kPrefixNone) return PushInteger(0);
    switch (variable.type) {
        case kVariableInteger: return PushInteger(ReadSystemInteger(number, element));
        case kVariableReal: return PushReal(ReadSystemReal(number, element));
        case kVariableText: {
            uint16_t slot_number = 0;
            ExprTextSlot* slot = NewText(slot_number);
            if (slot == nullptr) return 1;
            slot->length = ReadSystemText(number, std::span<char>(slot->bytes.get(), kExprTextSize), element);
            return PushText(slot_number);
        }
        default: return PushInteger(0);
    }
}

// Payload of 'H', 'V' and 'v': sets the reference record.
uint32_t TakeReference(std::span<const uint8_t> payload) {
    ExprReference& r = the_evaluator.reference;
    r.variable = PayloadValue<uint16_t>(payload, 1);
    r.element = 0;
    r.prefix = PrefixKindOf(payload[0]);
    return r.variable;
}

}  // namespace

std::optional<size_t> DecodeTextLiteral(std::span<const uint8_t> payload, char* out) {
    size_t length = 0;
    const uint8_t delimiter = payload.empty() ? 0 : payload[0];
    size_t i = 1;
    auto emit = [&](uint8_t byte) {
        if (length >= kExprTextSize - 1) return false;
        out[length++] = static_cast<char>(byte);
        return true;
    };
    while (i < payload.size()) {
        uint8_t b = payload[i];
        if (b == delimiter) break;
        if (IsSjisLeadByte(b)) {
            // The trail byte goes with its lead unexamined.
            if (!emit(b)) return std::nullopt;
            if (i + 1 < payload.size() && !emit(payload[i + 1])) return std::nullopt;
            i += 2;
            continue;
        }
        if (b == '\\') {
            uint8_t next = i + 1 < payload.size() ? payload[i + 1] : delimiter;
            // The backslash is dropped; a delimiter after it still ends the
            // text, and any other byte after it is taken as it is next time.
            if (next == delimiter || (next != '\\' && next != 'n' && next != 't')) {
                ++i;
                continue;
            }
            if (!emit(next == 'n' ? '\n' : next == 't' ? '\t' : '\\')) return std::nullopt;
            i += 2;
            continue;
        }
        if (!emit(b)) return std::nullopt;
        ++i;
    }
    out[length] = '\0';
    return TextLength(out, length);
}

namespace {

// ---- Opcode handlers ------------------------------------------------------

int32_t OpUnknown(std::span<const uint8_t>) { return Malformed(); }

// Label folding: a label name that reads a variable cannot be folded.
int32_t OpVariableMet(std::span<const uint8_t>) {
    the_evaluator.variable_met = 1;
    return 1;
}

int32_t OpText(std::span<const uint8_t> payload) {
    uint16_t slot_number = 0;
    ExprTextSlot* slot = NewText(slot_number);
    if (slot == nullptr) return 1;
    std::optional<size_t> length = DecodeTextLiteral(payload, slot->bytes.get());
    if (!length) return Malformed();
    slot->length = *length;
    return PushText(slot_number);
}

int32_t OpVariable(std::span<const uint8_t> payload) {
    ExprEvaluator& e = the_evaluator;
    uint32_t number = TakeReference(payload);
    // A declaration names its variable without reading it.
    if (e.declaring && e.nesting == 0) return 0;
    const ScriptVariable* variable = FindVariable(number);
    if (variable == nullptr) return Fail(kErrVariableMissing);
    return PushElementValue(number, *variable, 0, e.reference.prefix);
}

int32_t OpSubscripted(std::span<const uint8_t> payload) {
    ExprEvaluator& e = the_evaluator;
    uint32_t number = TakeReference(payload);
    if (!(e.declaring && e.nesting == 0) && FindVariable(number) == nullptr) return Fail(kErrVariableMissing);
    if (e.nesting >= kMaxSubscriptNesting) return Malformed();
    SubscriptContext& context = e.contexts[e.nesting];
    context.start = e.depth;
    context.variable = number;
    context.prefix = e.reference.prefix;
    ExprPosition* placeholder = PushPosition();
    if (placeholder == nullptr) return 1;
    placeholder->integer = 0;
    placeholder->real = 0.0;
    ++e.nesting;
    return 0;
}

int32_t OpWholeVariable(std::span<const uint8_t> payload) {
    ExprEvaluator& e = the_evaluator;
    uint32_t number = TakeReference(payload);
    e.reference.whole_variable = 1;
    if (FindVariable(number) == nullptr) return Fail(kErrVariableMissing);
    ExprPosition* p = PushPosition();
    if (p == nullptr) return 1;
    p->integer = 0;
    p->real = 0.0;
    return 0;
}

// The element index that a reference reader's subscripts name: the first
// subscript is a reference whose high half is a variable R.
int32_t ReferenceReaderElement(std::span<const int64_t> s, int64_t& element) {
    if (s.size() == 1) {
        element = s[0];
        return 0;
    }
    if (s.empty()) return Fail(kErrSubscriptCount);
    uint32_t r_number = static_cast<uint32_t>(static_cast<uint64_t>(s[0]) >> 32);
    const ScriptVariable* r = FindVariable(r_number);
    if (r == nullptr) return Fail(kErrSubscriptRange);
    const int64_t base = static_cast<int64_t>(uint64_t{r_number} << 32);
    if (s.size() == 2) {
        if (r->dimension_count == 1 && static_cast<int32_t>(s[0]) < r->sizes[0]) {
            if (s[1] < 0 || s[1] >= r->sizes[0]) return Fail(kErrSubscriptRange);
        }
        // Otherwise the second subscript is a flat index into R, which the
        // element getters bound when they read it.
        element = WrapAdd(base, s[1]);
        return 0;
    }
    if (s.size() - 1 != r->dimension_count) return Fail(kErrSubscriptCount);
    int64_t flat = FlatElementIndex(r->Shape(), s.subspan(1));
    if (flat < 0) return Fail(kErrSubscriptRange);
    element = WrapAdd(base, flat);
    return 0;
}

// The element index of an ordinary variable's subscripts.
int32_t OrdinaryElement(const ScriptVariable& variable, std::span<const int64_t> s, int64_t& element) {
    // Each subscript against its dimension first (a dimension the variable
    // does not have is 0 wide), then too few subscripts: a missing one
    // must not be taken from an earlier expression.
    for (size_t j = 0; j < s.size(); ++j) {
        int64_t size = variable.sizes[j];
        if (s[j] < 0 || s[j] >= size) return Fail(kErrSubscriptRange);
    }
    if (s.size() != variable.dimension_count) return Fail(kErrSubscriptCount);
    element = FlatElementIndex(variable.Shape(), s);
    if (ZK_NEVER(element < 0)) return Fail(kErrSubscriptRange);  // checked above
    return 0;
}

int32_t OpSubscriptEnd(std::span<const uint8_t>) {
    ExprEvaluator& e = the_evaluator;
    if (e.nesting <= 0) return Malformed();
    const SubscriptContext& context = e.contexts[--e.nesting];
    // An operator may have popped below the placeholder in malformed code.
    if (e.depth < context.start + 1) return Malformed();
    size_t count = e.depth - context.start - 1;
    if (count > static_cast<size_t>(kMaxSubscripts)) return Fail(kErrSubscriptCount);
    for (size_t j = 0; j < count; ++j) {
        const ExprPosition& p = e.stack[context.start + 1 + j];
        if (p.text != 0) return Fail(kErrTextNumberMix);
        e.subscripts[j] = p.integer;
    }
    e.subscript_count = static_cast<uint8_t>(count);
    e.reference.variable = context.variable;
    e.reference.prefix = context.prefix;

    // A declaration keeps its sizes in the subscript list and reads nothing.
    if (e.declaring && e.nesting == 0) return 0;

    std::span<const int64_t> s(e.subscripts.data(), count);
    const ScriptVariable* variable = FindVariable(context.variable);
    int64_t element = 0;
    if (IsReferenceReader(context.variable)) {
        if (ReferenceReaderElement(s, element) != 0) return 1;
    } else {
        if (variable == nullptr) return Fail(kErrVariableMissing);
        if (OrdinaryElement(*variable, s, element) != 0) return 1;
    }
    if (variable == nullptr) return Fail(kErrVariableMissing);
    e.reference.element = element;
    e.depth = context.start;
    return PushElementValue(context.variable, *variable, element, context.prefix);
}

int32_t OpInt8(std::span<const uint8_t> p) { return PushInteger(PayloadValue<int8_t>(p)); }
int32_t OpInt16(std::span<const uint8_t> p) { return PushInteger(PayloadValue<int16_t>(p)); }
int32_t OpInt32(std::span<const uint8_t> p) { return PushInteger(PayloadValue<int32_t>(p)); }
int32_t OpInt64(std::span<const uint8_t> p) { return PushInteger(PayloadValue<int64_t>(p)); }
int32_t OpReal(std::span<const uint8_t> p) { return PushReal(PayloadValue<double>(p)); }

int32_t OpNegate(std::span<const uint8_t>) {
    ExprPosition* a = Top();
    if (a == nullptr) return Malformed();
    if (the_evaluator.IntegerArithmetic()) {
        a->integer = WrapNegate(a->integer);
    } else {
        a->real = -a->real;
    }
    a->text = 0;
    return 0;
}

int32_t OpToText(std::span<const uint8_t>) {
    ExprPosition* a = Top();
    if (a == nullptr) return Malformed();
    if (a->text != 0) return 0;  // already a text
    uint16_t slot_number = 0;
    ExprTextSlot* slot = NewText(slot_number);
    if (slot == nullptr) return 1;
    char* out = slot->bytes.get();
    // "%f" of the largest double is some 320 characters: far below the slot.
    std::to_chars_result r = the_evaluator.IntegerArithmetic()
                                 ? std::to_chars(out, out + kExprTextSize - 1, a->integer)
                                 : std::to_chars(out, out + kExprTextSize - 1, a->real, std::chars_format::fixed, 6);
    if (ZK_NEVER(r.ec != std::errc())) return Malformed();  // the slot always fits
    slot->length = static_cast<size_t>(r.ptr - out);
    out[slot->length] = '\0';
    a->integer = 0;
    a->real = 0.0;
    a->text = slot_number;
    return 0;
}

}  // namespace

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Decimal integer after an optional '-', up to the first non-digit;
// saturates like the run-time library's reader.
int64_t ParseDecimalInteger(std::string_view t) {
    size_t i = 0;
    bool negative = false;
    if (i < t.size() && t[i] == '-') {
        negative = true;
        ++i;
    }
    uint64_t magnitude = 0;
    bool overflow = false;
    for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i) {
        uint64_t digit = static_cast<uint64_t>(t[i] - '0');
        if (magnitude > (UINT64_MAX - digit) / 10) {
            overflow = true;
            break;
        }
        magnitude = magnitude * 10 + digit;
    }
    if (negative) {
        if (overflow || magnitude > uint64_t{1} << 63) return kInt64Min;
        return static_cast<int64_t>(0 - magnitude);
    }
    if (overflow || magnitude > static_cast<uint64_t>(INT64_MAX)) return INT64_MAX;
    return static_cast<int64_t>(magnitude);
}

// A decimal real of digits, '.' and '-': as the run-time library reads it
// (what does not parse gives 0; a value beyond the double range, infinity).
double ParseDecimalReal(std::string_view t) {
    double value = 0.0;
    std::from_chars_result r = std::from_chars(t.data(), t.data() + t.size(), value);
    if (r.ec == std::errc::result_out_of_range) {
        bool negative = !t.empty() && t[0] == '-';
        bool large = false;
        for (char c : t) {
            if (c == '.') break;
            if (c >= '1' && c <= '9') large = true;
        }
        if (!large) return negative ? -0.0 : 0.0;
        return negative ? -HUGE_VAL : HUGE_VAL;
    }
    if (r.ec != std::errc()) return 0.0;
    return value;
}

namespace {

int32_t OpToNumber(std::span<const uint8_t>) {
    ExprPosition* a = Top();
    if (a == nullptr) return Malformed();
    if (a->text == 0) return 0;  // already a number
    std::string_view t = TextOf(*a);
    bool integer_arithmetic = the_evaluator.IntegerArithmetic();
    int64_t integer = 0;
    double real = 0.0;
    bool is_real = false;
    if (t.size() >= 2 && t[0] == '0' && t[1] == 'x') {
        size_t digits = 0;
        while (2 + digits < t.size() && IsHexDigit(t[2 + digits])) ++digits;
        // No report: the engine has never had a message for this one.
        if (digits == 0 || digits > 16) return 1;
        uint64_t value = 0;
        std::from_chars(t.data() + 2, t.data() + 2 + digits, value, 16);
        integer = static_cast<int64_t>(value);
    } else {
        bool has_point = false;
        for (char c : t) {
            if (c == '.') {
                has_point = true;
            } else if (!((c >= '0' && c <= '9') || c == '-')) {
                return Fail(kErrNotANumber);
            }
        }
        if (has_point) {
            real = ParseDecimalReal(t);
            is_real = true;
        } else {
            integer = ParseDecimalInteger(t);
        }
    }
    a->text = 0;
    if (integer_arithmetic) {
        a->integer = is_real ? TruncateToInt64(real) : integer;
    } else {
        a->real = is_real ? real : static_cast<double>(integer);
    }
    return 0;
}

// Stores a comparison's result in the current arithmetic's cell.
void SetTruth(ExprPosition& a, bool truth) {
    if (the_evaluator.IntegerArithmetic()) {
        a.integer = truth ? 1 : 0;
    } else {
        a.real = truth ? 1.0 : 0.0;
    }
    a.text = 0;
}

// The rare case of '+': two texts are joined when the result stays below
// 4096 bytes; otherwise a is kept.
int32_t FinishAddTexts(ExprPosition& a, const ExprPosition& b) {
    ExprTextSlot& left = the_evaluator.pool[a.text];
    const ExprTextSlot& right = the_evaluator.pool[b.text];
    if (left.length + right.length < kExprTextSize) {
        std::memcpy(left.bytes.get() + left.length, right.bytes.get(), right.length);
        left.length += right.length;
        left.bytes[left.length] = '\0';
    }
    return 0;
}

int32_t OpAdd(std::span<const uint8_t>) {
    ExprPosition *a, *b;
    if (!PopOperands(a, b)) return Malformed();
    if (a->text != 0 || b->text != 0) {
        if (a->text == 0 || b->text == 0) return Fail(kErrTextNumberMix);
        return FinishAddTexts(*a, *b);
    }
    if (the_evaluator.IntegerArithmetic()) {
        a->integer = WrapAdd(a->integer, b->integer);
    } else {
        a->real = a->real + b->real;
    }
    return 0;
}

// '=' and '!' on two texts: byte comparison, the result in both cells
// (double arithmetic reads the double cell).
int32_t FinishCompareTexts(ExprPosition& a, const ExprPosition& b, bool want_equal) {
    bool equal = TextOf(a) == TextOf(b);
    int64_t truth = equal == want_equal ? 1 : 0;
    a.integer = truth;
    a.real = static_cast<double>(truth);
    a.text = 0;
    return 0;
}

// Double comparisons follow the processor's unordered rules: with a NaN,
// '=', '<' and '<=' hold and '!=', '>' and '>=' do not.
enum class Compare { kEqual, kNotEqual, kGreater, kLess, kGreaterEqual, kLessEqual };

template <Compare kind>
int32_t OpCompare(std::span<const uint8_t>) {
    ExprPosition *a, *b;
    if (!PopOperands(a, b)) return Malformed();
    if constexpr (kind == Compare::kEqual || kind == Compare::kNotEqual) {
        if (a->text != 0 || b->text != 0) {
            if (a->text == 0 || b->text == 0) return Fail(kErrTextNumberMix);
            return FinishCompareTexts(*a, *b, kind == Compare::kEqual);
        }
    }
    bool truth;
    if (the_evaluator.IntegerArithmetic()) {
        int64_t x = a->integer, y = b->integer;
        switch (kind) {
            case Compare::kEqual: truth = x == y; break;
            case Compare::kNotEqual: truth = x != y; break;
            case Compare::kGreater: truth = x > y; break;
            case Compare::kLess: truth = x < y; break;
            case Compare::kGreaterEqual: truth = x >= y; break;
            default: truth = x <= y; break;
        }
    } else {
        double x = a->real, y = b->real;
        bool unordered = std::isnan(x) || std::isnan(y);
        switch (kind) {
            case Compare::kEqual: truth = unordered || x == y; break;
            case Compare::kNotEqual: truth = !unordered && x != y; break;
            case Compare::kGreater: truth = !unordered && x > y; break;
            case Compare::kLess: truth = unordered || x < y; break;
            case Compare::kGreaterEqual: truth = !unordered && x >= y; break;
            default: truth = unordered || x <= y; break;
        }
    }
    SetTruth(*a, truth);
    return 0;
}

enum class Arith { kSubtract, kMultiply, kDivide, kRemainder, kAnd, kOr, kXor };

template <Arith kind>
int32_t OpArith(std::span<const uint8_t>) {
    ExprPosition *a, *b;
    if (!PopOperands(a, b)) return Malformed();
    a->text = 0;
    if (the_evaluator.IntegerArithmetic()) {
        int64_t x = a->integer, y = b->integer;
        switch (kind) {
            case Arith::kSubtract: a->integer = WrapSub(x, y); break;
            case Arith::kMultiply: a->integer = WrapMul(x, y); break;
            case Arith::kDivide: a->integer = y == 0 ? 0 : WrapDiv(x, y); break;
            case Arith::kRemainder: a->integer = y == 0 ? 0 : WrapRem(x, y); break;
            case Arith::kAnd: a->integer = x & y; break;
            case Arith::kOr: a->integer = x | y; break;
            case Arith::kXor: a->integer = x ^ y; break;
        }
    } else {
        double x = a->real, y = b->real;
        switch (kind) {
            case Arith::kSubtract: a->real = x - y; break;
            case Arith::kMultiply: a->real = x * y; break;
            case Arith::kDivide: a->real = y == 0.0 ? 0.0 : x / y; break;
            default: break;  // remainder and bit operators keep a
        }
    }
    return 0;
}

template <bool kAnd>
int32_t OpLogical(std::span<const uint8_t>) {
    ExprPosition *a, *b;
    if (!PopOperands(a, b)) return Malformed();
    bool x, y;
    if (the_evaluator.IntegerArithmetic()) {
        x = a->integer != 0;
        y = b->integer != 0;
    } else {
        x = a->real != 0.0;
        y = b->real != 0.0;
    }
    SetTruth(*a, kAnd ? (x && y) : (x || y));
    return 0;
}

int32_t OpSeparator(std::span<const uint8_t>) { return 0; }

// Parallel to kExprOpcodes (script/expr_opcodes.h), row for row.
constexpr std::array<ExprOpHandler, kExprOpcodes.size()> kOpHandlers = {{
    OpText,
    OpVariable,
    OpSubscripted,
    OpWholeVariable,
    OpSubscriptEnd,
    OpInt8,
    OpInt16,
    OpInt32,
    OpInt64,
    OpReal,
    OpNegate,
    OpToText,
    OpToNumber,
    OpAdd,
    OpCompare<Compare::kEqual>,
    OpCompare<Compare::kNotEqual>,
    OpCompare<Compare::kGreater>,
    OpCompare<Compare::kLess>,
    OpCompare<Compare::kGreaterEqual>,
    OpCompare<Compare::kLessEqual>,
    OpArith<Arith::kSubtract>,
    OpArith<Arith::kMultiply>,
    OpArith<Arith::kDivide>,
    OpArith<Arith::kRemainder>,
    OpArith<Arith::kAnd>,
    OpArith<Arith::kOr>,
    OpArith<Arith::kXor>,
    OpLogical<true>,
    OpLogical<false>,
    OpSeparator,
}};
static_assert(kOpHandlers.size() == kExprOpcodes.size(), "one handler per opcode row");

// The shortest payload each opcode reads.
constexpr std::array<uint8_t, 256> MakeMinimumPayloads() {
    std::array<uint8_t, 256> sizes{};
    for (const ExprOpcodeInfo& info : kExprOpcodes) sizes[info.opcode] = static_cast<uint8_t>(ExprPayloadSize(info.payload));
    return sizes;
}
constexpr std::array<uint8_t, 256> kMinimumPayload = MakeMinimumPayloads();

constexpr std::array<ExprOpHandler, 256> MakeUnknownOpTable() {
    std::array<ExprOpHandler, 256> table{};
    for (ExprOpHandler& h : table) h = OpUnknown;
    return table;
}
std::array<ExprOpHandler, 256> op_table = MakeUnknownOpTable();

constexpr std::array<ExprEntry, kExprEntryCount> MakeUnknownEntryTable() {
    std::array<ExprEntry, kExprEntryCount> table{};
    for (ExprEntry& entry : table) entry = EvalUnknownType;
    return table;
}
std::array<ExprEntry, kExprEntryCount> entry_table = MakeUnknownEntryTable();

// Runs the code in a mode and takes position 0.
ExprValue RunInMode(uint8_t mode, std::span<const uint8_t> code, std::span<char> text_out) {
    ExprEvaluator& e = the_evaluator;
    e.program_clean = 0;
    e.mode = mode;
    e.out = text_out;
    RunExprByteCode(code);
    // The caller's buffer is the caller's only for this run: a later direct
    // RunExprByteCode must not write into it.
    e.out = {};
    const ExprPosition& result = e.stack[0];
    ExprValue value;
    switch (mode) {
        case kModeInteger:
            value.integer = result.integer;
            value.real = static_cast<double>(result.integer);
            break;
        case kModeReal:
            value.real = result.real;
            value.integer = TruncateToInt64(result.real);
            break;
        default:
            value.text_length = e.result_length;
            break;
    }
    return value;
}

}  // namespace

const ExprEvaluator& ReadEvaluator() { return the_evaluator; }

ExprEvaluator& Evaluator() {
    the_evaluator.program_clean = 0;  // the holder may change any of it
    return the_evaluator;
}

std::array<ExprOpHandler, 256>& ExprOpTable() { return op_table; }

void FillExprOpTable(int mode) {
    op_table = MakeUnknownOpTable();
    for (size_t i = 0; i < kExprOpcodes.size(); ++i) op_table[kExprOpcodes[i].opcode] = kOpHandlers[i];
    if (mode == 0) {
        op_table[kOpVariable] = OpVariableMet;
        op_table[kOpSubscripted] = OpVariableMet;
        op_table[kOpWholeVariable] = OpVariableMet;
    }
    detail::normal_op_table = op_table[kOpVariable] == OpVariable ? 1 : 0;
}

bool ExprOpTableFolding() { return op_table[kOpVariable] != OpVariable; }

// The state every run starts from. Position 0 is what an empty or aborted
// run returns: a clean 0 rather than whatever an earlier run left there.
static void ResetRunState(ExprEvaluator& e) { detail::ResetRunState(e); }

int32_t RunExprByteCode(std::span<const uint8_t> code) {
    ExprEvaluator& e = the_evaluator;
    e.program_clean = 0;
    ResetRunState(e);

    bool aborted = false;
    size_t pc = 0;
    while (pc < code.size()) {
        if (code.size() - pc < kExprHeaderSize) {
            Malformed();
            aborted = true;
            break;
        }
        uint8_t opcode = code[pc];
        size_t length = PayloadValue<uint16_t>(code, pc + 1);
        if (length > code.size() - pc - kExprHeaderSize || length < kMinimumPayload[opcode]) {
            Malformed();
            aborted = true;
            break;
        }
        if (op_table[opcode](code.subspan(pc + kExprHeaderSize, length)) != 0) {
            aborted = true;
            break;
        }
        pc += kExprHeaderSize + length;
    }

    if (!aborted && (e.mode == kModeTextInteger || e.mode == kModeTextReal)) {
        // A run that ended on a number gives the empty text. One that
        // aborted leaves the caller's buffer as it was (its length is 0).
        std::string_view text;
        if (e.stack[0].text != 0) text = TextOf(e.stack[0]);
        if (!e.out.empty()) {
            if (text.size() >= e.out.size()) text = text.substr(0, CutLength(text, e.out.size() - 1));
            if (!text.empty()) std::memcpy(e.out.data(), text.data(), text.size());
            e.out[text.size()] = '\0';
            e.result_length = text.size();
        }
    }
    e.aborted = aborted ? 1 : 0;
    return aborted ? -1 : 0;
}

ExprValue EvalIntExpr(std::span<const uint8_t> code, std::span<char> text_out) {
    return RunInMode(kModeInteger, code, text_out);
}

ExprValue EvalIntExprFromReal(std::span<const uint8_t> code, std::span<char> text_out) {
    return RunInMode(kModeReal, code, text_out);
}

ExprValue EvalRealExprFromInt(std::span<const uint8_t> code, std::span<char> text_out) {
    return RunInMode(kModeInteger, code, text_out);
}

ExprValue EvalRealExpr(std::span<const uint8_t> code, std::span<char> text_out) {
    return RunInMode(kModeReal, code, text_out);
}

ExprValue EvalTextExpr(std::span<const uint8_t> code, std::span<char> text_out) {
    return RunInMode(kModeTextInteger, code, text_out);
}

ExprValue EvalTextExprReal(std::span<const uint8_t> code, std::span<char> text_out) {
    return RunInMode(kModeTextReal, code, text_out);
}

ExprValue EvalUnknownType(std::span<const uint8_t>, std::span<char>) {
    // Nothing runs: a text caller's buffer stays as it was, as after an abort.
    ReportScriptError(kErrMalformedCode, true);
    return ExprValue{};
}

std::array<ExprEntry, kExprEntryCount>& ExprEntryTable() { return entry_table; }

void FillExprEntryTable() {
    entry_table = MakeUnknownEntryTable();
    for (uint32_t type : {1u, 3u}) entry_table[type] = EvalIntExpr;
    for (uint32_t type : {2u, 4u}) entry_table[type] = EvalIntExprFromReal;
    for (uint32_t type : {6u, 8u}) entry_table[type] = EvalRealExprFromInt;
    for (uint32_t type : {7u, 9u, 11u, 12u, 13u, 14u}) entry_table[type] = EvalRealExpr;
    for (uint32_t type : {16u, 17u, 18u}) entry_table[type] = EvalTextExpr;
    entry_table[19] = EvalTextExprReal;
    for (size_t type = 0; type < kExprEntryCount; ++type) {
        detail::integer_entry[type] = entry_table[type] == EvalIntExpr || entry_table[type] == EvalRealExprFromInt;
    }
}

ExprValue EvaluateExpr(uint32_t type, std::span<const uint8_t> code, std::span<char> text_out) {
    if (type >= kExprEntryCount) return EvalUnknownType(code, text_out);
    return entry_table[type](code, text_out);
}

const ExprReference& LastExprReference() { return the_evaluator.reference; }

void SetExprReference(uint32_t variable, int64_t element) {
    the_evaluator.reference.variable = variable;
    the_evaluator.reference.element = element;
}

std::span<const int64_t> ExprSubscripts() {
    return std::span<const int64_t>(the_evaluator.subscripts.data(), the_evaluator.subscript_count);
}

void SetExprDeclaring(bool declaring) { the_evaluator.declaring = declaring ? 1 : 0; }
bool ExprVariableMet() { return the_evaluator.variable_met != 0; }
void ClearExprVariableMet() { the_evaluator.variable_met = 0; }
bool LastExprAborted() { return the_evaluator.aborted != 0; }


// ---- Compiled integer programs (script/int_expr_program.h) -------------------

namespace {

using detail::ApplyBinary;

bool IntegerEntry(uint32_t type) {
    if (type >= kExprEntryCount) return false;
    const ExprEntry entry = entry_table[type];
    return entry == EvalIntExpr || entry == EvalRealExprFromInt;
}

using detail::StartProgramRun;
using detail::PushVariableCell;

// The end of a run whose result is in position 0.
[[gnu::always_inline]] inline void EndProgramRun(ExprEvaluator& e, uint16_t depth) {
    e.depth = depth;
    e.aborted = 0;
}

// The interpreter; `result` is position 0's integer cell.
[[gnu::always_inline]] inline bool RunProgram(const IntExprProgram& program, const IntExprOp* ops, int64_t& result) {
    ExprEvaluator& e = the_evaluator;
    if (program.length == 0 || e.declaring != 0 || op_table[kOpVariable] != OpVariable) return false;

    // The common forms, without a walk over the ops.
    if (program.shape != IntExprShape::kGeneral) return detail::RunShape(program, result);

    const IntExprOp* const begin = ops + program.first;
    const IntExprOp* const end = begin + program.length;

    // Every variable first: any that is not an integer variable with an
    // element 0 sends the whole run to the byte code before anything changed.
    std::array<const int64_t*, kMaxIntExprVariables> cells;
    if (program.variable_count != 0) {
        uint8_t found = 0;
        for (const IntExprOp* op = begin; op != end && found < program.variable_count; ++op) {
            if (op->kind != IntExprOpKind::kPushVariable || op->variable_slot != found) continue;
            const uint64_t number = static_cast<uint64_t>(op->value);
            const int64_t* cell = number <= UINT32_MAX ? IntegerCellZero(static_cast<uint32_t>(number)) : nullptr;
            if (cell == nullptr) return false;
            cells[found++] = cell;
        }
        if (ZK_NEVER(found != program.variable_count)) return false;  // slots are numbered in order of first use
    }

    StartProgramRun(e);
    uint16_t depth = 0;
    for (const IntExprOp* op = begin; op != end; ++op) {
        switch (op->kind) {
            case IntExprOpKind::kPushConstant: {
                ExprPosition& p = e.stack[depth++];
                p.text = 0;
                p.integer = op->value;
                break;
            }
            case IntExprOpKind::kPushVariable:
                PushVariableCell(e, depth, static_cast<uint32_t>(op->value), *cells[op->variable_slot]);
                ++depth;
                break;
            case IntExprOpKind::kNegate: {
                ExprPosition& a = e.stack[depth - 1];
                a.integer = WrapNegate(a.integer);
                a.text = 0;
                break;
            }
            case IntExprOpKind::kBinary: {
                const ExprPosition& b = e.stack[--depth];
                ExprPosition& a = e.stack[depth - 1];
                a.integer = ApplyBinary(op->opcode, a.integer, b.integer);
                a.text = 0;
                break;
            }
        }
    }
    EndProgramRun(e, depth);
    result = e.stack[0].integer;
    return true;
}

}  // namespace

bool RunIntExprProgram(const IntExprProgram& program, const IntExprOp* ops, ExprValue& value) {
    int64_t result = 0;
    if (!RunProgram(program, ops, result)) return false;
    value = ExprValue{};
    value.integer = result;
    value.real = static_cast<double>(result);
    return true;
}

bool EvaluateIntProgram(uint32_t type, const IntExprProgram& program, const IntExprOp* ops, int64_t& result) {
    return program.length != 0 && IntegerEntry(type) && RunProgram(program, ops, result);
}

ExprValue EvaluateWithProgram(uint32_t type, std::span<const uint8_t> code, const IntExprProgram& program,
                              const IntExprOp* ops, std::span<char> text_out) {
    int64_t result = 0;
    if (program.length != 0 && IntegerEntry(type) && RunProgram(program, ops, result)) {
        ExprValue value;
        value.integer = result;
        value.real = static_cast<double>(result);
        return value;
    }
    return EvaluateExpr(type, code, text_out);
}


}  // namespace zk
