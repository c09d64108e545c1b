#include "tools/lib/infix.h"

#include <cctype>
#include <charconv>
#include <stdexcept>

#include "base/sjis.h"
#include "script/expr_opcodes.h"
#include "tools/lib/expr_assembler.h"

namespace zk::tools {

namespace {

struct SyntaxError {
    std::string message;
};

class Parser {
public:
    Parser(std::string_view source, const InfixSymbols& symbols) : src_(source), symbols_(symbols) {}

    std::vector<uint8_t> Compile() {
        Expression();
        Skip();
        if (pos_ != src_.size()) Fail("unexpected '" + std::string(src_.substr(pos_, 1)) + "'");
        return out_.Take();
    }

private:
    // One binary level: `next` parses the operands, `ops` maps each operator
    // spelling (longest first) to its opcode.
    struct BinaryOp {
        std::string_view spelling;
        uint8_t opcode;
    };
    template <size_t N>
    void Binary(void (Parser::*next)(), const BinaryOp (&ops)[N]) {
        (this->*next)();
        for (;;) {
            const BinaryOp* found = nullptr;
            for (const BinaryOp& op : ops) {
                if (PeekOperator(op.spelling)) {
                    found = &op;
                    break;
                }
            }
            if (found == nullptr) return;
            pos_ += found->spelling.size();
            (this->*next)();
            out_.Op(found->opcode);
        }
    }

    void Expression() { LogicalOr(); }
    void LogicalOr() { Binary(&Parser::LogicalAnd, kLogicalOr); }
    void LogicalAnd() { Binary(&Parser::BitOr, kLogicalAnd); }
    void BitOr() { Binary(&Parser::BitXor, kBitOr); }
    void BitXor() { Binary(&Parser::BitAnd, kBitXor); }
    void BitAnd() { Binary(&Parser::Equality, kBitAnd); }
    void Equality() { Binary(&Parser::Relational, kEquality); }
    void Relational() { Binary(&Parser::Additive, kRelational); }
    void Additive() { Binary(&Parser::Multiplicative, kAdditive); }
    void Multiplicative() { Binary(&Parser::Unary, kMultiplicative); }

    void Unary() {
        Skip();
        if (Accept("-")) {
            Skip();
            if (pos_ < src_.size() && std::isdigit(static_cast<unsigned char>(src_[pos_]))) {
                Number(true);
                return;
            }
            Unary();
            out_.Op(kOpNegate);
            return;
        }
        if (Accept("+")) {
            Unary();
            return;
        }
        Primary();
    }

    void Primary() {
        Skip();
        if (pos_ >= src_.size()) Fail("expression ends too soon");
        const char c = src_[pos_];
        if (std::isdigit(static_cast<unsigned char>(c))) return Number(false);
        if (c == '"') return TextLiteral();
        if (Accept("(")) {
            Expression();
            Expect(")");
            return;
        }
        if (c == '#' || c == '`') {
            ++pos_;
            return VariableRef(static_cast<uint8_t>(c));
        }
        if (c == '@') {
            ++pos_;
            out_.Whole(VariableNumber());
            return;
        }
        if (AcceptWord("str")) return Conversion(kOpToText);
        if (AcceptWord("num")) return Conversion(kOpToNumber);
        VariableRef(0);
    }

    void Conversion(uint8_t opcode) {
        Expect("(");
        Expression();
        Expect(")");
        out_.Op(opcode);
    }

    void VariableRef(uint8_t prefix) {
        uint16_t number = VariableNumber();
        Skip();
        if (!Accept("[")) {
            out_.Var(number, prefix);
            return;
        }
        out_.Subscript(number, prefix);
        Skip();
        if (!PeekOperator("]")) {
            do {
                Expression();
                Skip();
            } while (Accept(","));
        }
        Expect("]");
        out_.End();
    }

    uint16_t VariableNumber() {
        Skip();
        if (Accept("$")) {
            size_t start = pos_;
            while (pos_ < src_.size() && std::isdigit(static_cast<unsigned char>(src_[pos_]))) ++pos_;
            unsigned value = 0;
            auto r = std::from_chars(src_.data() + start, src_.data() + pos_, value);
            if (r.ec != std::errc() || value > 0xFFFF) Fail("bad variable number");
            return static_cast<uint16_t>(value);
        }
        size_t start = pos_;
        while (pos_ < src_.size() && (std::isalnum(static_cast<unsigned char>(src_[pos_])) || src_[pos_] == '_')) {
            ++pos_;
        }
        if (start == pos_) Fail("expected an operand");
        std::string_view name = src_.substr(start, pos_ - start);
        auto it = symbols_.find(name);
        if (it == symbols_.end()) Fail("unknown name '" + std::string(name) + "'");
        return it->second;
    }

    void Number(bool negative) {
        size_t start = pos_;
        bool hex = src_.substr(pos_, 2) == "0x" || src_.substr(pos_, 2) == "0X";
        if (hex) pos_ += 2;
        bool real = false;
        while (pos_ < src_.size()) {
            char c = src_[pos_];
            if (std::isxdigit(static_cast<unsigned char>(c)) && (hex || std::isdigit(static_cast<unsigned char>(c)))) {
                ++pos_;
            } else if (!hex && (c == '.' || ((c == 'e' || c == 'E') && real))) {
                real = true;
                ++pos_;
                if (c != '.' && pos_ < src_.size() && (src_[pos_] == '-' || src_[pos_] == '+')) ++pos_;
            } else {
                break;
            }
        }
        std::string_view text = src_.substr(start, pos_ - start);
        if (real) {
            double value = 0;
            auto r = std::from_chars(text.data(), text.data() + text.size(), value);
            if (r.ec != std::errc() || r.ptr != text.data() + text.size()) Fail("bad real literal");
            out_.Real(negative ? -value : value);
            return;
        }
        uint64_t magnitude = 0;
        std::string_view digits = hex ? text.substr(2) : text;
        auto r = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude, hex ? 16 : 10);
        if (r.ec != std::errc() || r.ptr != digits.data() + digits.size()) Fail("bad integer literal");
        if (negative) {
            if (magnitude > (uint64_t{1} << 63)) Fail("integer literal out of range");
            out_.Int(static_cast<int64_t>(0 - magnitude));
        } else {
            // Hex literals may use all 64 bits (0xFFFFFFFFFFFFFFFF is -1).
            if (!hex && magnitude > static_cast<uint64_t>(INT64_MAX)) Fail("integer literal out of range");
            out_.Int(static_cast<int64_t>(magnitude));
        }
    }

    void TextLiteral() {
        ++pos_;  // opening quote
        std::string text;
        for (;;) {
            if (pos_ >= src_.size()) Fail("text literal not closed");
            char c = src_[pos_++];
            if (c == '"') break;
            // A double-byte character is kept whole: its trail byte may read
            // as '\\' or '"'.
            if (IsSjisLeadByte(static_cast<uint8_t>(c)) && pos_ < src_.size()) {
                text += c;
                text += src_[pos_++];
                continue;
            }
            if (c == '\\') {
                if (pos_ >= src_.size()) Fail("text literal not closed");
                char e = src_[pos_++];
                text += e == 'n' ? '\n' : e == 't' ? '\t' : e;
                continue;
            }
            text += c;
        }
        out_.Text(text);
    }

    void Skip() {
        while (pos_ < src_.size() && std::isspace(static_cast<unsigned char>(src_[pos_]))) ++pos_;
    }
    bool PeekOperator(std::string_view op) {
        Skip();
        if (src_.substr(pos_, op.size()) != op) return false;
        // "|" must not take the first half of "||", "&" of "&&", "<" of "<=".
        if (op.size() == 1 && pos_ + 1 < src_.size()) {
            char next = src_[pos_ + 1];
            if ((op == "|" && next == '|') || (op == "&" && next == '&') || ((op == "<" || op == ">") && next == '=')) {
                return false;
            }
        }
        return true;
    }
    bool Accept(std::string_view token) {
        Skip();
        if (src_.substr(pos_, token.size()) != token) return false;
        pos_ += token.size();
        return true;
    }
    bool AcceptWord(std::string_view word) {
        Skip();
        if (src_.substr(pos_, word.size()) != word) return false;
        size_t after = pos_ + word.size();
        while (after < src_.size() && src_[after] == ' ') ++after;
        if (after >= src_.size() || src_[after] != '(') return false;
        pos_ += word.size();
        return true;
    }
    void Expect(std::string_view token) {
        if (!Accept(token)) Fail("expected '" + std::string(token) + "'");
    }
    [[noreturn]] void Fail(const std::string& message) {
        throw SyntaxError{message + " at column " + std::to_string(pos_ + 1)};
    }

    static constexpr BinaryOp kLogicalOr[] = {{"||", kOpLogicalOr}};
    static constexpr BinaryOp kLogicalAnd[] = {{"&&", kOpLogicalAnd}};
    static constexpr BinaryOp kBitOr[] = {{"|", kOpBitOr}};
    static constexpr BinaryOp kBitXor[] = {{"^", kOpBitXor}};
    static constexpr BinaryOp kBitAnd[] = {{"&", kOpBitAnd}};
    static constexpr BinaryOp kEquality[] = {{"==", kOpEqual}, {"!=", kOpNotEqual}};
    static constexpr BinaryOp kRelational[] = {
        {"<=", kOpLessEqual}, {">=", kOpGreaterEqual}, {"<", kOpLess}, {">", kOpGreater}};
    static constexpr BinaryOp kAdditive[] = {{"+", kOpAdd}, {"-", kOpSubtract}};
    static constexpr BinaryOp kMultiplicative[] = {{"*", kOpMultiply}, {"/", kOpDivide}, {"%", kOpRemainder}};

    std::string_view src_;
    const InfixSymbols& symbols_;
    size_t pos_ = 0;
    ExprAssembler out_;
};

}  // namespace

InfixResult TryCompileInfix(std::string_view source, const InfixSymbols& symbols) {
    InfixResult result;
    try {
        result.code = Parser(source, symbols).Compile();
    } catch (const SyntaxError& error) {
        result.error = error.message;
    }
    return result;
}

std::vector<uint8_t> CompileInfix(std::string_view source, const InfixSymbols& symbols) {
    InfixResult result = TryCompileInfix(source, symbols);
    if (!result.Ok()) throw std::invalid_argument("infix \"" + std::string(source) + "\": " + result.error);
    return std::move(result.code);
}

}  // namespace zk::tools
