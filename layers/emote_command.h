// Command 12: drives the model player of a model layer (values, actions,
// texts and named values). Without a player it does nothing.
//
// Threading: the script thread.
#pragma once

#include <cstdint>

namespace zk {

inline constexpr uint8_t kCmdControlEmotePlayer = 12;

// Keyword numbers of command 12 (0-based).
enum EmoteKeyword : uint8_t {
    kEmoteName = 0,
    kEmoteNumber = 1,
    kEmoteValue214 = 2,  // each / 10000
    kEmoteValue218 = 3,
    kEmoteValue216 = 4,
    kEmoteFive = 5,      // 0: clear the five values, else set them (6..10)
    kEmoteFive1 = 6,     // 6..10, defaults 0, 1, 1, 1, 1
    kEmoteAction = 11,   // 1: the library's action 253
    kEmoteText = 12,     // sent with 13
    kEmoteTextMode = 13,
    kEmoteFrames = 14,   // milliseconds the named values take (sent as frames, x 0.06)
    kEmoteLabels = 15,   // a text array variable
    kEmoteValues = 16,   // a real array variable
    kEmoteCount = 17,    // how many pairs (at most 255)
};

// The most pairs one command sends.
inline constexpr int64_t kMaxEmotePairs = 255;

int32_t CmdControlEmotePlayer();
void InstallEmoteCommand();

}  // namespace zk
