// Compiled script files: sections and their scrambling, the checks that
// refuse damaged files, loading on demand with its failures, the dispatch
// rows and the folding of constant label names.
#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "script/command_table.h"
#include "script/compiled_tables.h"
#include "script/expr_eval.h"
#include "script/labels.h"
#include "script/script_file.h"
#include "script/script_task.h"
#include "script/variables.h"
#include "tests/script/script_test_support.h"

namespace zk {
namespace {

using script_test::ScriptTest;
using tools::CodeArg;
using tools::IntLiteralCode;
using tools::ScriptArg;
using tools::ScriptCommand;
using tools::ScriptFileDef;
using tools::TargetArg;
using tools::TextLiteralCode;

constexpr ScriptFileKey4 kTestKey = {0x11, 0x5A, 0xC3, 0x0F};

ScriptCommand Command(uint8_t code, std::vector<ScriptArg> args = {}, uint16_t info = 0, int32_t line = 0) {
    ScriptCommand command;
    command.code = code;
    command.args = std::move(args);
    command.info = info;
    command.line = line;
    return command;
}

// Four commands: a plain one with two expressions, a block with its
// targets, a command without records and the block end. The data section
// is 5 + 3 + 1 = 9 bytes, an odd length, so the XOR restart shows.
ScriptFileDef SampleFile() {
    ScriptFileDef file;
    file.key = kTestKey;
    file.commands = {
        Command(1, {CodeArg(0, 1, {1, 2, 3, 4, 5}), CodeArg(3, 16, {6, 7, 8}, 2)}, 0x1234, 10),
        Command(44, {CodeArg(0, 1, {9}), TargetArg(0), TargetArg(3)}, 0, 11),
        Command(0, {}, 0, 12),
        Command(48, {}, 0, 13),
    };
    return file;
}

ArgDescriptor Record(const ScriptFile& file, size_t number) { return *ReadArgDescriptor(file.args, number); }

TEST(ScriptFileParse, SectionsComeBackUnscrambled) {
    ScriptFile file;
    ASSERT_EQ(ParseScriptFile(tools::BuildScriptFile(SampleFile()), kTestKey, file), 0u);
    EXPECT_EQ(file.command_count, 4);
    EXPECT_EQ(file.codes, (std::vector<uint8_t>{1, 44, 0, 48}));
    EXPECT_EQ(file.arg_counts, (std::vector<uint8_t>{2, 3, 0, 0}));
    EXPECT_EQ(file.info_words[0], 0x1234);
    EXPECT_EQ(file.first_arg, (std::vector<uint32_t>{0, 2, 5, 5}));
    // The loop's packed copy says the same.
    ASSERT_EQ(file.entries.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(file.entries[i].code, file.codes[i]) << i;
        EXPECT_EQ(file.entries[i].arg_count, file.arg_counts[i]) << i;
        EXPECT_EQ(file.entries[i].info, file.info_words[i]) << i;
        EXPECT_EQ(file.entries[i].first_arg, file.first_arg[i]) << i;
    }
    EXPECT_EQ(file.data, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    // The data section is 9 bytes long: the line section only reads right
    // when its XOR starts again at key byte 0.
    EXPECT_EQ(file.lines, (std::vector<int32_t>{10, 11, 12, 13}));
    ArgDescriptor second = Record(file, 1);
    EXPECT_EQ(second.keyword, 3);
    EXPECT_EQ(second.expr_type, 16);
    EXPECT_EQ(second.op, 2);
    EXPECT_EQ(second.code_offset, 5u);
    EXPECT_EQ(second.code_length, 3u);
    EXPECT_EQ(Record(file, 4).code_length, 3u);  // the block's end target

    ScriptFileRefs refs = file.Refs();
    EXPECT_EQ(refs.CommandArgBytes(1).size(), 36u);
    EXPECT_TRUE(refs.CommandArgBytes(2).empty());
    EXPECT_TRUE(refs.CommandArgBytes(4).empty());
    EXPECT_TRUE(refs.CommandArgBytes(-1).empty());
    EXPECT_EQ(refs.Line(3), 13);
    EXPECT_EQ(refs.Line(4), 0);
    EXPECT_FALSE(refs.Running(4).has_value());
    ASSERT_TRUE(refs.Running(0).has_value());
    EXPECT_EQ(refs.Running(0)->arg_count, 2);
    EXPECT_EQ(refs.Running(0)->args.size(), 24u);
}

TEST(ScriptFileParse, EmptySectionsAndAnEmptyFile) {
    ScriptFileDef def;
    def.key = kTestKey;
    def.commands = {Command(0), Command(9)};
    ScriptFile file;
    ASSERT_EQ(ParseScriptFile(tools::BuildScriptFile(def), kTestKey, file), 0u);
    EXPECT_TRUE(file.args.empty());
    EXPECT_TRUE(file.data.empty());
    EXPECT_EQ(file.lines.size(), 2u);

    ScriptFile empty;
    ASSERT_EQ(ParseScriptFile(tools::BuildScriptFile({}), ScriptFileKey(), empty), 0u);
    EXPECT_EQ(empty.command_count, 0);
}

TEST(ScriptFileParse, EveryTruncationIsRefused) {
    std::vector<uint8_t> bytes = tools::BuildScriptFile(SampleFile());
    for (size_t cut = 0; cut < bytes.size(); ++cut) {
        ScriptFile file;
        EXPECT_EQ(ParseScriptFile(std::span(bytes).first(cut), kTestKey, file), kErrFileUnreadable) << cut;
        EXPECT_EQ(file.command_count, 0);
    }
}

TEST(ScriptFileParse, HeaderFieldsPatchedToExtremesAreRefused) {
    std::vector<uint8_t> bytes = tools::BuildScriptFile(SampleFile());
    for (size_t offset : {8u, 12u, 16u, 20u, 24u}) {
        for (int32_t value : script_test::kExtremeInts) {
            ScriptFile file;
            EXPECT_NE(ParseScriptFile(script_test::PatchU32(bytes, offset, static_cast<uint32_t>(value)), kTestKey, file),
                      0u)
                << "offset " << offset << " value " << value;
        }
    }
}

// Each file breaks one promise that a later step would trust.
TEST(ScriptFileParse, RefusesFilesTheRunnerCouldNotTrust) {
    struct Case {
        const char* what;
        ScriptFileDef file;
    };
    std::vector<Case> cases;
    auto with = [&](const char* what, auto change) {
        ScriptFileDef file = SampleFile();
        change(file);
        cases.push_back({what, file});
    };
    with("command code above 120", [](ScriptFileDef& f) { f.commands[2].code = 121; });
    with("more than 99 arguments", [](ScriptFileDef& f) {
        f.commands[2].args.assign(100, CodeArg(0, 1, IntLiteralCode(1)));
    });
    with("argument count beyond the argument section", [](ScriptFileDef& f) { f.commands[0].arg_count = 9; });
    with("command count beyond the command section", [](ScriptFileDef& f) { f.command_count = 5; });
    with("line section shorter than the commands", [](ScriptFileDef& f) { f.lines_size = 12; });
    with("code past the data section", [](ScriptFileDef& f) { f.commands[0].args[1].code_offset = 7; });
    with("code length past the data section", [](ScriptFileDef& f) { f.commands[0].args[0].code_length = 10; });
    with("offset and length wrapping 32 bits", [](ScriptFileDef& f) {
        f.commands[0].args[0].code_offset = 0xFFFFFFF0u;
        f.commands[0].args[0].code_length = 0x20;
    });
    with("block end target outside the file", [](ScriptFileDef& f) { f.commands[1].args[2].target = 4; });
    with("block next branch far outside", [](ScriptFileDef& f) { f.commands[1].args[1].target = 0xFFFFFFFFu; });
    with("block begin without its end record", [](ScriptFileDef& f) { f.commands[1].args.pop_back(); });
    with("loop end target outside the file", [](ScriptFileDef& f) {
        f.commands[2] = Command(55, {CodeArg(0, 1, IntLiteralCode(3)), TargetArg(4)});
    });
    with("loop begin without its end record", [](ScriptFileDef& f) {
        f.commands[2] = Command(55, {CodeArg(0, 1, IntLiteralCode(3))});
    });
    with("else-if next branch outside the file", [](ScriptFileDef& f) {
        f.commands[2] = Command(11, {CodeArg(0, 1, IntLiteralCode(0)), TargetArg(9)});
    });
    with("else-if with a condition but no next branch", [](ScriptFileDef& f) {
        f.commands[2] = Command(11, {CodeArg(0, 1, IntLiteralCode(0))});
    });
    with("jump without its label record", [](ScriptFileDef& f) { f.commands[2] = Command(42); });
    with("jump record that looks folded", [](ScriptFileDef& f) {
        f.commands[2] = Command(42, {CodeArg(0, 16, TextLiteralCode("X"))});
        f.commands[2].args[0].code_length = 0x10000000u;
    });
    // Counts of up to 31 fit the info word; call frames hold 16 of each kind.
    with("call with 17 integers", [](ScriptFileDef& f) {
        f.commands[2] = Command(43, {CodeArg(0, 16, TextLiteralCode("X"))}, PackCallInfo({17, 0, 0}));
    });
    with("call with 17 reals", [](ScriptFileDef& f) {
        f.commands[2] = Command(43, {CodeArg(0, 16, TextLiteralCode("X"))}, PackCallInfo({0, 17, 0}));
    });
    with("return with 31 texts", [](ScriptFileDef& f) { f.commands[2] = Command(79, {}, PackCallInfo({0, 0, 31})); });
    with("return with every count at 31", [](ScriptFileDef& f) { f.commands[2] = Command(79, {}, 0xFFFF); });

    for (const Case& c : cases) {
        ScriptFile file;
        EXPECT_EQ(ParseScriptFile(tools::BuildScriptFile(c.file), kTestKey, file), kErrFileUnreadable) << c.what;
        EXPECT_EQ(file.command_count, 0) << c.what;
    }
}

TEST(ScriptFileParse, AcceptsTheLimitsThemselves) {
    ScriptFileDef def = SampleFile();
    def.commands[1].args[2].target = 3;  // the last command
    def.commands[2] = Command(43, {CodeArg(0, 16, TextLiteralCode("X"))}, PackCallInfo({16, 16, 16}));
    def.commands.push_back(Command(11));  // an else part has no records
    def.commands.push_back(Command(7, std::vector<ScriptArg>(99, CodeArg(1, 1, {}))));
    ScriptFile file;
    ASSERT_EQ(ParseScriptFile(tools::BuildScriptFile(def), kTestKey, file), 0u);
    CallValueCounts counts = UnpackCallInfo(file.info_words[2]);
    EXPECT_EQ(counts.integers, 16);
    EXPECT_EQ(counts.reals, 16);
    EXPECT_EQ(counts.texts, 16);
}

TEST(ScriptFileParse, LabelsMustPointInsideTheirFile) {
    tools::ZklFile zkl;
    zkl.labels = {{"IN", 3, 1, 0, 0, {}}, {"OTHER", 50, 0, 0, 0, {}}};
    LabelTable labels;
    ASSERT_TRUE(ParseLabelTable(tools::BuildZkl(zkl), 2, labels));
    std::vector<uint8_t> bytes = tools::BuildScriptFile(SampleFile());  // 4 commands
    ScriptFile inside, past;
    EXPECT_EQ(ParseScriptFile(bytes, kTestKey, inside, &labels, 1), 0u);
    zkl.labels[0].command_index = 4;
    ASSERT_TRUE(ParseLabelTable(tools::BuildZkl(zkl), 2, labels));
    EXPECT_EQ(ParseScriptFile(bytes, kTestKey, past, &labels, 1), kErrFileUnreadable);
}

// ---- LoadScriptFile ---------------------------------------------------------

int32_t HandlerA() { return 0; }
int32_t HandlerB() { return 0; }

class LoadScriptFileTest : public ScriptTest {
protected:
    void SetUp() override {
        ScriptTest::SetUp();
        tools::ZktListFile list;
        for (int32_t number = 0; number < 4; ++number) list.files.push_back({number, "f" + std::to_string(number), 0, {}, {}});
        Write("zkbin\\zkt_list.zbn", tools::BuildZktList(list));
        ASSERT_EQ(LoadScriptFileList(), 0);
    }
    void TearDown() override {
        ResetCommandTable();
        ScriptTest::TearDown();
    }
    void WriteScript(uint16_t number, ScriptFileDef def) {
        def.key.reset();  // the engine's key
        Write(ScriptFileGamePath(number), tools::BuildScriptFile(def));
    }
};

TEST_F(LoadScriptFileTest, LoadsOnceAndBindsBothRows) {
    ASSERT_TRUE(RegisterCommandHandler(1, HandlerA));
    ASSERT_TRUE(RegisterCommandHandler(48, HandlerB));
    WriteScript(2, SampleFile());
    ASSERT_EQ(LoadScriptFile(2), 1);
    // Changing the table afterwards does not change a loaded file's rows.
    ASSERT_TRUE(RegisterCommandHandler(1, HandlerB));
    Remove(ScriptFileGamePath(2));
    ASSERT_EQ(LoadScriptFile(2), 1);  // not read again
    const ScriptFile* file = LoadedScriptFile(2);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->rows[1][0], &HandlerA);
    EXPECT_EQ(file->rows[1][2], &CmdNoOperation);  // slot 0
    EXPECT_EQ(file->rows[1][3], &HandlerB);
    EXPECT_EQ(file->rows[1][1], Commands().handlers[44]);
    for (CommandHandler handler : file->rows[0]) EXPECT_EQ(handler, &DispatchWithPauseWait);
    EXPECT_EQ(file->lines[3], 13);
    EXPECT_EQ(LoadedScriptFile(1), nullptr);
    EXPECT_EQ(Reports(), 0u);
}

TEST_F(LoadScriptFileTest, RunningRecordsMatchTheTablesAndNeverOutliveTheirFile) {
    WriteScript(2, SampleFile());
    ASSERT_EQ(LoadScriptFile(2), 1);
    const ScriptFile* file = LoadedScriptFile(2);
    ASSERT_NE(file, nullptr);
    const ScriptFileRefs refs = file->Refs();
    ASSERT_EQ(refs.running.size(), static_cast<size_t>(file->command_count));
    for (int32_t i = 0; i < file->command_count; ++i) {
        const RunningCommand& built = refs.running[static_cast<size_t>(i)];
        const std::optional<RunningCommand> filled = refs.Running(i);
        ASSERT_TRUE(filled.has_value()) << i;
        EXPECT_EQ(built.code, filled->code) << i;
        EXPECT_EQ(built.index, i);
        EXPECT_EQ(built.command_count, file->command_count);
        EXPECT_EQ(built.arg_count, filled->arg_count) << i;
        EXPECT_EQ(built.info, filled->info) << i;
        EXPECT_EQ(built.args.data(), filled->args.data()) << i;
        EXPECT_EQ(built.args.size(), filled->args.size()) << i;
        EXPECT_EQ(built.data.data(), file->data.data()) << i;
        EXPECT_EQ(built.records.data(), filled->records.data()) << i;
        EXPECT_EQ(built.records.size(), built.arg_count) << i;
        EXPECT_EQ(built.programs.data(), filled->programs.data()) << i;
        EXPECT_EQ(built.program_ops, file->program_ops.data()) << i;
        // Records 0 and 1 again, with their programs; empty beyond the
        // command's records.
        for (size_t k = 0; k < 2; ++k) {
            const IntExprProgram& lead = built.lead_programs[k];
            if (k >= built.arg_count) {
                EXPECT_EQ(lead.length, 0) << i << " lead " << k;
                EXPECT_EQ(lead.shape, IntExprShape::kGeneral) << i << " lead " << k;
                continue;
            }
            const ArgDescriptor& record = built.records[k];
            EXPECT_EQ(std::memcmp(&built.lead_records[k], &record, sizeof record), 0) << i << " lead " << k;
            const IntExprProgram& program = built.programs[k];
            EXPECT_EQ(lead.first, program.first) << i << " lead " << k;
            EXPECT_EQ(lead.length, program.length) << i << " lead " << k;
            EXPECT_EQ(lead.shape, program.shape) << i << " lead " << k;
            EXPECT_EQ(lead.variable, program.variable) << i << " lead " << k;
            EXPECT_EQ(lead.constant, program.constant) << i << " lead " << k;
        }
    }

    // The runner points the running command at a file's record; emptying
    // the file table (a new list, a reset) must not leave it pointing into
    // the freed file (ASan sees any read through a stale pointer).
    const auto freed_files = std::to_array<void (*)()>({[] { CreateScriptFileTable(4); }, ResetCompiledTables});
    for (void (*free_files)() : freed_files) {
        CreateScriptFileTable(4);
        ASSERT_EQ(LoadScriptFile(2), 1);
        const ScriptFile* loaded = LoadedScriptFile(2);
        ASSERT_NE(loaded, nullptr);
        PointRunningCommandAt(loaded->running[1]);
        EXPECT_EQ(&CurrentCommand(), &loaded->running[1]);
        EXPECT_EQ(CurrentCommand().index, 1);
        free_files();
        EXPECT_EQ(CurrentCommand().index, -1);
        EXPECT_TRUE(CurrentCommand().records.empty());
        EXPECT_TRUE(CurrentCommand().data.empty());
    }

    // A report that changes the running command's fields works on a copy:
    // the file's record stays as loaded.
    CreateScriptFileTable(4);
    ASSERT_EQ(LoadScriptFile(2), 1);
    const ScriptFile* again = LoadedScriptFile(2);
    ASSERT_NE(again, nullptr);
    PointRunningCommandAt(again->running[0]);
    OwnRunningCommand().index = 3;
    EXPECT_EQ(CurrentCommand().index, 3);
    EXPECT_EQ(CurrentCommand().code, again->running[0].code);
    EXPECT_EQ(again->running[0].index, 0);
    ClearRunningCommand();
    EXPECT_EQ(Reports(), 0u);
}

TEST_F(LoadScriptFileTest, FailedFilesAreReportedOnceAndStayFailed) {
    // Missing.
    EXPECT_EQ(LoadScriptFile(1), 0);
    EXPECT_EQ(LastMessage(), Missing("zkbin\\zkt00001.zbn"));
    EXPECT_EQ(QuitFlag.load(), 1);
    // Damaged.
    ScriptFileDef damaged = SampleFile();
    damaged.commands[0].code = 200;
    WriteScript(3, damaged);
    EXPECT_EQ(LoadScriptFile(3), 0);
    EXPECT_EQ(LastMessage(), Unreadable("zkbin\\zkt00003.zbn"));
    uint32_t reports = Reports();
    // A later call neither reads again nor answers "loaded", even once the
    // file on disk is whole: nothing may run in a file that failed.
    WriteScript(1, SampleFile());
    WriteScript(3, SampleFile());
    EXPECT_EQ(LoadScriptFile(1), 0);
    EXPECT_EQ(LoadScriptFile(3), 0);
    EXPECT_EQ(Reports(), reports);
    EXPECT_EQ(LoadedScriptFile(3), nullptr);
    // Outside the list.
    EXPECT_EQ(LoadScriptFile(4), 0);
    EXPECT_EQ(LastMessage(), "E901030 4");
}

TEST_F(LoadScriptFileTest, EveryTruncationIsReportedWithTheFileName) {
    std::vector<uint8_t> bytes = tools::BuildScriptFile([] {
        ScriptFileDef def = SampleFile();
        def.key.reset();
        return def;
    }());
    for (size_t cut = 0; cut < bytes.size(); ++cut) {
        CreateScriptFileTable(4);  // a fresh, never-loaded entry each time
        ResetErrorReporter();
        ResetEngineState();
        Write(ScriptFileGamePath(2), std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(cut)));
        EXPECT_EQ(LoadScriptFile(2), 0) << cut;
        EXPECT_EQ(LastMessage(), Unreadable("zkbin\\zkt00002.zbn")) << cut;
        EXPECT_EQ(LoadedScriptFile(2), nullptr) << cut;
    }
}

TEST_F(LoadScriptFileTest, FileVariablesAreFilledAtTheFirstLoad) {
    ASSERT_EQ(CreateVariableTable(1100), 0);
    tools::ZkvFile zkv;
    tools::VariableDef owned;
    owned.scope = 2;
    owned.owner_file = 2;
    owned.number = 1050;
    owned.integer_value = 41;
    zkv.definitions = {owned};
    Write("zkbin\\zkv.zbn", tools::BuildZkv(zkv));
    ASSERT_EQ(LoadVariableDefinitions(), 0);
    WriteScript(2, SampleFile());
    EXPECT_EQ(FindVariable(1050)->type, kVariableNone);
    ASSERT_EQ(LoadScriptFile(2), 1);
    EXPECT_EQ(GetIntegerElement(1050, 0), 41);
    // Not again on later loads: a script may have changed it since.
    ASSERT_EQ(SetNumberElement(1050, 0, 5), 0);
    ASSERT_EQ(LoadScriptFile(2), 1);
    EXPECT_EQ(GetIntegerElement(1050, 0), 5);
}

// ---- label folding ------------------------------------------------------------

class LabelFoldingTest : public ScriptTest {
protected:
    // Installs a label table; returns each name's label index.
    void UseLabels(const std::vector<std::string>& names) {
        tools::ZklFile zkl;
        for (size_t i = 0; i < names.size(); ++i) zkl.labels.push_back({names[i], static_cast<uint32_t>(i), 0, 0, 0, {}});
        ASSERT_TRUE(ParseLabelTable(tools::BuildZkl(zkl), 1, TheCompiledTables().labels));
    }
    ScriptFile Folded(const ScriptFileDef& def) {
        ScriptFile file;
        EXPECT_EQ(ParseScriptFile(tools::BuildScriptFile(def), kTestKey, file), 0u);
        FoldLabels(file);
        return file;
    }
    static std::vector<uint8_t> Join(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    }
};

std::vector<uint8_t> VariableCode(uint16_t number) {
    return {'H', 3, 0, 0, static_cast<uint8_t>(number & 0xFF), static_cast<uint8_t>(number >> 8)};
}

TEST_F(LabelFoldingTest, ConstantNamesBecomeLabelIndexes) {
    UseLabels({"FIRST", "TARGET", "SECOND"});
    // Which name sorts to index 0 depends on its hash: call it index0, and
    // take another one for the foldable references.
    const std::string index0 = TheCompiledTables().labels.entries[0].name;
    const std::string other = index0 == "TARGET" ? "SECOND" : "TARGET";
    const int32_t other_index = FindLabel(other);
    ASSERT_GE(other_index, 1);

    ScriptFileDef def;
    def.key = kTestKey;
    std::vector<uint8_t> joined = Join(Join(TextLiteralCode(other.substr(0, 3)), TextLiteralCode(other.substr(3))),
                                       {'+', 0, 0});
    def.commands = {
        Command(42, {CodeArg(0, 16, TextLiteralCode(other))}),                       // 0 jump, constant
        Command(42, {CodeArg(0, 16, joined)}),                                       // 1 jump, joined literals
        Command(42, {CodeArg(0, 16, VariableCode(1000))}),                           // 2 jump, reads a variable
        Command(42, {CodeArg(0, 16, TextLiteralCode("NOWHERE"))}),                   // 3 jump, no such label
        Command(43, {CodeArg(0, 16, TextLiteralCode(other)), CodeArg(1, 1, IntLiteralCode(5))}),  // 4 call
        Command(43, {CodeArg(0, 16, TextLiteralCode(index0))}),                      // 5 call to label 0
        Command(43, {CodeArg(0, 16, VariableCode(1000))}),                           // 6 call, variable name
        Command(43, {CodeArg(0, 16, TextLiteralCode("NOWHERE"))}),                   // 7 call, no such label
        Command(42, {CodeArg(0, 16, TextLiteralCode(index0))}),                      // 8 jump to label 0
    };
    ScriptFile file = Folded(def);

    ArgDescriptor jump = Record(file, 0);
    ASSERT_TRUE(IsFoldedJump(jump));
    EXPECT_EQ(FoldedJumpLabel(jump), static_cast<uint32_t>(other_index));
    EXPECT_EQ(Record(file, 1).code_length, static_cast<uint32_t>(other_index) | kFoldedJumpFlag);
    EXPECT_FALSE(IsFoldedJump(Record(file, 2)));
    EXPECT_EQ(Record(file, 2).code_length, 6u);
    EXPECT_FALSE(IsFoldedJump(Record(file, 3)));
    // A jump keeps label 0 too: its flag bit tells it apart from a length.
    EXPECT_EQ(Record(file, 9).code_length, kFoldedJumpFlag);

    EXPECT_EQ(FoldedCallLabel(Record(file, 4)), static_cast<uint16_t>(other_index));
    EXPECT_EQ(Record(file, 5).keyword, 1);  // other keywords untouched
    EXPECT_EQ(Record(file, 5).expr_type, 1);
    // Label 0 cannot be told from "not folded" in 16 bits: looked up by name.
    EXPECT_EQ(FoldedCallLabel(Record(file, 6)), 0);
    EXPECT_EQ(FoldedCallLabel(Record(file, 7)), 0);
    EXPECT_EQ(FoldedCallLabel(Record(file, 8)), 0);
    // Unfolded calls still have their type bytes cleared.
    EXPECT_EQ(Record(file, 8).expr_type, 0);
    EXPECT_EQ(Reports(), 0u);
}

TEST_F(LabelFoldingTest, CallsFoldOnlySixteenBitIndexes) {
    std::vector<std::string> names;
    for (int i = 0; i < 65540; ++i) names.push_back("N" + std::to_string(i));
    UseLabels(names);
    const auto& entries = TheCompiledTables().labels.entries;
    const std::string& last_16bit = entries[65535].name;
    const std::string& beyond = entries[65537].name;
    ScriptFileDef def;
    def.key = kTestKey;
    def.commands = {
        Command(43, {CodeArg(0, 16, TextLiteralCode(last_16bit))}),
        Command(43, {CodeArg(0, 16, TextLiteralCode(beyond))}),
        Command(42, {CodeArg(0, 16, TextLiteralCode(beyond))}),
    };
    ScriptFile file = Folded(def);
    EXPECT_EQ(FoldedCallLabel(Record(file, 0)), 65535);
    // Index 65537 kept in 16 bits would call label 1 instead.
    EXPECT_EQ(FoldedCallLabel(Record(file, 1)), 0);
    EXPECT_EQ(FoldedJumpLabel(Record(file, 2)), 65537u);
}

TEST_F(LabelFoldingTest, EvaluatorIsBackInNormalModeAfterFolding) {
    UseLabels({"A"});
    ASSERT_EQ(CreateVariableTable(1100), 0);
    ASSERT_EQ(FillIntegerVariable(*FindVariable(1000), VariableShape{}, 77), 0);
    ScriptFileDef def;
    def.key = kTestKey;
    def.commands = {Command(42, {CodeArg(0, 16, VariableCode(1000))})};
    Folded(def);
    EXPECT_EQ(EvalIntExpr(VariableCode(1000)).integer, 77);
    EXPECT_EQ(Reports(), 0u);
}

}  // namespace
}  // namespace zk
