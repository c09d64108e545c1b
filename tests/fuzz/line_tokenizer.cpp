// SplitLine over arbitrary bytes, in and out of a block comment: tokens
// stay within the token buffer, are never longer than the line, every
// counted token has a known kind, and the comment state is 0 or 1.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "system/line_tokenizer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const bool in_comment = (data[0] & 1) != 0;
    const std::string_view line(reinterpret_cast<const char*>(data + 1), size - 1);
    const zk::TokenizedLine tokens = zk::SplitLine(line, in_comment);
    int64_t counted = 0;
    for (const zk::LineToken& token : tokens.tokens) {
        if (token.text.size() > zk::kMaxTokenBytes || token.text.size() > line.size() + 1) std::abort();
        if (token.kind != zk::LineToken::kNoKind) ++counted;
    }
    if (counted != tokens.count || (tokens.comment_state != 0 && tokens.comment_state != 1)) std::abort();
    return 0;
}
