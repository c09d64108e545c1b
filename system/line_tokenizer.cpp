#include "system/line_tokenizer.h"

#include "base/nul_text.h"
#include "base/sjis.h"
#include "script/variables.h"

namespace zk {

namespace {

enum class State { kStart, kWord, kString, kSpace, kTab, kBlockComment };

bool IsDigit(uint8_t b) { return b >= '0' && b <= '9'; }
bool IsLetter(uint8_t b) { return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z'); }

// A text cut to the token buffer without splitting a double-byte character.
std::string TokenText(std::string_view text) {
    if (text.size() <= kMaxTokenBytes) return std::string(text);
    size_t end = 0;
    while (end < text.size()) {
        const size_t next = end + SjisCharLength(text, end);
        if (next > kMaxTokenBytes) break;
        end = next;
    }
    return std::string(text.substr(0, end));
}

}  // namespace

TokenizedLine SplitLine(std::string_view line, bool in_comment) {
    line = UpToNul(line);
    TokenizedLine out;
    State state = in_comment ? State::kBlockComment : State::kStart;
    out.comment_state = in_comment ? 1 : 0;
    size_t start = 0;
    size_t pos = 0;
    const size_t size = line.size();
    auto byte_at = [&](size_t i) -> uint8_t { return i < size ? static_cast<uint8_t>(line[i]) : 0; };
    auto emit = [&](int32_t kind, std::string_view text) {
        out.tokens.push_back({TokenText(text), kind});
        if (kind != LineToken::kNoKind) ++out.count;
    };
    auto one_char = [&](size_t at) { return SjisCharLength(line, at); };

    while (pos < size) {
        const uint8_t b = byte_at(pos);
        const uint8_t c = byte_at(pos + 1);
        switch (state) {
            case State::kStart:
                if (IsDigit(b) || b == '-' || IsLetter(b) || b == '_' || b == '.') {
                    state = State::kWord;
                    pos += 1;
                } else if (IsSjisLeadByte(b)) {
                    state = State::kWord;
                    pos += one_char(pos);
                } else if (b == '"') {
                    state = State::kString;
                    pos += 1;
                } else if (b == ' ') {
                    state = State::kSpace;
                    pos += 1;
                } else if (b == '\t') {
                    state = State::kTab;
                    pos += 1;
                } else if (b == '/' && c == '/') {
                    emit(kTokenComment, "\r");
                    out.write_state = false;
                    return out;
                } else if (b == '/' && c == '*') {
                    out.comment_state = 1;
                    state = State::kBlockComment;
                    pos += 1;
                } else if (b == '\\' || b == '(' || b == ')' || b == ',' || b == '@' || b == '$') {
                    const int32_t kind = b == '\\' ? kTokenBackslash
                                         : b == '(' ? kTokenOpenParen
                                         : b == ')' ? kTokenCloseParen
                                         : b == ',' ? kTokenComma
                                         : b == '@' ? kTokenAt
                                                    : kTokenDollar;
                    emit(kind, line.substr(pos, 1));
                    pos += 1;
                    start = pos;
                } else if (b == '#') {
                    emit(kTokenHash, "#");
                    pos += c == '=' ? 2 : 1;
                    start = pos;
                } else if ((b == '+' && (c == '+' || c == '=')) || ((b == '*' || b == '/') && c == '=')) {
                    const int32_t kind = b == '+' ? (c == '+' ? kTokenIncrement : kTokenAddAssign)
                                         : b == '*' ? kTokenMulAssign
                                                    : kTokenDivAssign;
                    emit(kind, line.substr(pos, 2));
                    pos += 2;
                    start = pos;
                } else if (b == ';') {
                    // Skipped; the token start stays where it was.
                    pos += 1;
                } else {
                    const size_t length = one_char(pos);
                    emit(kTokenChar, line.substr(pos, length));
                    pos += length;
                    start = pos;
                }
                break;
            case State::kWord:
                if (IsDigit(b) || IsLetter(b) || b == '_' || b == '.' || b == '/' || IsSjisLeadByte(b)) {
                    pos += one_char(pos);
                } else {
                    emit(kTokenWord, line.substr(start, pos - start));
                    start = pos;
                    state = State::kStart;
                }
                break;
            case State::kString:
                if (b == '"' || b == '\r') {
                    emit(kTokenString, line.substr(start, pos + 1 - start));
                    pos += 1;
                    start = pos;
                    state = State::kStart;
                } else {
                    pos += 1;
                }
                break;
            case State::kSpace:
            case State::kTab:
                if (b == (state == State::kSpace ? ' ' : '\t')) {
                    pos += 1;
                } else {
                    start = pos;
                    state = State::kStart;
                }
                break;
            case State::kBlockComment:
                if (b == '*' && c == '/') {
                    emit(LineToken::kNoKind, line.substr(start, pos + 2 - start));
                    out.comment_state = 0;
                    pos += 2;
                    start = pos;
                    state = State::kStart;
                } else if (b == '\r') {
                    emit(kTokenComment, "\r");
                    pos += 1;
                } else {
                    pos += 1;
                }
                break;
        }
    }
    return out;
}

int64_t TokenizeLine(std::string_view line, uint32_t text_var, int64_t first_text, uint32_t kind_var,
                     int64_t first_kind, uint32_t state_var, int64_t state_element) {
    const bool in_comment = FindVariable(state_var) != nullptr && GetIntegerElement(state_var, state_element) != 0;
    const TokenizedLine tokens = SplitLine(line, in_comment);
    const bool texts_exist = FindVariable(text_var) != nullptr;
    const bool kinds_exist = FindVariable(kind_var) != nullptr;
    int64_t n = 0;
    for (const LineToken& token : tokens.tokens) {
        if (texts_exist) SetStringElement(text_var, first_text + n, token.text);
        if (token.kind == LineToken::kNoKind) continue;
        if (kinds_exist) SetNumberElement(kind_var, first_kind + n, token.kind);
        ++n;
    }
    if (tokens.write_state && FindVariable(state_var) != nullptr) SetNumberElement(state_var, state_element, tokens.comment_state);
    return tokens.count;
}

}  // namespace zk
