#include "sound/window_movie.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <string>

#include "base/sjis.h"
#include "base/system_text.h"
#include "base/text_encoding.h"
#include "core/error_report.h"
#include "core/settings.h"
#include "core/window_record.h"
#include "platform/game_path.h"
#include "platform/movie_player.h"
#include "platform/window_messages.h"
#include "platform/window_system.h"
#include "script/arg_decoder.h"
#include "script/command_table.h"
#include "script/compiled_tables.h"
#include "script/variables.h"
#include "sound/sound_system.h"
#include "sound/window_movie_state.h"
#include "storage/file_source.h"

namespace zk {

namespace {

constexpr uint8_t kPlayFile = 0;
constexpr uint8_t kPlaySwitch = 1;
constexpr uint8_t kPlayArea = 2;  // 2..5: x, y, w, h
constexpr uint8_t kPlayVolume = 6;
constexpr uint8_t kQueryPlaying = 0;
constexpr uint8_t kQueryArea = 1;  // 1..4
constexpr uint8_t kQueryVolume = 5;
constexpr uint8_t kQueryProbe = 6;
constexpr uint8_t kQueryResult = 7;

// The longest path the player takes, in UTF-16 units.
constexpr size_t kMaxPathUnits = 520;

MovieScreenGeometrySource geometry_source = nullptr;

// The player, its area and the frame shown last: under `lock`.
struct WindowMovieGraph {
    std::mutex lock;
    std::unique_ptr<platform::MoviePlayer> player;
    MovieArea area;
    platform::MovieFrame shown;
    bool stopped = false;
};

WindowMovieGraph& Graph() {
    static WindowMovieGraph graph;
    return graph;
}

platform::WindowHandle MainWindow() {
    const WindowRecord* record = MainWindowRecord();
    return record != nullptr ? record->window : platform::kNoWindow;
}

void PostNotify() {
    if (!platform::HasWindowSystem()) return;
    const platform::WindowHandle window = MainWindow();
    if (window != platform::kNoWindow) platform::GetWindowSystem().PostMessage(window, platform::WM_MOVIE_NOTIFY, 0, 0);
}

// Draws `frame` at the area over window 0 (the lock held).
void DrawFrame(const platform::MovieFrame& frame, const MovieArea& area) {
    if (frame.pixels.empty() || frame.width <= 0 || frame.height <= 0 || area.w <= 0 || area.h <= 0) return;
    if (!platform::HasWindowSystem()) return;
    const platform::WindowHandle window = MainWindow();
    if (window == platform::kNoWindow) return;
    platform::DibPixels block{frame.pixels, frame.width, -frame.height};
    platform::GetWindowSystem().StretchBlit(window, platform::BlitArea{area.x, area.y, area.w, area.h}, block,
                                            platform::BlitArea{0, 0, frame.width, frame.height});
}

size_t Utf16Units(std::string_view cp932) {
    const std::string utf8 = Cp932ToUtf8(cp932);
    size_t units = 0;
    for (unsigned char c : utf8) {
        if ((c & 0xC0) != 0x80) units += c >= 0xF0 ? 2 : 1;
    }
    return units;
}

int32_t* AreaField(WindowMovieState& state, uint8_t i) {
    int32_t* fields[] = {&state.x, &state.y, &state.w, &state.h};
    return fields[i];
}

void ReleaseLocked(WindowMovieGraph& graph) {
    const bool had = graph.player != nullptr;
    graph.player.reset();  // stops and joins the decoder thread
    graph.shown = platform::MovieFrame{};
    graph.stopped = false;
    // The video went away from over the window: its area shows the game
    // again at the next paint (posted: this may be the game-loop thread).
    if (had && platform::HasWindowSystem() && MainWindow() != platform::kNoWindow)
        platform::GetWindowSystem().PostMessage(MainWindow(), platform::WM_PAINT, 0, 0);
}

}  // namespace

void SetMovieScreenGeometrySource(MovieScreenGeometrySource source) { geometry_source = source; }

MovieArea WindowMovieArea(int32_t x, int32_t y, int32_t w, int32_t h) {
    const MovieScreenGeometry g = geometry_source != nullptr ? geometry_source() : MovieScreenGeometry{};
    const int64_t game_w = Settings().screen_width, game_h = Settings().screen_height;
    MovieArea area;
    const double sx = game_w != 0 ? double(g.back_width) / double(game_w) : 1.0;
    const double sy = game_h != 0 ? double(g.back_height) / double(game_h) : 1.0;
    area.x = int32_t(std::clamp<double>(std::trunc(g.letterbox_x + sx * x), INT32_MIN, INT32_MAX));
    area.y = int32_t(std::clamp<double>(std::trunc(g.letterbox_y + sy * y), INT32_MIN, INT32_MAX));
    const int64_t width = game_w != 0 ? int64_t(w) * g.back_width / game_w : w;
    const int64_t height = game_h != 0 ? int64_t(h) * g.back_height / game_h : h;
    area.w = int32_t(std::clamp<int64_t>(width, INT32_MIN, INT32_MAX));
    area.h = int32_t(std::clamp<int64_t>(height, INT32_MIN, INT32_MAX));
    return area;
}

int32_t MovieVolumeMillibels(int32_t volume) {
    if (volume <= 0) return platform::kMixerVolumeSilent;
    const double level = std::round(4000.0 * std::log10(double(volume) / 256.0));
    return int32_t(std::clamp(level, -10000.0, 0.0));
}

int32_t PlayMovieDirectShow(std::string_view path, int32_t x, int32_t y, int32_t w, int32_t h, int32_t volume,
                            uint8_t /*use_vmr9: one renderer here*/) {
    if (path.empty()) return -1;
    ReleaseMovieGraph();
    if (Utf16Units(path) > kMaxPathUnits) return -100;
    const std::optional<std::string> host = platform::ToHostPath(path);
    if (!host) return -100;
    std::unique_ptr<platform::MoviePlayer> player = platform::MoviePlayer::Open(*host);
    if (!player) return -100;
    WindowMovieGraph& graph = Graph();
    std::lock_guard hold(graph.lock);
    graph.area = MovieArea{x, y, w, h};
    player->SetOutputSize(w, h);
    if (!player->Start(TheSoundSystem().mixer, MovieVolumeMillibels(volume), PostNotify)) return -108;
    graph.player = std::move(player);
    graph.stopped = false;
    return 0;
}

int32_t PlaceMovieVideoWindow(int32_t x, int32_t y, int32_t w, int32_t h) {
    WindowMovieGraph& graph = Graph();
    std::lock_guard hold(graph.lock);
    graph.area = MovieArea{x, y, w, h};
    if (graph.player) graph.player->SetOutputSize(w, h);
    return 0;
}

void SetMovieVolume(int32_t volume) {
    WindowMovieGraph& graph = Graph();
    std::lock_guard hold(graph.lock);
    if (graph.player) graph.player->SetVolume(MovieVolumeMillibels(volume));
}

void StopMovieGraph() {
    WindowMovieGraph& graph = Graph();
    std::lock_guard hold(graph.lock);
    if (!graph.player) return;
    graph.player->Stop();
    graph.stopped = true;
}

void ReleaseMovieGraph() {
    WindowMovieGraph& graph = Graph();
    std::lock_guard hold(graph.lock);
    ReleaseLocked(graph);
}

int32_t HandleMovieGraphEvents() {
    WindowMovieGraph& graph = Graph();
    std::lock_guard hold(graph.lock);
    if (!graph.player || graph.stopped) return 0;
    graph.player->AcknowledgeNotify();
    if (graph.player->TakeDueFrame(graph.shown)) DrawFrame(graph.shown, graph.area);
    if (!graph.player->Ended()) return 0;
    ReleaseLocked(graph);
    return 1;
}

void RedrawWindowMovie(WindowRecord& record) {
    if (record.number != 0) return;
    WindowMovieGraph& graph = Graph();
    std::lock_guard hold(graph.lock);
    if (graph.player) DrawFrame(graph.shown, graph.area);
}

bool WindowMovieGraphExists() {
    WindowMovieGraph& graph = Graph();
    std::lock_guard hold(graph.lock);
    return graph.player != nullptr;
}

int32_t CmdPlayWindowMovie() {
    if (DecodeCommandArgs(kCmdPlayWindowMovie) != 0) return -1;
    const CommandArgBlock& args = Args();
    WindowMovieState& state = TheWindowMovieState();
    for (uint8_t i = 0; i < 4; ++i) {
        if (const CommandArgSlot* slot = args.Find(kPlayArea + i)) {
            int32_t* field = AreaField(state, i);
            *field = int32_t(ApplyArgOperator(uint8_t(slot->op), *field, slot->value));
        }
    }
    if (const CommandArgSlot* file = args.Find(kPlayFile)) {
        const std::string name = SjisReplaceByte(SjisLowerAscii(file->Text()), '/', '\\');
        for (uint8_t i = 0; i < 4; ++i) {
            if (args.Given(kPlayArea + i)) continue;
            *AreaField(state, i) = i == 2 ? Settings().screen_width : i == 3 ? Settings().screen_height : 0;
        }
        if (ProbeLooseFile(name) != 1) return 0;
        state.path = name;
        state.playing = 0;
    }
    if (const CommandArgSlot* volume = args.Find(kPlayVolume)) {
        state.volume = int32_t(volume->value);
        SetMovieVolume(state.volume);
    }
    const CommandArgSlot* play = args.Find(kPlaySwitch);
    if (play == nullptr) return 0;
    if (play->value == 0) {
        StopMovieGraph();
        state.playing = 0;
        return 0;
    }
    if (play->value != 1) return 0;
    const MovieArea area = WindowMovieArea(state.x, state.y, state.w, state.h);
    const int32_t result =
        PlayMovieDirectShow(state.path, area.x, area.y, area.w, area.h, state.volume, Settings().vmr9);
    if (result == -1) {
        ReportScriptErrorF(kErrMoviePathEmpty, false, {CommandName(kCmdPlayWindowMovie)});
        return -1;
    }
    if (result < 0) {
        ShowMessageBox("", Sjis("ムービー再生エラー (Error No.%d)"), {int64_t{result}});
        return -1;
    }
    state.playing = 1;
    return 0;
}

int32_t CmdStopWindowMovie() {
    if (DecodeCommandArgs(kCmdStopWindowMovie) != 0) return -1;
    ReleaseMovieGraph();
    WindowMovieState& state = TheWindowMovieState();
    state.path.clear();
    state.playing = 0;
    state.volume = 256;
    return 0;
}

int32_t CmdQueryWindowMovie() {
    if (DecodeCommandArgs(kCmdQueryWindowMovie) != 0) return -1;
    const CommandArgBlock& args = Args();
    const CommandArgSlot* result = args.Find(kQueryResult);
    WindowMovieState& state = TheWindowMovieState();
    int64_t answer = 0;
    if (args.Given(kQueryPlaying)) {
        answer = state.playing.load();
    } else if (args.Given(kQueryArea) || args.Given(kQueryArea + 1) || args.Given(kQueryArea + 2) ||
               args.Given(kQueryArea + 3)) {
        uint8_t i = 0;
        while (!args.Given(kQueryArea + i)) ++i;
        answer = *AreaField(state, i);
    } else if (args.Given(kQueryVolume)) {
        answer = state.volume;
    } else if (const CommandArgSlot* probe = args.Find(kQueryProbe)) {
        answer = ProbeMovieFile(probe->Text());
    } else {
        return 0;
    }
    if (result != nullptr) SetNumberElement(result->var_number, result->var_element, answer);
    return 0;
}

void RegisterWindowMovieCommands() {
    RegisterCommandHandler(kCmdPlayWindowMovie, CmdPlayWindowMovie);
    RegisterCommandHandler(kCmdStopWindowMovie, CmdStopWindowMovie);
    RegisterCommandHandler(kCmdQueryWindowMovie, CmdQueryWindowMovie);
}

void ResetWindowMovie() {
    ReleaseMovieGraph();
    WindowMovieState& state = TheWindowMovieState();
    state.path.clear();
    state.x = state.y = state.w = state.h = 0;
    state.volume = 256;
    state.playing = 0;
    state.use_vmr9 = 1;
}

}  // namespace zk
