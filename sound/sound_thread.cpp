// The sound thread and its request ring: script commands post requests, the
// thread runs them between its passes over the sound tree, and a failure
// the thread meets is shown once and ends the engine.
//
// No wait here can hang the engine. The pass holds EngineLock, but shows
// nothing while it does: a failure's box (and the dialog of any report the
// pass made) comes after the lock is let go. The waits for requests, which
// the script's thread makes (in single-thread mode the main thread), run
// the main thread's pending calls, such as that box, and end on quit, on a
// stop signal and when the thread has ended.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>

#include "base/system_text.h"
#include "core/engine_state.h"
#include "core/error_report.h"
#include "core/main_thread_calls.h"
#include "core/named_tree.h"
#include "core/root_trees.h"
#include "core/window_record.h"
#include "platform/clock.h"
#include "script/pause_clock.h"
#include "sound/sound_system.h"

namespace zk {

namespace {

std::unique_ptr<SoundRequestQueue> queue_storage;

// The thread's rest between passes ends early when a request is posted, so
// a poster that waits for its request waits for the work, not the rest.
std::mutex wake_mutex;
std::condition_variable wake_signal;
bool wake_requested = false;

void WakeSoundThread() {
    {
        std::lock_guard lock(wake_mutex);
        wake_requested = true;
    }
    wake_signal.notify_one();
}

void RestBetweenPasses(uint32_t ms) {
    std::unique_lock lock(wake_mutex);
    wake_signal.wait_for(lock, std::chrono::milliseconds(ms), [] { return wake_requested || QuitFlag.load() != 0; });
    wake_requested = false;
}

bool SoundThreadEnded() { return TheSoundSystem().thread_state.load() == 1; }

// While no thread runs the passes (tests, tools), a waiter runs them itself.
void KeepRequestsMoving() {
    if (TheSoundSystem().thread_state.load() == -1) RunSoundPass();
    WaitTurn(1);
}

// A failed pass ends the engine. The failure is noted first, as the run's
// fatal error (exit code 1, its number on the closing line); then the box,
// shown with no lock held; then the quit, which also closes the main
// window: a failure between two frames has no frame step to do that, and
// a raised quit flag alone stops the main loop's frames, not the loop.
void EndOnSoundFailure(int32_t result) {
    NoteFatalFailure(static_cast<uint32_t>(result < 0 ? -int64_t{result} : int64_t{result}));
    ShowMessageBox("DEBUG Message", SoundErrorMessage(result));
    RequestQuit();
}

// Waits for the thread's end (the caller has raised the quit flag) and
// joins it. The thread may be waiting for the main thread to show its box.
void JoinSoundThread() {
    SoundSystem& sound = TheSoundSystem();
    if (!sound.thread.joinable()) return;
    while (sound.thread_state.load() == 0) WaitTurn(1);
    sound.thread.join();
}

void FocusPause() {
    SoundSystem& sound = TheSoundSystem();
    const GamePauseClock& clock = ThePauseClock();
    const bool inactive_pause = clock.inactive_on.load() != 0;
    const WindowRecord* main_window = MainWindowRecord();
    const bool window_active = main_window == nullptr || main_window->active.load() != 0;
    if (clock.keep_running.load() != 0) {
        if (inactive_pause && sound.focus_paused == 0) {
            sound.focus_paused = 1;
            SetTreePaused(1);
        } else if (!inactive_pause && sound.focus_paused != 0) {
            sound.focus_paused = 0;
            SetTreePaused(0);
        }
        return;
    }
    if (inactive_pause || (!window_active && sound.focus_paused == 0)) {
        if (sound.focus_paused == 0) {
            sound.focus_paused = 1;
            SetTreePaused(1);
        }
    } else if (window_active && sound.focus_paused != 0) {
        sound.focus_paused = 0;
        SetTreePaused(0);
    }
}

void SoundThreadMain() {
    SoundSystem& sound = TheSoundSystem();
    for (;;) {
        int32_t read = 0, write = 0;
        {
            std::lock_guard lock(EngineLock);
            read = TheSoundQueue().read_index;
            write = TheSoundQueue().write_index;
        }
        RestBetweenPasses(read == write ? 20 : 3);
        RunSoundPass();
        if (QuitFlag.load() != 0) break;
    }
    {
        std::lock_guard lock(EngineLock);
        platform::SleepMs(20);
    }
    {
        std::lock_guard lock(EngineLock);
        ReleaseAllSoundChannels();
    }
    sound.thread_state = 1;
}

}  // namespace

SoundRequestQueue& TheSoundQueue() {
    if (!queue_storage) queue_storage = std::make_unique<SoundRequestQueue>();
    return *queue_storage;
}

SoundSystem& TheSoundSystem() {
    static SoundSystem sound;
    return sound;
}

// ---- Posting and waiting ----------------------------------------------------------

int32_t PostSoundRequest(NamedTreeNode* channel, uint8_t code, int32_t value, std::string_view name) {
    bool reported = false;
    for (;;) {
        {
            std::lock_guard lock(EngineLock);
            SoundRequestQueue& queue = TheSoundQueue();
            const int32_t slot = queue.write_index;
            const int32_t next = (slot + 1) % kSoundRingSlots;
            // A full ring keeps what it holds: writing now would make the
            // write index meet the read index and the ring look empty.
            if (next != queue.read_index) {
                const size_t s = static_cast<size_t>(slot);
                queue.channel[s] = channel;
                queue.code[s] = code;
                queue.value[s] = value;
                auto& text = queue.name[s];
                const size_t length = std::min(name.size(), kSoundSlotNameBytes - 1);
                if (length > 0) std::memcpy(text.data(), name.data(), length);
                text[length] = '\0';
                queue.done[s].store(0);
                queue.write_index = next;
                WakeSoundThread();
                return slot;
            }
        }
        if (!reported) {
            ReportEngineErrorF(kErrSoundQueueFull, false, {});
            reported = true;
        }
        if (WaitMustEnd() || SoundThreadEnded()) return -1;
        KeepRequestsMoving();
    }
}

bool WaitSoundRequest(int32_t slot) {
    if (slot < 0 || slot >= kSoundRingSlots) return false;
    for (;;) {
        if (TheSoundQueue().done[static_cast<size_t>(slot)].load() != 0) return true;
        if (WaitMustEnd() || SoundThreadEnded()) return false;
        KeepRequestsMoving();
    }
}

bool WaitChannelIdle(NamedTreeNode* node) {
    for (;;) {
        {
            std::lock_guard lock(EngineLock);
            const SoundChannel* channel = ChannelOf(node);
            if (channel == nullptr || channel->state == kSoundIdle) return true;
        }
        if (WaitMustEnd() || SoundThreadEnded()) return false;
        KeepRequestsMoving();
    }
}

// ---- The pass ----------------------------------------------------------------------------

int32_t RunSoundRequests() {
    SoundRequestQueue& queue = TheSoundQueue();
    const auto& handlers = SoundRequestHandlers();
    while (queue.read_index != queue.write_index) {
        const size_t slot = static_cast<size_t>(queue.read_index);
        if (queue.channel[slot] != nullptr) {
            const uint8_t code = queue.code[slot];
            const SoundRequestHandler handler = code < handlers.size() ? handlers[code] : nullptr;
            if (handler != nullptr) {
                const int32_t result = handler(static_cast<int32_t>(slot));
                if (result < 0) return result;
                if (result == 0) return 0;
            }
        }
        queue.done[slot].store(1);
        queue.read_index = (queue.read_index + 1) % kSoundRingSlots;
    }
    return 0;
}

int32_t RunSoundPass() {
    int32_t result = 0;
    {
        std::lock_guard lock(EngineLock);
        if (TheRootTrees().sounds == nullptr) return 0;
        FocusPause();
        result = RunSoundRequests();
        if (result >= 0) {
            UpdateSoundFades();
            result = TrackSoundPositions();
            if (result >= 0) result = RefillSoundBuffers();
        }
    }
    // The dialogs of reports the pass made (a damaged pack entry) were
    // shown as the lock was let go, before this box.
    if (result < 0) {
        EndOnSoundFailure(result);
        return result;
    }
    return 0;
}

std::string SoundErrorMessage(int32_t code) {
    const char* text = nullptr;
    switch (code) {
        case -1: case -310: case -330: case -410: case -430: case -1010:
            text = "エラー番号：%d\n\nサウンドバッファがありませんでした。";
            break;
        case -110: case -120: case -440: text = "エラー番号：%d\n\nサウンド再生エラーです。"; break;
        case -320: case -340: case -420: text = "エラー番号：%d\n\nサウンド再生位置取得エラーです。"; break;
        case -1020: text = "エラー番号：%d\n\nファイルが開けませんでした。"; break;
        case -1030: text = "エラー番号：%d\n\noggファイルとして正しく認識できませんでした。"; break;
        case -1040: text = "エラー番号：%d\n\nシークできないoggファイルでした。"; break;
        case -1045: text = "複数曲連結OGGには対応していません。"; break;
        case -1050: text = "エラー番号：%d\n\noggファイルの詳細を取得できませんでした。"; break;
        case -1060: case -1080: text = "エラー番号：%d\n\nDirectSoundバッファエラーです。"; break;
        case -1070: case -1090: text = "エラー番号：%d\n\nDirectSoundバッファが確保できませんでした。"; break;
        case -1120: text = "エラー番号：%d\n\nDirectSoundバッファ作成エラーです。"; break;
        case -2010: case -3010: text = "エラー番号：%d\n\noggファイルを正しく開けませんでした。"; break;
        case -2020: case -3020: text = "エラー番号：%d\n\noggファイルをシークできませんでした。"; break;
        case -3030: text = "エラー番号：%d\n\nサウンドバッファに書き込みできませんでした。"; break;
        case -90001: case -90002: text = "エラー番号：%d\n\noggデコードエラーです。"; break;
        default:
            text = "サウンド関係で内部エラーが発生しました。処理を停止します。\n\n"
                   "このエラーが発生した場合、宜しければエラー番号と一緒に\n"
                   "システム制作者までご報告いただけますと非常に助かります。";
    }
    const int64_t number = code < 0 ? -int64_t{code} : code;
    return FormatBounded(Sjis(text), {number}, 1023);
}

// ---- Start-up and shutdown ----------------------------------------------------------------

int32_t CreateDirectSound() {
    SoundSystem& sound = TheSoundSystem();
    if (sound.mixer != nullptr) return 0;
    auto mixer = std::make_unique<platform::AudioMixer>();
    std::string error;
    if (!mixer->OpenDevice(&error)) {
        ShowMessageBox(Sjis("サウンド初期化エラー").data(),
                       Sjis("利用可能なサウンドドライバが存在しませんでした。起動にはサウンド機能が正常に動作している必要があります。"));
        return -1;
    }
    sound.owned_mixer = std::move(mixer);
    sound.mixer = sound.owned_mixer.get();
    return 0;
}

void StartSoundThread() {
    SoundSystem& sound = TheSoundSystem();
    if (sound.thread.joinable()) return;
    sound.thread_state = 0;
    try {
        sound.thread = std::thread(SoundThreadMain);
    } catch (const std::system_error&) {
        // Nobody will run the requests: waiters end at once.
        sound.thread_state = 1;
        ShowMessageBox(nullptr, Sjis("[エラー]\n\nSoundスレッドが作成できませんでした。"));
    }
}

void InstallSoundMixer(platform::AudioMixer* mixer) { TheSoundSystem().mixer = mixer; }

int32_t InitSound(bool start_thread) {
    SoundSystem& sound = TheSoundSystem();
    {
        std::lock_guard lock(EngineLock);
        SoundRequestQueue& queue = TheSoundQueue();
        queue.read_index = queue.write_index = 0;
        sound.queue_ready = true;
    }
    if (start_thread) StartSoundThread();
    if (sound.mixer == nullptr) return 0;
    // "ROOT" loops silence at a murmur for as long as the engine runs.
    NamedTreeNode* root_node = nullptr;
    {
        std::lock_guard lock(EngineLock);
        NamedTreeNode* tree = TheRootTrees().sounds;
        if (tree == nullptr) return -1;
        root_node = CreateTreeNode(tree, "ROOT", false, kRootChannelOrderKey);
        if (root_node == nullptr || !CreateSoundChannel(root_node)) return -1;
        SoundChannel* channel = ChannelOf(root_node);
        channel->name.assign(1, ' ');
        channel->format = kSoundFormatWave;
    }
    PostSoundRequest(root_node, kSoundVolume, 2);
    PostSoundRequest(root_node, kSoundLoad, 0, " ");
    PostSoundRequest(root_node, kSoundPlay, 0);
    return 0;
}

void ReleaseDirectSound() {
    SoundSystem& sound = TheSoundSystem();
    if (sound.thread.joinable()) {
        QuitFlag = 1;
        JoinSoundThread();
    }
    sound.mixer = nullptr;
    sound.owned_mixer.reset();
}

void ResetSoundSystem() {
    SoundSystem& sound = TheSoundSystem();
    JoinSoundThread();
    {
        std::lock_guard lock(EngineLock);
        ReleaseAllSoundChannels();
        SoundRequestQueue& queue = TheSoundQueue();
        queue.read_index = queue.write_index = 0;
        for (auto& done : queue.done) done.store(0);
        queue.channel.fill(nullptr);
    }
    sound.thread_state = -1;
    sound.focus_paused = 0;
    sound.queue_ready = false;
    sound.mixer = nullptr;
    sound.owned_mixer.reset();
}

}  // namespace zk
