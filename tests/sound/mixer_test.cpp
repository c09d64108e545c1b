// The software mixer on its virtual clock: the tests render output frames
// themselves and read what a listener would hear.
#include "platform/audio_mixer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "tests/platform/scoped_env.h"

namespace zk::platform {
namespace {

// A buffer whose every 16-bit sample of channel c holds values[c].
std::shared_ptr<SoundBuffer> ConstantBuffer16(AudioMixer& mixer, uint16_t channels, uint32_t rate,
                                              std::vector<int16_t> values, uint32_t frames) {
    auto buffer = mixer.CreateBuffer({channels, rate, 16}, frames * channels * 2u);
    auto lock = buffer->LockBytes(0, buffer->Size());
    for (size_t i = 0; i < lock.part1.size(); i += 2) {
        const int16_t v = values[(i / 2) % channels];
        lock.part1[i] = static_cast<uint8_t>(v & 0xFF);
        lock.part1[i + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
    }
    return buffer;
}

TEST(AudioMixer, GainFollowsTheDecibelLaw) {
    EXPECT_DOUBLE_EQ(GainOfMillibels(0), 1.0);
    EXPECT_NEAR(GainOfMillibels(-1204), 0.25, 0.001);  // volume 128 of 256
    EXPECT_NEAR(GainOfMillibels(-9632), 1.0 / 65536, 1e-6);  // volume 1 of 256
    EXPECT_EQ(GainOfMillibels(-10000), 0.0);
    EXPECT_EQ(GainOfMillibels(-20000), 0.0);

    AudioMixer mixer(44100, 256);
    auto buffer = ConstantBuffer16(mixer, 1, 44100, {16000}, 4410);
    buffer->SetVolume(-1204);
    buffer->Play(true);
    std::vector<int16_t> out(2 * 64);
    mixer.Render(out);
    EXPECT_NEAR(out[10], 16000 * 0.25 * 32767.0 / 32768.0, 3);
    EXPECT_EQ(out[10], out[11]) << "mono feeds both sides";
    buffer->SetVolume(-10000);
    mixer.Render(out);
    EXPECT_EQ(out[10], 0);
    buffer->SetVolume(5000);
    EXPECT_EQ(buffer->Volume(), 0) << "clamped";
}

TEST(AudioMixer, PanAttenuatesOneSide) {
    AudioMixer mixer(44100, 256);
    auto buffer = ConstantBuffer16(mixer, 2, 44100, {8000, 8000}, 1000);
    buffer->Play(true);
    std::vector<int16_t> out(2 * 16);
    struct Case {
        int32_t pan;
        double left, right;
    };
    for (const Case& c : {Case{0, 1, 1}, Case{-10000, 1, 0}, Case{10000, 0, 1}, Case{-2000, 1, 0.1},
                          Case{2000, 0.1, 1}}) {
        buffer->SetPan(c.pan);
        mixer.Render(out);
        EXPECT_NEAR(out[4], 8000 * c.left, 3) << "pan " << c.pan;
        EXPECT_NEAR(out[5], 8000 * c.right, 3) << "pan " << c.pan;
    }
}

TEST(AudioMixer, EightBitUnsignedIsCentredOn128) {
    AudioMixer mixer(8000, 64);
    auto buffer = mixer.CreateBuffer({2, 8000, 8}, 200);
    {
        auto lock = buffer->LockBytes(0, 200);
        for (size_t i = 0; i < 200; i += 2) {
            lock.part1[i] = 192;     // +64 of 128: half scale
            lock.part1[i + 1] = 64;  // -64
        }
    }
    buffer->Play(true);
    std::vector<int16_t> out(2 * 8);
    mixer.Render(out);
    EXPECT_NEAR(out[0], 16384, 2);
    EXPECT_NEAR(out[1], -16384, 2);
}

TEST(AudioMixer, FrequencySetsTheCursorSpeed) {
    AudioMixer mixer(44100, 441);
    auto buffer = ConstantBuffer16(mixer, 1, 22050, {0}, 22050);  // one second
    buffer->Play(true);
    uint32_t play = 0, write = 0;
    mixer.Render(4410);  // 0.1 s at 22050 Hz: 2205 frames mixed
    buffer->GetCurrentPosition(play, write);
    EXPECT_EQ(write, (2205u + 1) * 2);
    EXPECT_EQ(play, (2205u - 221) * 2) << "heard one period (441 output frames) behind";
    buffer->SetFrequency(44100);  // twice as fast
    mixer.Render(4410);
    buffer->GetCurrentPosition(play, write);
    EXPECT_EQ(write, (2205u + 4410u + 1) * 2);
    EXPECT_EQ(play, (2205u + 4410u - 441) * 2);
    buffer->SetFrequency(50);
    EXPECT_EQ(buffer->Frequency(), 100) << "clamped to the lowest frequency";
}

TEST(AudioMixer, WriteCursorLeadsAndWraps) {
    AudioMixer mixer(44100, 1024);
    auto buffer = ConstantBuffer16(mixer, 2, 44100, {0, 0}, 44100);
    const uint32_t size = buffer->Size();
    buffer->Play(true);
    uint32_t play = 0, write = 0;
    buffer->GetCurrentPosition(play, write);
    EXPECT_EQ(play, 0u) << "nothing heard yet";
    mixer.Render(300);
    buffer->GetCurrentPosition(play, write);
    EXPECT_EQ(play, 0u) << "the first period is still on its way";
    mixer.Render(44100 - 400);
    buffer->GetCurrentPosition(play, write);
    EXPECT_EQ(play, (44000u - 1024) * 4);
    EXPECT_EQ(write, 44001u * 4);
    mixer.Render(200);
    buffer->GetCurrentPosition(play, write);
    EXPECT_EQ(write, 101u * 4) << "a looping buffer wraps";
    EXPECT_EQ(play, (44100u + 100 - 1024) * 4);
    EXPECT_EQ((write + size - play) % size, 1025u * 4) << "one period and the interpolation frame ahead";
    EXPECT_EQ(write % 4, 0u);

    auto once = ConstantBuffer16(mixer, 1, 44100, {1000}, 100);
    once->Play(false);
    mixer.Render(150);
    EXPECT_FALSE(once->Playing()) << "a buffer played once stops at its end";
}

TEST(AudioMixer, LockAcrossTheEndGivesTwoParts) {
    AudioMixer mixer;
    auto buffer = mixer.CreateBuffer({1, 8000, 16}, 1000);
    auto lock = buffer->LockBytes(900, 300);
    ASSERT_EQ(lock.part1.size(), 100u);
    ASSERT_EQ(lock.part2.size(), 200u);
    EXPECT_EQ(lock.part1.data(), lock.part2.data() + 900);
    EXPECT_EQ(lock.size(), 300u);
    { auto released = std::move(lock); }  // unlocks
    EXPECT_EQ(buffer->LockBytes(1000, 10).size(), 0u) << "offset past the end";
    EXPECT_EQ(buffer->LockBytes(0, 1001).size(), 0u) << "more than the buffer";
}

TEST(AudioMixer, RefusesFormatsItCannotPlay) {
    AudioMixer mixer;
    EXPECT_EQ(mixer.CreateBuffer({3, 44100, 16}, 6000), nullptr);
    EXPECT_EQ(mixer.CreateBuffer({2, 44100, 24}, 6000), nullptr);
    EXPECT_EQ(mixer.CreateBuffer({0, 44100, 16}, 6000), nullptr);
    EXPECT_EQ(mixer.CreateBuffer({1, 50, 16}, 6000), nullptr);
    EXPECT_EQ(mixer.CreateBuffer({2, 44100, 16}, 3), nullptr);
    EXPECT_NE(mixer.CreateBuffer({2, 44100, 16}, 4), nullptr);
}

// Linear resampling: a ramp played at half speed hears the midpoints.
TEST(AudioMixer, ResamplesLinearly) {
    AudioMixer mixer(8000, 64);
    auto buffer = mixer.CreateBuffer({1, 4000, 16}, 8);
    {
        auto lock = buffer->LockBytes(0, 8);
        const int16_t ramp[4] = {0, 1000, 2000, 3000};
        for (int i = 0; i < 4; ++i) {
            lock.part1[2 * i] = static_cast<uint8_t>(ramp[i] & 0xFF);
            lock.part1[2 * i + 1] = static_cast<uint8_t>(ramp[i] >> 8);
        }
    }
    buffer->Play(true);
    std::vector<int16_t> out(2 * 6);
    mixer.Render(out);
    const int expected[6] = {0, 500, 1000, 1500, 2000, 2500};
    for (int i = 0; i < 6; ++i) EXPECT_NEAR(out[2 * i], expected[i], 2) << i;
}

// The SDL device under the dummy driver: the callback runs on SDL's thread
// while this thread changes the buffer.
TEST(AudioMixer, PlaysThroughTheDummyDevice) {
    AudioMixer mixer(44100, 512);
    std::string error;
    if (!mixer.OpenDevice(&error)) GTEST_SKIP() << "no audio device: " << error;
    auto buffer = ConstantBuffer16(mixer, 2, 44100, {100, 100}, 44100);
    buffer->Play(true);
    for (int i = 0; i < 200 && mixer.FramesRendered() < 2048; ++i) {
        buffer->SetVolume(-100 * (i % 10));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_GE(mixer.FramesRendered(), 2048u);
    mixer.CloseDevice();
}

// What opening the device writes to stderr (fd 2, where alsa-lib prints).
std::string StderrOfOpeningTheDevice() {
    char path[] = "/tmp/zk-mixer-stderr-XXXXXX";
    const int file = mkstemp(path);
    if (file < 0) return "(no temporary file)";
    std::fflush(stderr);
    const int saved = dup(2);
    dup2(file, 2);
    {
        AudioMixer mixer(44100, 512);
        std::string error;
        if (mixer.OpenDevice(&error)) mixer.CloseDevice();
    }
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    close(file);
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    unlink(path);
    return text;
}

// On a machine without a sound card, SDL's ALSA back end makes alsa-lib
// print a dozen error lines of its own; the engine reports a device that
// does not open itself (its error box), so stderr stays clean. (With a
// working card, or without ALSA, nothing prints either way.)
TEST(AudioMixer, AlsaWritesNothingToStderr) {
    test::ScopedEnv driver("SDL_AUDIODRIVER", "alsa");
    const std::string text = StderrOfOpeningTheDevice();
    EXPECT_EQ(text.find("ALSA"), std::string::npos) << text;
}

}  // namespace
}  // namespace zk::platform
