#include "platform/audio_mixer.h"

#include <SDL.h>
#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <string>

// alsa-lib's error handler type is C and variadic; the handler that drops
// the messages has C linkage to match.
extern "C" {
static void ZkDropAlsaError(const char*, int, const char*, int, const char*, ...) {}
}

namespace zk::platform {

double GainOfMillibels(int32_t millibels) {
    if (millibels <= kMixerVolumeSilent) return 0.0;
    if (millibels >= 0) return 1.0;
    return std::pow(10.0, millibels / 2000.0);
}

namespace {

// One frame's samples as floats in -1..1.
template <int Bits, int Channels>
inline void ReadFrame(const uint8_t* frame, float& left, float& right) {
    if constexpr (Bits == 8) {
        left = (static_cast<int>(frame[0]) - 128) * (1.0f / 128.0f);
        right = Channels == 2 ? (static_cast<int>(frame[1]) - 128) * (1.0f / 128.0f) : left;
    } else {
        auto s16 = [](const uint8_t* p) { return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8))); };
        left = s16(frame) * (1.0f / 32768.0f);
        right = Channels == 2 ? s16(frame + 2) * (1.0f / 32768.0f) : left;
    }
}

// Mixes `frames` output frames of linear-interpolated input into `mix`,
// moving `position` on by `step` input frames each. Returns false when a
// buffer that does not loop reached its end (the rest is not mixed).
template <int Bits, int Channels>
bool MixFrames(const uint8_t* data, size_t total_frames, double& position, double step, bool looping, float gain_left,
               float gain_right, float* mix, size_t frames) {
    constexpr size_t kBlock = static_cast<size_t>(Bits / 8 * Channels);
    const double total = static_cast<double>(total_frames);
    for (size_t i = 0; i < frames; ++i) {
        const size_t index = static_cast<size_t>(position);
        const float fraction = static_cast<float>(position - static_cast<double>(index));
        size_t next = index + 1;
        if (next >= total_frames) next = looping ? 0 : index;
        float l0, r0, l1, r1;
        ReadFrame<Bits, Channels>(data + index * kBlock, l0, r0);
        ReadFrame<Bits, Channels>(data + next * kBlock, l1, r1);
        mix[2 * i] += (l0 + (l1 - l0) * fraction) * gain_left;
        mix[2 * i + 1] += (r0 + (r1 - r0) * fraction) * gain_right;
        position += step;
        if (position >= total) {
            if (!looping) return false;
            position = std::fmod(position, total);
        }
    }
    return true;
}

}  // namespace

// ---- SoundBuffer ------------------------------------------------------------

SoundBuffer::SoundBuffer(Key, AudioMixer& mixer, const PcmFormat& format, uint32_t bytes)
    : mixer_(mixer), format_(format) {
    block_align_ = static_cast<uint16_t>(format.channels * format.bits / 8);
    data_.assign(bytes - bytes % block_align_, format.bits == 8 ? 128 : 0);
    frequency_ = static_cast<int32_t>(format.rate);
}

SoundBuffer::~SoundBuffer() { mixer_.Detach(this); }

void SoundBuffer::SetVolume(int32_t millibels) {
    std::lock_guard lock(mixer_.mutex_);
    volume_ = std::clamp(millibels, kMixerVolumeSilent, 0);
}

void SoundBuffer::SetPan(int32_t millibels) {
    std::lock_guard lock(mixer_.mutex_);
    pan_ = std::clamp(millibels, -10000, 10000);
}

void SoundBuffer::SetFrequency(int32_t hertz) {
    std::lock_guard lock(mixer_.mutex_);
    frequency_ = std::clamp(hertz, kMixerMinFrequency, kMixerMaxFrequency);
}

int32_t SoundBuffer::Volume() const {
    std::lock_guard lock(mixer_.mutex_);
    return volume_;
}
int32_t SoundBuffer::Pan() const {
    std::lock_guard lock(mixer_.mutex_);
    return pan_;
}
int32_t SoundBuffer::Frequency() const {
    std::lock_guard lock(mixer_.mutex_);
    return frequency_;
}

void SoundBuffer::Play(bool looping) {
    std::lock_guard lock(mixer_.mutex_);
    if (!playing_) consumed_ = 0;
    playing_ = true;
    looping_ = looping;
}

void SoundBuffer::Stop() {
    std::lock_guard lock(mixer_.mutex_);
    playing_ = false;
}

bool SoundBuffer::Playing() const {
    std::lock_guard lock(mixer_.mutex_);
    return playing_;
}

uint64_t SoundBuffer::LeadFramesLocked() const {
    return (uint64_t{mixer_.period_frames_} * static_cast<uint64_t>(frequency_) + mixer_.output_rate_ - 1) /
           mixer_.output_rate_;
}

uint32_t SoundBuffer::PlayCursorLocked() const {
    // What is heard lags what has been mixed by one output period (less
    // since the start of play): the play cursor stands that far behind.
    const uint64_t total = data_.size() / block_align_;
    const uint64_t mixed = static_cast<uint64_t>(position_);
    const uint64_t lag = std::min<uint64_t>(LeadFramesLocked(), static_cast<uint64_t>(consumed_));
    const uint64_t frame = (mixed + total - lag % total) % total;
    return static_cast<uint32_t>(frame * block_align_);
}

void SoundBuffer::GetCurrentPosition(uint32_t& play, uint32_t& write) const {
    std::lock_guard lock(mixer_.mutex_);
    play = PlayCursorLocked();
    // Every frame before the write cursor has been mixed (the last one may
    // still be read for interpolation); from it on, new bytes are heard.
    const uint64_t total = data_.size() / block_align_;
    write = static_cast<uint32_t>((static_cast<uint64_t>(position_) + 1) % total * block_align_);
}

void SoundBuffer::SetCurrentPosition(uint32_t play) {
    std::lock_guard lock(mixer_.mutex_);
    position_ = static_cast<double>((play % Size()) / block_align_);
    consumed_ = 0;
}

SoundBuffer::Lock SoundBuffer::LockBytes(uint32_t offset, uint32_t bytes) {
    Lock lock(mixer_.mutex_);
    const uint32_t size = Size();
    if (offset >= size || bytes > size || bytes == 0) return lock;
    const uint32_t first = std::min(bytes, size - offset);
    lock.part1 = std::span<uint8_t>(data_.data() + offset, first);
    if (first < bytes) lock.part2 = std::span<uint8_t>(data_.data(), bytes - first);
    return lock;
}

void SoundBuffer::MixInto(std::span<float> mix, size_t frames, uint32_t output_rate) {
    if (!playing_ || data_.empty()) return;
    const size_t total_frames = data_.size() / block_align_;
    const double step = static_cast<double>(frequency_) / output_rate;
    consumed_ = std::min(consumed_ + step * static_cast<double>(frames), 1e12);
    const double volume = GainOfMillibels(volume_);
    // Negative pan turns the right side down, positive the left.
    const float gain_left = static_cast<float>(volume * (pan_ > 0 ? GainOfMillibels(-pan_) : 1.0));
    const float gain_right = static_cast<float>(volume * (pan_ < 0 ? GainOfMillibels(pan_) : 1.0));
    if (gain_left == 0.0f && gain_right == 0.0f) {
        // Silent: only time passes.
        position_ += step * static_cast<double>(frames);
        const double total = static_cast<double>(total_frames);
        if (position_ >= total) {
            if (looping_) {
                position_ = std::fmod(position_, total);
            } else {
                playing_ = false;
                position_ = 0;
            }
        }
        return;
    }
    bool going = true;
    const uint8_t* data = data_.data();
    float* out = mix.data();
    const bool stereo = format_.channels == 2;
    if (format_.bits == 8) {
        going = stereo ? MixFrames<8, 2>(data, total_frames, position_, step, looping_, gain_left, gain_right, out, frames)
                       : MixFrames<8, 1>(data, total_frames, position_, step, looping_, gain_left, gain_right, out, frames);
    } else {
        going = stereo ? MixFrames<16, 2>(data, total_frames, position_, step, looping_, gain_left, gain_right, out, frames)
                       : MixFrames<16, 1>(data, total_frames, position_, step, looping_, gain_left, gain_right, out, frames);
    }
    if (!going) {
        playing_ = false;
        position_ = 0;
    }
}

// ---- AudioMixer -------------------------------------------------------------

AudioMixer::AudioMixer(uint32_t output_rate, uint32_t period_frames)
    : output_rate_(output_rate == 0 ? kMixerOutputRate : output_rate),
      period_frames_(period_frames == 0 ? kMixerPeriodFrames : period_frames) {}

AudioMixer::~AudioMixer() { CloseDevice(); }

std::shared_ptr<SoundBuffer> AudioMixer::CreateBuffer(const PcmFormat& format, uint32_t bytes) {
    if (format.channels < 1 || format.channels > 2) return nullptr;
    if (format.bits != 8 && format.bits != 16) return nullptr;
    if (format.rate < static_cast<uint32_t>(kMixerMinFrequency) || format.rate > static_cast<uint32_t>(kMixerMaxFrequency))
        return nullptr;
    const uint32_t block = format.channels * format.bits / 8u;
    if (bytes < block) return nullptr;
    std::shared_ptr<SoundBuffer> buffer;
    try {
        buffer = std::make_shared<SoundBuffer>(SoundBuffer::Key(), *this, format, bytes);
        std::lock_guard lock(mutex_);
        buffers_.push_back(buffer.get());
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return buffer;
}

void AudioMixer::Detach(SoundBuffer* buffer) {
    std::lock_guard lock(mutex_);
    std::erase(buffers_, buffer);
}

uint64_t AudioMixer::FramesRendered() const {
    std::lock_guard lock(mutex_);
    return frames_rendered_;
}

void AudioMixer::Render(std::span<int16_t> out) {
    const size_t frames = out.size() / 2;
    std::lock_guard lock(mutex_);
    if (mix_.size() < frames * 2) mix_.resize(frames * 2);
    std::fill_n(mix_.begin(), frames * 2, 0.0f);
    for (SoundBuffer* buffer : buffers_) buffer->MixInto(mix_, frames, output_rate_);
    for (size_t i = 0; i < frames * 2; ++i) {
        const float sample = std::clamp(mix_[i] * 32767.0f, -32768.0f, 32767.0f);
        out[i] = static_cast<int16_t>(std::lrint(sample));
    }
    frames_rendered_ += frames;
}

void AudioMixer::Render(size_t frames) {
    std::vector<int16_t> discard(frames * 2);
    Render(discard);
}

namespace {
void SDLCALL AudioCallback(void* user, Uint8* stream, int length) {
    auto* mixer = static_cast<AudioMixer*>(user);
    mixer->Render(std::span<int16_t>(reinterpret_cast<int16_t*>(stream), static_cast<size_t>(length) / 2));
}

// alsa-lib writes its own error lines to stderr: on a machine without a
// sound card SDL's ALSA back end trying its devices prints a dozen "ALSA
// lib ... cannot find card" lines. A device that does not open is the
// engine's to report (its error box says so), so those lines are dropped:
// a handler that ignores them goes into the alsa-lib SDL uses, which is
// the one loaded here (a library is loaded once per process). The handle
// stays open so the handler outlives SDL's own loading and unloading.
void SilenceAlsaErrors() {
    static std::once_flag once;
    std::call_once(once, [] {
        void* alsa = dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
        if (alsa == nullptr) return;  // no ALSA: nothing prints
        using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
        using SetHandler = int (*)(Handler);
        auto set_handler = reinterpret_cast<SetHandler>(dlsym(alsa, "snd_lib_error_set_handler"));
        if (set_handler != nullptr) set_handler(ZkDropAlsaError);
    });
}

// SDL's audio driver, started once and kept for the life of the process.
// Stopping it joins the ALSA driver's device-watching thread, which sleeps
// 100 ms at a time: a start-up that found no device, and every close, would
// wait for that sleep. Kept, it costs that thread's wake-up every 100 ms.
bool StartAudioDriver(std::string* error) {
    static std::mutex lock;
    static bool started = false;
    std::lock_guard guard(lock);
    if (started) return true;
    // The audio driver alone: SDL_InitSubSystem(SDL_INIT_AUDIO) would also
    // start SDL's event subsystem, whose pumping belongs to the window
    // system and slows a headless engine's message loop.
    if (SDL_AudioInit(nullptr) != 0) {
        if (error != nullptr) *error = SDL_GetError();
        return false;
    }
    started = true;
    return true;
}

}  // namespace

bool AudioMixer::OpenDevice(std::string* error) {
    if (device_ != 0) return true;
    SilenceAlsaErrors();
    if (!StartAudioDriver(error)) return false;
    SDL_AudioSpec want{};
    want.freq = static_cast<int>(output_rate_);
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = static_cast<Uint16>(period_frames_);
    want.callback = AudioCallback;
    want.userdata = this;
    SDL_AudioSpec have{};
    // No changes allowed: SDL converts to whatever the device takes, so the
    // callback always mixes this format.
    const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (device == 0) {
        if (error != nullptr) *error = SDL_GetError();
        return false;
    }
    device_ = device;
    SDL_PauseAudioDevice(device, 0);
    return true;
}

void AudioMixer::CloseDevice() {
    if (device_ == 0) return;
    SDL_CloseAudioDevice(device_);  // waits for a running callback
    device_ = 0;
}

}  // namespace zk::platform
