// The UI thread: a thread of its own running GLib's main loop (on GLib's
// global default context), with GTK 3 on it when GTK can open an X display
// (GDK's X11 back end, on the display the SDL windows use). Dialogs, popup
// menus and every other GTK or GLib object of the engine live on this
// thread only; other threads hand it work with Post or Call.
//
// One UI thread at a time in a process (GLib's default context has one
// owner). GTK is initialised once per process, on the first UI thread that
// asks for a display; later UI threads on the same display reuse it.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace zk::platform {

class UiThread {
public:
    // Starts the thread and waits until its main loop runs. `x_display`
    // non-empty: GTK is initialised on that X display first; HasGtk tells
    // whether it opened. Null when another UI thread is running.
    static std::unique_ptr<UiThread> Start(const std::string& x_display);

    // Ends every modal still open, stops the loop and joins the thread.
    // Work still queued is dropped (its Call returns false).
    ~UiThread();
    UiThread(const UiThread&) = delete;
    UiThread& operator=(const UiThread&) = delete;

    // GTK is initialised and its display is open. Any thread.
    bool HasGtk() const { return has_gtk_; }
    // The calling thread is the UI thread.
    bool OnThisThread() const;

    // Queues `work` to run on the UI thread, in order with other work.
    // False when the thread is ending (the work is dropped). Any thread.
    bool Post(std::function<void()> work);

    // Runs `work` on the UI thread and waits for its end; on the UI thread
    // itself it runs at once. While waiting, `wait_step` (when given) runs
    // on the calling thread between short sleeps; once it returns false the
    // modal the work has open is ended (see ModalScope) and the wait goes
    // on until the work returns. True when the work ran; false when the
    // thread ended first.
    bool Call(std::function<void()> work, const std::function<bool()>& wait_step = {});

    // Inside work run by Call: the caller has asked to end early. Work
    // checks this before it opens a modal. UI thread only.
    bool CancelRequested() const;

    // Marks a modal (a dialog's or a menu's own loop) as open while it
    // lives: when the caller of Call gives up or the thread ends, `end`
    // runs on the UI thread and must make the modal return. UI thread
    // only; scopes nest.
    class ModalScope {
    public:
        ModalScope(UiThread& thread, std::function<void()> end);
        ~ModalScope();
        ModalScope(const ModalScope&) = delete;
        ModalScope& operator=(const ModalScope&) = delete;

    private:
        friend class UiThread;
        UiThread& thread_;
        std::function<void()> end_;
        ModalScope* outer_;
    };

    struct Shared;  // the state shared with GLib's callbacks

private:
    UiThread();
    void Run(const std::string& x_display);
    // Ends every open modal, innermost first. UI thread only.
    static void EndModals(Shared& shared);
    // GLib callbacks (gboolean (*)(gpointer)).
    static int DrainQueue(void* data);
    static int StopLoop(void* data);

    std::shared_ptr<Shared> shared_;
    std::atomic<bool> has_gtk_{false};
    std::thread thread_;
};

// The UI thread the engine uses, or null (headless runs and most tests).
// Not owned: the installer keeps it alive while it is installed.
UiThread* GetUiThread();
void InstallUiThread(UiThread* thread);

}  // namespace zk::platform
