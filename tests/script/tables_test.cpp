// The boot tables zkc.zbn, zkt.zbn, zkt_list.zbn, zkv.zbn (and zkl.zbn's
// damage handling): what each loader builds, and that every damaged file is
// refused cleanly with its name.
#include <malloc.h>
#include <sys/resource.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>

#include "script/compiled_tables.h"
#include "script/script_file.h"
#include "script/variables.h"
#include "tests/script/script_test_support.h"
#include "base/text_encoding.h"

namespace zk {
namespace {

using script_test::ScriptTest;
using tools::ScriptListEntry;
using tools::VariableDef;

std::string Cp932(std::string_view utf8) { return Utf8ToCp932(utf8); }

tools::ZkcFile SmallZkc() {
    tools::ZkcFile file;
    file.commands = {{"NOP", {}},
                     {Cp932("レイヤ"), {{"x", 0, 0}, {Cp932("名前"), 1, 0}, {"code", 2, 24}}},
                     {"wait", {{"frames", 0, 1}, {"ms", 0, 1}}}};
    for (size_t n = 0; n < file.errno_texts.size(); ++n) file.errno_texts[n] = "errno text " + std::to_string(n);
    for (size_t k = 0; k < file.key_number_map.size(); ++k) file.key_number_map[k] = static_cast<uint8_t>(255 - k);
    return file;
}

tools::ZktListFile SmallList() {
    tools::ZktListFile list;
    // Record order differs from file-number order on purpose.
    list.files = {{2, "c.txt", 30, {}, {}}, {0, Cp932("最初.txt"), 10, {}, {}}, {1, "b.txt", 20, {}, {}}};
    return list;
}

tools::ZkvFile SmallZkv() {
    tools::ZkvFile file;
    VariableDef integer;
    integer.number = 1000;
    integer.type = 1;
    integer.integer_value = -7;
    VariableDef real;
    real.scope = 3;
    real.group = 2;
    real.number = 1001;
    real.type = 2;
    real.sizes = {2, 3};
    real.real_value = 1.5;
    VariableDef text;
    text.number = 1002;
    text.type = 3;
    text.sizes = {4};
    text.text_code = tools::TextLiteralCode("abc");
    file.definitions = {integer, real, text};
    return file;
}

// ---- zkc.zbn ------------------------------------------------------------

TEST_F(ScriptTest, CommandDefinitionsKeepNamesKindsErrnoTextsAndKeyMap) {
    CommandDefinitionTable parsed;
    ASSERT_EQ(ParseCommandDefinitions(tools::BuildZkc(SmallZkc()), parsed), 0u);
    // The names point into the file block; the table may move.
    CommandDefinitionTable table = std::move(parsed);
    ASSERT_EQ(table.commands.size(), 3u);
    EXPECT_EQ(table.commands[1].name, Cp932("レイヤ"));
    ASSERT_EQ(table.commands[1].keywords.size(), 3u);
    EXPECT_EQ(table.commands[1].keywords[1].name, Cp932("名前"));
    EXPECT_EQ(table.commands[1].keywords[1].value_kind, 1);
    EXPECT_EQ(table.commands[1].keywords[2].value_kind, 2);
    EXPECT_EQ(table.commands[1].keywords[2].range_kind, 24);
    EXPECT_TRUE(table.commands[0].keywords.empty());
    EXPECT_EQ(table.errno_texts[0], "errno text 0");
    EXPECT_EQ(table.errno_texts[36], "errno text 36");
    EXPECT_EQ(table.key_number_map[0], 255);
    EXPECT_EQ(table.key_number_map[255], 0);
}

TEST_F(ScriptTest, LoadCommandTableAnswersBoundedLookups) {
    Write("zkbin\\zkc.zbn", tools::BuildZkc(SmallZkc()));
    ASSERT_EQ(LoadCommandTable(), 0);
    EXPECT_EQ(CommandName(2), "wait");
    EXPECT_EQ(KeywordName(2, 1), "ms");
    EXPECT_EQ(FindKeywordDefinition(2, 1)->range_kind, 1);
    // Codes and keywords the file does not define: nothing, never a wild read.
    EXPECT_EQ(FindCommandDefinition(3), nullptr);
    EXPECT_EQ(FindKeywordDefinition(2, 2), nullptr);
    EXPECT_EQ(FindKeywordDefinition(120, 0), nullptr);
    EXPECT_EQ(KeywordName(0, 0), "");
    EXPECT_EQ(ErrnoText(36), "errno text 36");
    EXPECT_EQ(ErrnoText(37), "");
    EXPECT_EQ(ErrnoText(-1), "");
    EXPECT_EQ(KeyNumberMap()[1], 254);
    EXPECT_EQ(Reports(), 0u);
}

// ---- damage in every table -------------------------------------------------

// One table: its name, a sound image of it, and its parser (true = accepted).
struct TableCase {
    const char* name;
    std::vector<uint8_t> bytes;
    std::function<bool(const std::vector<uint8_t>&)> parse;
};

std::vector<TableCase> TableCases() {
    tools::ZklFile labels;
    labels.labels = {{"A", 0, 0, 0, 0, {}}, {"SYSTEM_START", 1, 2, 3, 4, {}}, {"B", 2, 1, 0, 0, {}}};
    return {
        {"zkc.zbn", tools::BuildZkc(SmallZkc()),
         [](const std::vector<uint8_t>& b) {
             CommandDefinitionTable t;
             return ParseCommandDefinitions(b, t) == 0;
         }},
        {"zkt.zbn", tools::BuildZkt({}),
         [](const std::vector<uint8_t>& b) {
             VariableTableInfo t;
             return ParseVariableTableInfo(b, t) == 0;
         }},
        {"zkt_list.zbn", tools::BuildZktList(SmallList()),
         [](const std::vector<uint8_t>& b) {
             ScriptFileList t;
             int64_t bad = 0;
             return ParseScriptFileList(b, t, bad) == 0;
         }},
        {"zkl.zbn", tools::BuildZkl(labels),
         [](const std::vector<uint8_t>& b) {
             LabelTable t;
             return ParseLabelTable(b, 3, t);
         }},
        {"zkv.zbn", tools::BuildZkv(SmallZkv()),
         [](const std::vector<uint8_t>& b) {
             VariableDefinitionTable t;
             return ParseVariableDefinitions(b, t) == 0;
         }},
    };
}

TEST(CompiledTableDamage, EveryTruncationIsRefused) {
    for (const TableCase& table : TableCases()) {
        SCOPED_TRACE(table.name);
        ASSERT_TRUE(table.parse(table.bytes));
        for (size_t cut = 0; cut < table.bytes.size(); ++cut) {
            std::vector<uint8_t> bytes(table.bytes.begin(), table.bytes.begin() + static_cast<ptrdiff_t>(cut));
            EXPECT_FALSE(table.parse(bytes)) << "cut at " << cut;
        }
    }
}

TEST(CompiledTableDamage, CountsPatchedToExtremesAreRefused) {
    // Every table but zkt.zbn keeps its record count at offset 8.
    for (const TableCase& table : TableCases()) {
        if (std::string_view(table.name) == "zkt.zbn") continue;
        SCOPED_TRACE(table.name);
        if (std::string_view(table.name) == "zkv.zbn") {
            std::vector<uint8_t> bytes = table.bytes;
            bytes[8] = 0xFF;
            bytes[9] = 0xFF;
            EXPECT_FALSE(table.parse(bytes));
            continue;
        }
        for (int32_t value : script_test::kExtremeInts) {
            EXPECT_FALSE(table.parse(script_test::PatchU32(table.bytes, 8, static_cast<uint32_t>(value)))) << value;
        }
    }
}

TEST(CompiledTableDamage, LengthsInsideRecordsPatchedToExtremesAreRefused) {
    for (int32_t length : script_test::kExtremeInts) {
        tools::ZktListFile list = SmallList();
        list.files[1].name_length = length;
        ScriptFileList parsed;
        int64_t bad = 0;
        EXPECT_NE(ParseScriptFileList(tools::BuildZktList(list), parsed, bad), 0u) << length;
    }
    for (uint8_t dimensions : {uint8_t{9}, uint8_t{255}}) {
        tools::ZkvFile file = SmallZkv();
        file.definitions[1].dimension_count = dimensions;
        VariableDefinitionTable parsed;
        EXPECT_NE(ParseVariableDefinitions(tools::BuildZkv(file), parsed), 0u) << int{dimensions};
    }
    tools::ZkvFile file = SmallZkv();
    file.definitions[2].text_code_length = 0xFFFF;
    VariableDefinitionTable parsed;
    EXPECT_NE(ParseVariableDefinitions(tools::BuildZkv(file), parsed), 0u);
}

// Lets this process's data segment grow by at most `headroom` bytes from
// here on: a larger allocation then fails.
void LimitDataGrowth(uint64_t headroom) {
    malloc_trim(0);  // free memory at the heap's top would serve a request unseen
    uint64_t data_kb = 0;
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmData:", 0) == 0) data_kb = std::strtoull(line.c_str() + 7, nullptr, 10);
    }
    rlimit limit{};
    getrlimit(RLIMIT_DATA, &limit);
    limit.rlim_cur = data_kb * 1024 + headroom;
    setrlimit(RLIMIT_DATA, &limit);
}

// A zkv.zbn whose count promises more definitions than its bytes can hold
// is refused before room is reserved for them: room for 65535 definitions
// takes megabytes, which a child whose data may grow by one megabyte lacks.
TEST(CompiledTableDamage, ADefinitionCountTheBytesCannotHoldReservesNothing) {
    ASSERT_GT(sizeof(VariableDefinition) * 0xFFFF, 2u << 20);
    tools::ZkvFile file = SmallZkv();
    std::vector<uint8_t> bytes = tools::BuildZkv(file);
    bytes[8] = 0xFF;
    bytes[9] = 0xFF;
    EXPECT_EXIT(
        {
            LimitDataGrowth(1 << 20);
            VariableDefinitionTable parsed;
            uint32_t error = ParseVariableDefinitions(bytes, parsed);
            std::_Exit(error == kErrFileUnreadable ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

// A damaged table, cut at every length, is reported as unreadable with its
// name (fatal) and nothing of it is installed.
TEST_F(ScriptTest, LoadersReportDamagedTablesWithTheirName) {
    struct Loader {
        std::string_view name;
        std::vector<uint8_t> bytes;
        std::function<int32_t()> load;
    };
    std::vector<Loader> loaders = {
        {kCommandDefinitionFile, tools::BuildZkc(SmallZkc()), LoadCommandTable},
        {kVariableTableFile, tools::BuildZkt({}), LoadVariableTable},
        {kScriptFileListFile, tools::BuildZktList(SmallList()), LoadScriptFileList},
        {kVariableDefinitionFile, tools::BuildZkv(SmallZkv()), LoadVariableDefinitions},
        {kLabelTableFile, tools::BuildZkl({}), LoadLabelTable},
    };
    for (Loader& loader : loaders) {
        SCOPED_TRACE(loader.name);
        for (size_t cut = 0; cut < loader.bytes.size(); ++cut) {
            ResetErrorReporter();
            UseTestErrorTexts();
            ResetEngineState();
            Write(std::string(loader.name), std::vector<uint8_t>(loader.bytes.begin(), loader.bytes.begin() + cut));
            EXPECT_NE(loader.load(), 0) << cut;
            EXPECT_EQ(LastMessage(), Unreadable(loader.name)) << cut;
            EXPECT_EQ(QuitFlag.load(), 1) << cut;
        }
    }
    EXPECT_TRUE(TheCompiledTables().commands.commands.empty());
    EXPECT_TRUE(Variables().records.empty());
    EXPECT_TRUE(TheScriptFileTable().files.empty());
}

TEST_F(ScriptTest, MissingTablesAreReportedExceptTheLabelTable) {
    EXPECT_EQ(LoadCommandTable(), -1);
    EXPECT_EQ(LastMessage(), Missing(kCommandDefinitionFile));
    EXPECT_EQ(LoadVariableTable(), -1);
    EXPECT_EQ(LastMessage(), Missing(kVariableTableFile));
    EXPECT_EQ(LoadScriptFileList(), 1);
    EXPECT_EQ(LastMessage(), Missing(kScriptFileListFile));
    EXPECT_EQ(LoadVariableDefinitions(), 1);
    EXPECT_EQ(LastMessage(), Missing(kVariableDefinitionFile));
    uint32_t reports = Reports();
    EXPECT_NE(LoadLabelTable(), 0);
    EXPECT_EQ(Reports(), reports);
}

// ---- zkt.zbn --------------------------------------------------------------

TEST_F(ScriptTest, VariableTableMakesNPlusOneEmptyRecords) {
    tools::ZktFile file;
    file.highest_number = 1100;
    file.system_value_124 = 0xABCD;
    Write("zkbin\\zkt.zbn", tools::BuildZkt(file));
    ASSERT_EQ(LoadVariableTable(), 0);
    ASSERT_EQ(Variables().records.size(), 1101u);
    EXPECT_EQ(FindVariable(1100)->type, kVariableNone);
    EXPECT_EQ(FindVariable(1101), nullptr);
    EXPECT_EQ(TheCompiledTables().variable_table.system_value_124, 0xABCDu);
}

TEST_F(ScriptTest, VariableTableRefusesAnotherVersionAndUnreachableSizes) {
    tools::ZktFile file;
    file.version = 554;
    Write("zkbin\\zkt.zbn", tools::BuildZkt(file));
    EXPECT_EQ(LoadVariableTable(), -1);
    EXPECT_EQ(LastMessage(), "E105000 zkbin\\zkt.zbn");

    // Variables are named with 16 bits: a larger table is damage, and must
    // not turn into a multi-gigabyte allocation.
    for (uint32_t highest : {0x10000u, 0xFFFFFFFFu}) {
        file.version = 555;
        file.highest_number = highest;
        Write("zkbin\\zkt.zbn", tools::BuildZkt(file));
        EXPECT_EQ(LoadVariableTable(), -1);
        EXPECT_EQ(LastMessage(), Unreadable(kVariableTableFile));
    }
    EXPECT_TRUE(Variables().records.empty());
}

// ---- zkt_list.zbn ---------------------------------------------------------

TEST_F(ScriptTest, FileListFilesNamesByNumberAndValuesByPosition) {
    Write("zkbin\\zkt_list.zbn", tools::BuildZktList(SmallList()));
    ASSERT_EQ(LoadScriptFileList(), 0);
    EXPECT_EQ(ScriptFileName(0), Cp932("最初.txt"));
    EXPECT_EQ(ScriptFileName(1), "b.txt");
    EXPECT_EQ(ScriptFileName(2), "c.txt");
    EXPECT_EQ(ScriptFileName(3), "");
    EXPECT_EQ(TheCompiledTables().file_list.per_file_values, (std::vector<uint32_t>{30, 10, 20}));
    EXPECT_EQ(TheScriptFileTable().files.size(), 3u);
}

TEST_F(ScriptTest, FileListRefusesFileNumbersOutsideTheList) {
    for (int32_t number : {3, -1, INT32_MAX}) {
        tools::ZktListFile list = SmallList();
        list.files[2].file_number = number;
        Write("zkbin\\zkt_list.zbn", tools::BuildZktList(list));
        EXPECT_EQ(LoadScriptFileList(), 1);
        EXPECT_EQ(LastMessage(), "E901030 " + std::to_string(number));
    }
    EXPECT_TRUE(TheScriptFileTable().files.empty());
}

// ---- zkv.zbn and InitVariablesFromDefinitions ------------------------------

class VariableDefinitionTest : public ScriptTest {
protected:
    void Load(const tools::ZkvFile& file) {
        ASSERT_EQ(CreateVariableTable(1100), 0);
        Write("zkbin\\zkv.zbn", tools::BuildZkv(file));
        ASSERT_EQ(LoadVariableDefinitions(), 0);
    }
};

TEST_F(VariableDefinitionTest, GlobalsAreFilledAtBootAndFileVariablesAtTheirFile) {
    tools::ZkvFile file = SmallZkv();
    VariableDef owned;  // scope 2: belongs to file 4
    owned.scope = 2;
    owned.owner_file = 4;
    owned.number = 1003;
    owned.type = 1;
    owned.integer_value = 99;
    VariableDef odd_type;  // a type without value bytes: shape only
    odd_type.number = 1004;
    odd_type.type = 9;
    odd_type.group = 4;
    odd_type.sizes = {5};
    file.definitions.push_back(owned);
    file.definitions.push_back(odd_type);
    Load(file);

    ASSERT_EQ(InitVariablesFromDefinitions(-1), 0);
    // Dimension count 0: one element.
    EXPECT_EQ(FindVariable(1000)->element_count, 1u);
    EXPECT_EQ(GetIntegerElement(1000, 0), -7);
    const ScriptVariable& real = *FindVariable(1001);
    EXPECT_EQ(real.group, 2);
    EXPECT_EQ(real.element_count, 6u);
    EXPECT_EQ(GetRealElement(1001, 5), 1.5);
    ASSERT_NE(GetStringElement(1002, 3), nullptr);
    EXPECT_EQ(*GetStringElement(1002, 3), "abc");
    EXPECT_EQ(FindVariable(1004)->type, 9);
    EXPECT_EQ(FindVariable(1004)->group, 4);
    EXPECT_EQ(FindVariable(1004)->sizes[0], 5);
    // The file's own variable waits for its file.
    EXPECT_EQ(FindVariable(1003)->type, kVariableNone);
    ASSERT_EQ(InitVariablesFromDefinitions(3), 0);
    EXPECT_EQ(FindVariable(1003)->type, kVariableNone);
    ASSERT_EQ(InitVariablesFromDefinitions(4), 0);
    EXPECT_EQ(GetIntegerElement(1003, 0), 99);
    EXPECT_EQ(Reports(), 0u);
}

TEST_F(VariableDefinitionTest, DefinitionBeyondTheTableStopsEveryWalk) {
    tools::ZkvFile file = SmallZkv();
    VariableDef beyond;
    beyond.scope = 2;  // not selected by the boot walk, still refused by it
    beyond.owner_file = 7;
    beyond.number = 1101;
    file.definitions.insert(file.definitions.begin() + 1, beyond);
    Load(file);
    EXPECT_EQ(InitVariablesFromDefinitions(-1), -1);
    EXPECT_EQ(LastMessage(), "E900070 1101");
    EXPECT_EQ(QuitFlag.load(), 1);
    EXPECT_EQ(GetIntegerElement(1000, 0), -7);  // before the bad record
    EXPECT_EQ(FindVariable(1001)->type, kVariableNone);  // after it
}

TEST_F(VariableDefinitionTest, FailedFillStopsTheWalk) {
    tools::ZkvFile file = SmallZkv();
    file.definitions[0].sizes = {0};
    Load(file);
    EXPECT_EQ(InitVariablesFromDefinitions(-1), -1);
    EXPECT_EQ(LastMessage(), "E101110");
    EXPECT_EQ(FindVariable(1001)->type, kVariableNone);
}

}  // namespace
}  // namespace zk
