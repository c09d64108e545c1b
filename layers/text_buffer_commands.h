// The message commands over the TextBuffer.
//
// Script thread only.
#pragma once

#include <cstdint>

namespace zk {

inline constexpr uint8_t kCmdEndMessage = 81;
inline constexpr uint8_t kCmdAppendInlineText = 108;
inline constexpr uint8_t kCmdAppendValueText = 112;

// Command 81 (decodes nothing): the task keeps the message's place, the
// buffer is marked to be wiped and gets an 'E' (dropped when the kind
// stream is full), the task asks for the wipe at its next run and stops
// for this frame (-1).
int32_t CmdEndMessage();
// Command 108: the bytes of the line's first record, as written, with a
// kind code per character. 102000 (fatal) when the text would reach 8190
// bytes.
int32_t CmdAppendInlineText();
// Command 112: the first record's value written out (an integer, a real
// with six decimals, or a text), printable ASCII and double-byte
// characters as they are and every other byte as a space. 102000 as
// above, 102030 for a value over 1024 bytes (both fatal).
int32_t CmdAppendValueText();

void RegisterTextBufferCommands();

}  // namespace zk
