// What the image decoder fuzzers share: dialogs that answer at once and
// keep nothing, the codec libraries loaded, and the engine's per-run state
// put back before each input.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/engine_state.h"
#include "core/error_report.h"
#include "platform/codec_registry.h"
#include "platform/ui.h"

namespace zk::fuzzing {

class QuietUi final : public platform::Ui {
public:
    int MessageBox(platform::WindowHandle, std::string_view, const char*, uint32_t) override {
        ++boxes;
        return platform::IDOK;
    }
    int ErrorDialog(const platform::ErrorDialogRequest&) override { return platform::kErrorDialogExitButton; }
    uint64_t boxes = 0;
};

inline QuietUi& SetUpDecoderFuzzing() {
    static QuietUi ui;
    static bool ready = [] {
        platform::InstallUi(&ui);
        using platform::CodecLibraryId;
        for (CodecLibraryId id : {CodecLibraryId::kDevod, CodecLibraryId::kZkpng, CodecLibraryId::kZksnp,
                                  CodecLibraryId::kZkwbp}) {
            if (!platform::LoadCodecLibrary(id)) continue;
            for (size_t entry = 0; entry < platform::CodecEntryCount(id); ++entry) {
                platform::BindCodecEntry(id, static_cast<uint8_t>(entry));
            }
        }
        return true;
    }();
    (void)ready;
    // A fatal report of the last input raised these.
    ResetErrorReporter();
    QuitFlag = 0;
    ui.boxes = 0;
    return ui;
}

}  // namespace zk::fuzzing
