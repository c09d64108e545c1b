#include "engine/screen_saver.h"

#include <cstdlib>
#include <memory>

#include "base/text_encoding.h"
#include "core/engine_hooks.h"
#include "core/error_report.h"
#include "core/startup_paths.h"
#include "platform/window_system.h"
#include "storage/appended_data.h"

namespace zk {

namespace {

constexpr const char* kAboutCaptionUtf8 = "情報";
constexpr const char* kAboutTextUtf8 = "スクリーンセーバー\n\nVersion 1.00";
constexpr const char* kPreviewClassName = "ZORVEKScreenSaver";

std::unique_ptr<platform::ForeignChildWindow>& PreviewWindowSlot() {
    static std::unique_ptr<platform::ForeignChildWindow> window;
    return window;
}

std::optional<PreviewPicture>& PreviewPictureSlot() {
    static std::optional<PreviewPicture> picture;
    return picture;
}

// The switch letter of an argument, lower-cased, or 0 when it is no switch.
char SwitchLetter(const std::string& argument) {
    if (argument.size() < 2 || (argument[0] != '/' && argument[0] != '-')) return 0;
    const char letter = argument[1];
    return letter >= 'A' && letter <= 'Z' ? static_cast<char>(letter - 'A' + 'a') : letter;
}

}  // namespace

ScreenSaverDecision DecideScreenSaverRun(const std::vector<std::string>& argv) {
    const size_t count = argv.size();
    const char letter = count >= 2 ? SwitchLetter(argv[1]) : 0;
    if (count == 3 && letter == 'p') return {ScreenSaverRun::kPreview, std::atol(argv[2].c_str())};
    if (count == 3 && letter == 'a') return {ScreenSaverRun::kPassword, 0};
    if (count == 2 && letter == 'c') return {ScreenSaverRun::kAbout, 0};
    if (count <= 1) return {ScreenSaverRun::kAbout, 0};
    return {ScreenSaverRun::kStartGame, 0};
}

int CreatePreviewWindow(long parent) {
    if (parent <= 0 || !platform::HasWindowSystem()) return 1;
    std::unique_ptr<platform::ForeignChildWindow> window =
        platform::GetWindowSystem().CreateForeignChildWindow(static_cast<uint64_t>(parent), kPreviewClassName);
    if (window == nullptr) return 1;
    PreviewWindowSlot() = std::move(window);
    PreviewWindowProc(PreviewMessage::kCreate);
    return 0;
}

bool PreviewWindowProc(PreviewMessage message) {
    switch (message) {
        case PreviewMessage::kCreate:
            // The picture is read and checked; one the preview cannot show
            // leaves it black.
            PreviewPictureSlot().reset();
            if (std::optional<std::vector<uint8_t>> bytes =
                    ReadPreviewPicture("/proc/self/exe", TheAppendedData().block_offset)) {
                PreviewPictureSlot() = ParsePreviewPicture(*bytes);
            }
            return true;
        case PreviewMessage::kPaint:
            if (PreviewWindowSlot() != nullptr && PreviewPictureSlot().has_value()) {
                const PreviewPicture& picture = *PreviewPictureSlot();
                PreviewWindowSlot()->DrawPicture(picture.pixels, picture.width, picture.height);
            }
            return true;
        case PreviewMessage::kDestroy:
            return false;  // the loop ends
    }
    return false;
}

int HandleScreenSaverSwitches() {
    const CommandLineArgs& args = TheCommandLine();
    std::vector<std::string> argv;
    for (int32_t i = 0; i <= args.count && i < static_cast<int32_t>(args.texts.size()); ++i)
        argv.push_back(args.texts[static_cast<size_t>(i)]);
    const ScreenSaverDecision decision = DecideScreenSaverRun(argv);
    switch (decision.run) {
        case ScreenSaverRun::kPreview:
            // No window inside the parent (no such window, no X server, the
            // headless window system): end at once rather than wait for an
            // end nothing would bring.
            if (CreatePreviewWindow(decision.parent) != 0) return -1;
            for (;;) {
                const platform::ForeignWindowEvent event = PreviewWindowSlot()->WaitEvent();
                const PreviewMessage message =
                    event == platform::ForeignWindowEvent::kPaint ? PreviewMessage::kPaint : PreviewMessage::kDestroy;
                if (!PreviewWindowProc(message)) break;
            }
            PreviewWindowSlot().reset();
            return -1;
        case ScreenSaverRun::kPassword:
            return -1;
        case ScreenSaverRun::kAbout:
            ShowMessageBox(Utf8ToCp932(kAboutCaptionUtf8).c_str(), Utf8ToCp932(kAboutTextUtf8));
            return -1;
        case ScreenSaverRun::kStartGame:
            return 0;
    }
    return 0;
}

const std::optional<PreviewPicture>& ThePreviewPicture() { return PreviewPictureSlot(); }

void ApplyScreenSaverToMainWindow(platform::WindowHandle main_window) {
    if (!platform::HasWindowSystem()) return;
    platform::GetWindowSystem().DetachInputMethod(main_window);
    platform::GetWindowSystem().AllowHostScreenSaver();
}

void RegisterScreenSaver() { Hooks().handle_screen_saver_switches = HandleScreenSaverSwitches; }

void ResetScreenSaver() {
    PreviewWindowSlot().reset();
    PreviewPictureSlot().reset();
}

}  // namespace zk
