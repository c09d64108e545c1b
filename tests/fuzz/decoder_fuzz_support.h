// What the image decoder fuzzers share: dialogs that answer at once and
// keep nothing, the codec libraries loaded, and the engine's per-run state
// put back before each input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/engine_state.h"
#include "core/error_report.h"
#include "platform/ui.h"
#include "tests/codec_libraries.h"

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

// The largest picture the harnesses decode: 512 x 512 pixels. A header of
// a few bytes may ask for 8192 x 8192, and the decoder then rightly
// allocates and writes 256 MB, a thousand times the work of the picture
// below this limit for the same code with larger numbers. The harnesses
// pass such inputs by (returning -1, so they never enter the corpus);
// sizes outside 1..8192 still reach the decoders, which refuse them before
// allocating anything.
constexpr int64_t kFuzzMaxPixels = int64_t{512} * 512;

inline bool TooLargeToFuzz(int64_t width, int64_t height) {
    return width >= 1 && height >= 1 && width <= 8192 && height <= 8192 && width * height > kFuzzMaxPixels;
}

// Little- and big-endian fields of a header; 0 beyond the input.
inline int64_t LittleEndianAt(const uint8_t* data, size_t size, size_t offset, int bytes, bool is_signed = false) {
    if (offset + size_t(bytes) > size) return 0;
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = value << 8 | data[offset + size_t(i)];
    if (is_signed && bytes == 4) return int32_t(uint32_t(value));
    return int64_t(value);
}
inline int64_t BigEndianAt(const uint8_t* data, size_t size, size_t offset, int bytes) {
    if (offset + size_t(bytes) > size) return 0;
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value = value << 8 | data[offset + size_t(i)];
    return int64_t(value);
}

inline QuietUi& SetUpDecoderFuzzing() {
    static QuietUi ui;
    static bool ready = [] {
        platform::InstallUi(&ui);
        testing_support::LoadEveryCodecLibrary();
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
