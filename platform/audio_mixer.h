// The software mixer the sound channels play through: sound buffers with a
// volume and a pan in hundredths of a decibel, a frequency, a play and a
// write cursor and two-part locks, mixed into one stereo 16-bit stream.
//
// Output: either an SDL audio device whose callback calls Render, or
// nothing, in which case the owner (a test, a benchmark) calls Render itself
// and the mixer's time moves only then: the virtual clock. The mixer's one
// mutex is held by Render for one mix and by each buffer call for a few
// field updates or one copy, never while anything waits for the engine or
// for a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

namespace zk::platform {

inline constexpr int32_t kMixerVolumeSilent = -10000;  // hundredths of a decibel
inline constexpr int32_t kMixerMinFrequency = 100;
inline constexpr int32_t kMixerMaxFrequency = 200000;
inline constexpr uint32_t kMixerOutputRate = 44100;
inline constexpr uint32_t kMixerPeriodFrames = 1024;  // output frames per callback

// PCM layout of a buffer: 8-bit unsigned or 16-bit signed little-endian,
// one or two channels, frames of block_align = channels * bits / 8 bytes.
struct PcmFormat {
    uint16_t channels = 0;
    uint32_t rate = 0;
    uint16_t bits = 0;
};

// The linear gain of a level in hundredths of a decibel: 10^(mB / 2000);
// -10000 and below are silence (0).
double GainOfMillibels(int32_t millibels);

class AudioMixer;

// One sound buffer. Made by AudioMixer::CreateBuffer; the handle may outlive
// the mixer's interest in it (releasing the handle removes it from the mix).
class SoundBuffer {
public:
    // Locked bytes: one part, or two when the range wraps past the end.
    // The mixer's lock is held while this lives, so keep it short.
    class Lock {
    public:
        std::span<uint8_t> part1;
        std::span<uint8_t> part2;
        size_t size() const { return part1.size() + part2.size(); }

    private:
        friend class SoundBuffer;
        explicit Lock(std::mutex& mutex) : hold_(mutex) {}
        std::unique_lock<std::mutex> hold_;
    };

    // Volume clamped to -10000..0, pan to -10000..10000 (negative
    // attenuates the right side, positive the left), frequency to 100..200000.
    void SetVolume(int32_t millibels);
    void SetPan(int32_t millibels);
    void SetFrequency(int32_t hertz);
    int32_t Volume() const;
    int32_t Pan() const;
    int32_t Frequency() const;
    void Play(bool looping);
    void Stop();
    bool Playing() const;
    // Play cursor (the byte being heard: one output period behind what has
    // been mixed) and write cursor (the first byte not yet mixed, so safe to
    // write and heard when written). Both block-aligned and wrapped; the
    // write cursor leads by at least one callback period once play has run
    // that long.
    void GetCurrentPosition(uint32_t& play, uint32_t& write) const;
    void SetCurrentPosition(uint32_t play);
    // `bytes` from `offset` (both taken modulo the size; bytes at most the
    // size): one or two parts. Empty when offset or bytes are out of range.
    Lock LockBytes(uint32_t offset, uint32_t bytes);
    uint32_t Size() const { return static_cast<uint32_t>(data_.size()); }
    const PcmFormat& Format() const { return format_; }
    uint16_t BlockAlign() const { return block_align_; }
    ~SoundBuffer();

    // Only the mixer makes buffers (the key is its own).
    class Key {
        friend class AudioMixer;
        Key() = default;
    };
    SoundBuffer(Key, AudioMixer& mixer, const PcmFormat& format, uint32_t bytes);
    SoundBuffer(const SoundBuffer&) = delete;
    SoundBuffer& operator=(const SoundBuffer&) = delete;

private:
    friend class AudioMixer;
    // Adds this buffer's next `frames` output frames into `mix` (stereo
    // floats); called with the mixer's lock held.
    void MixInto(std::span<float> mix, size_t frames, uint32_t output_rate);
    uint32_t PlayCursorLocked() const;
    uint64_t LeadFramesLocked() const;

    AudioMixer& mixer_;
    PcmFormat format_;
    uint16_t block_align_ = 0;
    std::vector<uint8_t> data_;
    int32_t volume_ = 0;
    int32_t pan_ = 0;
    int32_t frequency_ = 0;
    bool playing_ = false;
    bool looping_ = false;
    double position_ = 0;  // the next frame to mix, fractional
    double consumed_ = 0;  // frames mixed since play began (for the play cursor's lag)
};

class AudioMixer {
public:
    explicit AudioMixer(uint32_t output_rate = kMixerOutputRate, uint32_t period_frames = kMixerPeriodFrames);
    ~AudioMixer();
    AudioMixer(const AudioMixer&) = delete;
    AudioMixer& operator=(const AudioMixer&) = delete;

    // A buffer of `bytes` bytes (rounded down to whole frames) of the given
    // format, zero-filled (silence: 128 for 8-bit data), stopped, at volume 0
    // mB, centre, at the format's rate. Null for a format other than 8-bit
    // unsigned or 16-bit signed PCM in one or two channels, a rate outside
    // 100..200000, or fewer bytes than one frame.
    std::shared_ptr<SoundBuffer> CreateBuffer(const PcmFormat& format, uint32_t bytes);

    // Mixes the next `frames` output frames into `out` (interleaved stereo,
    // 2 * frames samples) and moves every playing buffer on by that time.
    void Render(std::span<int16_t> out);
    void Render(size_t frames);  // the same, discarding the output

    uint32_t OutputRate() const { return output_rate_; }
    uint32_t PeriodFrames() const { return period_frames_; }
    // Output frames rendered so far.
    uint64_t FramesRendered() const;

    // Plays through SDL's audio device (the default device of the driver
    // SDL picks; SDL_AUDIODRIVER=dummy plays nowhere in real time). False,
    // with the reason in `error`, when no device opens.
    bool OpenDevice(std::string* error = nullptr);
    void CloseDevice();
    bool DeviceOpen() const { return device_ != 0; }

private:
    friend class SoundBuffer;
    void Detach(SoundBuffer* buffer);

    uint32_t output_rate_;
    uint32_t period_frames_;
    mutable std::mutex mutex_;
    std::vector<SoundBuffer*> buffers_;
    std::vector<float> mix_;
    uint64_t frames_rendered_ = 0;
    uint32_t device_ = 0;
};

}  // namespace zk::platform
