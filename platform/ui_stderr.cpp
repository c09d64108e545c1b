// The headless UI: every box and the error dialog are written to stderr
// (UTF-8) and answered at once with their default button, so a run without
// a display never waits for a player who is not there. Every numbered error
// also prints "error NNNNNN", so a test or a build script learns the number
// whatever text the game's table gives it (or when the dialog of a later
// report is not shown at all).
#include <cstdio>
#include <string>

#include "platform/game_path.h"
#include "platform/ui.h"
#include "base/sjis.h"
#include "base/text_encoding.h"

namespace zk::platform {

namespace {

// "[caption]\ntext\n" in one write, so lines of two threads do not interleave.
void Print(const std::string& caption_utf8, std::string_view text_cp932) {
    std::string out = "[" + caption_utf8 + "]\n" + DialogTextToUtf8(text_cp932);
    if (out.empty() || out.back() != '\n') out.push_back('\n');
    std::fwrite(out.data(), 1, out.size(), stderr);
    std::fflush(stderr);
}

class StderrUi final : public Ui {
public:
    int MessageBox(WindowHandle, std::string_view text, const char* caption, uint32_t flags) override {
        Print(caption ? Cp932ToUtf8(caption) : std::string(kDefaultBoxCaptionUtf8), text);
        return MessageBoxDefaultAnswer(flags);
    }

    // Nobody can press the edit button here: straight to exit.
    int ErrorDialog(const ErrorDialogRequest& request) override {
        Print(Cp932ToUtf8(request.caption), request.message);
        return kErrorDialogExitButton;
    }

    // Only OK ends an input box: answered with its initial text.
    std::optional<std::string> InputBox(const InputBoxRequest& request) override {
        Print(Cp932ToUtf8(request.title), request.prompt);
        return std::string(SjisTruncate(LimitCharacters(request.initial, request.limit), kDialogResultLimit));
    }

    void ErrorNumber(uint32_t code) override {
        char line[32];
        int length = std::snprintf(line, sizeof(line), "error %06u\n", static_cast<unsigned>(code));
        std::fwrite(line, 1, static_cast<size_t>(length), stderr);
        std::fflush(stderr);
    }
};

}  // namespace

std::unique_ptr<Ui> CreateStderrUi() { return std::make_unique<StderrUi>(); }

}  // namespace zk::platform
