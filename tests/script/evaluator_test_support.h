// Shared set-up of the evaluator, argument decoder and variable tests: the
// engine's command definitions, a variable table of 1101 records, error
// texts that show the code and arguments ("E<code>|a|b|c|d|e"), and a way
// to run one command with records written in the readable infix form.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "core/engine_state.h"
#include "core/error_report.h"
#include "platform/ui.h"
#include "script/command_table.h"
#include "script/compiled_tables.h"
#include "script/evaluator_setup.h"
#include "script/expr_eval.h"
#include "script/system_variable_hooks.h"
#include "script/variables.h"
#include "tools/lib/byte_writer.h"
#include "tools/lib/command_defs.h"
#include "tools/lib/infix.h"
#include "tools/lib/script_writer.h"
#include "tools/lib/zke_writer.h"
#include "engine/engine_reset.h"

namespace zk::evaluator_test {

// Every code these tests expect, each with a text that shows the code and
// up to five arguments.
inline std::vector<tools::ZkeRecord> EvaluatorErrorTexts() {
    std::vector<tools::ZkeRecord> records;
    for (uint32_t code : {101000u, 101010u, 101020u, 101030u, 101100u, 101110u, 101140u, 101150u, 101210u, 101220u,
                          107010u, 107020u, 108010u, 108210u, 160010u, 900030u, 900050u}) {
        records.push_back({code, "E" + std::to_string(code) + "|%s|%s|%s|%s|%s"});
    }
    return records;
}

// One command's compiled records and data section, as a script file holds
// them.
struct CommandImage {
    uint8_t code = 0;
    std::vector<uint8_t> args;
    std::vector<uint8_t> data;
};

inline CommandImage BuildCommand(uint8_t code, const std::vector<tools::ScriptArg>& records) {
    CommandImage image;
    image.code = code;
    tools::ByteWriter args;
    for (const tools::ScriptArg& r : records) {
        uint32_t offset = static_cast<uint32_t>(image.data.size());
        image.data.insert(image.data.end(), r.code.begin(), r.code.end());
        args.U8(r.keyword);
        args.U8(0);
        args.U8(r.expr_type);
        args.U8(r.op);
        args.U32(r.code_length ? *r.code_length : r.target ? *r.target : static_cast<uint32_t>(r.code.size()));
        args.U32(r.code_offset ? *r.code_offset : offset);
    }
    image.args = args.Take();
    return image;
}

class EvaluatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetEngine();
        platform::InstallUi(&ui_);
        FillEvaluatorTables();
        InstallEvaluatorCommands();
        ErrorTextTable table;
        ASSERT_TRUE(ParseErrorTextTable(tools::BuildZke(EvaluatorErrorTexts()), table));
        ErrorReporter().table = std::move(table);
        UseCommandDefinitions(tools::EngineCommandDefinitions());
        ASSERT_EQ(CreateVariableTable(1100), 0);
    }
    void TearDown() override {
        ResetEngine();
        platform::InstallUi(nullptr);
    }

    void UseCommandDefinitions(const tools::ZkcFile& file) {
        ASSERT_EQ(ParseCommandDefinitions(tools::BuildZkc(file), TheCompiledTables().commands), 0u);
    }

    // ---- reports -------------------------------------------------------

    static uint32_t Reports() { return ErrorReporter().reports; }
    // The code of the last report (0 when none).
    static uint32_t LastError() {
        const std::string& m = ErrorReporter().message;
        if (Reports() == 0 || m.size() < 2 || m[0] != 'E') return 0;
        return static_cast<uint32_t>(std::strtoul(m.c_str() + 1, nullptr, 10));
    }
    static std::string LastMessage() { return ErrorReporter().message; }
    // No report and no quit request since the last reset.
    static void ExpectClean() {
        EXPECT_EQ(Reports(), 0u) << LastMessage();
        EXPECT_EQ(QuitFlag.load(), 0);
    }
    // Exactly one fatal report, of this code.
    static void ExpectFatal(uint32_t code) {
        EXPECT_EQ(Reports(), 1u) << LastMessage();
        EXPECT_EQ(LastError(), code) << LastMessage();
        EXPECT_NE(QuitFlag.load(), 0);
    }
    static void ResetReports() {
        ResetErrorReporter();
        ResetEngineState();
        ErrorTextTable table;
        ParseErrorTextTable(tools::BuildZke(EvaluatorErrorTexts()), table);
        ErrorReporter().table = std::move(table);
    }

    // ---- variables ------------------------------------------------------

    static VariableShape Shape(std::vector<int32_t> sizes) {
        VariableShape shape;
        shape.dimension_count = static_cast<uint8_t>(sizes.size());
        for (size_t j = 0; j < sizes.size(); ++j) shape.sizes[j] = sizes[j];
        return shape;
    }
    ScriptVariable& IntVar(std::string name, uint16_t number, std::vector<int32_t> sizes = {}, int64_t value = 0) {
        symbols_[name] = number;
        ScriptVariable& v = *FindVariable(number);
        EXPECT_EQ(FillIntegerVariable(v, Shape(sizes), value), 0);
        return v;
    }
    ScriptVariable& RealVar(std::string name, uint16_t number, std::vector<int32_t> sizes = {}, double value = 0) {
        symbols_[name] = number;
        ScriptVariable& v = *FindVariable(number);
        EXPECT_EQ(FillRealVariable(v, Shape(sizes), value), 0);
        return v;
    }
    ScriptVariable& TextVar(std::string name, uint16_t number, std::vector<int32_t> sizes = {},
                            std::string_view value = {}) {
        symbols_[name] = number;
        ScriptVariable& v = *FindVariable(number);
        EXPECT_EQ(FillStringVariable(v, Shape(sizes), value), 0);
        return v;
    }

    // ---- expressions ------------------------------------------------------

    std::vector<uint8_t> Code(std::string_view source) { return tools::CompileInfix(source, symbols_); }
    int64_t EvalInt(std::string_view source) { return EvalIntExpr(Code(source)).integer; }
    double EvalReal(std::string_view source) { return EvalRealExpr(Code(source)).real; }
    std::string EvalText(std::string_view source, uint32_t type = 16) {
        std::vector<char> buffer(kExprTextSize, '?');
        ExprValue v = EvaluateExpr(type, Code(source), buffer);
        return std::string(buffer.data(), v.text_length);
    }

    // ---- commands ---------------------------------------------------------

    // A record of keyword `keyword` whose code is the infix source.
    tools::ScriptArg Arg(uint8_t keyword, std::string_view source, uint8_t type = 1, uint8_t op = 0) {
        return tools::CodeArg(keyword, type, Code(source), op);
    }
    // Makes `image` the running command (index 0 of a one-command file).
    void SetCommand(const CommandImage& image) {
        image_ = image;
        RunningCommand command;
        command.code = image_.code;
        command.index = 0;
        command.command_count = 1;
        command.arg_count = static_cast<uint8_t>(image_.args.size() / kArgDescriptorSize);
        command.args = image_.args;
        command.data = image_.data;
        ASSERT_TRUE(SetRunningCommand(command));
    }
    // Runs the handler of `code` on these records.
    int32_t Run(uint8_t code, const std::vector<tools::ScriptArg>& records) {
        SetCommand(BuildCommand(code, records));
        return CommandHandlerFor(code)();
    }

    platform::RecordingUi ui_;
    tools::InfixSymbols symbols_;
    CommandImage image_;
};

}  // namespace zk::evaluator_test
