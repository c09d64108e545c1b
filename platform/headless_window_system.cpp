#include "platform/headless_window_system.h"

#include <algorithm>

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

void HeadlessWindowSystem::HostDestroyWindow(WindowRecord& record) {
    framebuffers_.erase(record.handle);
    if (focused_ == record.handle) focused_ = kNoWindow;
}

uint64_t HeadlessWindowSystem::BlitCount(WindowHandle window) const {
    auto it = framebuffers_.find(window);
    return it == framebuffers_.end() ? 0 : it->second.blits;
}

bool HeadlessWindowSystem::HostBeginClientAccess(WindowRecord& record, ClientSurface& out) {
    // The host's pixels: a docked menu strip's rows above the client area.
    const int32_t width = record.client_rect.Width();
    const int32_t height = record.client_rect.Height() + DockedStripHeight(record);
    if (width <= 0 || record.client_rect.Height() <= 0) return false;
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
    if (focus_on_show_ && focused_ == kNoWindow && record.visible && !before.visible) Activate(record.handle);

    const FrameMetrics frame = FrameOf(record);
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
    Queue().Post(Message{record.handle, WM_WINDOWPOSCHANGED, 0, 0});
    Queue().Post(Message{record.handle, WM_SIZE, type, MakeLParam(client.Width(), client.Height())});
}

// --- monitors and display modes ------------------------------------------------

std::vector<HeadlessWindowSystem::Monitor>& HeadlessWindowSystem::Monitors() {
    if (monitors_.empty()) {
        Monitor monitor;
        monitor.info.bounds = Rect{0, 0, desktop_.width, desktop_.height};
        monitor.info.work_area = GetWorkArea();
        monitor.info.name = "\\\\.\\DISPLAY1";
        // The usual modes up to the desktop's size, at its depth and at 16 bits.
        static constexpr Point kSizes[] = {{640, 480},  {800, 600},   {1024, 768}, {1280, 720},
                                           {1280, 1024}, {1600, 900}, {1920, 1080}, {2560, 1440}};
        for (int32_t depth : {16, desktop_.bits_per_pixel}) {
            for (const Point& size : kSizes) {
                if (size.x <= desktop_.width && size.y <= desktop_.height)
                    monitor.modes.push_back(DisplayMode{size.x, size.y, depth, 60});
            }
        }
        monitors_.push_back(std::move(monitor));
    }
    return monitors_;
}

void HeadlessWindowSystem::SetMonitors(std::vector<MonitorInfo> monitors) {
    monitors_.clear();
    for (MonitorInfo& info : monitors) monitors_.push_back(Monitor{std::move(info), {}, std::nullopt});
}

void HeadlessWindowSystem::SetDisplayModes(int monitor, std::vector<DisplayMode> modes) {
    std::vector<Monitor>& list = Monitors();
    if (monitor >= 0 && static_cast<size_t>(monitor) < list.size()) list[static_cast<size_t>(monitor)].modes = std::move(modes);
}

std::optional<DisplayMode> HeadlessWindowSystem::CurrentDisplayMode(int monitor) const {
    if (monitor < 0 || static_cast<size_t>(monitor) >= monitors_.size()) return std::nullopt;
    return monitors_[static_cast<size_t>(monitor)].current;
}

int HeadlessWindowSystem::MonitorFromPoint(Point screen) {
    std::vector<Monitor>& list = Monitors();
    int best = 0;
    int64_t best_distance = INT64_MAX;
    for (size_t i = 0; i < list.size(); ++i) {
        MonitorInfo info;
        GetMonitorInfo(static_cast<int>(i), info);
        const Rect& r = info.bounds;
        const int64_t dx = screen.x < r.left ? int64_t{r.left} - screen.x : (screen.x >= r.right ? int64_t{screen.x} - r.right + 1 : 0);
        const int64_t dy = screen.y < r.top ? int64_t{r.top} - screen.y : (screen.y >= r.bottom ? int64_t{screen.y} - r.bottom + 1 : 0);
        const int64_t distance = dx * dx + dy * dy;
        if (distance < best_distance) {
            best_distance = distance;
            best = static_cast<int>(i);
        }
    }
    return best;
}

bool HeadlessWindowSystem::GetMonitorInfo(int monitor, MonitorInfo& out) {
    std::vector<Monitor>& list = Monitors();
    if (monitor < 0 || static_cast<size_t>(monitor) >= list.size()) return false;
    const Monitor& m = list[static_cast<size_t>(monitor)];
    out = m.info;
    if (m.current) {
        // A changed mode gives the monitor its size; the work area is the whole of it.
        out.bounds.right = out.bounds.left + m.current->width;
        out.bounds.bottom = out.bounds.top + m.current->height;
        out.work_area = out.bounds;
    }
    return true;
}

bool HeadlessWindowSystem::EnumDisplayMode(int monitor, int mode, DisplayMode& out) {
    std::vector<Monitor>& list = Monitors();
    if (monitor < 0 || static_cast<size_t>(monitor) >= list.size()) return false;
    const std::vector<DisplayMode>& modes = list[static_cast<size_t>(monitor)].modes;
    if (mode < 0 || static_cast<size_t>(mode) >= modes.size()) return false;
    out = modes[static_cast<size_t>(mode)];
    return true;
}

bool HeadlessWindowSystem::ChangeDisplayMode(WindowHandle window, int monitor, const DisplayMode* mode) {
    WindowRecord* record = Find(window);
    std::vector<Monitor>& list = Monitors();
    if (record == nullptr || mode_change_fails_ || monitor < 0 || static_cast<size_t>(monitor) >= list.size()) return false;
    list[static_cast<size_t>(monitor)].current =
        mode != nullptr ? std::optional<DisplayMode>(*mode) : std::optional<DisplayMode>();
    std::unique_lock lock = LockWindows();
    record->fullscreen = true;
    return true;
}

void HeadlessWindowSystem::RestoreDisplayMode(WindowHandle window) {
    for (Monitor& monitor : Monitors()) monitor.current.reset();
    if (WindowRecord* record = Find(window)) {
        std::unique_lock lock = LockWindows();
        record->fullscreen = false;
    }
}

void HeadlessWindowSystem::InjectUserResize(WindowHandle window, int32_t client_width, int32_t client_height) {
    WindowRecord* record = Find(window);
    if (record == nullptr) return;
    // The host keeps a drag within the limits it was given.
    if (record->min_client.x > 0) client_width = std::max(client_width, record->min_client.x);
    if (record->min_client.y > 0) client_height = std::max(client_height, record->min_client.y);
    if (record->max_client.x > 0) client_width = std::min(client_width, record->max_client.x);
    if (record->max_client.y > 0) client_height = std::min(client_height, record->max_client.y);
    UserResized(*record, client_width, client_height);
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

namespace zk::platform {

// --- input -------------------------------------------------------------------

WindowHandle HeadlessWindowSystem::MainWindow() const {
    const std::vector<WindowInfo> windows = ListWindows();
    for (const WindowInfo& info : windows) {
        if (info.visible) return info.handle;
    }
    return windows.empty() ? kNoWindow : windows.front().handle;
}

Point HeadlessWindowSystem::ClientOrigin(WindowHandle window) const {
    const WindowRecord* record = Find(window);
    if (record == nullptr) return Point{};
    FrameMetrics frame = ApproximateFrame(record->style, record->ex_style);
    frame.top += DockedStripHeight(*record);
    const Rect client = WindowToClientRect(record->window_rect, frame);
    return Point{client.left, client.top};
}

bool HeadlessWindowSystem::HostPointer(Point& screen, bool& left_down) {
    screen = pointer_;
    left_down = keys_[VK_LBUTTON] != 0;
    return true;
}

Point HeadlessWindowSystem::HostClientOrigin(WindowRecord& record) { return ClientOrigin(record.handle); }

void HeadlessWindowSystem::HostMoveWindow(WindowRecord& record, Point client_origin) {
    const Point from = ClientOrigin(record.handle);
    const int32_t dx = client_origin.x - from.x;
    const int32_t dy = client_origin.y - from.y;
    {
        std::unique_lock lock = LockWindows();
        record.window_rect = Rect{record.window_rect.left + dx, record.window_rect.top + dy,
                                  record.window_rect.right + dx, record.window_rect.bottom + dy};
        record.normal_rect = record.window_rect;
    }
    Queue().Post(Message{record.handle, WM_MOVE, 0, MakeLParam(client_origin.x, client_origin.y)});
}

uint64_t HeadlessWindowSystem::MouseKeyFlags() const {
    uint64_t flags = 0;
    if (keys_[VK_LBUTTON] != 0) flags |= MK_LBUTTON;
    if (keys_[VK_RBUTTON] != 0) flags |= MK_RBUTTON;
    if (keys_[VK_MBUTTON] != 0) flags |= MK_MBUTTON;
    if ((keys_[VK_LSHIFT] | keys_[VK_RSHIFT]) != 0) flags |= MK_SHIFT;
    if ((keys_[VK_LCONTROL] | keys_[VK_RCONTROL]) != 0) flags |= MK_CONTROL;
    return flags;
}

void HeadlessWindowSystem::Activate(WindowHandle window) {
    if (focused_ == window) return;
    if (focused_ != kNoWindow) Queue().Post(Message{focused_, WM_ACTIVATE, WA_INACTIVE, 0});
    focused_ = window;
    if (window != kNoWindow) Queue().Post(Message{window, WM_ACTIVATE, WA_ACTIVE, 0});
}

void HeadlessWindowSystem::GetKeyboardState(KeyboardState& out) {
    out = keys_;
    FillGenericModifiers(out);
}

void HeadlessWindowSystem::ClearKeyboardState() {
    keys_.fill(0);
    ForgetKeyPresses();
}

bool HeadlessWindowSystem::GetCursorClientPos(WindowHandle window, Point& out) {
    if (Find(window) == nullptr) return false;
    const Point origin = ClientOrigin(window);
    out = Point{pointer_.x - origin.x, pointer_.y - origin.y};
    return true;
}

bool HeadlessWindowSystem::WarpCursor(WindowHandle window, Point client) {
    if (Find(window) == nullptr) return false;
    const Point origin = ClientOrigin(window);
    pointer_ = Point{origin.x + client.x, origin.y + client.y};
    return true;
}

int HeadlessWindowSystem::ShowCursor(bool show) {
    cursor_count_ += show ? 1 : -1;
    return cursor_count_;
}

void HeadlessWindowSystem::SetInputScript(std::vector<InputEvent> events) {
    script_ = std::move(events);
    script_next_ = 0;
    plays_script_ = true;
    const bool joysticks = std::any_of(script_.begin(), script_.end(), [](const InputEvent& event) {
        return event.kind == InputEvent::Kind::kJoystickAxis || event.kind == InputEvent::Kind::kJoystickButton;
    });
    if (joysticks) joysticks_.SetSlots(kMaxJoysticks);
}

void HeadlessWindowSystem::PumpHostEvents() {
    // The script is played by frame (PlayInputScript), never by the pumps:
    // how many pumps come between two frames depends on the machine's load.
}

void HeadlessWindowSystem::PlayInputScript(uint64_t frame) {
    while (script_next_ < script_.size() && script_[script_next_].frame <= frame) InjectInput(script_[script_next_++]);
}

void HeadlessWindowSystem::InjectInput(const InputEvent& event) {
    using Kind = InputEvent::Kind;
    const WindowHandle window = MainWindow();
    const Point origin = ClientOrigin(window);
    auto post = [&](uint32_t message, uint64_t wparam, int64_t lparam) {
        if (window != kNoWindow) Queue().Post(Message{window, message, wparam, lparam});
    };
    const int64_t client_point = MakeLParam(pointer_.x - origin.x, pointer_.y - origin.y);
    switch (event.kind) {
        case Kind::kKeyDown:
        case Kind::kKeyUp: {
            // The generic Shift, Ctrl and Alt stand for the left-hand key.
            uint8_t key = static_cast<uint8_t>(event.a);
            if (key == VK_SHIFT) key = VK_LSHIFT;
            if (key == VK_CONTROL) key = VK_LCONTROL;
            if (key == VK_MENU) key = VK_LMENU;
            const bool down = event.kind == Kind::kKeyDown;
            const bool repeat = down && keys_[key] != 0;
            keys_[key] = down ? kKeyDown : 0;
            if (down && !repeat) NoteKeyPressed(key);
            const bool alt = (keys_[VK_LMENU] | keys_[VK_RMENU]) != 0 && MessageVirtualKey(key) != VK_MENU;
            if (window != kNoWindow) Queue().Post(KeyMessage(window, key, down, alt, repeat));
            break;
        }
        case Kind::kMouseMove:
            pointer_ = Point{origin.x + event.a, origin.y + event.b};
            if (const std::optional<WindowInfo> info = window != kNoWindow ? FindInfo(window) : std::nullopt;
                info && OnShownMenuStrip(*info, Point{event.a, event.b})) {
                break;  // over the menu strip
            }
            post(WM_MOUSEMOVE, MouseKeyFlags(), MakeLParam(event.a, event.b));
            break;
        case Kind::kButtonDown:
        case Kind::kButtonUp: {
            const bool down = event.kind == Kind::kButtonDown;
            const uint8_t key = static_cast<uint8_t>(event.a);
            if (key != VK_LBUTTON && key != VK_RBUTTON && key != VK_MBUTTON && key != VK_XBUTTON1 &&
                key != VK_XBUTTON2) {
                break;
            }
            keys_[key] = down ? kKeyDown : 0;
            if (down) NoteKeyPressed(key);
            uint32_t message = 0;
            switch (key) {
                case VK_LBUTTON: message = down ? WM_LBUTTONDOWN : WM_LBUTTONUP; break;
                case VK_RBUTTON: message = down ? WM_RBUTTONDOWN : WM_RBUTTONUP; break;
                case VK_MBUTTON: message = down ? WM_MBUTTONDOWN : WM_MBUTTONUP; break;
                default: break;  // the side buttons have no message the engine reads
            }
            // A press on the menu strip is the strip's, not the client's.
            const std::optional<WindowInfo> info = window != kNoWindow ? FindInfo(window) : std::nullopt;
            const Point at{pointer_.x - origin.x, pointer_.y - origin.y};
            if (info && OnShownMenuStrip(*info, at)) {
                if (key == VK_LBUTTON && down) post(WM_NCLBUTTONDOWN, HTMENU, client_point);
                break;
            }
            if (message != 0) post(message, MouseKeyFlags(), client_point);
            break;
        }
        case Kind::kWheel: {
            const uint64_t wparam = (static_cast<uint64_t>(static_cast<uint16_t>(event.a)) << 16) | MouseKeyFlags();
            post(WM_MOUSEWHEEL, wparam, MakeLParam(pointer_.x, pointer_.y));
            break;
        }
        case Kind::kJoystickAxis:
        case Kind::kJoystickButton:
            joysticks_.Apply(event);
            break;
        case Kind::kDrop:
            if (window != kNoWindow) PostDroppedFiles(window, event.files);
            break;
        case Kind::kActivate:
            Activate(window);
            break;
        case Kind::kDeactivate:
            Activate(kNoWindow);
            break;
        case Kind::kClose:
            post(WM_SYSCOMMAND, SC_CLOSE, 0);
            break;
        case Kind::kText:
        case Kind::kCompose:
            if (window != kNoWindow) PostTextInput(window, event.files.front(), event.kind == Kind::kCompose);
            break;
    }
}

int HeadlessWindowSystem::ScriptedJoysticks::SlotCount() {
    std::lock_guard lock(mutex_);
    return slots_;
}

void HeadlessWindowSystem::ScriptedJoysticks::SetSlots(int slots) {
    std::lock_guard lock(mutex_);
    slots_ = std::clamp(slots, 0, kMaxJoysticks);
}

bool HeadlessWindowSystem::ScriptedJoysticks::Read(int slot, JoystickReading& out) {
    std::lock_guard lock(mutex_);
    if (slot < 0 || slot >= slots_ || !connected_[static_cast<size_t>(slot)]) return false;
    out = readings_[static_cast<size_t>(slot)];
    return true;
}

void HeadlessWindowSystem::ScriptedJoysticks::Apply(const InputEvent& event) {
    if (event.a < 0 || event.a >= kMaxJoysticks) return;
    std::lock_guard lock(mutex_);
    const size_t j = static_cast<size_t>(event.a);
    connected_[j] = true;
    JoystickReading& reading = readings_[j];
    if (event.kind == InputEvent::Kind::kJoystickAxis) {
        const uint32_t value = static_cast<uint32_t>(std::clamp<int32_t>(event.c, 0, kJoystickAxisMax));
        (event.b == 0 ? reading.x : reading.y) = value;
    } else if (event.b >= 0 && event.b < 32) {
        const uint32_t mask = uint32_t{1} << event.b;
        reading.buttons = event.c != 0 ? (reading.buttons | mask) : (reading.buttons & ~mask);
    }
}

}  // namespace zk::platform
