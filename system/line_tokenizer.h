// The line tokenizer of command 116 code 22: one line of script-like text
// (CP932) split into tokens, each a text and a kind number. Block comments
// may span lines: the comment state carries "inside a block comment" from
// one line to the next.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zk {

// Token kinds.
enum TokenKind : int32_t {
    kTokenComment = 0,      // a line end inside a block comment, or "//"
    kTokenIncrement = 11,   // "++"
    kTokenAddAssign = 12,   // "+="
    kTokenMulAssign = 14,   // "*="
    kTokenDivAssign = 15,   // "/="
    kTokenChar = 16,        // any other single character
    kTokenString = 31,      // a quoted string, quotes included
    kTokenWord = 32,
    kTokenBackslash = 51,
    kTokenOpenParen = 52,
    kTokenCloseParen = 53,
    kTokenComma = 54,
    kTokenAt = 55,
    kTokenDollar = 56,
    kTokenHash = 57,        // '#', and "#=" (the '=' consumed)
};

// A token text holds at most this many bytes (a 4096-byte buffer).
inline constexpr size_t kMaxTokenBytes = 4095;

struct LineToken {
    std::string text;
    // The kind; kNoKind for the text of a closed block comment, which is
    // written into the next token's text element without being counted (a
    // later token of the line overwrites it).
    int32_t kind = 0;
    static constexpr int32_t kNoKind = -1;
};

struct TokenizedLine {
    std::vector<LineToken> tokens;  // in order; counted tokens and comment texts
    int64_t count = 0;              // tokens with a kind
    bool write_state = true;        // false after "//": the state is left as it was
    int64_t comment_state = 0;      // 0 outside, 1 inside a block comment (at the end)
};

// Splits `line` (up to its first NUL) starting inside a block comment when
// `in_comment`.
TokenizedLine SplitLine(std::string_view line, bool in_comment);

// Command 116 code 22: tokenizes `line` into the variables the references
// name (variable number, element index); returns the token count. A token
// outside its variable is not stored but counted; a variable of the wrong
// type reports 101140 (fatal) for each token; a reference naming no
// variable stores nothing.
int64_t TokenizeLine(std::string_view line, uint32_t text_var, int64_t first_text, uint32_t kind_var,
                     int64_t first_kind, uint32_t state_var, int64_t state_element);

}  // namespace zk
