// platform/ui_thread.h without a display: GLib's loop on its own thread,
// work handed over in order, modals ended by a caller that gives up and by
// the thread's end.
#include "platform/ui_thread.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace zk::platform {
namespace {

// A modal as dialogs run one: a nested loop that the scope's end quits.
void RunNestedModal(UiThread& thread, std::atomic<bool>& open) {
    GMainLoop* loop = g_main_loop_new(g_main_context_default(), FALSE);
    {
        UiThread::ModalScope scope(thread, [loop] { g_main_loop_quit(loop); });
        open.store(true);
        g_main_loop_run(loop);
    }
    g_main_loop_unref(loop);
}

TEST(UiThread, RunsWorkInOrderOnItsOwnThread) {
    std::unique_ptr<UiThread> thread = UiThread::Start("");
    ASSERT_NE(thread, nullptr);
    EXPECT_FALSE(thread->HasGtk());
    EXPECT_FALSE(thread->OnThisThread());
    std::vector<int> order;  // written on the UI thread only, read after Call
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(thread->Post([&order, i] { order.push_back(i); }));
    bool on_ui_thread = false;
    bool inline_ran = false;
    ASSERT_TRUE(thread->Call([&] {
        on_ui_thread = thread->OnThisThread();
        // A Call made on the UI thread runs at once instead of waiting for
        // itself.
        EXPECT_TRUE(thread->Call([&] { inline_ran = true; }));
        order.push_back(5);
    }));
    EXPECT_TRUE(on_ui_thread);
    EXPECT_TRUE(inline_ran);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5}));
}

TEST(UiThread, OneAtATime) {
    std::unique_ptr<UiThread> first = UiThread::Start("");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(UiThread::Start(""), nullptr);
    first.reset();
    EXPECT_NE(UiThread::Start(""), nullptr);
}

TEST(UiThread, ACallerThatGivesUpEndsTheModal) {
    std::unique_ptr<UiThread> thread = UiThread::Start("");
    ASSERT_NE(thread, nullptr);
    std::atomic<bool> open{false};
    bool cancel_seen = false;
    int steps_after_open = 0;
    ASSERT_TRUE(thread->Call(
        [&] {
            RunNestedModal(*thread, open);
            cancel_seen = thread->CancelRequested();
        },
        // Gives up once the modal is open.
        [&] { return !open.load() || ++steps_after_open < 2; }));
    EXPECT_TRUE(cancel_seen);
    // Work after it is not taken for cancelled.
    bool cancelled_later = true;
    ASSERT_TRUE(thread->Call([&] { cancelled_later = thread->CancelRequested(); }));
    EXPECT_FALSE(cancelled_later);
}

TEST(UiThread, WorkQueuedBehindAModalRunsInsideIt) {
    std::unique_ptr<UiThread> thread = UiThread::Start("");
    ASSERT_NE(thread, nullptr);
    UiThread* raw = thread.get();  // `thread` is reset while the work runs
    std::atomic<bool> open{false};
    std::atomic<bool> modal_done{false};
    ASSERT_TRUE(thread->Post([&] {
        RunNestedModal(*raw, open);
        modal_done.store(true);
    }));
    // Waits for the modal without any clock: Call returns once the work
    // behind it has run, which it can only inside the modal.
    bool inside = false;
    ASSERT_TRUE(thread->Call([&] { inside = open.load() && !modal_done.load(); }));
    EXPECT_TRUE(inside);
    // The thread's end ends the modal that is still open.
    thread.reset();
    EXPECT_TRUE(modal_done.load());
}

TEST(UiThread, AnEndingThreadEndsACallersModal) {
    std::unique_ptr<UiThread> thread = UiThread::Start("");
    ASSERT_NE(thread, nullptr);
    std::atomic<bool> open{false};
    std::atomic<bool> returned{false};
    bool cancel_seen = false;
    UiThread* raw = thread.get();  // `thread` is reset while the work runs
    std::thread caller([&] {
        raw->Call([&] {
            RunNestedModal(*raw, open);
            cancel_seen = raw->CancelRequested();
        });
        returned.store(true);
    });
    while (!open.load()) std::this_thread::yield();
    thread.reset();
    caller.join();
    EXPECT_TRUE(returned.load());
    EXPECT_TRUE(cancel_seen);
}

}  // namespace
}  // namespace zk::platform
