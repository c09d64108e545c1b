// The request ring: a full ring makes the poster wait and loses nothing;
// waiters end when the thread has ended, the engine quits or a stop signal
// comes, and run the main thread's calls meanwhile; the thread's failure is
// shown without the engine lock and ends the run as a fatal error; names are
// cut to their slots.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "core/error_report.h"
#include "core/main_thread_calls.h"
#include "core/run_summary.h"
#include "core/window_record.h"
#include "platform/stop_signals.h"
#include "platform/ui.h"
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
    // A poster that finds the ring full reports it, and its dialog is the
    // main thread's to show.
    while (posted.load() < 600) WaitTurn(1);
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

// A stop signal ends every wait for the sound thread, whatever that thread
// does: only the main loop answers the signal, between frames, so a wait
// inside a frame that went on would keep the signal from ever being seen.
// In a child process (a received signal is kept for the process's life),
// under an alarm that fails it rather than letting it hang.
TEST_F(SoundRingTest, AStopSignalEndsEveryWait) {
    EXPECT_EXIT(
        {
            alarm(60);
            platform::InstallClock(nullptr);
            platform::InstallStopSignalHandlers();
            raise(SIGTERM);
            TheSoundSystem().thread_state = 0;  // a thread that never gets to the requests
            const int32_t slot = PostSoundRequest(channel, kSoundSync, 0);
            {
                std::lock_guard lock(EngineLock);
                Of(channel).state = kSoundLoaded;
            }
            int failures = 0;
            if (WaitSoundRequest(slot)) failures |= 1;
            if (WaitChannelIdle(channel)) failures |= 2;
            // The ring filled up: its poster waits for room and gives up.
            for (int i = 0; i < kSoundRingSlots - 2; ++i) PostSoundRequest(channel, kSoundSync, i);
            if (PostSoundRequest(channel, kSoundSync, 0) != -1) failures |= 4;
            std::_Exit(failures);
        },
        ::testing::ExitedWithCode(0), "");
}

// The sound thread's box while the script's thread (here the main thread)
// waits for the request that failed: the waiter shows it, the engine lock
// is free while it is up, and the run ends as by a fatal error, with the
// failure's number, the main window closing without asking (a failure
// between two frames has no frame step to close it). A watchdog raises the
// quit flag should the wait not end, so that a fault fails the test
// instead of hanging it.
TEST_F(SoundRingTest, TheThreadsFailureIsShownByTheWaiterWithoutTheLockAndIsTheRunsFatalError) {
    struct BoxUi final : platform::Ui {
        int MessageBox(platform::WindowHandle, std::string_view text, const char* caption, uint32_t) override {
            const bool lock_free = EngineLock.try_lock();
            if (lock_free) EngineLock.unlock();
            boxes.push_back({std::string(text), caption != nullptr ? caption : "", lock_free});
            return platform::IDOK;
        }
        int ErrorDialog(const platform::ErrorDialogRequest&) override { return platform::kErrorDialogExitButton; }
        struct Box {
            std::string text, caption;
            bool lock_free;
        };
        std::vector<Box> boxes;  // main thread only
    } ui;
    platform::InstallUi(&ui);
    platform::InstallClock(nullptr);  // the waits sleep for real
    ResetStopCause();
    ASSERT_EQ(CreateWindowRecords(), 0);
    const uint32_t failures_before = ErrorReporter().fatal_failures;
    WriteFile("empty.ogg", {});
    {
        std::lock_guard lock(EngineLock);
        Of(channel).format = kSoundFormatOgg;
    }
    StartSoundThread();

    std::mutex watchdog_mutex;
    std::condition_variable watchdog_wake;
    bool finished = false;
    std::thread watchdog([&] {
        std::unique_lock lock(watchdog_mutex);
        if (!watchdog_wake.wait_for(lock, std::chrono::seconds(60), [&] { return finished; })) QuitFlag = 1;
    });
    const bool done = WaitSoundRequest(PostSoundRequest(channel, kSoundLoad, 0, "empty.ogg"));
    {
        std::lock_guard lock(watchdog_mutex);
        finished = true;
    }
    watchdog_wake.notify_one();
    watchdog.join();
    const size_t boxes_seen_by_the_wait = ui.boxes.size();
    RunPendingMainThreadCalls();  // a box the wait left (a fault) lets the thread go
    ReleaseDirectSound();

    EXPECT_FALSE(done) << "the request failed, and the quit ended the wait";
    EXPECT_EQ(boxes_seen_by_the_wait, 1u) << "the waiting main thread showed the box";
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, SoundErrorMessage(-1030));
    EXPECT_EQ(ui.boxes[0].caption, "DEBUG Message");
    EXPECT_TRUE(ui.boxes[0].lock_free) << "shown while the sound thread held the engine lock";
    EXPECT_EQ(QuitFlag.load(), 1);
    EXPECT_EQ(static_cast<int>(MainWindowRecord()->close_behaviour), 2) << "closed without asking";
    EXPECT_EQ(TheStopCause(), StopCause::kFatalError);
    EXPECT_EQ(StopErrorCode(), 1030u);
    EXPECT_EQ(ErrorReporter().fatal_failures, failures_before + 1) << "the run exits with code 1";
    DestroyWindowRecords();
    platform::InstallClock(&clock);
    platform::InstallUi(nullptr);
    ResetStopCause();
    ResetErrorReporter();
}

TEST_F(SoundRingTest, NamesAreCutToTheirSlots) {
    const std::string long_name(400, 'a');
    const int32_t slot = PostSoundRequest(channel, kSoundSync, 0, long_name);
    const auto& text = TheSoundQueue().name[static_cast<size_t>(slot)];
    EXPECT_EQ(std::string(text.data()), std::string(255, 'a'));
}

}  // namespace
}  // namespace zk
