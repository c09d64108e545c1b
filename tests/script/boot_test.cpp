// BootScriptSystem on small game folders written by the game builder: the
// task "SYSTEM" ends up at "SYSTEM_START", and each failure stops the boot
// where it happens.
#include <string>

#include "core/engine_hooks.h"
#include "core/named_tree.h"
#include "core/root_trees.h"
#include "script/boot.h"
#include "script/labels.h"
#include "script/script_file.h"
#include "script/script_task.h"
#include "script/variables.h"
#include "tests/script/script_test_support.h"

namespace zk {
namespace {

using script_test::ScriptTest;

class BootTest : public ScriptTest {
protected:
    void SetUp() override {
        ScriptTest::SetUp();
        game.error_texts = script_test::TestErrorTexts();
        tools::VariableDef global;
        global.number = 1000;
        global.integer_value = 12;
        game.variables.definitions = {global};

        // file 0 (main.txt):  0 nop, 1 nop
        // file 1 (start.txt): 0 nop, SYSTEM_START: 1 nop, 2 nop   (inside 2 blocks and 1 loop)
        tools::ScriptBuilder& main = game.Script(0, "main.txt");
        main.Add(0);
        main.Add(0);
        tools::ScriptBuilder& start = game.Script(1, "start.txt");
        start.Add(0);
        start.Label("SYSTEM_START", 2, 1);
        start.Add(9);
        start.Add(0);
    }
    void TearDown() override {
        FreeRootTrees();
        Hooks().create_script_task = nullptr;
        TheCurrentTask() = {};
        ScriptTest::TearDown();
    }

    // Writes the game and makes the root trees through the engine's own
    // set-up, with this subsystem's task hook in place.
    void Prepare(const std::map<std::string, std::vector<uint8_t>>& files) {
        ASSERT_TRUE(tools::GameBuilder::WriteFiles(game_, files));
        platform::ClearPathCache();
        Hooks().create_script_task = CreateScriptTaskHook;
        CreateRootTrees();
    }
    void Prepare() { Prepare(game.Files()); }

    ScriptTask* SystemTask() {
        return TaskOf(FindNodeByPath(TheRootTrees().tasks, "SYSTEM", kFindLeaf));
    }

    tools::GameBuilder game;
};

TEST_F(BootTest, SystemTaskStartsAtSystemStart) {
    Prepare();
    ASSERT_EQ(BootScriptSystem(), 0);
    EXPECT_EQ(Reports(), 0u);

    ScriptTask* task = SystemTask();
    ASSERT_NE(task, nullptr);
    EXPECT_EQ(task->system_flag, 1);
    EXPECT_EQ(task->file_number, 1);
    EXPECT_EQ(task->next_index, 1);
    EXPECT_EQ(task->block_depth, 2);
    EXPECT_EQ(task->loop_depth, 1);
    // The depths came from the label, so the frames below them must exist.
    for (int d = 0; d <= 2; ++d) EXPECT_NE(task->blocks[d], nullptr) << d;
    for (int d = 0; d <= 1; ++d) EXPECT_NE(task->loops[d], nullptr) << d;
    EXPECT_EQ(task->enable_a & task->enable_b, 1);
    // The task runs in the loaded file; other files wait until reached.
    const ScriptFile* start = LoadedScriptFile(1);
    ASSERT_NE(start, nullptr);
    EXPECT_EQ(task->file.command_count, 3);
    EXPECT_EQ(task->file.rows[1].data(), start->rows[1].data());
    EXPECT_EQ(LoadedScriptFile(0), nullptr);
    // The group "" under the root has a task record too, not marked SYSTEM.
    ScriptTask* group = TaskOf(FindNodeByPath(TheRootTrees().tasks, "", kFindGroup));
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->system_flag, 0);
    // The rest of the boot's work.
    EXPECT_EQ(GetIntegerElement(1000, 0), 12);
    EXPECT_EQ(ScriptFileName(1), "start.txt");
    EXPECT_EQ(CommandName(120), "cmd120");
}

TEST_F(BootTest, IdleGameBoots) {
    Prepare(tools::IdleGame().Files());
    ASSERT_EQ(BootScriptSystem(), 0);
    ScriptTask* task = SystemTask();
    ASSERT_NE(task, nullptr);
    EXPECT_EQ(task->file_number, 0);
    EXPECT_EQ(task->next_index, 0);
    EXPECT_EQ(task->file.command_count, 2);
    EXPECT_EQ(Reports(), 0u);
}

TEST_F(BootTest, ScriptErrorsNameTheTaskFileAndLine) {
    Prepare();
    ASSERT_EQ(BootScriptSystem(), 0);
    ScriptTask* task = SystemTask();
    ASSERT_NE(task, nullptr);
    TheCurrentTask() = {task, nullptr};
    ASSERT_TRUE(SetRunningCommand(*task->file.Running(task->next_index)));
    ReportScriptError(101110, false);
    EXPECT_TRUE(ErrorReporter().location.has_file);
    EXPECT_EQ(ErrorReporter().location.file, "start.txt");
    EXPECT_EQ(ErrorReporter().location.line, 2);  // the builder numbers lines from 1
}

// Each table in boot order, removed: the boot stops there with its report
// and loads nothing after it.
TEST_F(BootTest, StopsAtTheFirstMissingTable) {
    const char* order[] = {"zkbin\\zke.zbn", "zkbin\\zkc.zbn", "zkbin\\zkt.zbn", "zkbin\\zkt_list.zbn",
                           "zkbin\\zkv.zbn"};
    for (const char* missing : order) {
        SCOPED_TRACE(missing);
        auto files = game.Files();
        files.erase(missing);
        std::filesystem::remove_all(game_ / "zkbin");
        Prepare(files);
        ResetErrorReporter();
        UseTestErrorTexts();
        ResetEngineState();
        EXPECT_EQ(BootScriptSystem(), 1);
        EXPECT_EQ(LastMessage(), Missing(missing));
        EXPECT_EQ(QuitFlag.load(), 1);
        // The label table comes last: never loaded here.
        EXPECT_TRUE(TheCompiledTables().labels.entries.empty());
        if (std::string_view(missing) == "zkbin\\zkt.zbn") {
            EXPECT_TRUE(Variables().records.empty());
        }
        EXPECT_EQ(SystemTask()->file.command_count, 0);
        FreeRootTrees();
        ResetCompiledTables();
    }
}

TEST_F(BootTest, MissingLabelTableOrStartLabelFailsWithoutAMessage) {
    auto files = game.Files();
    files.erase("zkbin\\zkl.zbn");
    Prepare(files);
    EXPECT_EQ(BootScriptSystem(), 1);
    EXPECT_EQ(Reports(), 0u);
    EXPECT_EQ(GetIntegerElement(1000, 0), 12);  // everything before it ran

    FreeRootTrees();
    ResetCompiledTables();
    tools::GameBuilder other = game;
    tools::ScriptBuilder& start = other.Script(1) = tools::ScriptBuilder(1);
    start.Label("SYSTEM_BEGIN");
    start.Add(0);
    std::filesystem::remove_all(game_ / "zkbin");
    Prepare(other.Files());
    EXPECT_EQ(BootScriptSystem(), 1);
    EXPECT_EQ(Reports(), 0u);
    EXPECT_EQ(SystemTask()->file.command_count, 0);  // not pointed anywhere
    EXPECT_EQ(SystemTask()->next_index, 0);
}

TEST_F(BootTest, MissingSystemTaskIsMinusOne) {
    Prepare();
    FreeTreeNode(FindNodeByPath(TheRootTrees().tasks, "SYSTEM", kFindLeaf));
    EXPECT_EQ(BootScriptSystem(), -1);
}

TEST_F(BootTest, UnloadableStartFileFailsTheBoot) {
    auto files = game.Files();
    files["zkbin\\zkt00001.zbn"].resize(40);
    Prepare(files);
    EXPECT_EQ(BootScriptSystem(), 1);
    EXPECT_EQ(LastMessage(), Unreadable("zkbin\\zkt00001.zbn"));
    EXPECT_EQ(SystemTask()->file.command_count, 0);
}

TEST_F(BootTest, FailedGlobalInitialisationFailsTheBoot) {
    game.variables.definitions[0].number = 5000;  // beyond zkt.zbn's 1100
    Prepare();
    EXPECT_EQ(BootScriptSystem(), 1);
    EXPECT_EQ(LastMessage(), "E900070 5000");
}

}  // namespace
}  // namespace zk
