// Script commands 89 (control a sound channel or group), 90 (delete one)
// and 91 (query a channel).
#pragma once

#include <cstdint>

namespace zk {

struct SoundChannel;

inline constexpr uint8_t kCmdControlSound = 89;
inline constexpr uint8_t kCmdDeleteSoundChannel = 90;
inline constexpr uint8_t kCmdQuerySoundChannel = 91;

int32_t CmdControlSound();
int32_t CmdDeleteSoundChannel();
int32_t CmdQuerySoundChannel();

// The level of the sample at the play cursor: the frame's first sample, or
// (second) its second sample in stereo and its only one in mono. 0..32768
// for 16-bit data, 0..128 for 8-bit; -1 without a buffer or for a format
// other than 8 or 16 bits in one or two channels. Under EngineLock.
int32_t PeakLevel(const SoundChannel& channel, bool second);

void RegisterSoundCommands();

}  // namespace zk
