// Sound channels: the effects of the 14 requests, the volume, pan and speed
// laws, fades, pausing and resuming, and the per-pass tracking of the play
// position and refilling of the buffers. Everything here runs on the sound
// thread under EngineLock.
#include <algorithm>
#include <cmath>
#include <memory>

#include "core/engine_state.h"
#include "core/error_report.h"
#include "core/named_tree.h"
#include "core/root_trees.h"
#include "platform/clock.h"
#include "sound/sound_system.h"

namespace zk {

namespace {

uint32_t Now() { return platform::TimeGetTime(); }
// A stamp is never 0: 0 means "not set".
uint32_t Stamp() { return std::max<uint32_t>(Now(), 1); }

bool HasNamedParent(const NamedTreeNode* node) {
    return node != nullptr && node->parent != nullptr && node->parent->parent != nullptr;
}

template <class Visit>
void ForEachDescendant(NamedTreeNode* node, Visit&& visit) {
    for (NamedTreeNode* child = node->first_child; child != nullptr; child = child->next_sibling) {
        visit(child);
        if (child->group != 0) ForEachDescendant(child, visit);
    }
}

// Visits every node of the sound tree below its root, stopping at the first
// negative result.
template <class Step>
int32_t ForEachSoundNode(Step&& step) {
    NamedTreeNode* root = TheRootTrees().sounds;
    if (root == nullptr) return 0;
    int32_t result = 0;
    auto visit = [&](NamedTreeNode* node) {
        if (result < 0) return;
        if (SoundChannel* channel = ChannelOf(node)) result = step(node, *channel);
    };
    ForEachDescendant(root, visit);
    return result;
}

void Mute(NamedTreeNode* node) {
    const SoundChannel* channel = ChannelOf(node);
    if (node->group != 0 && channel != nullptr) ApplySoundVolume(node, channel->volume);
    else SetBufferVolume(node, 0);
}

// With the quit flag raised the first step that meets a channel turns it
// down to a murmur and sets it idle; the final release frees it.
bool QuitChannel(NamedTreeNode* node, SoundChannel& channel) {
    if (QuitFlag.load() == 0 || channel.state == kSoundIdle) return false;
    if (node->group != 0) {
        ApplySoundVolume(node, channel.volume);
    } else {
        SetBufferVolume(node, HasNamedParent(node) ? 2 * EffectiveVolume(node->parent) / 256 : 2);
    }
    channel.state = kSoundIdle;
    return true;
}

bool Running(const SoundChannel& channel) {
    return channel.state >= kSoundRamping && channel.paused == 0 && channel.pause_stamp == 0 &&
           TheSoundSystem().focus_paused == 0;
}

int32_t SlopeOf(int64_t change, int32_t length) {
    const int64_t slope = length != 0 ? change * 1024 / length : change * 1024;
    return static_cast<int32_t>(std::clamp<int64_t>(slope, INT32_MIN, INT32_MAX));
}

int32_t PauseSoundChannel(SoundChannel& channel) {
    if (channel.state < kSoundRamping || channel.pause_stamp != 0) return 0;
    if (TheSoundSystem().mixer != nullptr) {
        if (!channel.buffer) return -410;
        uint32_t play = 0, write = 0;
        channel.buffer->GetCurrentPosition(play, write);
        channel.bytes_played += play >= channel.last_play_cursor
                                    ? play - channel.last_play_cursor
                                    : play + static_cast<uint32_t>(channel.buffer_bytes) - channel.last_play_cursor;
        channel.last_play_cursor = play;
    }
    ReleaseSoundStreams(channel);
    channel.pause_stamp = Stamp();
    return 0;
}

int32_t ResumeSoundChannel(NamedTreeNode* node, SoundChannel& channel) {
    if (channel.state < kSoundRamping || channel.pause_stamp == 0) return 0;
    channel.last_filled_half = 1;
    channel.start = channel.bytes_per_second > 0
                        ? static_cast<int32_t>(channel.bytes_played * 1000 / channel.bytes_per_second)
                        : 0;
    channel.bytes_played = 0;
    channel.last_play_cursor = 0;
    channel.carried_bytes = 0;
    channel.silence_to_insert = 0;
    const int32_t end = channel.end;  // opening again must not move the end
    if (const int32_t result = OpenSoundDecoder(channel); result < 0) return result;
    channel.end = end;
    if (channel.start >= channel.end) channel.start = 0;
    if (const int32_t result = SeekSound(channel, channel.start); result < 0) return result;
    channel.bytes_played = channel.decode_position;
    channel.write_offset = 0;
    if (TheSoundSystem().mixer != nullptr) {
        if (const int32_t result = FillSoundHalf(channel); result < 0) return result;
        ApplySoundVolume(node, channel.fade_target);
        ApplySoundPan(channel);
        ApplySoundSpeed(channel);
        if (!channel.buffer) return -430;
        channel.buffer->Play(true);
    }
    channel.pause_stamp = 0;
    return 0;
}

// Starts a loaded channel: the first half filled, silent, playing.
int32_t StartLoadedChannel(NamedTreeNode* node, SoundChannel& channel, int32_t play_error) {
    channel.last_play_cursor = 0;
    channel.carried_bytes = 0;
    channel.silence_to_insert = 0;
    channel.fade_start_time = Now();
    channel.fade_end_time = 0;
    if (const int32_t result = SeekSound(channel, channel.start < channel.end ? channel.start : 0); result < 0)
        return result;
    channel.bytes_played = channel.decode_position;
    channel.last_filled_half = 1;
    channel.write_offset = 0;
    if (TheSoundSystem().mixer != nullptr) {
        if (const int32_t result = FillSoundHalf(channel); result < 0) return result;
        Mute(node);
        ApplySoundPan(channel);
        ApplySoundSpeed(channel);
        if (!channel.buffer) return -1;
        channel.buffer->Play(true);
        if (!channel.buffer->Playing()) return play_error;
    }
    channel.fade_start_volume = 0;
    channel.slope = SlopeOf(channel.fade_target, channel.fade_length);
    channel.state = kSoundRamping;
    return 1;
}

// ---- The request handlers -------------------------------------------------------

NamedTreeNode* SlotNode(int32_t slot) { return TheSoundQueue().channel[static_cast<size_t>(slot)]; }
int32_t SlotValue(int32_t slot) { return TheSoundQueue().value[static_cast<size_t>(slot)]; }

int32_t HandleLoadRequest(int32_t slot) {
    NamedTreeNode* node = SlotNode(slot);
    SoundChannel* channel = ChannelOf(node);
    if (channel == nullptr) return 1;
    if (channel->state != kSoundIdle) {
        Mute(node);
        ReleaseSoundChannel(*channel);
        channel->state = kSoundIdle;
        return 0;
    }
    const auto& name = TheSoundQueue().name[static_cast<size_t>(slot)];
    // The slot's text is NUL-terminated within its 256 bytes; a channel
    // name holds up to 260.
    const size_t length = std::find(name.begin(), name.end(), '\0') - name.begin();
    channel->name.assign(name.data(), std::min(length, kSoundNameBytes - 1));
    channel->loop_counter = 0;
    channel->last_filled_half = 1;
    channel->pan = 256;
    channel->speed = 256;
    channel->start = channel->loop_start = channel->end = 0;
    channel->bytes_played = 0;
    channel->pass_loop_start = channel->pass_loop_end = 0;
    if (const int32_t result = LoadSoundFile(node); result < 0) return result;
    channel->state = kSoundLoaded;
    return 1;
}

int32_t HandlePlayRequest(int32_t slot) {
    NamedTreeNode* node = SlotNode(slot);
    SoundChannel* channel = ChannelOf(node);
    if (channel == nullptr) return 1;
    channel->fade_length = SlotValue(slot);
    switch (channel->state) {
        case kSoundIdle: {
            if (channel->name.empty()) return 1;
            channel->start = 0;
            channel->bytes_played = 0;
            channel->last_play_cursor = 0;
            channel->carried_bytes = 0;
            channel->silence_to_insert = 0;
            channel->fade_start_time = Now();
            channel->fade_end_time = 0;
            if (const int32_t result = LoadSoundFile(node); result < 0) return result;
            return StartLoadedChannel(node, *channel, -110);
        }
        case kSoundLoaded: return StartLoadedChannel(node, *channel, -120);
        case kSoundRamping:
        case kSoundSteady:
            channel->fade_start_time = Now();
            channel->fade_end_time = 0;
            channel->slope = channel->state == kSoundRamping
                                 ? SlopeOf(int64_t{channel->fade_target} - channel->previous_target, channel->fade_length)
                                 : SlopeOf(int64_t{channel->fade_target} - channel->volume, channel->fade_length);
            channel->fade_start_volume = channel->volume;
            channel->state = kSoundRamping;
            return 1;
        case kSoundFadingOut:
            std::swap(channel->fade_start_volume, channel->fade_target);
            Mute(node);
            ReleaseSoundChannel(*channel);
            channel->state = kSoundIdle;
            return 0;  // the next pass starts it again from idle
        default: return 1;
    }
}

int32_t HandlePauseRequest(int32_t slot) {
    NamedTreeNode* node = SlotNode(slot);
    SoundChannel* channel = ChannelOf(node);
    if (channel == nullptr) return 1;
    const int32_t value = SlotValue(slot);
    channel->paused = static_cast<uint8_t>(value);
    int32_t result = SetChannelPaused(node, value);
    if (node->group != 0) {
        ForEachDescendant(node, [&](NamedTreeNode* child) {
            if (result >= 0) result = SetChannelPaused(child, value);
        });
    }
    return result < 0 ? result : 1;
}

int32_t HandleFadeOutRequest(int32_t slot) {
    SoundChannel* channel = ChannelOf(SlotNode(slot));
    if (channel == nullptr) return 1;
    if (channel->state < kSoundRamping) return 1;
    const int32_t length = SlotValue(slot);
    const int32_t from = channel->state == kSoundRamping ? channel->previous_target : channel->volume;
    channel->fade_length = length;
    channel->fade_start_time = Now();
    channel->fade_end_time = 0;
    channel->fade_start_volume = channel->volume;
    channel->fade_target = 0;
    channel->slope = SlopeOf(-int64_t{from}, length);
    channel->state = kSoundFadingOut;
    return 1;
}

int32_t HandleVolumeRequest(int32_t slot) {
    NamedTreeNode* node = SlotNode(slot);
    SoundChannel* channel = ChannelOf(node);
    if (channel == nullptr) return 1;
    const int32_t value = SlotValue(slot);
    channel->volume = channel->previous_target = channel->fade_target = value;
    ApplySoundVolume(node, value);
    return 1;
}

int32_t HandleFadeTargetRequest(int32_t slot) {
    SoundChannel* channel = ChannelOf(SlotNode(slot));
    if (channel == nullptr) return 1;
    channel->previous_target = channel->fade_target;
    channel->fade_target = SlotValue(slot);
    return 1;
}

// Requests 7..12 act only on a channel that holds a sound.
SoundChannel* LoadedChannel(int32_t slot) {
    SoundChannel* channel = ChannelOf(SlotNode(slot));
    return channel != nullptr && channel->state != kSoundIdle ? channel : nullptr;
}

int32_t HandleLoopCountRequest(int32_t slot) {
    if (SoundChannel* channel = LoadedChannel(slot)) channel->loop_counter = SlotValue(slot);
    return 1;
}

int32_t HandleEndTimeRequest(int32_t slot) {
    if (SoundChannel* channel = LoadedChannel(slot)) {
        const int32_t value = SlotValue(slot);
        channel->end = value < channel->length ? value : static_cast<int32_t>(std::min<int64_t>(channel->length, INT32_MAX));
    }
    return 1;
}

int32_t HandleStartTimeRequest(int32_t slot) {
    if (SoundChannel* channel = LoadedChannel(slot)) {
        const int32_t value = SlotValue(slot);
        channel->start = value < channel->length ? value : 0;
    }
    return 1;
}

int32_t HandleLoopStartRequest(int32_t slot) {
    if (SoundChannel* channel = LoadedChannel(slot)) {
        const int32_t value = SlotValue(slot);
        channel->loop_start = value < channel->length ? value : 0;
    }
    return 1;
}

int32_t HandlePanRequest(int32_t slot) {
    if (SoundChannel* channel = LoadedChannel(slot)) {
        channel->pan = SlotValue(slot);
        ApplySoundPan(*channel);
    }
    return 1;
}

int32_t HandleSpeedRequest(int32_t slot) {
    if (SoundChannel* channel = LoadedChannel(slot)) {
        channel->speed = SlotValue(slot);
        ApplySoundSpeed(*channel);
    }
    return 1;
}

int32_t HandleSyncRequest(int32_t) { return 1; }

int32_t HandleStopRequest(int32_t slot) {
    NamedTreeNode* node = SlotNode(slot);
    SoundChannel* channel = ChannelOf(node);
    if (channel == nullptr || channel->state == kSoundIdle) return 1;
    channel->name.clear();
    Mute(node);
    ReleaseSoundChannel(*channel);
    channel->state = kSoundIdle;
    return 1;
}

}  // namespace

const std::array<SoundRequestHandler, 15>& SoundRequestHandlers() {
    static const std::array<SoundRequestHandler, 15> handlers = {
        nullptr,
        HandleLoadRequest,
        HandlePlayRequest,
        HandlePauseRequest,
        HandleFadeOutRequest,
        HandleVolumeRequest,
        HandleFadeTargetRequest,
        HandleLoopCountRequest,
        HandleEndTimeRequest,
        HandleStartTimeRequest,
        HandleLoopStartRequest,
        HandlePanRequest,
        HandleSpeedRequest,
        HandleSyncRequest,
        HandleStopRequest,
    };
    return handlers;
}

SoundChannel* ChannelOf(const NamedTreeNode* node) {
    return node != nullptr ? static_cast<SoundChannel*>(node->payload) : nullptr;
}

bool CreateSoundChannel(NamedTreeNode* node) {
    if (node == nullptr) return false;
    std::unique_ptr<SoundChannel> channel = AllocZeroed<SoundChannel>();
    if (channel == nullptr) {
        ReportEngineErrorF(kErrOutOfMemory, true, {});
        return false;
    }
    node->payload = channel.release();
    node->payload_free = [](void* payload) { std::unique_ptr<SoundChannel>(static_cast<SoundChannel*>(payload)); };
    return true;
}

// ---- Laws ----------------------------------------------------------------------------

int32_t MillibelsOfVolume(int32_t volume) {
    // No logarithm of zero or of a negative volume: both are silence.
    if (volume <= 0) return platform::kMixerVolumeSilent;
    const double millibels = std::trunc(4000.0 * std::log10(volume / 256.0));
    return static_cast<int32_t>(std::clamp(millibels, -10000.0, 0.0));
}

int32_t EffectiveVolume(const NamedTreeNode* node) {
    const SoundChannel* channel = ChannelOf(node);
    if (channel == nullptr) return 0;
    int64_t volume = channel->audible == 1 ? channel->volume : 0;
    if (HasNamedParent(node)) volume = volume * EffectiveVolume(node->parent) >> 8;
    return static_cast<int32_t>(std::clamp<int64_t>(volume, INT32_MIN, INT32_MAX));
}

void SetBufferVolume(NamedTreeNode* node, int32_t volume) {
    SoundChannel* channel = ChannelOf(node);
    if (channel != nullptr && channel->buffer) channel->buffer->SetVolume(MillibelsOfVolume(volume));
}

void ApplySoundVolume(NamedTreeNode* node, int32_t volume) {
    if (TheSoundSystem().mixer == nullptr || node == nullptr) return;
    if (node->group != 0) {
        ForEachDescendant(node, [](NamedTreeNode* child) { SetBufferVolume(child, EffectiveVolume(child)); });
        return;
    }
    const SoundChannel* channel = ChannelOf(node);
    // A channel's own audible flag mutes it, as a group's mutes what is below.
    int64_t v = channel != nullptr && channel->audible != 1 ? 0 : volume;
    if (HasNamedParent(node)) v = v * EffectiveVolume(node->parent) >> 8;
    SetBufferVolume(node, static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)));
}

int32_t PanMillibels(int32_t pan) {
    if (pan < 0 || pan > 512) return 0;
    const int32_t side = pan <= 256 ? pan : 512 - pan;
    const int32_t attenuation = MillibelsOfVolume(side);
    return pan <= 256 ? attenuation : -attenuation;
}

void ApplySoundPan(SoundChannel& channel) {
    if (channel.buffer) channel.buffer->SetPan(PanMillibels(channel.pan));
}

int32_t SpeedFrequency(uint32_t rate, int32_t speed) {
    if (speed < 0 || speed > 512) speed = 256;
    const int64_t r = rate;
    return static_cast<int32_t>(std::clamp<int64_t>(r + (speed - 256) * (r / 2) / 256, 0, INT32_MAX));
}

void ApplySoundSpeed(SoundChannel& channel) {
    if (channel.buffer) channel.buffer->SetFrequency(SpeedFrequency(channel.rate, channel.speed));
}

int32_t SetChannelPaused(NamedTreeNode* node, int32_t mode) {
    SoundChannel* channel = ChannelOf(node);
    if (channel == nullptr) return 0;
    if (mode == 1) return PauseSoundChannel(*channel);
    for (const NamedTreeNode* at = node; at != nullptr && at->parent != nullptr; at = at->parent) {
        const SoundChannel* above = ChannelOf(at);
        if (above != nullptr && (above->audible != 1 || above->paused != 0)) return 0;
    }
    return ResumeSoundChannel(node, *channel);
}

int32_t SetTreePaused(int32_t mode) {
    return ForEachSoundNode([&](NamedTreeNode* node, SoundChannel&) { return SetChannelPaused(node, mode); });
}

// ---- Per-pass steps ------------------------------------------------------------------

void UpdateSoundFades() {
    const uint32_t now = Now();
    ForEachSoundNode([&](NamedTreeNode* node, SoundChannel& channel) -> int32_t {
        if (QuitChannel(node, channel)) return 0;
        if (channel.state != kSoundRamping && channel.state != kSoundFadingOut) return 0;
        if (channel.paused != 0 || channel.pause_stamp != 0 || TheSoundSystem().focus_paused != 0) {
            // The ramp waits while the channel is paused.
            if (channel.pause_stamp != 0) {
                channel.fade_start_time += now - channel.pause_stamp;
                channel.pause_stamp = std::max<uint32_t>(now, 1);
            }
            return 0;
        }
        const int32_t elapsed = static_cast<int32_t>(now - channel.fade_start_time);
        if (channel.state == kSoundRamping && elapsed < 0) {
            ApplySoundVolume(node, 2);
            channel.volume = 2;
            return 0;
        }
        int64_t volume = int64_t{elapsed} * channel.slope / 1024 + channel.fade_start_volume;
        if ((channel.slope < 0 && volume <= channel.fade_target) || (channel.slope >= 0 && volume >= channel.fade_target)) {
            volume = channel.fade_target;
            channel.fade_end_time = std::max<uint32_t>(now, 1);
        }
        channel.volume = static_cast<int32_t>(std::clamp<int64_t>(volume, INT32_MIN, INT32_MAX));
        ApplySoundVolume(node, channel.volume);
        if (channel.fade_end_time != 0) {
            channel.fade_end_time = 0;
            if (channel.state == kSoundRamping) {
                channel.state = kSoundSteady;
            } else {
                channel.volume = channel.fade_target = channel.previous_target = 256;
                channel.fade_start_volume = 0;
                channel.state = kSoundIdle;
                ReleaseSoundChannel(channel);
            }
        }
        return 0;
    });
}

int32_t TrackSoundPositions() {
    if (TheSoundSystem().mixer == nullptr) return 0;
    return ForEachSoundNode([](NamedTreeNode* node, SoundChannel& channel) -> int32_t {
        if (QuitChannel(node, channel) || !Running(channel)) return 0;
        if (!channel.buffer) return -310;
        uint32_t play = 0, write = 0;
        channel.buffer->GetCurrentPosition(play, write);
        channel.bytes_played += play >= channel.last_play_cursor
                                    ? play - channel.last_play_cursor
                                    : play + static_cast<uint32_t>(channel.buffer_bytes) - channel.last_play_cursor;
        channel.last_play_cursor = play;
        if (channel.bytes_per_second <= 0) return 0;
        const int64_t pass_end = channel.pass_loop_end != 0 ? channel.pass_loop_end : channel.end;
        const int64_t pass_start = channel.pass_loop_start != 0 ? channel.pass_loop_start : channel.loop_start;
        if (channel.bytes_played * 1000 / channel.bytes_per_second < pass_end) return 0;
        channel.pass_loop_start = channel.pass_loop_end = 0;
        if (channel.plays_done + 1 == channel.play_count_limit) {
            channel.play_count_limit = 0;
            channel.plays_done = 0;
            channel.bytes_played = 0;
            ReleaseSoundChannel(channel);
            channel.state = kSoundIdle;
        } else {
            channel.plays_done += 1;
            channel.bytes_played = pass_start * channel.bytes_per_second / 1000;
        }
        return 0;
    });
}

int32_t RefillSoundBuffers() {
    if (TheSoundSystem().mixer == nullptr) return 0;
    return ForEachSoundNode([](NamedTreeNode* node, SoundChannel& channel) -> int32_t {
        if (QuitChannel(node, channel) || !Running(channel)) return 0;
        if (!channel.buffer) return -330;
        uint32_t play = 0, write = 0;
        channel.buffer->GetCurrentPosition(play, write);
        const uint32_t half = static_cast<uint32_t>(channel.buffer_bytes / 2);
        if (channel.last_filled_half == 1 && write < half) {
            channel.last_filled_half = 2;
            channel.write_offset = static_cast<int32_t>(half);
        } else if (channel.last_filled_half == 2 && write > half) {
            channel.last_filled_half = 1;
            channel.write_offset = 0;
        } else {
            return 0;
        }
        const int32_t result = FillSoundHalf(channel);
        return result < 0 ? result : 0;
    });
}

void ReleaseAllSoundChannels() {
    ForEachSoundNode([](NamedTreeNode*, SoundChannel& channel) -> int32_t {
        ReleaseSoundChannel(channel);
        channel.state = kSoundIdle;
        return 0;
    });
}

}  // namespace zk
