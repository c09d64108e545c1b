#include "platform/headless_window_system.h"

namespace zk::platform {

namespace {
constexpr int32_t kTaskBarHeight = 40;
// A framebuffer larger than this is not made (the client area then has no
// pixels); no real screen comes near it.
constexpr uint64_t kMaxFramebufferBytes = uint64_t{1} << 31;
}  // namespace

std::unique_ptr<HeadlessWindowSystem> CreateHeadlessWindowSystem(DesktopInfo desktop) {
    return std::make_unique<HeadlessWindowSystem>(desktop);
}

HeadlessWindowSystem::HeadlessWindowSystem(DesktopInfo desktop) : desktop_(desktop) {}

HeadlessWindowSystem::~HeadlessWindowSystem() { DestroyAllHostWindows(); }

Rect HeadlessWindowSystem::AdjustWindowRect(const Rect& client, uint32_t style, uint32_t ex_style) {
    return ClientToWindowRect(client, ApproximateFrame(style, ex_style));
}

Rect HeadlessWindowSystem::GetWorkArea() {
    const int32_t bottom = desktop_.height > kTaskBarHeight ? desktop_.height - kTaskBarHeight : desktop_.height;
    return Rect{0, 0, desktop_.width, bottom};
}

DesktopInfo HeadlessWindowSystem::GetDesktop() { return desktop_; }

std::optional<WindowInfo> HeadlessWindowSystem::Window(WindowHandle window) const { return FindInfo(window); }

void HeadlessWindowSystem::InjectMessage(const Message& message) {
    Queue().Post(message);
}

bool HeadlessWindowSystem::HostCreateWindow(WindowRecord& record) {
    (void)record;
    return !create_fails_;
}

void HeadlessWindowSystem::HostDestroyWindow(WindowRecord& record) { framebuffers_.erase(record.handle); }

uint64_t HeadlessWindowSystem::BlitCount(WindowHandle window) const {
    auto it = framebuffers_.find(window);
    return it == framebuffers_.end() ? 0 : it->second.blits;
}

bool HeadlessWindowSystem::HostBeginClientAccess(WindowRecord& record, ClientSurface& out) {
    const int32_t width = record.client_rect.Width();
    const int32_t height = record.client_rect.Height();
    if (width <= 0 || height <= 0) return false;
    const uint64_t bytes = uint64_t{static_cast<uint32_t>(width)} * static_cast<uint32_t>(height) * 4;
    if (bytes > kMaxFramebufferBytes) return false;
    Framebuffer& framebuffer = framebuffers_[record.handle];
    if (framebuffer.width != width || framebuffer.height != height) {
        // A resized client area starts black, as the class brush paints it.
        framebuffer.width = width;
        framebuffer.height = height;
        framebuffer.pixels.assign(static_cast<size_t>(bytes), 0);
    }
    out = ClientSurface{framebuffer.pixels.data(), width * 4, width, height};
    return true;
}

void HeadlessWindowSystem::HostEndClientAccess(WindowRecord& record, const Rect& written) {
    auto it = framebuffers_.find(record.handle);
    if (it != framebuffers_.end() && written.Width() > 0 && written.Height() > 0) ++it->second.blits;
}

void HeadlessWindowSystem::HostShowWindow(WindowRecord& record, int show_command, const WindowInfo& before) {
    calls_.push_back(HeadlessCall{HeadlessCall::Kind::kShowWindow, record.handle, show_command});

    const FrameMetrics frame = ApproximateFrame(record.style, record.ex_style);
    const Rect work_area = GetWorkArea();
    std::unique_lock lock = LockWindows();
    if (record.maximized && !before.maximized) {
        record.normal_rect = record.window_rect;
        record.window_rect = work_area;
    } else if (!record.maximized && before.maximized) {
        record.window_rect = record.normal_rect;
    }
    const Rect client = WindowToClientRect(record.window_rect, frame);
    record.client_rect = Rect{0, 0, client.Width(), client.Height()};
    lock.unlock();

    if (record.minimized == before.minimized && record.maximized == before.maximized) return;
    if (record.minimized) {
        if (!before.minimized) Queue().Post(Message{record.handle, WM_SIZE, SIZE_MINIMIZED, 0});
        return;
    }
    const uint64_t type = record.maximized ? SIZE_MAXIMIZED : SIZE_RESTORED;
    Queue().Post(Message{record.handle, WM_SIZE, type, MakeLParam(client.Width(), client.Height())});
}

void HeadlessWindowSystem::HostRaiseWindow(WindowRecord& record) {
    calls_.push_back(HeadlessCall{HeadlessCall::Kind::kSetForegroundWindow, record.handle, 0});
}

void HeadlessWindowSystem::HostSetTitle(WindowRecord& record) { (void)record; }

void HeadlessWindowSystem::WaitForHostEvents(uint32_t timeout_ms) {
    // The only host here is the queue itself (posts and injected events).
    Queue().WaitFor(timeout_ms);
}

}  // namespace zk::platform
