// The command table and the argument decoder: the 28 range kinds, the
// argument operators, decoding by value kind, the records a script file
// may damage, and the per-command switches.
#include <limits>

#include "evaluator_test_support.h"
#include "script/arg_decoder.h"
#include "tools/lib/expr_assembler.h"

namespace zk::evaluator_test {
namespace {

constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
constexpr int64_t kMax = std::numeric_limits<int64_t>::max();

class ArgDecoderTest : public EvaluatorTest {
protected:
    // Command 15 ("probe" here) with one keyword per value kind and a few
    // range kinds:
    //   0 "mode"   number, kind 8 (0..8)
    //   1 "name"   text
    //   2 "code"   raw
    //   3 "colour" number, kind 24
    //   4 "count"  number, no check
    void SetUp() override {
        EvaluatorTest::SetUp();
        tools::ZkcFile defs = tools::EngineCommandDefinitions();
        defs.commands[kProbe].name = "probe";
        defs.commands[kProbe].keywords = {{"mode", 0, 8}, {"name", 1, 0}, {"code", 2, 0}, {"colour", 0, 24}, {"count", 0, 0}};
        UseCommandDefinitions(defs);
    }
    int32_t Decode(const std::vector<tools::ScriptArg>& records) {
        SetCommand(BuildCommand(kProbe, records));
        return DecodeCommandArgs(kProbe);
    }
    static constexpr uint8_t kProbe = 15;
};

TEST_F(ArgDecoderTest, RangeKinds) {
    struct Case {
        uint8_t kind;
        int64_t value;
        uint32_t error;  // 0: accepted
        int64_t minimum = 0;
        int64_t maximum = 0;
    };
    const Case cases[] = {
        {0, kMin, 0},
        {1, 0, 0},
        {1, -1, 101010, 0},
        {2, 1, 0},
        {2, 0, 101010, 1},
        {3, 1, 0},
        {3, 2, 101000, 0, 1},
        {6, 0, 101000, 1, 3},
        {8, 8, 0},
        {8, 9, 101000, 0, 8},
        {8, -1, 101000, 0, 8},
        // Kinds 3..27 look at the low 32 bits only.
        {5, (int64_t{1} << 32) + 3, 0},
        {17, 127, 101000, 128, 1024},
        {17, 128, 0},
        {23, 8193, 101000, 128, 8192},
        {22, 16, 0},
        {24, -1, 0},
        {24, 0, 0},
        {24, 0xFFFFFF, 0},
        {24, 0x1000000, 101020},
        {24, -2, 101020},
        {25, 0xFFFFFF, 0},
        {25, 0x1000000, 101030},
        {25, -1, 101030},
        {26, 639, 0},
        {26, 640, 101000, 0, 639},
        {27, 479, 0},
        {27, 480, 101000, 0, 479},
        {28, 3, 0},
        {28, -1, 101220},
        {28, 4, 101210, 3},
        {28, (int64_t{1} << 32) + 1, 101210, 3},  // full 64-bit comparison
        {29, kMin, 0},
        {255, kMax, 0},
    };
    for (const Case& c : cases) {
        RangeCheck check = CheckRangeKind(c.kind, c.value, 640, 480);
        EXPECT_EQ(check.error, c.error) << "kind " << int(c.kind) << " value " << c.value;
        if (c.error != 0 && check.error != 0 && c.error != 101020 && c.error != 101030 && c.error != 101220) {
            EXPECT_EQ(check.minimum, c.minimum) << "kind " << int(c.kind);
            if (c.error == 101000) {
                EXPECT_EQ(check.maximum, c.maximum) << "kind " << int(c.kind);
            }
        }
    }
}

TEST_F(ArgDecoderTest, ArgumentOperators) {
    struct Case {
        uint8_t kind;
        int64_t old_value, argument;
        int64_t plain, clamped, raised;  // min 0, max 100 for the clamped forms
    };
    const Case cases[] = {
        {0, 50, 500, 500, 500, 500},          // set is never clamped
        {0, 50, -5, -5, -5, -5},
        {1, 50, 70, 120, 100, 120},           // add: lowered to the max only
        {1, 50, -70, -20, -20, -20},          // ... never raised to the min
        {2, 50, 70, -20, 0, 0},               // subtract: raised to the min only
        {2, 50, -70, 120, 120, 120},
        {3, 50, 3, 150, 100, 150},
        {3, 50, -3, -150, 0, 0},
        {4, 50, 0, 50, 50, 50},               // divide by 0 keeps old
        {4, -50, 0, -50, -50, -50},
        {4, 50, -2, -25, 0, 0},
        {4, 7, 2, 3, 3, 3},
        {9, 50, 7, 50, 50, 50},               // unknown kinds keep old
        {1, kMax, 1, kMin, kMin, kMin},       // wrapping, then compared signed
        {4, kMin, -1, kMin, 0, 0},            // the quotient that traps
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ApplyArgOperator(c.kind, c.old_value, c.argument), c.plain) << int(c.kind) << " " << c.old_value;
        EXPECT_EQ(ApplyArgOperatorClamped(c.kind, c.old_value, c.argument, 0, 100), c.clamped)
            << int(c.kind) << " " << c.old_value << " " << c.argument;
        EXPECT_EQ(ApplyArgOperatorMin(c.kind, c.old_value, c.argument, 0), c.raised)
            << int(c.kind) << " " << c.old_value << " " << c.argument;
    }
}

TEST_F(ArgDecoderTest, DecodesEachValueKind) {
    IntVar("x", 1000, {4}, 5);
    TextVar("t", 1001, {}, "world");
    ASSERT_EQ(Decode({Arg(4, "x[2] * 3"), Arg(1, R"("hello " + t)"), Arg(2, "x[9]")}), 0);
    ExpectClean();
    const CommandArgBlock& args = Args();
    EXPECT_EQ(args.arg_count, 3);
    ASSERT_TRUE(args.Given(4));
    EXPECT_EQ(args.Find(4)->value, 15);
    // The element the number named.
    EXPECT_EQ(args.Find(4)->var_number, 1000u);
    EXPECT_EQ(args.Find(4)->var_element, 2);
    EXPECT_EQ(args.Find(1)->Text(), "hello world");
    EXPECT_EQ(args.Find(1)->var_number, 1001u);
    // A raw record is not evaluated (x[9] would be out of range): the
    // handler gets its code.
    EXPECT_EQ(args.Find(2)->code.size(), Code("x[9]").size());
    EXPECT_FALSE(args.Given(0));
    EXPECT_FALSE(args.Given(3));
    EXPECT_EQ(args.Find(3), nullptr);
    EXPECT_EQ(args.Record(1)->keyword, 4);
    EXPECT_EQ(args.Record(4), nullptr);

    // The next decode starts from an empty map.
    ASSERT_EQ(Decode({Arg(0, "2")}), 0);
    EXPECT_TRUE(args.Given(0));
    EXPECT_FALSE(args.Given(4));
    EXPECT_FALSE(args.Given(1));
}

TEST_F(ArgDecoderTest, FirstRangeFailureIsReportedByName) {
    EXPECT_EQ(Decode({Arg(4, "1"), Arg(0, "9"), Arg(3, "0x1000000")}), -1);
    ExpectFatal(101000);
    EXPECT_EQ(LastMessage(), "E101000|probe|mode|9|0|8");
    // Text and raw arguments are not range-checked against a stale value.
    ResetReports();
    ASSERT_EQ(Decode({Arg(0, "7")}), 0);
    ASSERT_EQ(Decode({Arg(1, R"("x")"), Arg(2, "1")}), 0);
    ExpectClean();
    ResetReports();
    EXPECT_EQ(Decode({Arg(3, "-2")}), -1);
    ExpectFatal(101020);
    EXPECT_EQ(LastMessage(), "E101020|probe|colour|-2||");
}

TEST_F(ArgDecoderTest, EvaluationFailureDoesNotStopTheDecode) {
    // The evaluator reports; the later records are still decoded.
    EXPECT_EQ(Decode({Arg(4, "$5000"), Arg(0, "3")}), 0);
    ExpectFatal(108010);
    EXPECT_EQ(Args().Find(0)->value, 3);
}

TEST_F(ArgDecoderTest, CallTwinUsesTheFixedTextEntry) {
    // The type byte of a call's label record may hold a folded label index.
    SetCommand(BuildCommand(kProbe, {tools::CodeArg(1, 0x37, Code(R"("LABEL")"))}));
    ASSERT_EQ(DecodeCallCommandArgs(kProbe), 0);
    ExpectClean();
    EXPECT_EQ(Args().Find(1)->Text(), "LABEL");
    // The ordinary decode takes type + 15 and finds no entry there.
    ASSERT_EQ(DecodeCommandArgs(kProbe), 0);
    ExpectFatal(900030);
}

TEST_F(ArgDecoderTest, DamagedRecordsFailCleanly) {
    struct Case {
        const char* what;
        std::vector<tools::ScriptArg> records;
    };
    auto outside = [&](uint32_t offset, uint32_t length) {
        tools::ScriptArg r = Arg(0, "1");
        r.code_offset = offset;
        r.code_length = length;
        return r;
    };
    std::vector<Case> cases = {
        {"keyword the command does not define", {Arg(5, "1")}},
        {"keyword number 255", {Arg(255, "1")}},
        {"code past the data section", {outside(0, 100)}},
        {"offset past the data section", {outside(0xFFFFFFF0, 4)}},
        {"offset and length wrapping 32 bits", {outside(0xFFFFFFFF, 2)}},
        {"unknown expression type", {Arg(0, "1", 0)}},
        {"text type beyond the entry table", {Arg(1, R"("a")", 250)}},
    };
    for (const Case& c : cases) {
        ResetReports();
        Decode(c.records);
        ExpectFatal(900030);
        if (HasFailure()) {
            ADD_FAILURE() << c.what;
            return;
        }
    }
    // A raw record may carry anything in its length (jump targets): no check.
    ResetReports();
    tools::ScriptArg target = tools::TargetArg(123456);
    target.keyword = 2;
    EXPECT_EQ(Decode({target}), 0);
    ExpectClean();
    EXPECT_EQ(Args().Find(2)->code_length, 123456u);
    EXPECT_TRUE(Args().Find(2)->code.empty());
}

TEST_F(ArgDecoderTest, RunningCommandIsChecked) {
    CommandImage image = BuildCommand(kProbe, {Arg(0, "1")});
    RunningCommand command;
    command.code = kProbe;
    command.arg_count = 1;
    command.args = image.args;
    command.data = image.data;
    command.command_count = 3;
    for (int32_t index : {-1, 3, 1000}) {
        command.index = index;
        EXPECT_FALSE(SetRunningCommand(command)) << index;
    }
    command.index = 2;
    command.arg_count = 2;  // more records than the bytes hold
    EXPECT_FALSE(SetRunningCommand(command));
    // A running command set around the check fails the decode, not memory.
    OwnRunningCommand() = command;
    EXPECT_EQ(DecodeCommandArgs(kProbe), -1);
    ExpectFatal(900030);
}

TEST_F(ArgDecoderTest, KeywordNumbersUseTheWholeByte) {
    // Keyword numbers are bytes (zkc.zbn counts keywords in a byte, so up
    // to 255 of them): a map of 100 would be overrun by keyword 200.
    tools::ZkcFile defs = tools::EngineCommandDefinitions();
    defs.commands[kProbe].keywords.clear();
    for (int k = 0; k < 255; ++k) defs.commands[kProbe].keywords.push_back({"k" + std::to_string(k), 0, 0});
    UseCommandDefinitions(defs);
    std::vector<tools::ScriptArg> records;
    for (int k = 254; k >= 0; k -= 2) records.push_back(Arg(static_cast<uint8_t>(k), std::to_string(k)));
    ASSERT_EQ(Decode(records), 0);
    ExpectClean();
    EXPECT_EQ(Args().arg_count, records.size());
    EXPECT_EQ(Args().Find(254)->value, 254);
    EXPECT_EQ(Args().Find(200)->value, 200);
    EXPECT_EQ(Args().Find(0)->value, 0);
    EXPECT_EQ(Args().Record(128)->value, 0);
    EXPECT_FALSE(Args().Given(253));
    EXPECT_FALSE(Args().Given(255));
}

TEST_F(ArgDecoderTest, CommandTableSlots) {
    // Every slot holds a handler; the unfilled ones report 900050.
    for (uint32_t code = 0; code < kCommandSlotCount; ++code) EXPECT_NE(Commands().handlers[code], nullptr) << code;
    for (uint32_t code : {16u, 41u, 59u, 85u, 120u, 121u, 255u, 100000u}) {
        ResetReports();
        EXPECT_EQ(CommandHandlerFor(code)(), -1) << code;
        ExpectFatal(900050);
    }
    EXPECT_FALSE(RegisterCommandHandler(121, CmdNoOperation));
    EXPECT_FALSE(RegisterCommandHandler(16, nullptr));
    // The no-operation slots decode nothing and go on.
    ResetReports();
    for (uint32_t code : {0u, 9u, 77u, 80u, 82u, 83u, 84u}) EXPECT_EQ(CommandHandlerFor(code)(), 0) << code;
    ExpectClean();
}

TEST_F(ArgDecoderTest, CommandSwitches) {
    const uint8_t cmd = tools::CommandCode("switches");
    ASSERT_EQ(cmd, 14);
    for (uint8_t s : CommandSwitches()) ASSERT_EQ(s, 1);
    // Keyword k sets switch k - 2 to its low 8 bits; keywords 0..2 set nothing.
    EXPECT_EQ(Run(cmd, {Arg(tools::Keyword("switches", "sw1"), "0"), Arg(tools::Keyword("switches", "sw121"), "0x102"),
                        Arg(0, "0")}),
              0);
    ExpectClean();
    EXPECT_EQ(CommandSwitches()[1], 0);
    EXPECT_EQ(CommandSwitches()[121], 2);
    EXPECT_EQ(CommandSwitches()[0], 1);
    EXPECT_EQ(CommandSwitches()[2], 1);
    ResetCommandSwitches();
    EXPECT_EQ(CommandSwitches()[121], 1);
    // Command 15 only checks.
    EXPECT_EQ(Run(15, {}), 0);
}

}  // namespace
}  // namespace zk::evaluator_test

namespace zk::evaluator_test {
namespace {

// The definition table gives each keyword the number its handler reads.
TEST(CommandDefs, KeywordNumbersMatchTheHandlers) {
    struct Case {
        const char* command;
        const char* keyword;
        uint8_t number;
        uint8_t value_kind;
    };
    const Case cases[] = {
        {"switches", "sw1", 3, 0},   {"switches", "sw121", 123, 0},
        {"int", "name", 0, 2},       {"real", "value", 1, 2},       {"let", "target", 0, 2},
        {"call", "label", 0, 1},     {"call", "i1", 1, 0},          {"call", "r1", 17, 2},
        {"call", "s1", 33, 1},       {"call", "s16", 48, 1},        {"return", "i1", 0, 0},
        {"return", "r1", 16, 2},     {"return", "s16", 47, 1},      {"if", "end", 2, 2},
        {"elseif", "next", 1, 2},    {"loop", "end", 1, 2},         {"jump", "label", 0, 2},
        {"task", "order", 3, 0},     {"task", "i10", 13, 0},        {"task", "r1", 14, 0},
        {"task", "label", 34, 1},    {"task", "position", 35, 1},   {"task", "rerun", 37, 0},
        {"taskinfo", "result", 1, 0}, {"taskinfo", "taglen", 13, 0}, {"taskinfo", "blocks", 16, 0},
        {"taskinfo", "position", 19, 0}, {"wait", "ms", 1, 0},       {"haslabel", "go", 2, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(tools::Keyword(c.command, c.keyword), c.number) << c.command << " " << c.keyword;
        const tools::CommandEntry* entry = tools::FindCommandEntry(c.command);
        ASSERT_NE(entry, nullptr) << c.command;
        EXPECT_EQ(entry->keywords[c.number].value_kind, c.value_kind) << c.command << " " << c.keyword;
    }
    EXPECT_THROW(tools::Keyword("call", "nothing"), std::invalid_argument);
    tools::ZkcFile file = tools::EngineCommandDefinitions();
    ASSERT_EQ(file.commands.size(), 121u);
    EXPECT_EQ(file.commands[53].name, "let");
    EXPECT_EQ(file.commands[16].name, "cmd16");
    for (const tools::CommandDef& command : file.commands) EXPECT_LT(command.keywords.size(), 256u) << command.name;
}

TEST(Infix, ReportsWhatItCannotRead) {
    const tools::InfixSymbols symbols = {{"x", 1000}};
    for (const char* source : {"", "1 +", "(1", "x[1", "y", "\"open", "1 2", "$70000", "99999999999999999999"}) {
        tools::InfixResult result = tools::TryCompileInfix(source, symbols);
        EXPECT_FALSE(result.Ok()) << source;
    }
    EXPECT_THROW(tools::CompileInfix("y", symbols), std::invalid_argument);
    EXPECT_TRUE(tools::TryCompileInfix("-9223372036854775808 + 0xFFFFFFFFFFFFFFFF", symbols).Ok());
}

}  // namespace
}  // namespace zk::evaluator_test
