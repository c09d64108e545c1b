// What the layer command tests share: window 0 showing "W0" (32 x 24,
// composed by the real compositor), the engine's command definitions with
// error texts that show their code and arguments ("E<code>|a|b|c|d"), a
// game folder of its own for image files, and a way to run one script line
// written in a readable form:
//
//     Run("layer", {{"name", R"("bg")"}, {"no", "1"}, {"file", R"("bg.bmp")"}});
//
// is the line   layer name="bg" no=1 file="bg.bmp"   (each value an infix
// expression; an operator other than set is given as the third field).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/engine_state.h"
#include "core/error_report.h"
#include "core/named_tree.h"
#include "core/root_trees.h"
#include "core/window_record.h"
#include "layers/blend_jobs.h"
#include "layers/blend_tables.h"
#include "layers/cg_image.h"
#include "layers/compositor.h"
#include "layers/dirty_rect.h"
#include "images/image_decode.h"
#include "layers/layer_command.h"
#include "layers/layer_gpu_requests.h"
#include "layers/worker_pool.h"
#include "platform/game_path.h"
#include "platform/ui.h"
#include "script/arg_decoder.h"
#include "script/command_table.h"
#include "script/compiled_tables.h"
#include "script/evaluator_setup.h"
#include "script/variables.h"
#include "storage/asset_name.h"
#include "storage/file_source.h"
#include "tests/layers/cg_pixels.h"
#include "tools/lib/bmp_writer.h"
#include "tools/lib/byte_writer.h"
#include "tools/lib/command_defs.h"
#include "tools/lib/infix.h"
#include "tools/lib/script_writer.h"
#include "tools/lib/zke_writer.h"
#include "engine/engine_reset.h"
#include "tests/layers/window_layer_set.h"

namespace zk::layer_test {

namespace fs = std::filesystem;

// One keyword of a line: its name, its value as an infix expression, and
// the operator that applies it.
struct Kw {
    std::string keyword;
    std::string source;
    uint8_t op = kArgSet;
};

class LayerCommandTest : public ::testing::Test {
protected:
    static constexpr int32_t kWidth = 32;
    static constexpr int32_t kHeight = 24;

    void SetUp() override {
        platform::InstallUi(&ui_);
        layer_test::WindowLayerSet set = layer_test::MakeWindowLayerSet(kWidth, kHeight, true);
        root_ = set.root;
        w0_ = set.w0;

        FillEvaluatorTables();
        InstallEvaluatorCommands();
        InstallErrorTexts();
        ASSERT_EQ(ParseCommandDefinitions(tools::BuildZkc(tools::EngineCommandDefinitions()),
                                          TheCompiledTables().commands),
                  0u);
        ASSERT_EQ(CreateVariableTable(1100), 0);
        InstallLayerCommands();

        static int counter = 0;
        old_cwd_ = fs::current_path();
        game_ = fs::temp_directory_path() /
                ("zk_layer_command_test_" + fs::read_symlink("/proc/self").string() + "_" + std::to_string(counter++));
        fs::remove_all(game_);
        fs::create_directories(game_);
        fs::current_path(game_);
        platform::ClearPathCache();
        RegisterImageDecoders();
        // Loose files know their kind by extension, as storage's start-up sets it.
        file_hooks_ = TheFileSourceHooks();
        TheFileSourceHooks().kind_by_extension = [](std::string_view name) -> uint8_t { return KindByExtension(name); };
    }

    void TearDown() override {
        layer_test::ReleaseWindowLayerSet();
        fs::current_path(old_cwd_);
        std::error_code ec;
        fs::remove_all(game_, ec);
        platform::ClearPathCache();
        TheFileSourceHooks() = file_hooks_;
        platform::InstallUi(nullptr);
    }

    static void InstallErrorTexts() {
        std::vector<tools::ZkeRecord> records;
        for (uint32_t code : {100010u, 100030u, 100230u, 100240u, 100242u, 100243u, 101000u, 101010u, 101230u,
                              101140u, 101250u, 101280u, 101295u, 104030u}) {
            records.push_back({code, "E" + std::to_string(code) + "|%s|%s|%s|%s"});
        }
        ASSERT_TRUE(ParseErrorTextTable(tools::BuildZke(records), ErrorReporter().table));
    }

    // ---- running lines ----------------------------------------------------

    // Runs one line through the CommandTable, as the task runner would.
    int32_t Run(std::string_view command, const std::vector<Kw>& keywords) {
        tools::ScriptBuilder script;
        std::vector<tools::ScriptArg> records;
        for (const Kw& kw : keywords) {
            records.push_back(tools::CodeArg(tools::Keyword(command, kw.keyword), 1, tools::CompileInfix(kw.source), kw.op));
        }
        script.Add(tools::CommandCode(command), std::move(records));
        const tools::ScriptCommand& line = script.File().commands.front();

        args_.clear();
        data_.clear();
        tools::ByteWriter args;
        for (const tools::ScriptArg& r : line.args) {
            const uint32_t offset = static_cast<uint32_t>(data_.size());
            data_.insert(data_.end(), r.code.begin(), r.code.end());
            args.U8(r.keyword);
            args.U8(0);
            args.U8(r.expr_type);
            args.U8(r.op);
            args.U32(static_cast<uint32_t>(r.code.size()));
            args.U32(offset);
        }
        args_ = args.Take();
        RunningCommand running;
        running.code = line.code;
        running.index = 0;
        running.command_count = 1;
        running.arg_count = static_cast<uint8_t>(line.args.size());
        running.args = args_;
        running.data = data_;
        EXPECT_TRUE(SetRunningCommand(running));
        return CommandHandlerFor(line.code)();
    }

    // ---- reports ----------------------------------------------------------

    static uint32_t LastError() {
        const std::string& m = ErrorReporter().message;
        if (ErrorReporter().reports == 0 || m.size() < 2 || m[0] != 'E') return 0;
        return static_cast<uint32_t>(std::strtoul(m.c_str() + 1, nullptr, 10));
    }
    static std::string LastMessage() { return ErrorReporter().message; }
    static void ExpectClean() {
        EXPECT_EQ(ErrorReporter().reports, 0u) << LastMessage();
        EXPECT_EQ(QuitFlag.load(), 0);
    }
    // Exactly one fatal report, of this code.
    static void ExpectFatal(uint32_t code) {
        EXPECT_EQ(ErrorReporter().reports, 1u) << LastMessage();
        EXPECT_EQ(LastError(), code) << LastMessage();
        EXPECT_NE(QuitFlag.load(), 0);
    }
    void ForgetReports() {
        ResetErrorReporter();
        QuitFlag = 0;
        InstallErrorTexts();
        ui_.boxes.clear();
    }

    // ---- layers and pictures -------------------------------------------------

    // A 24-bit BMP in the game folder: every pixel opaque, colour from `pixel`.
    void WriteBmp(const std::string& name, int32_t width, int32_t height, const PixelFn& pixel) {
        tools::BmpImage bmp;
        bmp.width = width;
        bmp.height = height;
        for (int64_t y = 0; y < height; ++y)
            for (int64_t x = 0; x < width; ++x) bmp.values.push_back(pixel(x, y) & 0xFFFFFF);
        ASSERT_TRUE(tools::WriteFile((game_ / name).string(), tools::BuildBmp(bmp)));
        platform::ClearPathCache();
    }

    NamedTreeNode* Leaf(std::string_view path) { return FindNodeByPath(root_, path, kFindLeaf); }
    NamedTreeNode* Group(std::string_view path) { return FindNodeByPath(root_, path, kFindGroup); }
    CgImage& Canvas() { return *LayerImage(w0_); }

    // One frame's draw stage and end.
    int Frame() {
        int result = ComposeWindow(0);
        ResetDirtyRects(root_->first_child);
        TheFrameCounters.frame_count += 1;
        return result;
    }

    // Every pixel of the composed window against `want`, in the bits of
    // `compare` (alpha blending leaves the window's alpha byte to the kernels).
    void ExpectWindow(const PixelFn& want, const char* what, uint32_t compare = 0xFFFFFFFFu) {
        int mismatches = 0;
        for (int64_t y = 0; y < kHeight; ++y)
            for (int64_t x = 0; x < kWidth; ++x) {
                const uint32_t got = ReadPixel(Canvas(), x, y);
                if ((got & compare) != (want(x, y) & compare) && ++mismatches <= 5) {
                    ADD_FAILURE() << what << ": pixel (" << x << ", " << y << ") is " << std::hex << got
                                  << ", want " << want(x, y);
                }
            }
    }

    platform::RecordingUi ui_;
    NamedTreeNode* root_ = nullptr;
    NamedTreeNode* w0_ = nullptr;
    fs::path game_;
    fs::path old_cwd_;
    std::vector<uint8_t> args_;
    std::vector<uint8_t> data_;
    FileSourceHooks file_hooks_;
};

}  // namespace zk::layer_test
