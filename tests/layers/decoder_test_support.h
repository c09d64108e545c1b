// What the decoder tests share: a fixture with the recording UI, an error
// table whose texts name their code ("E100091 %s"), a script location, and
// the codec libraries loaded; and readers of what was reported.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/engine_state.h"
#include "core/error_report.h"
#include "layers/cg_image.h"
#include "platform/codec_registry.h"
#include "platform/ui.h"
#include "tests/codec_libraries.h"
#include "tools/lib/zke_writer.h"

namespace zk::testing_support {

// A report as the message shows it: its code, whether the script location
// came first, and the argument text.
struct SeenReport {
    uint32_t code = 0;
    bool located = false;
    std::string argument;
    bool operator==(const SeenReport&) const = default;
};

inline std::optional<SeenReport> ParseReport(const std::string& message) {
    size_t at = message.find("<E");
    if (at == std::string::npos) return std::nullopt;
    size_t close = message.find('>', at);
    if (close == std::string::npos) return std::nullopt;
    SeenReport report;
    report.code = static_cast<uint32_t>(std::stoul(message.substr(at + 2, close - at - 2)));
    report.located = at > 0;
    report.argument = message.substr(close + 1);
    return report;
}

inline bool TestScriptLocation(ScriptLocation& out) {
    out.file = "test.txt";
    out.line = 7;
    return true;
}

inline constexpr uint32_t kReportedCodes[] = {100030, 100070, 100080, 100090, 100091, 100092,
                                               100200, 100210, 100215, 100220};

class DecoderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetErrorReporter();
        ResetEngineState();
        platform::InstallUi(&ui_);
        InstallReportTexts();
        platform::ResetCodecRegistry();
        LoadEveryCodecLibrary();
    }
    void TearDown() override {
        platform::InstallUi(nullptr);
        ResetErrorReporter();
        ResetEngineState();
        platform::ResetCodecRegistry();
    }

    static void InstallReportTexts() {
        std::vector<tools::ZkeRecord> records;
        // 100030 names the command and the file.
        for (uint32_t code : kReportedCodes) {
            records.push_back({code, "<E" + std::to_string(code) + ">" + (code == 100030 ? "%s|%s" : "%s")});
        }
        ASSERT_TRUE(ParseErrorTextTable(tools::BuildZke(records), ErrorReporter().table));
        SetScriptLocationProvider(&TestScriptLocation);
    }

    // Every report of the decode: the first (shown in the dialog) and the
    // last (kept by the reporter); one when only one was made.
    std::vector<SeenReport> Reports() const {
        std::vector<SeenReport> seen;
        const ErrorReporterState& state = ErrorReporter();
        if (state.reports == 0) return seen;
        if (!ui_.dialogs.empty()) {
            if (auto first = ParseReport(ui_.dialogs.front().message)) seen.push_back(*first);
        }
        if (state.reports > 1) {
            if (auto last = ParseReport(state.message)) seen.push_back(*last);
        }
        return seen;
    }
    // Texts of the message boxes shown.
    std::vector<std::string> Boxes() const {
        std::vector<std::string> texts;
        for (const auto& box : ui_.boxes) texts.push_back(box.text);
        return texts;
    }
    // Between the cases of one test: nothing reported, no box shown.
    void ForgetReports() {
        ResetErrorReporter();
        ResetEngineState();
        InstallReportTexts();
        ui_.boxes.clear();
        ui_.dialogs.clear();
    }

    platform::RecordingUi ui_;
};

// The pixel at (x, y) as 0xAARRGGBB.
inline uint32_t PixelAt(const CgImage& image, int32_t x, int32_t y) {
    const uint8_t* p = image.owned_block.data() + (size_t(y) * size_t(image.width) + size_t(x)) * 4;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The image's width x height pixels as B, G, R, A bytes.
inline std::vector<uint8_t> PixelBytes(const CgImage& image) {
    size_t bytes = size_t(image.width) * size_t(image.height) * 4;
    return std::vector<uint8_t>(image.owned_block.data(), image.owned_block.data() + bytes);
}

}  // namespace zk::testing_support
