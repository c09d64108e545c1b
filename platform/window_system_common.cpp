#include "platform/window_system_common.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

#include "base/sjis.h"
#include "platform/stop_signals.h"

namespace zk::platform {

namespace {
constexpr int32_t kApproxCaption = 24;
constexpr int32_t kApproxBorder = 4;
constexpr int SW_SHOWNOACTIVATE = 4;
constexpr int SW_SHOWMINNOACTIVE = 7;
constexpr int SW_SHOWNA = 8;
constexpr int SW_SHOWDEFAULT = 10;
constexpr int SW_FORCEMINIMIZE = 11;
}  // namespace

FrameMetrics ApproximateFrame(uint32_t style, uint32_t ex_style) {
    (void)ex_style;
    FrameMetrics frame;
    const bool caption = (style & WS_CAPTION) == WS_CAPTION;
    if (caption || (style & WS_THICKFRAME) != 0) {
        frame.left = frame.right = frame.bottom = kApproxBorder;
        frame.top = kApproxBorder;
    }
    if (caption) frame.top += kApproxCaption;
    return frame;
}

Rect ClientToWindowRect(const Rect& client, const FrameMetrics& frame) {
    return Rect{client.left - frame.left, client.top - frame.top, client.right + frame.right,
                client.bottom + frame.bottom};
}

namespace {

Rect Union(const Rect& a, const Rect& b) {
    if (a.Width() <= 0 || a.Height() <= 0) return b;
    if (b.Width() <= 0 || b.Height() <= 0) return a;
    return Rect{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                std::max(a.bottom, b.bottom)};
}

// The part of [0, count) whose positions origin + i fall inside [0, limit).
struct IndexRange {
    int64_t begin = 0, end = 0;
    bool Empty() const { return begin >= end; }
};
IndexRange ClipRange(int64_t origin, int64_t count, int64_t limit) {
    return IndexRange{std::max<int64_t>(0, -origin), std::min<int64_t>(count, limit - origin)};
}

// The nearest-pixel copy behind StretchBlit, onto an open surface. Returns
// the client rectangle it wrote (empty when nothing lies on the surface).
Rect StretchOnto(const ClientSurface& surface, const BlitArea& destination,
                 const DibPixels& block, const BlitArea& source) {
    const IndexRange columns = ClipRange(destination.x, destination.width, surface.width);
    const IndexRange rows = ClipRange(destination.y, destination.height, surface.height);
    if (columns.Empty() || rows.Empty()) return Rect{};

    const int64_t block_width = block.width;
    const int64_t block_height = block.height < 0 ? -int64_t{block.height} : int64_t{block.height};
    const bool top_down = block.height < 0;
    const size_t row_bytes = static_cast<size_t>(block_width) * 4;

    // Source column of every destination column on the surface, or -1 when
    // it falls outside the block. (i * width) / width stays below the
    // source width, so only the rectangle's origin can take it outside.
    const bool same_width = source.width == destination.width;
    std::vector<int64_t> source_columns;
    if (!same_width) {
        source_columns.resize(static_cast<size_t>(columns.end - columns.begin));
        for (int64_t i = columns.begin; i < columns.end; ++i) {
            const int64_t sx = source.x + (i * source.width) / destination.width;
            source_columns[static_cast<size_t>(i - columns.begin)] = (sx >= 0 && sx < block_width) ? sx : -1;
        }
    }
    // Equal widths copy whole runs: the columns whose source lies in the block.
    const IndexRange run = same_width ? ClipRange(source.x, destination.width, block_width) : IndexRange{};
    const int64_t run_begin = std::max(columns.begin, run.begin);
    const int64_t run_end = std::min(columns.end, run.end);

    for (int64_t j = rows.begin; j < rows.end; ++j) {
        // The rectangle's top row is its highest DIB row.
        const int64_t r = (j * source.height) / destination.height;
        const int64_t dib_y = int64_t{source.y} + source.height - 1 - r;
        if (dib_y < 0 || dib_y >= block_height) continue;
        const int64_t memory_row = top_down ? block_height - 1 - dib_y : dib_y;
        const uint8_t* src_row = block.bytes.data() + static_cast<size_t>(memory_row) * row_bytes;
        uint8_t* dst_row = surface.pixels + static_cast<size_t>(destination.y + j) * static_cast<size_t>(surface.pitch);
        if (same_width) {
            if (run_begin >= run_end) continue;
            std::memcpy(dst_row + static_cast<size_t>(destination.x + run_begin) * 4,
                        src_row + static_cast<size_t>(source.x + run_begin) * 4,
                        static_cast<size_t>(run_end - run_begin) * 4);
            continue;
        }
        for (int64_t i = columns.begin; i < columns.end; ++i) {
            const int64_t sx = source_columns[static_cast<size_t>(i - columns.begin)];
            if (sx < 0) continue;
            std::memcpy(dst_row + static_cast<size_t>(destination.x + i) * 4, src_row + static_cast<size_t>(sx) * 4, 4);
        }
    }
    return Rect{static_cast<int32_t>(destination.x + columns.begin), static_cast<int32_t>(destination.y + rows.begin),
                static_cast<int32_t>(destination.x + columns.end), static_cast<int32_t>(destination.y + rows.end)};
}

}  // namespace

Rect WindowToClientRect(const Rect& window, const FrameMetrics& frame) {
    Rect client{window.left + frame.left, window.top + frame.top, window.right - frame.right,
                window.bottom - frame.bottom};
    // A window smaller than its frame has an empty client area.
    if (client.right < client.left) client.right = client.left;
    if (client.bottom < client.top) client.bottom = client.top;
    return client;
}

WindowSystemCommon::WindowSystemCommon() : main_thread_(std::this_thread::get_id()) {}

WindowSystemCommon::~WindowSystemCommon() = default;

std::string WindowSystemCommon::ClassKey(std::string_view class_name) { return SjisLowerAscii(class_name); }

WindowSystemCommon::WindowRecord* WindowSystemCommon::Find(WindowHandle window) {
    auto it = windows_.find(window);
    return it == windows_.end() ? nullptr : it->second.get();
}

const WindowSystemCommon::WindowRecord* WindowSystemCommon::Find(WindowHandle window) const {
    auto it = windows_.find(window);
    return it == windows_.end() ? nullptr : it->second.get();
}

WindowSystemCommon::WindowRecord* WindowSystemCommon::FindByClass(std::string_view class_key) {
    for (auto& [handle, record] : windows_) {
        if (record->class_key == class_key && !record->destroying) return record.get();
    }
    return nullptr;
}

std::vector<WindowInfo> WindowSystemCommon::ListWindows() const {
    std::lock_guard lock(windows_mutex_);
    std::vector<WindowInfo> out;
    out.reserve(windows_.size());
    for (const auto& [handle, record] : windows_) out.push_back(static_cast<const WindowInfo&>(*record));
    return out;
}

std::optional<WindowInfo> WindowSystemCommon::FindInfo(WindowHandle window) const {
    std::lock_guard lock(windows_mutex_);
    const WindowRecord* record = Find(window);
    if (record == nullptr) return std::nullopt;
    return static_cast<const WindowInfo&>(*record);
}

bool WindowSystemCommon::HasBeacon(std::string_view class_name) const {
    return beacons_.count(ClassKey(class_name)) != 0;
}

// --- classes and windows ---------------------------------------------------

bool WindowSystemCommon::RegisterClass(std::string_view class_name, WindowProc proc) {
    if (class_name.empty() || proc == nullptr) return false;
    return classes_.emplace(ClassKey(class_name), proc).second;
}

WindowHandle WindowSystemCommon::CreateWindow(const WindowCreateParams& params) {
    std::string key = ClassKey(params.class_name);
    auto cls = classes_.find(key);
    if (cls == classes_.end()) return kNoWindow;

    // Handles count up from 1 and are not reused while the process runs
    // (wrapping past 2^32 skips 0 and live handles).
    while (next_handle_ == kNoWindow || windows_.count(next_handle_) != 0) ++next_handle_;
    const WindowHandle handle = next_handle_++;

    auto record = std::make_unique<WindowRecord>();
    record->handle = handle;
    record->class_name = params.class_name;
    record->class_key = key;
    record->proc = cls->second;
    record->title = params.title;
    record->style = params.style;
    record->ex_style = params.ex_style;
    record->window_rect = Rect{params.x, params.y, params.x + std::max(params.width, 0),
                               params.y + std::max(params.height, 0)};
    const Rect client = WindowToClientRect(record->window_rect, HostFrame(params.style, params.ex_style));
    record->client_rect = Rect{0, 0, client.Width(), client.Height()};
    record->normal_rect = record->window_rect;
    if (!HostCreateWindow(*record)) return kNoWindow;

    {
        std::lock_guard lock(windows_mutex_);
        windows_.emplace(handle, std::move(record));
        live_.insert(handle);
        // A new window starts on top of the others.
        stack_.insert(stack_.begin(), handle);
    }

    // The first window of a class in this process answers "come forward"
    // requests for it. Listen fails when another process already answers;
    // a later window of the class tries again.
    if (beacons_.count(key) == 0) {
        WindowBeacon beacon;
        if (beacon.Listen(key)) beacons_.emplace(key, std::move(beacon));
    }
    return handle;
}

bool WindowSystemCommon::DestroyWindow(WindowHandle window) {
    WindowRecord* record = Find(window);
    // A procedure calling DestroyWindow again from its WM_DESTROY is ignored.
    if (record == nullptr || record->destroying) return false;
    record->destroying = true;
    const WindowProc proc = record->proc;
    const std::string key = record->class_key;
    proc(window, WM_DESTROY, 0, 0);

    // The procedure may have done anything except remove this window
    // (`destroying` stops that), so the record is still there.
    record = Find(window);
    if (move_.window == window) move_ = WindowMove{};
    HostDestroyWindow(*record);
    {
        std::lock_guard lock(windows_mutex_);
        live_.erase(window);
        stack_.erase(std::remove(stack_.begin(), stack_.end(), window), stack_.end());
    }
    queue_.RemoveWindow(window);
    {
        std::lock_guard lock(windows_mutex_);
        windows_.erase(window);
    }

    if (FindByClass(key) == nullptr) beacons_.erase(key);
    return true;
}

bool WindowSystemCommon::IsWindow(WindowHandle window) { return Find(window) != nullptr; }

bool WindowSystemCommon::ShowWindow(WindowHandle window, int show_command) {
    WindowRecord* record = Find(window);
    if (record == nullptr) return false;
    const WindowInfo before = *record;
    std::unique_lock lock(windows_mutex_);
    switch (show_command) {
        case SW_HIDE:
            record->visible = false;
            break;
        case SW_SHOWNORMAL:
        case SW_SHOWNOACTIVATE:
        case SW_RESTORE:
        case SW_SHOWDEFAULT:
            // From minimized back to the state before (maximized or normal);
            // from maximized back to normal.
            record->visible = true;
            if (record->minimized) {
                record->minimized = false;
            } else {
                record->maximized = false;
            }
            break;
        case SW_SHOWMINIMIZED:
        case SW_MINIMIZE:
        case SW_SHOWMINNOACTIVE:
        case SW_FORCEMINIMIZE:
            record->visible = true;
            record->minimized = true;
            break;
        case SW_SHOWMAXIMIZED:
            record->visible = true;
            record->minimized = false;
            record->maximized = true;
            break;
        case SW_SHOW:
        case SW_SHOWNA:
        default:
            record->visible = true;
            break;
    }
    lock.unlock();
    HostShowWindow(*record, show_command, before);
    return before.visible;
}

bool WindowSystemCommon::IsVisible(WindowHandle window) {
    const WindowRecord* record = Find(window);
    return record != nullptr && record->visible;
}

bool WindowSystemCommon::IsMinimized(WindowHandle window) {
    const WindowRecord* record = Find(window);
    return record != nullptr && record->minimized;
}

bool WindowSystemCommon::IsMaximized(WindowHandle window) {
    const WindowRecord* record = Find(window);
    return record != nullptr && record->maximized;
}

bool WindowSystemCommon::SetForegroundWindow(WindowHandle window) {
    WindowRecord* record = Find(window);
    if (record == nullptr) return false;
    HostRaiseWindow(*record);
    return true;
}

bool WindowSystemCommon::SetTitle(WindowHandle window, std::string_view title_cp932) {
    WindowRecord* record = Find(window);
    if (record == nullptr) return false;
    {
        std::lock_guard lock(windows_mutex_);
        record->title = std::string(title_cp932);
    }
    HostSetTitle(*record);
    return true;
}

void WindowSystemCommon::SetUserData(WindowHandle window, void* data) {
    if (WindowRecord* record = Find(window)) {
        std::lock_guard lock(windows_mutex_);
        record->user_data = data;
    }
}

void* WindowSystemCommon::GetUserData(WindowHandle window) {
    const WindowRecord* record = Find(window);
    return record == nullptr ? nullptr : record->user_data;
}

Rect WindowSystemCommon::GetClientRect(WindowHandle window) {
    const WindowRecord* record = Find(window);
    return record == nullptr ? Rect{} : record->client_rect;
}

bool WindowSystemCommon::InvalidateWindow(WindowHandle window) {
    if (Find(window) == nullptr) return false;
    queue_.Invalidate(window);
    WakeMainThread(std::this_thread::get_id() == main_thread_);
    return true;
}

// --- client pixels -----------------------------------------------------------

bool WindowSystemCommon::StretchBlit(WindowHandle window, const BlitArea& destination, const DibPixels& block,
                                     const BlitArea& source) {
    WindowRecord* record = Find(window);
    if (record == nullptr) return false;
    if (destination.width <= 0 || destination.height <= 0 || source.width <= 0 || source.height <= 0) return false;
    const int64_t block_height = block.height < 0 ? -int64_t{block.height} : int64_t{block.height};
    if (block.width <= 0 || block_height == 0) return false;
    const uint64_t row_bytes = static_cast<uint64_t>(block.width) * 4;
    if (static_cast<uint64_t>(block_height) > block.bytes.size() / row_bytes) return false;

    ClientSurface host;
    if (!HostBeginClientAccess(*record, host)) return false;
    const ClientSurface surface = ClientPart(*record, host);
    Rect written = StretchOnto(surface, destination, block, source);
    const int32_t docked = host.height - surface.height;
    written.top += docked;
    written.bottom += docked;
    // An overlaid strip stays on top of what was drawn under it.
    if (written.Width() > 0 && record->menu_strip_overlay && written.top < record->menu_strip)
        written = Union(written, PaintMenuStrip(*record, host));
    HostEndClientAccess(*record, written);
    return true;
}

namespace {

// The rows of a locked surface, packed into `out`.
void CopySurfacePixels(const ClientSurface& surface, ClientImage& out) {
    const size_t row_bytes = static_cast<size_t>(surface.width) * 4;
    out.width = surface.width;
    out.height = surface.height;
    out.pixels.resize(row_bytes * static_cast<size_t>(surface.height));
    for (int32_t y = 0; y < surface.height; ++y) {
        std::memcpy(out.pixels.data() + row_bytes * static_cast<size_t>(y),
                    surface.pixels + static_cast<size_t>(surface.pitch) * static_cast<size_t>(y), row_bytes);
    }
}

}  // namespace

bool WindowSystemCommon::ReadClientPixels(WindowHandle window, ClientImage& out) {
    WindowRecord* record = Find(window);
    if (record == nullptr) return false;
    ClientSurface host;
    if (!HostBeginClientAccess(*record, host)) return false;
    const ClientSurface surface = ClientPart(*record, host);
    if (surface.height <= 0) {
        HostEndClientAccess(*record, Rect{});
        return false;
    }
    CopySurfacePixels(surface, out);
    HostEndClientAccess(*record, Rect{});
    return true;
}

bool WindowSystemCommon::ReadWindowPixels(WindowHandle window, ClientImage& out) {
    WindowRecord* record = Find(window);
    if (record == nullptr) return false;
    ClientSurface host;
    if (!HostBeginClientAccess(*record, host)) return false;
    CopySurfacePixels(host, out);
    HostEndClientAccess(*record, Rect{});
    return true;
}

// --- the menu strip ------------------------------------------------------------

bool OnShownMenuStrip(const WindowInfo& info, Point client) {
    if (info.menu_strip <= 0 || client.x < 0 || client.x >= info.client_rect.Width()) return false;
    if (!info.menu_strip_overlay) return client.y < 0 && client.y >= -info.menu_strip;
    return info.menu_strip_shown && client.y >= 0 && client.y < info.menu_strip;
}

Rect WindowSystemCommon::PaintMenuStrip(const WindowRecord& record, const ClientSurface& host) {
    if (record.menu_strip <= 0 || !record.menu_strip_shown) return Rect{};
    const int32_t rows = std::min(record.menu_strip, host.height);
    if (rows <= 0 || host.width <= 0) return Rect{};
    const ClientImage& picture = record.strip_picture;
    const bool usable = picture.width > 0 && picture.height >= rows &&
                        picture.pixels.size() >= static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height) * 4;
    for (int32_t y = 0; y < rows; ++y) {
        uint8_t* to = host.pixels + static_cast<size_t>(host.pitch) * static_cast<size_t>(y);
        if (!usable) {
            std::memset(to, 0xF0, static_cast<size_t>(host.width) * 4);  // a plain light strip
            continue;
        }
        const uint8_t* from = picture.pixels.data() + static_cast<size_t>(picture.width) * 4 * static_cast<size_t>(y);
        const int32_t copied = std::min(picture.width, host.width);
        std::memcpy(to, from, static_cast<size_t>(copied) * 4);
        const uint8_t* last = from + static_cast<size_t>(picture.width - 1) * 4;
        for (int32_t x = copied; x < host.width; ++x) std::memcpy(to + static_cast<size_t>(x) * 4, last, 4);
    }
    return Rect{0, 0, host.width, rows};
}

bool WindowSystemCommon::SetMenuStrip(WindowHandle window, int32_t height, bool overlay) {
    WindowRecord* record = Find(window);
    if (record == nullptr) return false;
    height = std::clamp(height, 0, 256);
    const Rect client_before = record->client_rect;
    const bool was_docked = DockedStripHeight(*record) > 0;
    {
        std::lock_guard lock(windows_mutex_);
        record->menu_strip = height;
        record->menu_strip_overlay = overlay;
        // A docked strip always shows; an overlaid one waits for ShowMenuStrip.
        record->menu_strip_shown = height > 0 && !overlay;
    }
    const FrameMetrics frame = FrameOf(*record);
    {
        std::lock_guard lock(windows_mutex_);
        const Rect client = WindowToClientRect(record->window_rect, frame);
        record->client_rect = Rect{0, 0, std::max(client.Width(), 0), std::max(client.Height(), 0)};
    }
    NotifyPlacement(*record, record->window_rect, client_before);
    ClientSurface host;
    if (HostBeginClientAccess(*record, host)) HostEndClientAccess(*record, PaintMenuStrip(*record, host));
    // The client area moved on the host: it is drawn again.
    if (was_docked || DockedStripHeight(*record) > 0) InvalidateWindow(window);
    return true;
}

bool WindowSystemCommon::DrawMenuStrip(WindowHandle window, const ClientImage& picture) {
    WindowRecord* record = Find(window);
    if (record == nullptr) return false;
    record->strip_picture = picture;
    ClientSurface host;
    if (HostBeginClientAccess(*record, host)) HostEndClientAccess(*record, PaintMenuStrip(*record, host));
    return true;
}

bool WindowSystemCommon::ShowMenuStrip(WindowHandle window, bool shown) {
    WindowRecord* record = Find(window);
    if (record == nullptr || record->menu_strip <= 0) return false;
    if (!record->menu_strip_overlay) return true;
    {
        std::lock_guard lock(windows_mutex_);
        record->menu_strip_shown = shown;
    }
    ClientSurface host;
    if (shown && HostBeginClientAccess(*record, host)) HostEndClientAccess(*record, PaintMenuStrip(*record, host));
    return true;
}

ClientSurface WindowSystemCommon::ClientPart(const WindowRecord& record, const ClientSurface& host) {
    const int32_t docked = std::clamp(DockedStripHeight(record), 0, std::max(host.height, 0));
    ClientSurface client = host;
    client.pixels = host.pixels + static_cast<size_t>(host.pitch) * static_cast<size_t>(docked);
    client.height = host.height - docked;
    return client;
}

// --- messages --------------------------------------------------------------

bool WindowSystemCommon::PeekMessage(Message& out, bool remove) {
    PollBeacons();
    PollStopRequest();
    PumpHostEvents();
    UpdateWindowMove();
    return remove ? queue_.Take(out) : queue_.Peek(out);
}

bool WindowSystemCommon::GetMessage(Message& out) {
    for (;;) {
        PollBeacons();
        PollStopRequest();
        PumpHostEvents();
        UpdateWindowMove();
        if (queue_.Take(out)) return out.message != WM_QUIT;
        WaitForHostEvents(kWaitSliceMs);
    }
}

bool WindowSystemCommon::PostMessage(WindowHandle window, uint32_t message, uint64_t wparam, int64_t lparam) {
    if (window != kNoWindow) {
        std::lock_guard lock(windows_mutex_);
        if (live_.count(window) == 0) return false;
    }
    queue_.Post(Message{window, message, wparam, lparam});
    WakeMainThread(std::this_thread::get_id() == main_thread_);
    return true;
}

void WindowSystemCommon::PostQuitMessage(int exit_code) {
    queue_.PostQuit(exit_code);
    WakeMainThread(std::this_thread::get_id() == main_thread_);
}

int64_t WindowSystemCommon::SendMessage(WindowHandle window, uint32_t message, uint64_t wparam, int64_t lparam) {
    const WindowRecord* record = Find(window);
    if (record == nullptr) return 0;
    // Copy the procedure out: the call may destroy the window.
    const WindowProc proc = record->proc;
    return proc(window, message, wparam, lparam);
}

int64_t WindowSystemCommon::DispatchMessage(const Message& message) {
    // Thread messages (no window) and WM_QUIT have no procedure to go to.
    if (message.window == kNoWindow) return 0;
    return SendMessage(message.window, message.message, message.wparam, message.lparam);
}

int64_t WindowSystemCommon::DefWindowProc(WindowHandle window, uint32_t message, uint64_t wparam, int64_t lparam) {
    // A drop that the procedure did not take is finished here.
    if (message == WM_DROPFILES) TakeDroppedFiles(wparam);
    if (Find(window) == nullptr) return 0;
    switch (message) {
        case WM_SYSCOMMAND:
            switch (static_cast<uint32_t>(wparam) & 0xFFF0u) {
                case SC_CLOSE:
                    SendMessage(window, WM_CLOSE, 0, 0);
                    break;
                case SC_MINIMIZE:
                    ShowWindow(window, SW_MINIMIZE);
                    break;
                case SC_MAXIMIZE:
                    ShowWindow(window, SW_SHOWMAXIMIZED);
                    break;
                case SC_RESTORE:
                    ShowWindow(window, SW_RESTORE);
                    break;
                default:
                    break;
            }
            return 0;
        case WM_CLOSE:
            DestroyWindow(window);
            return 0;
        case WM_NCLBUTTONDOWN:
            if (wparam == HTCAPTION) BeginWindowMove(window, lparam);
            return 0;
        default:
            return 0;
    }
}

// --- window moves with the pointer --------------------------------------------

namespace {
// A screen coordinate kept well inside 32 bits, so sums with a window size stay exact.
int32_t ClampScreen(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN / 2, INT32_MAX / 2)); }
}  // namespace

void WindowSystemCommon::BeginWindowMove(WindowHandle window, int64_t client_point) {
    WindowRecord* record = Find(window);
    if (record == nullptr) return;
    // A move of another window still running ends first, as only one
    // pointer can carry a window.
    if (move_.window != kNoWindow && move_.window != window) {
        queue_.Post(Message{move_.window, WM_EXITSIZEMOVE, 0, 0});
    }
    // The point is a client point packed as the mouse messages pack it.
    const int16_t pressed_x = static_cast<int16_t>(client_point & 0xFFFF);
    const int16_t pressed_y = static_cast<int16_t>((client_point >> 16) & 0xFFFF);
    move_.window = window;
    move_.origin = HostClientOrigin(*record);
    move_.anchor = Point{ClampScreen(int64_t{move_.origin.x} + pressed_x), ClampScreen(int64_t{move_.origin.y} + pressed_y)};
    // A button already released (a click shorter than a frame) ends the
    // move at once, with its WM_EXITSIZEMOVE.
    UpdateWindowMove();
}

void WindowSystemCommon::UpdateWindowMove() {
    if (move_.window == kNoWindow) return;
    WindowRecord* record = Find(move_.window);
    Point pointer;
    bool left_down = false;
    if (record == nullptr || !HostPointer(pointer, left_down) || !left_down) {
        if (record != nullptr) queue_.Post(Message{move_.window, WM_EXITSIZEMOVE, 0, 0});
        move_ = WindowMove{};
        return;
    }
    // In 64 bits: screen points far apart cannot overflow.
    const Point target{ClampScreen(int64_t{move_.origin.x} + pointer.x - move_.anchor.x),
                       ClampScreen(int64_t{move_.origin.y} + pointer.y - move_.anchor.y)};
    if (target == HostClientOrigin(*record)) return;
    HostMoveWindow(*record, target);
}

// --- dropped files -----------------------------------------------------------

void WindowSystemCommon::PostDroppedFiles(WindowHandle window, std::vector<std::string> files) {
    uint64_t drop = 0;
    {
        std::lock_guard lock(drops_mutex_);
        // A drop whose message never reached a procedure (its window went
        // first) is never taken; keep only the latest few.
        while (drops_.size() >= kMaxPendingDrops) drops_.erase(drops_.begin());
        if (++next_drop_ == 0) ++next_drop_;
        drop = next_drop_;
        drops_.emplace(drop, std::move(files));
    }
    PostMessage(window, WM_DROPFILES, drop, 0);
}

bool WindowSystemCommon::DetachInputMethod(WindowHandle window) {
    WindowRecord* record = Find(window);
    if (record == nullptr) return false;
    record->input_method_detached = true;
    return true;
}

void WindowSystemCommon::PostTextInput(WindowHandle window, std::string text, bool composing) {
    if (composing) {
        const WindowRecord* record = Find(window);
        if (record != nullptr && record->input_method_detached) return;
    }
    uint64_t number = 0;
    {
        std::lock_guard lock(drops_mutex_);
        // Texts whose message never reached a procedure are never taken.
        while (texts_.size() >= 64) texts_.erase(texts_.begin());
        if (++next_text_ == 0) ++next_text_;
        number = next_text_;
        texts_.emplace(number, std::move(text));
    }
    PostMessage(window, composing ? WM_TEXT_COMPOSITION : WM_TEXT_INPUT, number, 0);
}

std::string WindowSystemCommon::TakeTextInput(uint64_t number) {
    std::lock_guard lock(drops_mutex_);
    auto it = texts_.find(number);
    if (it == texts_.end()) return {};
    std::string text = std::move(it->second);
    texts_.erase(it);
    return text;
}

std::vector<std::string> WindowSystemCommon::TakeDroppedFiles(uint64_t drop) {
    std::lock_guard lock(drops_mutex_);
    auto it = drops_.find(drop);
    if (it == drops_.end()) return {};
    std::vector<std::string> files = std::move(it->second);
    drops_.erase(it);
    return files;
}

void WindowSystemCommon::TakeKeyPresses(KeyboardState& out) {
    out = presses_;
    FillGenericModifiers(out);
    presses_.fill(0);
}

// --- activation and beacons --------------------------------------------------

void WindowSystemCommon::RestoreAndRaise(WindowHandle window) {
    if (IsMinimized(window)) ShowWindow(window, SW_RESTORE);
    SetForegroundWindow(window);
}

bool WindowSystemCommon::ActivateWindowByClass(std::string_view class_name) {
    const std::string key = ClassKey(class_name);
    if (WindowRecord* record = FindByClass(key)) {
        RestoreAndRaise(record->handle);
        return true;
    }
    return SignalWindowBeacon(key);
}

void WindowSystemCommon::PollBeacons() {
    // Collect first: answering shows and raises windows, which must not run
    // while the beacon map is being walked.
    std::vector<std::string> asked;
    for (auto& [key, beacon] : beacons_) {
        if (beacon.TakeRequests()) asked.push_back(key);
    }
    for (const std::string& key : asked) {
        if (WindowRecord* record = FindByClass(key)) RestoreAndRaise(record->handle);
    }
}

void WindowSystemCommon::PollStopRequest() {
    if (TakeStopRequest()) queue_.Post(Message{kNoWindow, WM_HOST_CLOSE_REQUEST, 0, 0});
}

void WindowSystemCommon::DestroyAllHostWindows() {
    move_ = WindowMove{};
    for (auto& [handle, record] : windows_) HostDestroyWindow(*record);
    beacons_.clear();
    std::lock_guard lock(windows_mutex_);
    windows_.clear();
    live_.clear();
    stack_.clear();
}

// --- placement, styles, size limits, stacking, shape ---------------------------

namespace {
bool SameRect(const Rect& a, const Rect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
}  // namespace

Rect WindowSystemCommon::GetWindowRect(WindowHandle window) {
    const WindowRecord* record = Find(window);
    return record == nullptr ? Rect{} : record->window_rect;
}

uint32_t WindowSystemCommon::GetWindowStyle(WindowHandle window) {
    const WindowRecord* record = Find(window);
    return record == nullptr ? 0 : record->style;
}

void WindowSystemCommon::NotifyPlacement(WindowRecord& record, const Rect& outer_before, const Rect& client_before) {
    const bool moved = record.window_rect.left != outer_before.left || record.window_rect.top != outer_before.top;
    const bool sized = record.client_rect.Width() != client_before.Width() ||
                       record.client_rect.Height() != client_before.Height();
    if (!moved && !sized && SameRect(record.window_rect, outer_before)) return;
    queue_.Post(Message{record.handle, WM_WINDOWPOSCHANGED, 0, 0});
    if (moved) {
        const Rect client = WindowToClientRect(record.window_rect, FrameOf(record));
        queue_.Post(Message{record.handle, WM_MOVE, 0, MakeLParam(client.left, client.top)});
    }
    if (sized && !record.minimized) {
        const uint64_t type = record.maximized ? SIZE_MAXIMIZED : SIZE_RESTORED;
        queue_.Post(Message{record.handle, WM_SIZE, type,
                            MakeLParam(record.client_rect.Width(), record.client_rect.Height())});
    }
    WakeMainThread(std::this_thread::get_id() == main_thread_);
}

bool WindowSystemCommon::MoveWindow(WindowHandle window, const Rect& outer, bool repaint) {
    WindowRecord* record = Find(window);
    if (record == nullptr) return false;
    const Rect before = record->window_rect;
    const Rect client_before = record->client_rect;
    Rect rect = outer;
    if (rect.right < rect.left) rect.right = rect.left;
    if (rect.bottom < rect.top) rect.bottom = rect.top;
    // The back end may look at the windows to measure the frame: not under the lock.
    const FrameMetrics frame = FrameOf(*record);
    {
        std::lock_guard lock(windows_mutex_);
        record->window_rect = rect;
        const Rect client = WindowToClientRect(rect, frame);
        record->client_rect = Rect{0, 0, client.Width(), client.Height()};
        if (!record->maximized && !record->fullscreen) record->normal_rect = rect;
    }
    HostMoveResize(*record, before);
    NotifyPlacement(*record, before, client_before);
    if (repaint) InvalidateWindow(window);
    return true;
}

bool WindowSystemCommon::SetWindowStyle(WindowHandle window, uint32_t style) {
    WindowRecord* record = Find(window);
    if (record == nullptr) return false;
    const uint32_t before = record->style;
    const Rect client_before = record->client_rect;
    const FrameMetrics frame = FrameOf(*record, style);
    {
        std::lock_guard lock(windows_mutex_);
        record->style = style;
        const Rect client = WindowToClientRect(record->window_rect, frame);
        record->client_rect = Rect{0, 0, client.Width(), client.Height()};
    }
    HostSetStyle(*record, before);
    NotifyPlacement(*record, record->window_rect, client_before);
    return true;
}

bool WindowSystemCommon::RefreshSizeLimits(WindowHandle window) {
    WindowRecord* record = Find(window);
    if (record == nullptr) return false;
    // No limits unless the procedure sets them.
    MinMaxInfo info;
    SendMessage(window, WM_GETMINMAXINFO, 0, reinterpret_cast<int64_t>(&info));
    record = Find(window);
    if (record == nullptr) return false;
    const FrameMetrics frame = FrameOf(*record);
    const int32_t frame_width = frame.left + frame.right;
    const int32_t frame_height = frame.top + frame.bottom;
    auto client = [](int32_t outer, int32_t border) { return outer > border ? outer - border : 0; };
    {
        std::lock_guard lock(windows_mutex_);
        record->min_client = Point{client(info.min_track_size.x, frame_width), client(info.min_track_size.y, frame_height)};
        record->max_client = Point{client(info.max_track_size.x, frame_width), client(info.max_track_size.y, frame_height)};
    }
    HostSetSizeLimits(*record);
    return true;
}

void WindowSystemCommon::UserResized(WindowRecord& record, int32_t client_width, int32_t client_height) {
    const Rect before = record.window_rect;
    const Rect client_before = record.client_rect;
    if (record.maximized || record.minimized || record.fullscreen) {
        {
            std::lock_guard lock(windows_mutex_);
            record.client_rect = Rect{0, 0, std::max(client_width, 0), std::max(client_height, 0)};
        }
        NotifyPlacement(record, before, client_before);
        return;
    }
    const bool width_changed = client_width != client_before.Width();
    const bool height_changed = client_height != client_before.Height();
    if (!width_changed && !height_changed) return;
    const FrameMetrics frame = FrameOf(record);
    const Rect asked{before.left, before.top, before.left + frame.left + std::max(client_width, 0) + frame.right,
                     before.top + frame.top + std::max(client_height, 0) + frame.bottom};
    const uint64_t edge = width_changed && height_changed ? WMSZ_BOTTOMRIGHT : (width_changed ? WMSZ_RIGHT : WMSZ_BOTTOM);
    Rect rect = asked;
    const WindowHandle handle = record.handle;
    SendMessage(handle, WM_SIZING, edge, reinterpret_cast<int64_t>(&rect));
    WindowRecord* after = Find(handle);
    if (after == nullptr) return;
    if (rect.right < rect.left) rect.right = rect.left;
    if (rect.bottom < rect.top) rect.bottom = rect.top;
    {
        std::lock_guard lock(windows_mutex_);
        after->window_rect = rect;
        const Rect client = WindowToClientRect(rect, frame);
        after->client_rect = Rect{0, 0, client.Width(), client.Height()};
        after->normal_rect = rect;
    }
    // The host has the size the user asked for; a corrected one is applied.
    if (!SameRect(rect, asked)) HostMoveResize(*after, asked);
    NotifyPlacement(*after, before, client_before);
}

std::vector<WindowHandle> WindowSystemCommon::StackingOrder() const {
    std::lock_guard lock(windows_mutex_);
    return stack_;
}

bool WindowSystemCommon::SetWindowZOrder(WindowHandle window, ZOrder order, WindowHandle behind) {
    WindowRecord* record = Find(window);
    if (record == nullptr) return false;
    WindowRecord* other = order == ZOrder::kBehind ? Find(behind) : nullptr;
    if (order == ZOrder::kBehind && (other == nullptr || behind == window)) return false;
    {
        std::lock_guard lock(windows_mutex_);
        if (order == ZOrder::kTopmost) record->topmost = true;
        if (order == ZOrder::kNotTopmost) record->topmost = false;
        auto position = std::find(stack_.begin(), stack_.end(), window);
        if (order != ZOrder::kNotTopmost && position != stack_.end()) {
            stack_.erase(position);
            if (order == ZOrder::kBottom) {
                stack_.push_back(window);
            } else if (order == ZOrder::kBehind) {
                auto at = std::find(stack_.begin(), stack_.end(), behind);
                stack_.insert(at == stack_.end() ? at : at + 1, window);
            } else {
                stack_.insert(stack_.begin(), window);
            }
        }
    }
    HostSetZOrder(*record, order, other);
    return true;
}

bool WindowSystemCommon::SetWindowShape(WindowHandle window, const std::vector<Rect>* rectangles) {
    WindowRecord* record = Find(window);
    if (record == nullptr) return false;
    {
        std::lock_guard lock(windows_mutex_);
        record->shaped = rectangles != nullptr;
        record->shape = rectangles != nullptr ? *rectangles : std::vector<Rect>{};
    }
    HostSetShape(*record);
    InvalidateWindow(window);
    return true;
}

bool WindowSystemCommon::FlashWindow(WindowHandle window, uint32_t count, uint32_t interval_ms) {
    WindowRecord* record = Find(window);
    if (record == nullptr) return false;
    {
        std::lock_guard lock(windows_mutex_);
        record->flash_count = count;
        record->flash_interval = interval_ms;
    }
    HostFlash(*record);
    return true;
}

}  // namespace zk::platform
