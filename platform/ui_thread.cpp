// The UI thread: GLib's main loop on a thread of its own, a queue of work
// from other threads drained by an idle source, and GTK on an X display.
#include "platform/ui_thread.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

namespace zk::platform {

namespace {

struct Job {
    std::function<void()> work;
    std::atomic<bool> cancel{false};
    bool done = false;  // under Shared::lock
    bool ran = false;   // under Shared::lock
};

// Only one UI thread owns GLib's default context at a time.
std::atomic<bool> g_running{false};

std::atomic<UiThread*> g_installed{nullptr};

// GTK can be initialised once per process. The display it opened is kept
// for the process: a later UI thread on the same display uses it again.
std::mutex g_gtk_lock;
bool g_gtk_ready = false;
std::string g_gtk_display;

bool InitGtk(const std::string& x_display) {
    std::lock_guard hold(g_gtk_lock);
    if (g_gtk_ready) return g_gtk_display == x_display;
    // The SDL windows are X11 windows: dialogs are made transient for them
    // and menus are placed on their screen, so GDK must speak X11 too.
    gdk_set_allowed_backends("x11");
    std::string program = "zorvek", option = "--display", name = x_display;
    char* argv[] = {program.data(), option.data(), name.data(), nullptr};
    int argc = 3;
    char** args = argv;
    if (!gtk_init_check(&argc, &args)) return false;
    g_gtk_ready = true;
    g_gtk_display = x_display;
    return true;
}

}  // namespace

struct UiThread::Shared {
    std::mutex lock;
    std::condition_variable changed;
    std::deque<std::shared_ptr<Job>> queue;
    bool started = false;
    bool ending = false;  // no more work is taken; queued work is dropped
    std::thread::id thread_id;
    // UI thread only:
    GMainLoop* loop = nullptr;
    std::vector<std::shared_ptr<Job>> running;  // the jobs in progress, innermost last
    ModalScope* innermost = nullptr;
};

namespace {

using SharedPtr = std::shared_ptr<UiThread::Shared>;

void DropQueued(UiThread::Shared& shared) {
    for (const std::shared_ptr<Job>& job : shared.queue) job->done = true;
    shared.queue.clear();
    shared.changed.notify_all();
}

void DeleteSharedPtr(gpointer data) { std::unique_ptr<SharedPtr> owned(static_cast<SharedPtr*>(data)); }

// An idle source on the default context calling `function` with its own
// reference to the shared state, so the state stays valid however late
// GLib runs or frees the source.
void AttachIdle(const SharedPtr& shared, GSourceFunc function) {
    GSource* source = g_idle_source_new();
    g_source_set_priority(source, G_PRIORITY_DEFAULT);
    g_source_set_callback(source, function, std::make_unique<SharedPtr>(shared).release(), DeleteSharedPtr);
    g_source_attach(source, g_main_context_default());
    g_source_unref(source);
}

}  // namespace

// Runs queued work one job at a time: a job that opens a modal (a nested
// loop) lets the jobs behind it run inside that loop.
int UiThread::DrainQueue(void* data) {
    Shared& shared = **static_cast<SharedPtr*>(data);
    for (;;) {
        std::shared_ptr<Job> job;
        {
            std::lock_guard hold(shared.lock);
            if (shared.ending) DropQueued(shared);
            if (shared.queue.empty()) return G_SOURCE_REMOVE;
            job = std::move(shared.queue.front());
            shared.queue.pop_front();
        }
        shared.running.push_back(job);
        job->work();
        shared.running.pop_back();
        std::lock_guard hold(shared.lock);
        job->ran = true;
        job->done = true;
        shared.changed.notify_all();
    }
}

void UiThread::EndModals(Shared& shared) {
    for (ModalScope* scope = shared.innermost; scope != nullptr; scope = scope->outer_) {
        if (scope->end_) scope->end_();
    }
}

int UiThread::StopLoop(void* data) {
    Shared& shared = **static_cast<SharedPtr*>(data);
    EndModals(shared);
    for (const std::shared_ptr<Job>& job : shared.running) job->cancel.store(true);
    g_main_loop_quit(shared.loop);
    return G_SOURCE_REMOVE;
}

UiThread::UiThread() : shared_(std::make_shared<Shared>()) {}

std::unique_ptr<UiThread> UiThread::Start(const std::string& x_display) {
    bool expected = false;
    if (!g_running.compare_exchange_strong(expected, true)) return nullptr;
    std::unique_ptr<UiThread> thread(new UiThread());
    thread->thread_ = std::thread([raw = thread.get(), x_display] { raw->Run(x_display); });
    // The thread always reports its start, display or not.
    std::unique_lock hold(thread->shared_->lock);
    thread->shared_->changed.wait(hold, [&] { return thread->shared_->started; });
    return thread;
}

void UiThread::Run(const std::string& x_display) {
    GMainContext* context = g_main_context_default();
    g_main_context_acquire(context);
    if (!x_display.empty()) has_gtk_.store(InitGtk(x_display));
    shared_->loop = g_main_loop_new(context, FALSE);
    {
        std::lock_guard hold(shared_->lock);
        shared_->thread_id = std::this_thread::get_id();
        shared_->started = true;
        shared_->changed.notify_all();
    }
    g_main_loop_run(shared_->loop);
    {
        std::lock_guard hold(shared_->lock);
        shared_->ending = true;
        DropQueued(*shared_);
    }
    // Sources still attached (a late drain) find nothing left to do; run
    // them now so no source outlives the loop holding work.
    while (g_main_context_iteration(context, FALSE)) {
    }
    g_main_loop_unref(shared_->loop);
    shared_->loop = nullptr;
    g_main_context_release(context);
}

UiThread::~UiThread() {
    {
        std::lock_guard hold(shared_->lock);
        shared_->ending = true;
    }
    AttachIdle(shared_, &UiThread::StopLoop);
    if (thread_.joinable()) thread_.join();
    g_running.store(false);
}

bool UiThread::OnThisThread() const {
    std::lock_guard hold(shared_->lock);
    return shared_->started && shared_->thread_id == std::this_thread::get_id();
}

namespace {

// Queues a job and wakes the loop; false when the thread is ending.
bool Enqueue(const SharedPtr& shared, const std::shared_ptr<Job>& job, GSourceFunc drain) {
    {
        std::lock_guard hold(shared->lock);
        if (shared->ending) return false;
        shared->queue.push_back(job);
    }
    AttachIdle(shared, drain);
    return true;
}

}  // namespace

bool UiThread::Post(std::function<void()> work) {
    auto job = std::make_shared<Job>();
    job->work = std::move(work);
    return Enqueue(shared_, job, &UiThread::DrainQueue);
}

bool UiThread::Call(std::function<void()> work, const std::function<bool()>& wait_step) {
    if (OnThisThread()) {
        work();
        return true;
    }
    // The wait holds the shared state itself: the thread may be ended (and
    // this object destroyed) while the caller still waits for its work.
    const SharedPtr shared = shared_;
    auto job = std::make_shared<Job>();
    job->work = std::move(work);
    if (!Enqueue(shared, job, &UiThread::DrainQueue)) return false;
    bool gave_up = false;
    std::unique_lock hold(shared->lock);
    while (!job->done) {
        if (!wait_step) {
            shared->changed.wait(hold, [&] { return job->done; });
            break;
        }
        shared->changed.wait_for(hold, std::chrono::milliseconds(10), [&] { return job->done; });
        if (job->done) break;
        hold.unlock();
        if (!gave_up && !wait_step()) {
            gave_up = true;
            job->cancel.store(true);
            // Ends the job's modal; dropped (and not needed) when the
            // thread is ending, which ends every modal itself.
            auto cancel = std::make_shared<Job>();
            Shared* raw = shared.get();
            cancel->work = [raw, job] {
                if (std::find(raw->running.begin(), raw->running.end(), job) != raw->running.end()) EndModals(*raw);
            };
            Enqueue(shared, cancel, &UiThread::DrainQueue);
        }
        hold.lock();
    }
    return job->ran;
}

bool UiThread::CancelRequested() const {
    if (shared_->running.empty()) return false;
    if (shared_->running.back()->cancel.load()) return true;
    std::lock_guard hold(shared_->lock);
    return shared_->ending;
}

UiThread::ModalScope::ModalScope(UiThread& thread, std::function<void()> end)
    : thread_(thread), end_(std::move(end)), outer_(thread.shared_->innermost) {
    thread_.shared_->innermost = this;
}

UiThread::ModalScope::~ModalScope() { thread_.shared_->innermost = outer_; }

UiThread* GetUiThread() { return g_installed.load(std::memory_order_acquire); }

void InstallUiThread(UiThread* thread) { g_installed.store(thread, std::memory_order_release); }

}  // namespace zk::platform
