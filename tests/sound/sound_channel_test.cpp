// Channels: the volume, pan and speed laws down a tree of groups, fades,
// pausing and resuming, on the virtual clock.
#include <cmath>

#include "core/named_tree.h"
#include "core/root_trees.h"
#include "script/pause_clock.h"
#include "sound/sound_system.h"
#include "tests/sound/sound_test_support.h"
#include "tools/lib/sound_writer.h"

namespace zk {
namespace {

using sound_test::SoundFixture;

TEST(SoundLaws, VolumePanAndSpeed) {
    struct VolumeCase {
        int32_t volume, millibels;
    };
    for (const VolumeCase& c : {VolumeCase{256, 0}, VolumeCase{128, -1204}, VolumeCase{64, -2408}, VolumeCase{1, -9632},
                                VolumeCase{0, -10000}, VolumeCase{-5, -10000}, VolumeCase{300, 0}}) {
        EXPECT_EQ(MillibelsOfVolume(c.volume), c.millibels) << c.volume;
    }
    EXPECT_EQ(PanMillibels(0), -10000);
    EXPECT_EQ(PanMillibels(128), -1204);
    EXPECT_EQ(PanMillibels(256), 0);
    EXPECT_EQ(PanMillibels(384), 1204);
    EXPECT_EQ(PanMillibels(512), 10000);
    EXPECT_EQ(PanMillibels(513), 0) << "outside 0..512 is the centre";
    EXPECT_EQ(SpeedFrequency(44100, 0), 22050);
    EXPECT_EQ(SpeedFrequency(44100, 512), 66150);
    EXPECT_EQ(SpeedFrequency(44100, 256), 44100);
    EXPECT_EQ(SpeedFrequency(22050, 257), 22050 + 11025 / 256);
    EXPECT_EQ(SpeedFrequency(44100, -1), 44100);
}

class SoundChannelTest : public SoundFixture {
protected:
    void SetUp() override {
        SoundFixture::SetUp();
        tools::WaveSpec spec;
        spec.rate = 8000;
        spec.frames = 8000 * 5;
        spec.samples = [](uint32_t f, uint16_t) { return static_cast<int16_t>(f % 30000); };
        WriteFile("five.wav", tools::WaveFile(spec));
    }
    NamedTreeNode* Playing(const std::string& path, int32_t fade_in = 0) {
        NamedTreeNode* node = Make(path);
        EXPECT_EQ(Request(node, kSoundLoad, 0, "five.wav"), 0);
        EXPECT_EQ(Request(node, kSoundPlay, fade_in), 0);
        return node;
    }
    int32_t BufferVolume(NamedTreeNode* node) {
        std::lock_guard lock(EngineLock);
        return Of(node).buffer ? Of(node).buffer->Volume() : 1;
    }
    SoundChannel Snapshot(NamedTreeNode* node) {
        std::lock_guard lock(EngineLock);
        SoundChannel copy;
        const SoundChannel& c = Of(node);
        copy.state = c.state;
        copy.volume = c.volume;
        copy.bytes_played = c.bytes_played;
        copy.holds_image = c.holds_image;
        copy.pause_stamp = c.pause_stamp;
        return copy;
    }
};

TEST_F(SoundChannelTest, VolumesMultiplyDownTheGroups) {
    NamedTreeNode* group = Make("music/");
    ASSERT_NE(group, nullptr);
    NamedTreeNode* node = Playing("music/bgm");
    ASSERT_EQ(Request(group, kSoundVolume, 128), 0);
    ASSERT_EQ(Request(node, kSoundVolume, 128), 0);
    ASSERT_EQ(Step(10), 0);
    EXPECT_EQ(BufferVolume(node), -2408) << "128 x 128 / 256 = 64";
    {
        std::lock_guard lock(EngineLock);
        EXPECT_EQ(EffectiveVolume(node), 64);
    }
    // "S0" acts on everything below it.
    NamedTreeNode* s0 = FindNodeByPath(TheRootTrees().sounds, "S0", kFindGroup);
    ASSERT_EQ(Request(s0, kSoundVolume, 0), 0);
    EXPECT_EQ(BufferVolume(node), -10000);
    ASSERT_EQ(Request(s0, kSoundVolume, 256), 0);
    EXPECT_EQ(BufferVolume(node), -2408);
    // A group that is not audible mutes what is below it.
    {
        std::lock_guard lock(EngineLock);
        Of(group).audible = 0;
    }
    ASSERT_EQ(Request(group, kSoundVolume, 128), 0);
    EXPECT_EQ(BufferVolume(node), -10000);
}

// A channel's own audible flag mutes it too (the command sets the flag and
// then asks for the channel's volume again).
TEST_F(SoundChannelTest, OwnAudibleFlagMutesTheChannel) {
    NamedTreeNode* node = Playing("se");
    ASSERT_EQ(Step(10), 0);
    EXPECT_EQ(BufferVolume(node), 0);
    {
        std::lock_guard lock(EngineLock);
        Of(node).audible = 0;
    }
    ASSERT_EQ(Request(node, kSoundVolume, 256), 0);
    EXPECT_EQ(BufferVolume(node), -10000);
    {
        std::lock_guard lock(EngineLock);
        Of(node).audible = 1;
    }
    ASSERT_EQ(Request(node, kSoundVolume, 256), 0);
    EXPECT_EQ(BufferVolume(node), 0);
}

TEST_F(SoundChannelTest, PanAndSpeedReachTheBuffer) {
    NamedTreeNode* node = Playing("se");
    ASSERT_EQ(Request(node, kSoundPan, 0), 0);
    ASSERT_EQ(Request(node, kSoundSpeed, 0), 0);
    {
        std::lock_guard lock(EngineLock);
        EXPECT_EQ(Of(node).buffer->Pan(), -10000);
        EXPECT_EQ(Of(node).buffer->Frequency(), 4000);
    }
    ASSERT_EQ(Request(node, kSoundPan, 512), 0);
    ASSERT_EQ(Request(node, kSoundSpeed, 512), 0);
    std::lock_guard lock(EngineLock);
    EXPECT_EQ(Of(node).buffer->Pan(), 10000);
    EXPECT_EQ(Of(node).buffer->Frequency(), 12000);
}

TEST_F(SoundChannelTest, TimesAreBoundedByTheLength) {
    NamedTreeNode* node = Make("se");
    ASSERT_EQ(Request(node, kSoundLoad, 0, "five.wav"), 0);
    ASSERT_EQ(Request(node, kSoundEndTime, 9000), 0);
    ASSERT_EQ(Request(node, kSoundStartTime, 6000), 0);
    ASSERT_EQ(Request(node, kSoundLoopStart, 5000), 0);
    std::lock_guard lock(EngineLock);
    EXPECT_EQ(Of(node).length, 5000);
    EXPECT_EQ(Of(node).end, 5000);
    EXPECT_EQ(Of(node).start, 0);
    EXPECT_EQ(Of(node).loop_start, 0);
}

TEST_F(SoundChannelTest, FadeInRampsToTheTarget) {
    NamedTreeNode* node = Make("se");
    ASSERT_EQ(Request(node, kSoundLoad, 0, "five.wav"), 0);
    ASSERT_EQ(Request(node, kSoundFadeTarget, 200), 0);
    ASSERT_EQ(Request(node, kSoundPlay, 1000), 0);
    ASSERT_EQ(Steps(25, 20), 0);  // 500 ms
    EXPECT_NEAR(Snapshot(node).volume, 100, 3);
    EXPECT_EQ(Snapshot(node).state, kSoundRamping);
    ASSERT_EQ(Steps(30, 20), 0);
    EXPECT_EQ(Snapshot(node).volume, 200);
    EXPECT_EQ(Snapshot(node).state, kSoundSteady);
    EXPECT_EQ(BufferVolume(node), MillibelsOfVolume(200));
}

TEST_F(SoundChannelTest, FadeOutUnloadsAndPlayReloadsFromTheStart) {
    NamedTreeNode* node = Playing("se");
    ASSERT_EQ(Request(node, kSoundVolume, 200), 0);
    ASSERT_EQ(Steps(50, 20), 0);  // a second in
    ASSERT_EQ(Request(node, kSoundFadeOut, 1000), 0);
    ASSERT_EQ(Steps(25, 20), 0);
    EXPECT_NEAR(Snapshot(node).volume, 100, 3);
    EXPECT_EQ(Snapshot(node).state, kSoundFadingOut);
    ASSERT_EQ(Steps(30, 20), 0);
    EXPECT_EQ(Snapshot(node).state, kSoundIdle);
    EXPECT_FALSE(Snapshot(node).holds_image);
    {
        std::lock_guard lock(EngineLock);
        EXPECT_EQ(Of(node).name, "five.wav") << "the name stays";
    }
    ASSERT_EQ(Request(node, kSoundPlay, 0), 0);
    ASSERT_EQ(Step(20), 0);
    EXPECT_GE(Snapshot(node).state, kSoundRamping);
    EXPECT_LT(Snapshot(node).bytes_played, 16000 / 10) << "from the start";
}

TEST_F(SoundChannelTest, ResumeContinuesWherePaused) {
    NamedTreeNode* node = Playing("se");
    ASSERT_EQ(Steps(160, 20), 0);  // 3.2 s
    ASSERT_EQ(Request(node, kSoundPause, 1), 0);
    {
        std::lock_guard lock(EngineLock);
        EXPECT_FALSE(Of(node).buffer) << "a paused channel holds no buffer";
        EXPECT_TRUE(Of(node).staging.empty());
    }
    const int64_t at_pause = Snapshot(node).bytes_played * 1000 / 16000;
    EXPECT_NEAR(at_pause, 3200, 40);
    ASSERT_EQ(Steps(100, 20), 0);  // two seconds paused
    ASSERT_EQ(Request(node, kSoundPause, 0), 0);
    EXPECT_EQ(Snapshot(node).pause_stamp, 0u);
    EXPECT_EQ(Snapshot(node).bytes_played * 1000 / 16000, at_pause);
    heard.clear();
    ASSERT_EQ(Step(20), 0);
    // What is heard next is the sound from where it was paused.
    EXPECT_NEAR(heard[0] * 32768.0 / 32767.0, at_pause * 8 % 30000, 2);
}

TEST_F(SoundChannelTest, PausedGroupKeepsItsChildrenPausedThroughFocus) {
    NamedTreeNode* group = Make("voice/");
    NamedTreeNode* node = Playing("voice/line");
    NamedTreeNode* other = Playing("bgm");
    ASSERT_EQ(Request(group, kSoundPause, 1), 0);
    EXPECT_NE(Snapshot(node).pause_stamp, 0u);
    EXPECT_EQ(Snapshot(other).pause_stamp, 0u);
    // The game clock's inactive pause pauses the whole tree, and its end
    // resumes only what nothing else keeps paused.
    ThePauseClock().inactive_on = 1;
    ASSERT_EQ(Step(20), 0);
    EXPECT_NE(Snapshot(other).pause_stamp, 0u);
    ThePauseClock().inactive_on = 0;
    ASSERT_EQ(Step(20), 0);
    EXPECT_EQ(Snapshot(other).pause_stamp, 0u);
    EXPECT_NE(Snapshot(node).pause_stamp, 0u) << "its group is still paused";
    ASSERT_EQ(Request(group, kSoundPause, 0), 0);
    EXPECT_EQ(Snapshot(node).pause_stamp, 0u);
}

// With keep-running off an inactive main window pauses the tree; coming
// back resumes only what is audible.
TEST_F(SoundChannelTest, FocusPauseSkipsChannelsThatAreNotAudible) {
    NamedTreeNode* heard_node = Playing("bgm");
    NamedTreeNode* muted = Playing("muted");
    {
        std::lock_guard lock(EngineLock);
        Of(muted).audible = 0;
    }
    ThePauseClock().keep_running = 0;
    ThePauseClock().inactive_on = 1;
    ASSERT_EQ(Step(20), 0);
    EXPECT_NE(Snapshot(heard_node).pause_stamp, 0u);
    EXPECT_NE(Snapshot(muted).pause_stamp, 0u);
    ThePauseClock().inactive_on = 0;
    ASSERT_EQ(Step(20), 0);
    EXPECT_EQ(Snapshot(heard_node).pause_stamp, 0u);
    EXPECT_NE(Snapshot(muted).pause_stamp, 0u) << "not audible: not resumed";
    ThePauseClock().keep_running = 1;
}

TEST_F(SoundChannelTest, NewFileReleasesTheOldSoundFirst) {
    NamedTreeNode* node = Playing("se");
    ASSERT_EQ(Step(20), 0);
    const int32_t slot = PostSoundRequest(node, kSoundLoad, 0, "five.wav");
    ASSERT_EQ(RunSoundPass(), 0);
    EXPECT_EQ(TheSoundQueue().done[static_cast<size_t>(slot)].load(), 0) << "first pass releases, returns 0";
    EXPECT_EQ(Snapshot(node).state, kSoundIdle);
    ASSERT_EQ(RunSoundPass(), 0);
    EXPECT_EQ(TheSoundQueue().done[static_cast<size_t>(slot)].load(), 1);
    EXPECT_EQ(Snapshot(node).state, kSoundLoaded);
}

}  // namespace
}  // namespace zk
