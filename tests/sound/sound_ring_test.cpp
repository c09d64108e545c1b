// The request ring: a full ring makes the poster wait and loses nothing;
// waiters end when the thread has ended or the engine quits; names are cut
// to their slots.
#include <atomic>
#include <thread>

#include "core/error_report.h"
#include "sound/sound_system.h"
#include "tests/sound/sound_test_support.h"

namespace zk {
namespace {

class SoundRingTest : public sound_test::SoundFixture {
protected:
    void SetUp() override {
        SoundFixture::SetUp();
        // "ROOT"'s requests out of the way.
        for (int i = 0; i < 3; ++i) ASSERT_EQ(RunSoundPass(), 0);
        channel = Make("ring");
    }
    NamedTreeNode* channel = nullptr;
};

TEST_F(SoundRingTest, FullRingWaitsAndLosesNothing) {
    const uint32_t reports_before = ErrorReporter().reports;
    const int32_t first = TheSoundQueue().write_index;
    for (int i = 0; i < kSoundRingSlots - 1; ++i) ASSERT_GE(PostSoundRequest(channel, kSoundVolume, i % 257), 0);
    EXPECT_EQ(ErrorReporter().reports, reports_before) << "1023 requests fit";
    // No thread runs here: the poster of the 1024th runs a pass itself.
    const int32_t slot = PostSoundRequest(channel, kSoundVolume, 77);
    ASSERT_GE(slot, 0);
    EXPECT_EQ(slot, (first + kSoundRingSlots - 1) % kSoundRingSlots);
    EXPECT_EQ(ErrorReporter().reports, reports_before + 1) << "110200 once";
    for (int i = 0; i < kSoundRingSlots - 1; ++i)
        EXPECT_EQ(TheSoundQueue().done[static_cast<size_t>((first + i) % kSoundRingSlots)].load(), 1) << i;
    ASSERT_TRUE(WaitSoundRequest(slot));
    std::lock_guard lock(EngineLock);
    EXPECT_EQ(Of(channel).volume, 77);
}

TEST_F(SoundRingTest, ThreadDrainsAFullRingWhilePostersWait) {
    std::atomic<int> posted{0};
    std::atomic<int> failed{0};
    {
        // While the thread cannot run a pass, the ring fills.
        std::lock_guard lock(EngineLock);
        StartSoundThread();
        for (int i = 0; i < kSoundRingSlots - 1; ++i) PostSoundRequest(channel, kSoundVolume, i % 200);
    }
    std::thread poster([&] {
        for (int i = 0; i < 600; ++i) {
            if (PostSoundRequest(channel, kSoundVolume, 1000 + i) < 0) failed++;
            posted++;
        }
    });
    poster.join();
    EXPECT_EQ(failed.load(), 0);
    const int32_t last = PostSoundRequest(channel, kSoundSync, 0);
    ASSERT_TRUE(WaitSoundRequest(last));
    std::lock_guard lock(EngineLock);
    EXPECT_EQ(Of(channel).volume, 1599) << "every request ran, in order";
}

TEST_F(SoundRingTest, WaitersEndWhenTheThreadHasEnded) {
    const int32_t slot = PostSoundRequest(channel, kSoundSync, 0);
    TheSoundSystem().thread_state = 1;  // as if the thread had died
    EXPECT_FALSE(WaitSoundRequest(slot));
    {
        std::lock_guard lock(EngineLock);
        Of(channel).state = kSoundSteady;
    }
    EXPECT_FALSE(WaitChannelIdle(channel));
    // A full ring with no thread behind it: the poster gives up, and what
    // the ring holds stays as it was.
    for (int i = 0; i < kSoundRingSlots - 2; ++i) ASSERT_GE(PostSoundRequest(channel, kSoundSync, i), 0);
    const int32_t write = TheSoundQueue().write_index;
    EXPECT_EQ(PostSoundRequest(channel, kSoundSync, 0), -1);
    EXPECT_EQ(TheSoundQueue().write_index, write);
    EXPECT_NE(TheSoundQueue().read_index, TheSoundQueue().write_index) << "the ring does not look empty";
    TheSoundSystem().thread_state = -1;
    // Quitting ends the waiters too.
    QuitFlag = 1;
    EXPECT_FALSE(WaitSoundRequest(slot));
    QuitFlag = 0;
}

TEST_F(SoundRingTest, RunningThreadEndsOnQuitAndReleasesItsWaiters) {
    StartSoundThread();
    std::atomic<bool> ended{false};
    std::thread waiter([&] {
        // A channel that nothing makes idle before the thread's end.
        WaitChannelIdle(channel);
        ended = true;
    });
    {
        std::lock_guard lock(EngineLock);
        Of(channel).state = kSoundLoaded;
    }
    QuitFlag = 1;
    waiter.join();
    EXPECT_TRUE(ended.load());
    ReleaseDirectSound();
    EXPECT_EQ(TheSoundSystem().thread_state.load(), 1);
    QuitFlag = 0;
}

TEST_F(SoundRingTest, NamesAreCutToTheirSlots) {
    const std::string long_name(400, 'a');
    const int32_t slot = PostSoundRequest(channel, kSoundSync, 0, long_name);
    const auto& text = TheSoundQueue().name[static_cast<size_t>(slot)];
    EXPECT_EQ(std::string(text.data()), std::string(255, 'a'));
}

}  // namespace
}  // namespace zk
