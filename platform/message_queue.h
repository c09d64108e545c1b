// The main thread's message queue, the stand-in for a Windows thread queue.
//
// Three kinds of entries, taken in the order Windows hands them out:
//   1. posted messages (PostMessage, and host events the back end turns
//      into messages), first in, first out;
//   2. WM_QUIT, once PostQuit was called and no posted message is left
//      (Windows generates it only when the posted queue is empty);
//   3. WM_PAINT, at most one pending per window, in the order the windows
//      were invalidated. A WM_PAINT posted like any other message is folded
//      into this set too, so a window never has two paints waiting.
//
// Threading: Post, Invalidate and PostQuit may be called from any thread;
// Take, Peek and the waits belong to the main thread (they are safe from any
// thread, but the engine has one consumer).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>

#include "platform/window_messages.h"

namespace zk::platform {

class MessageQueue {
public:
    MessageQueue() = default;
    MessageQueue(const MessageQueue&) = delete;
    MessageQueue& operator=(const MessageQueue&) = delete;

    // Appends a message (WM_PAINT goes to Invalidate instead).
    void Post(const Message& message);
    // Makes a WM_PAINT pending for the window; false when one already was.
    bool Invalidate(WindowHandle window);
    // WM_QUIT with wparam = exit_code becomes pending (a later call replaces
    // the code, as PostQuitMessage does).
    void PostQuit(int exit_code);

    // Removes and returns the next message; false when there is none.
    bool Take(Message& out);
    // Returns the next message without removing it; false when there is none.
    bool Peek(Message& out);

    // Blocks until a message can be taken (true) or timeout_ms passes (false).
    bool WaitFor(uint32_t timeout_ms);
    void Wait();

    // Drops every posted message and the pending paint of a window that is
    // being destroyed (Windows flushes them too).
    void RemoveWindow(WindowHandle window);
    void Clear();

    // Posted messages + pending paints + a pending quit.
    size_t Size() const;
    bool Empty() const { return Size() == 0; }

private:
    // Callers hold mutex_.
    bool HasMessageLocked() const;
    bool NextLocked(Message& out, bool remove);

    mutable std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Message> posted_;
    std::deque<WindowHandle> paints_;  // at most one entry per window
    bool quit_pending_ = false;
    int quit_code_ = 0;
};

}  // namespace zk::platform
