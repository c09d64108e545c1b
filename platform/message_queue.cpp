#include "platform/message_queue.h"

#include <algorithm>
#include <chrono>

namespace zk::platform {

void MessageQueue::Post(const Message& message) {
    if (message.message == WM_PAINT) {
        Invalidate(message.window);
        return;
    }
    {
        std::lock_guard lock(mutex_);
        posted_.push_back(message);
    }
    ready_.notify_all();
}

bool MessageQueue::Invalidate(WindowHandle window) {
    {
        std::lock_guard lock(mutex_);
        if (std::find(paints_.begin(), paints_.end(), window) != paints_.end()) return false;
        paints_.push_back(window);
    }
    ready_.notify_all();
    return true;
}

void MessageQueue::PostQuit(int exit_code) {
    {
        std::lock_guard lock(mutex_);
        quit_pending_ = true;
        quit_code_ = exit_code;
    }
    ready_.notify_all();
}

bool MessageQueue::HasMessageLocked() const { return !posted_.empty() || quit_pending_ || !paints_.empty(); }

bool MessageQueue::NextLocked(Message& out, bool remove) {
    if (!posted_.empty()) {
        out = posted_.front();
        if (remove) posted_.pop_front();
        return true;
    }
    if (quit_pending_) {
        out = Message{kNoWindow, WM_QUIT, static_cast<uint64_t>(static_cast<int64_t>(quit_code_)), 0};
        if (remove) quit_pending_ = false;
        return true;
    }
    if (!paints_.empty()) {
        out = Message{paints_.front(), WM_PAINT, 0, 0};
        if (remove) paints_.pop_front();
        return true;
    }
    return false;
}

bool MessageQueue::Take(Message& out) {
    std::lock_guard lock(mutex_);
    return NextLocked(out, true);
}

bool MessageQueue::Peek(Message& out) {
    std::lock_guard lock(mutex_);
    return NextLocked(out, false);
}

bool MessageQueue::WaitFor(uint32_t timeout_ms) {
    std::unique_lock lock(mutex_);
    return ready_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] { return HasMessageLocked(); });
}

void MessageQueue::Wait() {
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [this] { return HasMessageLocked(); });
}

void MessageQueue::RemoveWindow(WindowHandle window) {
    std::lock_guard lock(mutex_);
    std::erase_if(posted_, [window](const Message& m) { return m.window == window; });
    std::erase(paints_, window);
}

void MessageQueue::Clear() {
    std::lock_guard lock(mutex_);
    posted_.clear();
    paints_.clear();
    quit_pending_ = false;
}

size_t MessageQueue::Size() const {
    std::lock_guard lock(mutex_);
    return posted_.size() + paints_.size() + (quit_pending_ ? 1 : 0);
}

}  // namespace zk::platform
