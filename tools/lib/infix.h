// A small infix front end over the expression assembler, so that a test's
// expression reads like a script line:
//
//     CompileInfix("x[2] + 3 * y", {{"x", 1000}, {"y", 1001}})
//
// Operators, loosest first (each level left to right):
//   ||   &&   |   ^   &   == !=   < > <= >=   + -   * / %   unary - +
// Operands: integers (decimal or 0x hex; the shortest int opcode is used,
// and a minus before a literal is folded into it), reals (with a '.'),
// "texts" (escapes \n \t \\ \"; bytes kept as written, so pass CP932),
// names from the symbol table or $number, each optionally subscripted
// name[i, j], with a prefix #name or `name (the reference value), @name for
// the whole variable, str(e) (number to text), num(e) (text to number) and
// parentheses.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace zk::tools {

using InfixSymbols = std::map<std::string, uint16_t, std::less<>>;

struct InfixResult {
    std::vector<uint8_t> code;
    std::string error;  // empty when the source compiled
    bool Ok() const { return error.empty(); }
};

InfixResult TryCompileInfix(std::string_view source, const InfixSymbols& symbols = {});
// As TryCompileInfix; a source that does not compile throws
// std::invalid_argument with the error (tests want to fail loudly).
std::vector<uint8_t> CompileInfix(std::string_view source, const InfixSymbols& symbols = {});

}  // namespace zk::tools
