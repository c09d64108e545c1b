// The headless UI: every box and the error dialog are written to stderr
// (UTF-8) and answered at once with their default button, so a run without
// a display never waits for a player who is not there.
#include <cstdio>
#include <string>

#include "platform/game_path.h"
#include "platform/ui.h"
#include "base/text_encoding.h"

namespace zk::platform {

namespace {

// The caption of a box whose caption is null: what Windows shows.
constexpr const char* kDefaultCaption = "エラー";  // the system caption for a null one

// CP932 dialog text to UTF-8 lines: CR LF and a lone CR become LF (the
// engine's texts mix both; CR and LF are never trail bytes).
std::string ToUtf8Lines(std::string_view cp932) {
    std::string text;
    text.reserve(cp932.size());
    for (size_t i = 0; i < cp932.size(); ++i) {
        if (cp932[i] == '\r') {
            if (i + 1 < cp932.size() && cp932[i + 1] == '\n') continue;
            text.push_back('\n');
        } else {
            text.push_back(cp932[i]);
        }
    }
    return Cp932ToUtf8(text);
}

// "[caption]\ntext\n" in one write, so lines of two threads do not interleave.
void Print(const std::string& caption_utf8, std::string_view text_cp932) {
    std::string out = "[" + caption_utf8 + "]\n" + ToUtf8Lines(text_cp932);
    if (out.empty() || out.back() != '\n') out.push_back('\n');
    std::fwrite(out.data(), 1, out.size(), stderr);
    std::fflush(stderr);
}

class StderrUi final : public Ui {
public:
    int MessageBox(WindowHandle, std::string_view text, const char* caption, uint32_t flags) override {
        Print(caption ? Cp932ToUtf8(caption) : std::string(kDefaultCaption), text);
        return MessageBoxDefaultAnswer(flags);
    }

    // Nobody can press the edit button here: straight to exit.
    int ErrorDialog(const ErrorDialogRequest& request) override {
        Print(Cp932ToUtf8(request.caption), request.message);
        return kErrorDialogExitButton;
    }
};

}  // namespace

std::unique_ptr<Ui> CreateStderrUi() { return std::make_unique<StderrUi>(); }

}  // namespace zk::platform
