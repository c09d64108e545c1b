// The sound system: the mixer (null while sound is off), the request ring
// that the sound commands post into, the sound thread that runs the
// requests between its passes over the sound tree, and the per-channel steps
// those passes run (requests, fades, play positions, buffer refills).
//
// Threading: the ring, every channel field and every pass run under
// EngineLock (recursive). The thread's state and the end of its life are
// atomics, read by waiters without the lock.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <thread>

#include "platform/audio_mixer.h"
#include "sound/sound_channel.h"

namespace zk {

struct NamedTreeNode;

// ---- Request ring -------------------------------------------------------------

inline constexpr int32_t kSoundRingSlots = 1024;
inline constexpr size_t kSoundSlotNameBytes = 256;

enum SoundRequestCode : uint8_t {
    kSoundLoad = 1,
    kSoundPlay = 2,
    kSoundPause = 3,
    kSoundFadeOut = 4,
    kSoundVolume = 5,
    kSoundFadeTarget = 6,
    kSoundLoopCount = 7,
    kSoundEndTime = 8,
    kSoundStartTime = 9,
    kSoundLoopStart = 10,
    kSoundPan = 11,
    kSoundSpeed = 12,
    kSoundSync = 13,
    kSoundStop = 14,
};

struct SoundRequestQueue {
    std::array<NamedTreeNode*, kSoundRingSlots> channel{};
    std::array<uint8_t, kSoundRingSlots> code{};
    std::array<std::array<char, kSoundSlotNameBytes>, kSoundRingSlots> name{};
    std::array<int32_t, kSoundRingSlots> value{};
    std::array<std::atomic<int32_t>, kSoundRingSlots> done{};
    int32_t read_index = 0;
    int32_t write_index = 0;
};
SoundRequestQueue& TheSoundQueue();

using SoundRequestHandler = int32_t (*)(int32_t slot);
// Indexed by request code; entry 0 is null.
const std::array<SoundRequestHandler, 15>& SoundRequestHandlers();

// Posts a request (name: request 1's file name, cut to 255 bytes). Returns
// the slot, or -1 when nothing could be posted: the ring held 1023 requests
// and stayed full until the sound thread ended, the quit flag was raised or
// a stop signal came (110200 is reported once when the poster finds it
// full). Takes EngineLock itself; a poster that holds it already must not
// wait on a full ring, so callers post without holding it.
int32_t PostSoundRequest(NamedTreeNode* channel, uint8_t code, int32_t value, std::string_view name = {});
// Waits (1 ms polls, outside EngineLock) for a slot's done flag; on the main
// thread each poll first runs the pending main-thread calls (the sound
// thread's box among them). False when the wait ended because the sound
// thread is not running, quit was raised or a stop signal came
// (WaitMustEnd).
bool WaitSoundRequest(int32_t slot);
// Waits the same way until the channel's state is 0.
bool WaitChannelIdle(NamedTreeNode* node);

// ---- The engine-wide sound state ---------------------------------------------

struct SoundSystem {
    // The back end ("DirectSound"): null while sound is off. Owned here
    // unless a test installs its own.
    platform::AudioMixer* mixer = nullptr;
    std::unique_ptr<platform::AudioMixer> owned_mixer;
    uint8_t focus_paused = 0;  // the thread has paused the tree for the window's focus
    // -1 never started, 0 running, 1 ended.
    std::atomic<int8_t> thread_state{-1};
    std::thread thread;
    bool queue_ready = false;
};
SoundSystem& TheSoundSystem();

// Opens the mixer on SDL's audio device. 0, or -1 (sound stays off).
int32_t CreateDirectSound();
// Tests and benchmarks: the mixer the channels play through (not owned);
// null turns sound off for the channels.
void InstallSoundMixer(platform::AudioMixer* mixer);
// The ring and the handler table, the thread (when start_thread), and with
// a mixer the "ROOT" channel. -1 when "ROOT" cannot be made.
int32_t InitSound(bool start_thread = true);
// Starts the sound thread (once); it runs passes until the quit flag.
void StartSoundThread();
// Raises the quit flag, waits for the thread's end (running the main
// thread's pending calls meanwhile), then closes the mixer.
void ReleaseDirectSound();
// Back to the start-of-process state (tests): the thread joined as by
// ReleaseDirectSound (quit must be raised by the caller first), the ring
// cleared, the mixer dropped.
void ResetSoundSystem();

// Gives a node its SoundChannel (and the payload's free function). False,
// after 100010, when there is no memory; a null node gives false.
bool CreateSoundChannel(NamedTreeNode* node);

// One pass of the sound thread, without its sleep, under EngineLock: focus
// pause, requests, fades, positions, refills. A negative step result is the
// run's fatal error (its absolute value the number), shown in a box once
// the lock is let go, and then raises the quit flag. Returns that result
// or 0.
int32_t RunSoundPass();
// The message for a negative result (CP932), as the thread shows it.
std::string SoundErrorMessage(int32_t code);

// ---- Per-channel steps (sound thread, under EngineLock) -----------------------

int32_t RunSoundRequests();
void UpdateSoundFades();
int32_t TrackSoundPositions();
int32_t RefillSoundBuffers();
// 1 pauses the channel (its buffer released, its place kept); 0 resumes it
// when it and every named ancestor are audible and none has its paused byte
// set. 0, or a negative result for the thread.
int32_t SetChannelPaused(NamedTreeNode* node, int32_t mode);
// Walks the tree from the sound root's children, pausing (1) or resuming (0).
int32_t SetTreePaused(int32_t mode);
void ReleaseAllSoundChannels();

// Volume, pan and speed laws.
int32_t MillibelsOfVolume(int32_t volume);  // 0..256 -> -10000..0; <= 0 silent
int32_t EffectiveVolume(const NamedTreeNode* node);
void ApplySoundVolume(NamedTreeNode* node, int32_t volume);
void SetBufferVolume(NamedTreeNode* node, int32_t volume);
void ApplySoundPan(SoundChannel& channel);
void ApplySoundSpeed(SoundChannel& channel);
int32_t PanMillibels(int32_t pan);
int32_t SpeedFrequency(uint32_t rate, int32_t speed);

// ---- Decoding and streaming (sound/sound_stream.cpp) --------------------------

int32_t LoadSoundFile(NamedTreeNode* node);
int32_t OpenSoundDecoder(SoundChannel& channel);
int32_t CreateSoundBuffer(SoundChannel& channel, uint16_t channels, uint32_t rate, uint16_t block_align, uint16_t bits);
int32_t SeekSound(SoundChannel& channel, int64_t ms);
int32_t FillSoundHalf(SoundChannel& channel);
void ReleaseSoundStreams(SoundChannel& channel);
void ReleaseSoundChannel(SoundChannel& channel);
// The silent WAVE image that "ROOT" loops.
std::vector<uint8_t> SilentWaveImage();

}  // namespace zk
