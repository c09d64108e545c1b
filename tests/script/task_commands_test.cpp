// Task commands 95, 96 and 97 on readable scripts: tasks started, restarted,
// ended and queried, order keys, the re-run pass, and their errors.
#include <algorithm>
#include <string>

#include "script/position_string.h"
#include "tests/script/runner_test_support.h"

namespace zk {
namespace {

using script_test::ScriptRunTest;

class TaskCommandsTest : public ScriptRunTest {
protected:
    int Run(const std::string& declarations, const std::string& body, const std::string& after = "") {
        const std::string text = declarations + "\nlabel SYSTEM_START\n" + body + "\nlabel IDLE\nwait 1\njump IDLE\n" + after;
        if (!Boot(text)) return -1;
        return Pass();
    }
};

TEST_F(TaskCommandsTest, StartRunsTheTaskWithItsParametersAndOrderKey) {
    ASSERT_EQ(Run("int runs", "task start W WORK, i1=7, i10=9, r1=3, order=5\ntask start V WORK",
                  "label WORK\nruns += 1\nwait 1\njump WORK\n"),
              0);
    ScriptTask* w = Task("W");
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->int_params[1], 7);
    EXPECT_EQ(w->int_params[10], 9);
    EXPECT_EQ(w->real_params[1], 3.0);
    EXPECT_EQ(TaskNode("W")->order_key, 5);
    EXPECT_EQ(TaskNode("V")->order_key, 1);  // no order keyword: 1
    ASSERT_EQ(Passes(2), 0);
    EXPECT_GE(Int("runs"), 4);
    EXPECT_EQ(Reports(), 0u);
}

TEST_F(TaskCommandsTest, OrderKeyOperators) {
    struct Case {
        std::string option;
        int64_t key;
    };
    // The result is raised to 1 as a 64-bit value, then kept as 32 bits:
    // 10 - (2^32 + 5) and 10 * (1 - 2^32) lie below 1 although their low
    // 32 bits read 5 and 10.
    for (const Case& c : {Case{"order+=3", 13}, Case{"order-=50", 1}, Case{"order*=0", 1}, Case{"order/=0", 10},
                          Case{"order/=3", 3}, Case{"order=4", 4}, Case{"order-=4294967301", 1},
                          Case{"order*=-4294967295", 1}, Case{"order+=4294967296", 10},
                          Case{"order*=429496730", 4}}) {
        SCOPED_TRACE(c.option);
        TearDown();
        SetUp();
        ASSERT_EQ(Run("", "task start W WORK, order=10\ntask start W WORK, " + c.option,
                      "label WORK\nwait 1\njump WORK\n"),
                  0);
        EXPECT_EQ(TaskNode("W")->order_key, c.key);
    }
}

TEST_F(TaskCommandsTest, RestartKeepsStackDepthsAndClearsParameters) {
    ASSERT_EQ(Run("", "task start W WORK, i1=1, i2=2\nwait 1\ntask start W OTHER, i2=5",
                  "label WORK\nif 1\nwait 1\njump WORK\nend\nlabel OTHER\nwait 1\njump OTHER\n"),
              0);
    ASSERT_EQ(Passes(2), 0);
    ScriptTask* w = Task("W");
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->int_params[1], 0);
    EXPECT_EQ(w->int_params[2], 5);
}

TEST_F(TaskCommandsTest, RerunRunsTheNewTaskInTheSameFrame) {
    ASSERT_EQ(Run("int runs", "task start W WORK, rerun=1", "label WORK\nruns += 1\nwait 1\njump WORK\n"), 0);
    // Started and run within the first frame: its pass plus the re-run pass.
    EXPECT_GE(Int("runs"), 1);
    EXPECT_EQ(TheFrameCounters.script_pass_count, 2u);
}

TEST_F(TaskCommandsTest, RerunResumesAtTheGivenOrderKey) {
    // A (key 300), B (200), SYSTEM (100) and C (50) each log their digit on
    // every run and wait one pass. B's first run asks for a re-run pass with
    // keyword 3 = K, which changes no order key: the re-run pass skips the
    // tasks above K, and the first at or below K clears it, so every task
    // after that runs (the re-run pass counts down the one-pass waits). A
    // key that no task reaches is dropped with its pass, not kept to freeze
    // every later frame.
    constexpr std::string_view kScript = R"(
int log
int asked
int k
label SYSTEM_START
log = log * 10 + 1
wait 1
jump SYSTEM_START
label TA
log = log * 10 + 3
wait 1
jump TA
label TB
log = log * 10 + 2
if asked == 0
  asked = 1
  task name="B", rerun=1, order=k
end
wait 1
jump TB
label TC
log = log * 10 + 5
wait 1
jump TC
)";
    struct Case {
        int64_t key;
        int64_t log;  // after one frame: its first pass, then the re-run pass
    };
    const Case cases[] = {
        {250, 3215'215},     // A skipped
        {200, 3215'215},     // B is at the key: it runs, and so does all after it
        {150, 3215'15},      // A and B skipped
        {100, 3215'15},      // SYSTEM at the key
        {60, 3215'5},        // only C
        {10, 3215},          // nothing at or below: the re-run pass runs nothing
        {0, 3215'3215},      // 0 resumes nothing: the whole tree again
        {1000, 3215'3215},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        TearDown();
        SetUp();
        ASSERT_TRUE(Boot(kScript));
        ASSERT_NE(StartTaskAt("A", "TA", 300), nullptr);
        ASSERT_NE(StartTaskAt("B", "TB", 200), nullptr);
        ASSERT_NE(StartTaskAt("C", "TC", 50), nullptr);
        ASSERT_EQ(SetNumberElement(symbols.at("k"), 0, c.key), 0);
        ASSERT_EQ(Pass(), 0);
        EXPECT_EQ(Int("log"), c.log);
        EXPECT_EQ(TheFrameCounters.script_pass_count, 2u);
        // The key served the re-run pass only: the next frame walks the
        // whole tree (every task's one-pass wait is over by then).
        ASSERT_EQ(Pass(), 0);
        EXPECT_EQ(Int("log"), c.log * 10000 + 3215);
        EXPECT_EQ(ResumeOrderKey(), 0);
        EXPECT_EQ(TaskNode("A")->order_key, 300);
        EXPECT_EQ(TaskNode("B")->order_key, 200);
        EXPECT_EQ(Reports(), 0u) << ErrorReporter().message;
    }
}

TEST_F(TaskCommandsTest, EndByNameGoesOnEndingItselfStops) {
    ASSERT_EQ(Run("int after_other\nint after_self",
                  "task start W WORK\ntask end W\nafter_other = 1\ntask start S SELF, rerun=1",
                  "label WORK\nwait 1\njump WORK\nlabel SELF\ntask end S\nafter_self = 1\n"),
              0);
    EXPECT_EQ(Int("after_other"), 1);
    EXPECT_EQ(Int("after_self"), 0);
    EXPECT_EQ(TaskNode("W"), nullptr);
    EXPECT_EQ(TaskNode("S"), nullptr);
    EXPECT_EQ(Reports(), 0u);
}

TEST_F(TaskCommandsTest, EndingATaskOfItsOwnNameStops) {
    // The running task (made first, so with a second task of the same name
    // the lookup finds the other one) ends a task by name: when that name is
    // its own, its turn ends at once; otherwise it goes on.
    constexpr std::string_view kScript = R"(
int after
label SYSTEM_START
wait 1
jump SYSTEM_START
label END_S
task end S
after = 1
jump IDLE
label END_G
task end //G
after = 1
jump IDLE
label END_X
task end X
after = 1
jump IDLE
label END_V
task end V
after = 1
jump IDLE
label IDLE
wait 1
jump IDLE
)";
    struct Case {
        const char* runner;  // its path, and the label it runs
        const char* label;
        const char* other;  // a second, idle task made after it (or none)
        int64_t after;
    };
    const Case cases[] = {
        {"S", "END_S", nullptr, 0},
        {"/G", "END_G", nullptr, 0},  // inside the group with the empty name
        {"X", "END_X", "X", 0},       // ends the other X: still its own name
        {"W", "END_V", "V", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TearDown();
        SetUp();
        ASSERT_TRUE(Boot(kScript));
        NamedTreeNode* runner = CreateTreeNode(TheRootTrees().tasks, c.runner, false, 2);
        ASSERT_NE(runner, nullptr);
        ScriptTask* task = CreateScriptTask(runner);
        ASSERT_NE(task, nullptr);
        ASSERT_TRUE(SwitchTaskFile(*task, 0));
        task->next_index = static_cast<int32_t>(LabelAt(FindLabel(c.label))->command_index);
        NamedTreeNode* other = nullptr;
        if (c.other != nullptr) {
            // Walked before the runner, so that ending it shifts nothing
            // still to be visited.
            ASSERT_NE(StartTaskAt(c.other, "IDLE", 3), nullptr);
            other = TaskNode(c.other);
            ASSERT_NE(other, runner);
        }
        ASSERT_EQ(Pass(), 0) << LastCode();
        EXPECT_EQ(Int("after"), c.after);
        EXPECT_EQ(Reports(), 0u) << ErrorReporter().message;
        if (other != nullptr) {
            // The other task ended; the runner is what the name finds now.
            EXPECT_EQ(TaskNode(c.other), std::string_view(c.other) == c.runner ? runner : nullptr);
        } else {
            EXPECT_EQ(FindNodeByPath(TheRootTrees().tasks, c.runner, kFindLeaf), nullptr);
        }
    }
}

TEST_F(TaskCommandsTest, Errors) {
    struct Case {
        std::string body;
        uint32_t code;
    };
    for (const Case& c : {Case{"task end SYSTEM", 101420}, Case{"task end", 101420}, Case{"task end NOBODY", 101400},
                          Case{"task name=\"NOBODY\"", 101400}, Case{"task start W NOWHERE", 108180},
                          Case{"task start W/X IDLE", 100230}}) {
        SCOPED_TRACE(c.body);
        TearDown();
        SetUp();
        ASSERT_EQ(Run("", c.body), 1);
        EXPECT_EQ(LastCode(), c.code);
    }
}

TEST_F(TaskCommandsTest, QueryTask) {
    ASSERT_EQ(Run("int e\nint missing = 5\nint a\nint blocks\nint calls\nint loops\nint line\nint fileno\nstr file\nstr pos\nstr nothing = \"x\"",
                  R"(task start W WORK, enable_a=3
taskinfo name="W", result=e, exists=1
taskinfo name="NOBODY", result=missing, exists=1
taskinfo name="NOBODY", result=nothing, file=1
taskinfo name="W", result=a, enable_a=1
taskinfo name="W", result=line, line=1
taskinfo result=file, file=1
taskinfo result=fileno, fileno=1
call SUB
)",
                  R"(label WORK
wait 1
jump WORK
label SUB
loop 2
if 1
taskinfo result=blocks, blocks=1
taskinfo result=calls, calls=1
taskinfo result=loops, loops=1
taskinfo result=pos, position=1
leave 1
end
break
end
return
)"),
              0);
    EXPECT_EQ(Int("e"), 1);
    EXPECT_EQ(Int("missing"), 0);
    EXPECT_EQ(Text("nothing"), "");
    EXPECT_EQ(Int("a"), 3);
    // W had not run yet: the line of the command before its label.
    const int32_t work = static_cast<int32_t>(LabelAt(FindLabel("WORK"))->command_index);
    EXPECT_EQ(Int("line"), Task("W")->file.Line(work - 1));
    EXPECT_EQ(Text("file"), "main.txt");
    EXPECT_EQ(Int("fileno"), 0);
    EXPECT_EQ(Int("blocks"), 1);
    EXPECT_EQ(Int("calls"), 1);
    EXPECT_EQ(Int("loops"), 1);
    // The position text holds the stacks as they stood.
    const std::string pos = Text("pos");
    ASSERT_EQ(pos.size(), 8u + 2 + 18 + 2 + 20 + 2 + 34 + 24 + 8);
    EXPECT_EQ(pos.substr(pos.size() - 8), "main.txt");
    EXPECT_EQ(Reports(), 0u) << ErrorReporter().message;
}

TEST_F(TaskCommandsTest, StartFromAPositionString) {
    // W saves its position inside a loop and a block, then S is started from
    // that text and goes on where W stood.
    ASSERT_EQ(Run("str pos\nint w\nint s", "task start W WORK, rerun=1",
                  R"(label WORK
loop 3
  if 1
    taskinfo result=pos, position=1
    w += 1
    wait 1
  end
end
label STOP
wait 1
jump STOP
label BLANK
wait 1
jump BLANK
)"),
              0);
    const std::string pos = Text("pos");
    ASSERT_FALSE(pos.empty());
    ScriptTask* s = StartTaskAt("S", "BLANK", 1);
    ASSERT_NE(s, nullptr);
    ASSERT_GT(DecodePositionString(pos, s), 0);
    EXPECT_EQ(s->loop_depth, 1);
    EXPECT_EQ(s->block_depth, 1);
    const int64_t round = static_cast<int64_t>(s->loops[0]->counter);
    const int64_t before = Int("w");
    ASSERT_EQ(Passes(6), 0);
    // S finishes the round it was saved in and the ones after it; W its own.
    EXPECT_EQ(Int("w"), before + (3 - round + 1) + (3 - before));
    EXPECT_EQ(Reports(), 0u) << ErrorReporter().message;
}

}  // namespace
}  // namespace zk
