// The TextBuffer: the text of the message the script is showing, with a
// parallel stream of one kind code per character ('1' a one-byte
// character, '2' a two-byte character, 'E' the end of the message), so
// that the script laying the message out can read both (system variables
// 122 and 123). Its head keeps a copy of text slot 0's style.
//
// The message commands fill it; the task runner wipes it when the task that
// closed the message runs again.
//
// Script thread only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zk {

inline constexpr size_t kTextBufferBytes = 8192;
// The appending commands keep the text below this length, so the text and
// its NUL always fit.
inline constexpr int32_t kTextBufferLimit = 8190;

inline constexpr char kTextKindSingle = '1';
inline constexpr char kTextKindDouble = '2';
inline constexpr char kTextKindEnd = 'E';

// Text slot 0's style, as the buffer keeps it.
struct TextBufferStyle {
    int32_t size = 20;
    int32_t height = 20;
    uint32_t colour = 0xFFFFFF;
    int32_t second_colour = -1;
    uint8_t gradient_layout = 1;
    uint8_t orientation = 0;
    uint8_t bold = 0;
    uint8_t draw_mode = 0;
    uint8_t smoothing = 1;
};

struct TextBuffer {
    TextBufferStyle style;
    uint8_t dirty = 0;  // 1: the buffer holds a message that the next clear wipes
    std::array<char, kTextBufferBytes> text{};   // CP932, NUL-terminated
    std::array<char, kTextBufferBytes> kinds{};  // one code per character, NUL-terminated
    int32_t text_length = 0;  // bytes, without the NUL
    int32_t kind_count = 0;   // codes, without the NUL
};
TextBuffer& TheTextBuffer();

// Start-up: the default style head, then an empty buffer. Always 0.
int CreateTextBuffer();
// Wipes both streams when the dirty flag is set (and clears it); without
// it, does nothing.
void ClearTextBuffer();

// The two streams as texts (up to their lengths and first NUL).
std::string_view TextBufferText();
std::string_view TextBufferKinds();
// Replace a stream (the system variable writes). A text is cut at the
// stream's limit; the rest of the stream is zeroed.
void ReplaceTextBufferText(std::string_view text);
void ReplaceTextBufferKinds(std::string_view kinds);

}  // namespace zk
