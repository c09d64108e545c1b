// The layer command fixture with the text commands on top: the fake glyphs
// and font list of fake_glyphs.h, a fresh text buffer, commands 2, 26, 27,
// 81, 108 and 112, error texts that show their code and arguments, an
// integer variable $1000 and a text variable $1001 for results, and lines
// whose records are given as raw bytes (command 108 takes its own text).
#pragma once

#include <string>
#include <vector>

#include "effects/edit_cg_command.h"
#include "layers/text_buffer.h"
#include "layers/text_buffer_commands.h"
#include "layers/text_style.h"
#include "script/script_task.h"
#include "tests/layers/fake_glyphs.h"
#include "tests/layers/layer_command_test_support.h"

namespace zk::text_test {

using layer_test::Kw;

struct RawRecord {
    uint8_t keyword = 0;
    uint8_t expr_type = 1;
    std::vector<uint8_t> code;
};

inline std::vector<uint8_t> Bytes(std::string_view text) { return std::vector<uint8_t>(text.begin(), text.end()); }

class TextCommandTest : public layer_test::LayerCommandTest {
protected:
    void SetUp() override {
        LayerCommandTest::SetUp();
        UseFakeGlyphs();
        CreateTextBuffer();
        RegisterTextStyleCommands();
        RegisterTextBufferCommands();
        RegisterEditCgCommand();
        InstallTextErrorTexts();
        ASSERT_EQ(FillIntegerVariable(*FindVariable(1000), VariableShape{}, 0), 0);
        ASSERT_EQ(FillStringVariable(*FindVariable(1001), VariableShape{}, ""), 0);
        TheCurrentTask().task = &task_;
    }
    void TearDown() override {
        TheCurrentTask() = CurrentTask{};
        RestoreGlyphBackend();
        CreateTextBuffer();
        LayerCommandTest::TearDown();
    }

    static void InstallTextErrorTexts() {
        std::vector<tools::ZkeRecord> records;
        for (uint32_t code : {100010u, 100230u, 100242u, 101000u, 101010u, 101240u, 101281u, 101282u, 101283u,
                              101284u, 101291u, 101296u, 101297u, 101298u, 102000u, 102030u, 102040u, 104111u,
                              900030u, 900060u}) {
            records.push_back({code, "E" + std::to_string(code) + "|%s|%s|%s|%s|%s"});
        }
        ASSERT_TRUE(ParseErrorTextTable(tools::BuildZke(records), ErrorReporter().table));
    }
    void Forget() {
        ForgetReports();
        InstallTextErrorTexts();
    }

    // One line of `command` whose records carry the given codes.
    int32_t RunRaw(std::string_view command, const std::vector<RawRecord>& records) {
        args_.clear();
        data_.clear();
        tools::ByteWriter args;
        for (const RawRecord& r : records) {
            const uint32_t offset = static_cast<uint32_t>(data_.size());
            data_.insert(data_.end(), r.code.begin(), r.code.end());
            args.U8(r.keyword);
            args.U8(0);
            args.U8(r.expr_type);
            args.U8(0);
            args.U32(static_cast<uint32_t>(r.code.size()));
            args.U32(offset);
        }
        args_ = args.Take();
        RunningCommand running;
        running.code = tools::CommandCode(command);
        running.index = 0;
        running.command_count = 1;
        running.arg_count = static_cast<uint8_t>(records.size());
        running.args = args_;
        running.data = data_;
        EXPECT_TRUE(SetRunningCommand(running));
        return CommandHandlerFor(running.code)();
    }

    static int64_t Number() { return FindVariable(1000)->integers.at(0); }
    static std::string Text() { return FindVariable(1001)->texts.at(0); }

    ScriptTask task_;
};

}  // namespace zk::text_test
