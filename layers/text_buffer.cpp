#include "layers/text_buffer.h"

#include <algorithm>
#include <cstring>

namespace zk {

namespace {

TextBuffer text_buffer;

// Copies `bytes` into a stream and zeroes the rest; the length stays below
// kTextBufferLimit like everything the commands append.
int32_t ReplaceStream(std::array<char, kTextBufferBytes>& stream, std::string_view bytes) {
    const size_t length = std::min(bytes.size(), size_t{kTextBufferLimit} - 1);
    if (length > 0) std::memcpy(stream.data(), bytes.data(), length);
    std::fill(stream.begin() + static_cast<ptrdiff_t>(length), stream.end(), '\0');
    return static_cast<int32_t>(length);
}

std::string_view StreamText(const std::array<char, kTextBufferBytes>& stream, int32_t length) {
    const size_t bounded = std::clamp<int64_t>(length, 0, kTextBufferBytes - 1);
    std::string_view text(stream.data(), bounded);
    return text.substr(0, text.find('\0'));
}

}  // namespace

TextBuffer& TheTextBuffer() { return text_buffer; }

int CreateTextBuffer() {
    text_buffer.style = TextBufferStyle{};
    text_buffer.dirty = 1;
    ClearTextBuffer();
    return 0;
}

void ClearTextBuffer() {
    if (text_buffer.dirty == 0) return;
    text_buffer.dirty = 0;
    text_buffer.text_length = 0;
    text_buffer.kind_count = 0;
    text_buffer.text.fill('\0');
    text_buffer.kinds.fill('\0');
}

std::string_view TextBufferText() { return StreamText(text_buffer.text, text_buffer.text_length); }
std::string_view TextBufferKinds() { return StreamText(text_buffer.kinds, text_buffer.kind_count); }

void ReplaceTextBufferText(std::string_view text) { text_buffer.text_length = ReplaceStream(text_buffer.text, text); }
void ReplaceTextBufferKinds(std::string_view kinds) {
    text_buffer.kind_count = ReplaceStream(text_buffer.kinds, kinds);
}

}  // namespace zk
