#include "script/math_command.h"

#include <array>
#include <cmath>
#include <cstring>
#include <span>

#include "base/hashes.h"
#include "base/mt19937.h"
#include "base/nul_text.h"
#include "script/command_table.h"
#include "script/expr_eval.h"
#include "script/int_arithmetic.h"
#include "script/variables.h"

namespace zk {

namespace {

// ---- EvalIntegerText ----------------------------------------------------------

// Tokens: a run of decimal digits, or one character; none at a line feed or
// the end. Blanks between tokens are skipped.
class IntegerTextReader {
public:
    explicit IntegerTextReader(std::string_view text) : text_(text) {}

    int64_t Sum() {
        bool negate = false;
        if (PeekIs('+') || PeekIs('-')) {
            negate = PeekIs('-');
            Take();
        }
        int64_t value = Product();
        if (negate) value = WrapNegate(value);
        while (PeekIs('+') || PeekIs('-')) {
            const bool subtract = PeekIs('-');
            Take();
            if (AtEnd()) break;  // a trailing operator is ignored
            const int64_t right = Product();
            value = subtract ? WrapSub(value, right) : WrapAdd(value, right);
        }
        return value;
    }

private:
    int64_t Product() {
        int64_t value = Factor();
        while (PeekIs('*') || PeekIs('/') || PeekIs('%')) {
            const char op = text_[position_];
            Take();
            if (AtEnd()) break;
            const int64_t right = Factor();
            if (op == '*') value = WrapMul(value, right);
            else if (right == 0) continue;  // a divisor of 0 leaves the value as it is
            else if (op == '/') value = WrapDiv(value, right);
            else value = WrapRem(value, right);
        }
        return value;
    }

    int64_t Factor() {
        SkipBlanks();
        if (AtEnd()) return 0;
        const char c = text_[position_];
        if (IsDigit(c)) {
            uint64_t value = 0;  // numbers beyond 64 bits wrap
            while (position_ < text_.size() && IsDigit(text_[position_])) {
                value = value * 10 + static_cast<uint64_t>(text_[position_] - '0');
                ++position_;
            }
            return static_cast<int64_t>(value);
        }
        if (c == '(') {
            ++position_;
            const int64_t value = Sum();
            if (PeekIs(')')) Take();  // a missing ')' is accepted
            return value;
        }
        return 0;  // not consumed: the caller stops at it
    }

    static bool IsDigit(char c) { return c >= '0' && c <= '9'; }
    void SkipBlanks() {
        while (position_ < text_.size() && (text_[position_] == ' ' || text_[position_] == '\t')) ++position_;
    }
    bool AtEnd() {
        SkipBlanks();
        return position_ >= text_.size() || text_[position_] == '\n';
    }
    bool PeekIs(char c) { return !AtEnd() && text_[position_] == c; }
    void Take() { ++position_; }

    std::string_view text_;
    size_t position_ = 0;
};

// ---- operands and results -----------------------------------------------------------

// Offsets from an expression's type to the entries that give its value as a
// double in its own arithmetic, and as a double in double arithmetic.
constexpr uint32_t kOwnArithmeticReal = 5;
constexpr uint32_t kDoubleArithmeticReal = 10;

struct Operand {
    const CommandArgSlot* slot = nullptr;

    double Real(uint32_t offset) const {
        if (slot == nullptr) return 0.0;
        return EvaluateExpr(static_cast<uint32_t>(slot->expr_type) + offset, slot->code).real;
    }
    double OwnReal() const { return Real(kOwnArithmeticReal); }
    double DoubleReal() const { return Real(kDoubleArithmeticReal); }
    int64_t Integer() const {
        if (slot == nullptr) return 0;
        return EvaluateExpr(static_cast<uint32_t>(slot->expr_type), slot->code).integer;
    }
};

// The options, first present first.
constexpr std::array<uint8_t, 19> kOptionOrder = {4, 7, 10, 5, 8, 6, 9, 13, 11, 12, 14, 15, 16, 17, 18, 19, 20, 21, 22};

}  // namespace

int64_t EvalIntegerText(std::string_view text) {
    // The expression input holds 1023 bytes and a NUL.
    constexpr size_t kInputLimit = 1023;
    text = UpToNul(text);
    if (text.size() > kInputLimit) text = text.substr(0, kInputLimit);
    return IntegerTextReader(text).Sum();
}

int64_t RandomInRange(int64_t a, int64_t b, uint32_t r) {
    if (b < a) std::swap(a, b);
    const uint64_t span = static_cast<uint64_t>(b) - static_cast<uint64_t>(a) + 1;
    if (span == 0) return a;
    return static_cast<int64_t>(static_cast<uint64_t>(a) + r % span);
}

int32_t CmdMath() {
    if (DecodeCommandArgs(kCmdMath) != 0) return -1;
    const CommandArgBlock& args = Args();
    const CommandArgSlot* result = args.Find(0);
    int option = 0;
    for (uint8_t candidate : kOptionOrder) {
        if (args.Given(candidate)) {
            option = candidate;
            break;
        }
    }
    if (option == 0) return 0;
    const Operand x{args.Find(1)};
    const Operand y{args.Find(2)};
    // The text is read before any operand runs: the evaluator owns nothing
    // of it, but the block is only ours until the next decode.
    const CommandArgSlot* text_slot = args.Find(3);
    const std::string text(text_slot != nullptr ? UpToNul(text_slot->Text()) : std::string_view());

    // Without a result element there is nowhere to store; the operands are
    // still evaluated as the option asks.
    const uint32_t number = result != nullptr ? result->var_number : 0;
    const int64_t element = result != nullptr ? result->var_element : -1;
    auto store_real = [&](double value) {
        if (result != nullptr) SetRealElement(number, element, value);
        return 0;
    };
    auto store_integer = [&](int64_t value) {
        if (result != nullptr) SetNumberElement(number, element, value);
        return 0;
    };

    switch (option) {
        case 4: return store_real(std::sin(x.DoubleReal()));
        case 7: return store_real(std::cos(x.DoubleReal()));
        case 10: return store_real(std::tan(x.OwnReal()));
        case 5: return store_real(std::asin(x.OwnReal()));
        case 8: return store_real(std::acos(x.OwnReal()));
        case 6: return store_real(std::sinh(x.OwnReal()));
        case 9: return store_real(std::cosh(x.OwnReal()));
        case 13: return store_real(std::tanh(x.OwnReal()));
        case 11: return store_real(std::atan(x.OwnReal()));
        case 12: {
            const double ordinate = x.OwnReal();
            return store_real(std::atan2(ordinate, y.OwnReal()));
        }
        case 14: return store_real(x.OwnReal());
        // The absolute value of operand 1 in its own arithmetic, for integer
        // and real operands alike.
        case 15: return store_real(std::fabs(x.OwnReal()));
        case 16: return store_real(std::exp(x.OwnReal()));
        case 17: return store_real(std::log(x.OwnReal()));
        case 18: return store_real(std::log10(x.OwnReal()));
        case 19: {
            const double base = x.OwnReal();
            return store_real(std::pow(base, y.OwnReal()));
        }
        case 20: {
            const int64_t a = x.Integer();
            const int64_t b = y.Integer();
            return store_integer(RandomInRange(a, b, NextRandom()));
        }
        case 21: {
            const auto bytes = std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size());
            return store_integer(int64_t{Crc32(bytes)});
        }
        case 22: return store_integer(EvalIntegerText(text));
        default: return 0;
    }
}

}  // namespace zk
