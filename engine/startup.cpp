#include "engine/startup.h"
#include "engine/screen_saver.h"
#include "engine/window_sizing.h"
#include "core/directx_version.h"
#include "engine/engine_registration.h"

#include <ctime>
#include <cstdlib>

#include "core/engine_hooks.h"
#include "core/engine_state.h"
#include "core/error_report.h"
#include "engine/main_loop.h"
#include "core/main_thread_calls.h"
#include "base/mt19937.h"
#include "core/named_tree.h"
#include "core/root_trees.h"
#include "core/settings.h"
#include "base/sjis.h"
#include "core/startup_notes.h"
#include "core/startup_phases.h"
#include "core/startup_paths.h"
#include "core/system_facts.h"
#include "base/system_text.h"
#include "engine/window_proc.h"
#include "core/window_record.h"
#include "layers/blend_lookup_tables.h"
#include "layers/cg_image.h"
#include "platform/clock.h"
#include "platform/game_path.h"
#include "platform/named_mutex.h"
#include "platform/png_snapshot.h"
#include "platform/resources.h"
#include "platform/ui.h"
#include "platform/window_system.h"
#include "renderer/display_state.h"
#include "engine/window_creation.h"
#include "renderer/cpu_back_buffer.h"
#include "storage/startup_files.h"

namespace zk {

namespace {
platform::NamedMutex startup_mutex;
platform::NamedMutex instance_mutex;
platform::NamedMutex game_folder_mutex;
bool tables_built = false;
bool restart_requested = false;
std::vector<std::string> restart_command;
bool gpu_path = false;
bool startup_failed = false;
std::string end_note;
// Start-up reached the main loop: there is a frame to write.
bool engine_started = false;
std::string snapshot_path;
bool snapshot_written = false;

// The picture window 0 shows: its shown layer set's composed image.
void WriteLastFrameSnapshot() {
    if (snapshot_path.empty() || !engine_started) return;
    WindowRecord* main_record = MainWindowRecord();
    if (main_record == nullptr || main_record->shown_layer_set == nullptr) return;
    auto* image = static_cast<const CgImage*>(main_record->shown_layer_set->payload);
    if (image == nullptr || image->current_pixels == nullptr || image->width <= 0 || image->height <= 0) return;
    size_t bytes = size_t(image->width) * 4 * size_t(image->height);
    snapshot_written = platform::WriteBgrxPng(snapshot_path, image->width, image->height,
                                              std::span<const uint8_t>(image->current_pixels, bytes),
                                              size_t(image->width) * 4);
}

constexpr uint32_t kBinResourceId = 148;

bool EqualsIgnoreCase(const std::string& a, const char* b) { return SjisEqualsIgnoreCase(a, b); }

// Start-up ends: -1, remembered as a failure (a handled switch such as
// "/zkcfg" also ends start-up, but is not one).
int8_t EndStartup() {
    startup_failed = true;
    return -1;
}
int8_t EndHandledRun(std::string why) {
    end_note = std::move(why);
    return -1;
}

constexpr const char* kAlreadyRunning = "this game is already running";

// Creates a mutex; true when this process now holds it.
bool TakeMutex(platform::NamedMutex& mutex, const std::string& name) {
    return mutex.Create(name) == platform::NamedMutex::CreateResult::kCreated;
}

void RecordStartupTime() {
    const platform::LocalTime now = platform::GetLocalTime();
    StartupTime& t = TheStartupTime();
    t.year = now.year;
    t.month = now.month;
    t.day_of_week = now.day_of_week;
    t.day = now.day;
    t.hour = now.hour;
    t.minute = now.minute;
    t.second = now.second;
    t.milliseconds = now.milliseconds;
}
}  // namespace

void SetRestartFlag(uint8_t value) { restart_requested = value != 0; }
bool RestartFlagSet() { return restart_requested; }
void SetLastFrameSnapshotPath(std::string host_path) {
    snapshot_path = std::move(host_path);
    snapshot_written = false;
}
bool LastFrameSnapshotWritten() { return snapshot_written; }
bool StartupFailed() { return startup_failed; }
const std::string& StartupEndNote() { return end_note; }
bool MainLoopReached() { return engine_started; }

void ReleaseInstanceMutexes() {
    startup_mutex.Release();
    instance_mutex.Release();
    game_folder_mutex.Release();
}

void ActivateRunningInstance(const std::string& class_name) {
    if (platform::HasWindowSystem()) platform::GetWindowSystem().ActivateWindowByClass(class_name);
}

int64_t GetBinResourceSize() {
    auto bytes = platform::FindResource("ZK_BIN", kBinResourceId);
    return bytes ? static_cast<int64_t>(bytes->size()) : -1;
}

void InitEngineTables() {
    if (tables_built) return;
    tables_built = true;
    MessageBuffer() = "vimtarol";
    SeedRandom(platform::TimeGetTime());
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    InitPathCharTable();
    FillBlendLookupTables();
    if (Hooks().build_blend_tables != nullptr) Hooks().build_blend_tables();
    if (Hooks().fill_script_tables != nullptr) Hooks().fill_script_tables();
    if (Hooks().fill_key_transition_table != nullptr) Hooks().fill_key_transition_table();
    if (Hooks().create_text_buffer != nullptr) Hooks().create_text_buffer();
    if (Hooks().enumerate_fonts != nullptr) Hooks().enumerate_fonts();
    // Through the file-version provider: this engine's systems answer as
    // ones with DirectX 9, which its OpenGL back end stands in for.
    TheSystemFacts().directx_version = GetDirectXVersion();
}

int8_t InitEngine(const ProgramEntry& entry) {
    MarkStartupPhase("engine entered");
    CopyCommandLine(entry.argv);
    LoadUserSettings();
    LoadSaveFolderSetting();
    if (Hooks().install_pixel_kernels != nullptr) Hooks().install_pixel_kernels();
    ReadSystemFacts();
    SystemFacts& facts = TheSystemFacts();
    if (facts.os_level >= 1 && facts.os_level <= 19) {
        ShowMessageBox(Sjis("エラー").data(), Sjis("Windows95/NT3.5/NT4 では起動できません。"));
        return EndStartup();
    }
    if (Hooks().build_descramble_tables != nullptr) Hooks().build_descramble_tables();

    const std::string& argument1 = TheCommandLine().texts[1];
    if (EqualsIgnoreCase(argument1, "/zkcfg")) {
        // The settings tool is a separate program of the game folder.
        if (std::optional<std::string> tool = platform::ToHostPath(Sjis("エンジン設定.exe")))
            platform::LaunchProgram(*tool, {"/zkcfg"});
        return EndHandledRun("the /zkcfg switch was handled");
    }
    if (EqualsIgnoreCase(argument1, "/info")) {
        ErrorReporter().caption = "License Information";
        ReportEngineError(kErrLicenseNotice, true);
        return EndHandledRun("the /info switch was handled");
    }

    // The codecs: a missing one is reported and start-up goes on, except that
    // save data cannot do without the Snappy-style codec once the packs are known.
    MarkStartupPhase("settings and system facts");
    bool snappy_loaded = Hooks().load_codec_libraries == nullptr || Hooks().load_codec_libraries();
    if (Hooks().build_pack_index != nullptr && Hooks().build_pack_index() != 0) return EndStartup();
    MarkStartupPhase("codecs and pack index");
    if (!snappy_loaded) return EndStartup();

    bool appended = Hooks().appended_data_present != nullptr && Hooks().appended_data_present();
    if (!appended) {
        if (!TakeMutex(game_folder_mutex, Paths().game_folder_mutex_name)) {
            ActivateRunningInstance(Paths().instance_name);
            ReleaseInstanceMutexes();
            return EndHandledRun(kAlreadyRunning);
        }
        instance_mutex.Release();
    }

    // Release data (appended data, or a pack holding the configuration): the
    // game folder is the working folder. Anything else is development data,
    // loose tables or none, and goes through the script compiler, which
    // hands over the tables while start-up builds its own.
    const bool release =
        appended || (Hooks().pack_index_holds_config != nullptr && Hooks().pack_index_holds_config());
    if (release || Hooks().run_compiler_link == nullptr) {
        Paths().working_folder = Paths().game_folder;
    } else if (Hooks().run_compiler_link(&InitEngineTables) != 0) {
        return EndStartup();
    }

    InitEngineTables();
    TestGameFolderWritable();

    int64_t bin_size = GetBinResourceSize();
    if (bin_size < 0 || bin_size > 4) {
        ShowMessageBox(nullptr, "IDR miss.");
        return EndStartup();
    }
    if (CreateWindowRecords() != 0) return EndStartup();
    // The configuration's own errors (901000, 901020) have their texts in
    // zke.zbn, which the script boot loads only later: read it now when it is
    // there, so those reports say what is wrong. The boot loads it again and
    // reports a missing file.
    LoadErrorTextsIfPresent();
    if (LoadEngineConfig() != 0) return EndStartup();
    MarkStartupPhase("tables and configuration");
    // Desktop composition cannot be switched off here; the setting is read
    // and has nothing to act on.

    WindowRecord& main_record = *MainWindowRecord();
    bool screen_saver = Hooks().screen_saver_build != nullptr && Hooks().screen_saver_build();
    if (screen_saver) {
        main_record.client_width = facts.desktop_width;
        main_record.client_height = facts.desktop_height;
    }
    int32_t back_width = main_record.client_width;
    int32_t back_height = main_record.client_height;
    if (back_width > facts.desktop_width || back_height > facts.desktop_height) {
        back_width = facts.desktop_width / 2;
        back_height = facts.desktop_height / 2;
    }
    AllocateCpuBackBuffer(back_width, back_height);

    WindowCreationSettings& creation = TheWindowCreationSettings();
    creation.resizable = Settings().resizable;
    creation.window_mode = Settings().window_mode;
    creation.screen_saver = screen_saver ? 1 : 0;
    SetupWindowRecord(main_record, Settings().title);
    WindowState[0] = 1;
    if (CreateEngineWindow(main_record, entry.show_command, Paths().instance_name, Settings().title) == 0) {
        ShowMessageBox(Sjis("エラー").data(), Sjis("ウィンドウが生成できませんでした。"));
        return EndStartup();
    }
    if (screen_saver) ApplyScreenSaverToMainWindow(main_record.window);
    SetErrorDialogOwner(main_record.window);
    BeginTimerPeriod();
    TheDisplayState().fullscreen_bits_per_pixel = facts.desktop_bits_per_pixel;
    InitWindowSizing(back_width, back_height);
    CreateMenuStripWindow();
    CreateRootTrees();
    MarkStartupPhase("window and back buffer");

    if (Settings().sound != 0) {
        bool sound_ok = Hooks().create_direct_sound != nullptr && Hooks().create_direct_sound() == 0;
        if (sound_ok) {
            Settings().sound = 1;
        } else if (Settings().sound == 2) {
            Settings().sound = 0;
            return EndStartup();
        } else {
            Settings().sound = 0;
        }
    }
    MarkStartupPhase("audio device");
    facts.joystick_present = Hooks().count_joysticks != nullptr && Hooks().count_joysticks() == 1 ? 1 : 0;

    TheFrameClock.frame_time = 0;
    RecordStartupTime();

    // The GPU path needs the model player library; without it the engine
    // draws on the CPU.
    if (Hooks().load_emote_library != nullptr && Hooks().load_emote_library()) {
        SetEmoteLibraryLoaded(true);
        gpu_path = true;
        Settings().direct3d_layer_mode = 1;
        if (Settings().cpu_smooth_scaling > 1) Settings().cpu_smooth_scaling = 1;
        Settings().fullscreen_mode_change = 0;
    }
    // Touch input came with the later systems (level 80 and up).
    if (facts.os_level >= 80 && Hooks().load_touch_library != nullptr) Hooks().load_touch_library();
    if (Hooks().load_webp_library != nullptr) Hooks().load_webp_library();
    if (gpu_path) WriteSystemReport();
    MarkStartupPhase("joystick and optional libraries");

    if (Hooks().boot_script_system != nullptr && Hooks().boot_script_system() != 0) {
        // The boot has reported what it reports (a missing label table or
        // start label has no numbered error) and noted what failed.
        startup_failed = true;
        NoteStartupFailure("the script did not boot");
        RequestQuit();
        return 1;
    }
    MarkStartupPhase("script boot");
    if (Hooks().start_worker_threads != nullptr && Hooks().start_worker_threads() != 0) return EndStartup();
    if (Hooks().init_sound != nullptr && Hooks().init_sound() != 0) return EndStartup();
    if (Hooks().reset_pause_clock != nullptr) Hooks().reset_pause_clock(platform::TimeGetTime());
    if (Hooks().reset_save_rows != nullptr) Hooks().reset_save_rows();
    if (gpu_path && Hooks().init_direct3d != nullptr) {
        const int direct3d = Hooks().init_direct3d();
        if (direct3d == 1 || direct3d == -1) {
            // Without the device the engine draws on the CPU.
            gpu_path = false;
            Settings().direct3d_layer_mode = 0;
            Settings().render_mode = 0;
            Settings().cpu_smooth_scaling = 1;
        }
        if (direct3d == 1) ShowMessageBox("", Sjis("GPU描画が出来ませんでした。CPU描画に移行します。"));
        if (direct3d == -1) {
            QuitFlag = 1;
            return EndStartup();
        }
    }
    // The game-loop thread starts last: its first frame runs at once and
    // reads what start-up has just set (the pause clock, the save rows,
    // the GPU device).
    MarkStartupPhase("workers, sound thread and the rest");
    StartGameThread();
    return 0;
}

void ShutdownEngine() {
    auto wait_for_end = [](auto read_state, int8_t end_state) {
        for (;;) {
            int8_t state;
            {
                std::lock_guard lock(EngineLock);
                state = read_state();
            }
            if (state == -1 || (end_state == 0 ? state != 0 : state == end_state)) return;
            // Keep the queue moving: a thread that is ending may wait for
            // the main thread to take its last message. The main loop's
            // drain rules still hold: while the game-loop thread runs, its
            // frames meet no window procedure.
            RunPendingMainThreadCalls();
            if (platform::HasWindowSystem()) DrainMessages();
            platform::SleepMs(1);
        }
    };
    // A start-up that failed after the game-loop thread had started never
    // reached the main loop: the thread's first frame still waits for the
    // hold the main loop would have released.
    ReleaseStartupHold();
    if (Hooks().sound_thread_state != nullptr) wait_for_end([] { return Hooks().sound_thread_state(); }, 0);
    wait_for_end([] { return GameThreadState.load(); }, 9);
    JoinGameThread();

    QuitFlag = 1;
    if (Hooks().stop_worker_threads != nullptr) Hooks().stop_worker_threads();
    if (EmoteLibraryLoaded() && Hooks().release_emote_players != nullptr) Hooks().release_emote_players();
    if (gpu_path && Hooks().release_direct3d != nullptr) Hooks().release_direct3d();
    if (Hooks().release_window_movie != nullptr) Hooks().release_window_movie();
    if (Hooks().release_direct_sound != nullptr) Hooks().release_direct_sound();
    if (Hooks().destroy_menus != nullptr) Hooks().destroy_menus();
    DisplayState& display = TheDisplayState();
    if (display.fullscreen != 0 && Hooks().leave_fullscreen != nullptr && Hooks().leave_fullscreen()) {
        display.fullscreen = 0;
        display.maximized = 0;
    }
    if (Hooks().show_cursor != nullptr) Hooks().show_cursor();
    EndTimerPeriod();
    if (Hooks().delete_text_slot_objects != nullptr) Hooks().delete_text_slot_objects();
    if (Hooks().free_save_buffers != nullptr) Hooks().free_save_buffers();
    if (Hooks().release_flash != nullptr) Hooks().release_flash();
    if (platform::HasWindowSystem()) {
        WindowRecord* main_record = MainWindowRecord();
        if (main_record != nullptr && main_record->window != platform::kNoWindow &&
            platform::GetWindowSystem().IsWindow(main_record->window)) {
            // Ending without WM_QUIT: nothing else may end the process now.
            main_record->close_behaviour = 3;
            platform::GetWindowSystem().DestroyWindow(main_record->window);
            main_record->window = platform::kNoWindow;
        }
    }
    WriteLastFrameSnapshot();
    DestroyMenuStripWindow();
    FreeRootTrees();
    DestroyWindowRecords();
    if (Hooks().unload_touch_library != nullptr) Hooks().unload_touch_library();
    if (Hooks().unload_codec_libraries != nullptr) Hooks().unload_codec_libraries();
    if (EmoteLibraryLoaded() && Hooks().unload_emote_library != nullptr) Hooks().unload_emote_library();
    SetEmoteLibraryLoaded(false);
    if (Hooks().unload_webp_library != nullptr) Hooks().unload_webp_library();
}

int WinMain(const ProgramEntry& entry) {
    MarkStartupPhase("started");
    MarkMainThread();
    if (!TakeMutex(startup_mutex, "zorvek1")) {
        end_note = "another engine was starting (the start-up guard was held)";
        return 0;
    }
    BuildStartupPaths(entry.executable_path, platform::AppDataFolder(), platform::DocumentsFolder());
    SetErrorGameFolder(Paths().game_folder);
    restart_command = entry.restart_command;
    if (!TakeMutex(instance_mutex, Paths().instance_name)) {
        end_note = kAlreadyRunning;
        ActivateRunningInstance(Paths().instance_name);
        ReleaseInstanceMutexes();
        return 0;
    }
    startup_mutex.Release();
    // Every game file name resolves against the current folder: going on
    // elsewhere would read another folder's files, or report the first of
    // them missing.
    if (!platform::ChangeDirectory(Paths().game_folder)) {
        ShowMessageBox(Sjis("エラー").data(), Sjis("ゲームフォルダ[%s]に\n移動できませんでした。"),
                       {FormatArg(std::string_view(Paths().game_folder))});
        NoteStartupFailure("cannot enter the game folder " + Paths().game_folder);
        startup_failed = true;
        ReleaseInstanceMutexes();
        return 0;
    }
    RegisterSubsystemHooks();

    if (Hooks().detect_appended_data != nullptr) {
        if (Hooks().detect_appended_data() < 0) {
            startup_failed = true;
            ReleaseInstanceMutexes();
            return 0;
        }
    } else if (!platform::FindResource("ZK_RES", 201)) {
        // Without the appended-data reader the resource is still required:
        // an executable that lost it is not one this engine made.
        ShowMessageBox(nullptr, "FS");
        startup_failed = true;
        ReleaseInstanceMutexes();
        return 0;
    }
    // The switches read the game's arguments, copied here already (the
    // main initialisation copies them again).
    CopyCommandLine(entry.argv);
    if (Hooks().screen_saver_build != nullptr && Hooks().screen_saver_build() &&
        Hooks().handle_screen_saver_switches != nullptr && Hooks().handle_screen_saver_switches() < 0) {
        end_note = "the screen-saver switch was handled";
        ReleaseInstanceMutexes();
        return 0;
    }

    int exit_code = 0;
    if (InitEngine(entry) == 0) {
        engine_started = true;
        exit_code = RunMainLoop();
    }
    ShutdownEngine();
    ReleaseInstanceMutexes();
    if (restart_requested && !restart_command.empty()) {
        std::vector<std::string> arguments(restart_command.begin() + 1, restart_command.end());
        platform::LaunchProgram(restart_command.front(), arguments);
    }
    return exit_code;
}

void ResetStartupState() {
    ReleaseInstanceMutexes();
    ResetMainLoopState();
    tables_built = false;
    restart_requested = false;
    restart_command.clear();
    gpu_path = false;
    SetEmoteLibraryLoaded(false);
    startup_failed = false;
    ClearStartupFailureNote();
    end_note.clear();
    engine_started = false;
    snapshot_written = false;
}

}  // namespace zk
