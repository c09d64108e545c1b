// Control flow on readable scripts: loops, blocks with else-if, calls with
// arguments and return values, the depth limits and the closing commands'
// errors, jumps across files and into nested labels.
#include <string>

#include "tests/script/runner_test_support.h"

namespace zk {
namespace {

using script_test::ScriptRunTest;

class ControlFlowTest : public ScriptRunTest {
protected:
    // Runs a script whose SYSTEM_START part is `body`, followed by an idle
    // wait; `after` holds subroutines. Returns the pass result.
    int Run(const std::string& declarations, const std::string& body, const std::string& after = "") {
        const std::string text = declarations + "\nlabel SYSTEM_START\n" + body + "\nlabel IDLE\nwait 1\njump IDLE\n" + after;
        if (!Boot(text)) return -1;
        return Pass();
    }
};

TEST_F(ControlFlowTest, CountedLoops) {
    struct Case {
        std::string count;
        int64_t runs;
    };
    // A negative count other than all ones runs the body once.
    for (const Case& c : {Case{"3", 3}, Case{"0", 0}, Case{"1", 1}, Case{"-5", 1}, Case{"n0 + 2", 2}}) {
        SCOPED_TRACE(c.count);
        TearDown();
        SetUp();
        ASSERT_EQ(Run("int n\nint n0", "loop " + c.count + "\n n += 1\nend"), 0);
        EXPECT_EQ(Int("n"), c.runs);
        EXPECT_EQ(Task("SYSTEM")->loop_depth, 0);
    }
}

TEST_F(ControlFlowTest, EndlessLoopLeftByBreakAndNestedBreakContinue) {
    ASSERT_EQ(Run("int n\nint inner\nint odd", R"(
loop
  n += 1
  if n == 10
    break
  end
end
loop 4
  loop
    inner += 1
    break 1
  end
  if inner % 2 == 1
    continue
  end
  odd += 1
end)"), 0);
    EXPECT_EQ(Int("n"), 10);
    EXPECT_EQ(Int("inner"), 4);
    EXPECT_EQ(Int("odd"), 2);
    ScriptTask* task = Task("SYSTEM");
    EXPECT_EQ(task->loop_depth, 0);
    EXPECT_EQ(task->block_depth, 0);
    EXPECT_EQ(Reports(), 0u);
}

TEST_F(ControlFlowTest, IfElseIfElse) {
    struct Case {
        int64_t x;
        int64_t branch;
    };
    for (const Case c : {Case{1, 1}, Case{5, 2}, Case{7, 3}, Case{9, 4}}) {
        SCOPED_TRACE(c.x);
        TearDown();
        SetUp();
        ASSERT_EQ(Run("int x = " + std::to_string(c.x) + "\nint branch\nint after", R"(
if x < 3
  branch = 1
elseif x < 6
  branch = 2
elseif x == 7
  branch = 3
else
  branch = 4
end
if x > 100
  branch = 99
end
after = 1)"), 0);
        EXPECT_EQ(Int("branch"), c.branch);
        EXPECT_EQ(Int("after"), 1);
        EXPECT_EQ(Task("SYSTEM")->block_depth, 0);
    }
}

TEST_F(ControlFlowTest, LeaveAndRestartBlocks) {
    ASSERT_EQ(Run("int n\nint tries", R"(
if 1
  tries += 1
  if 1
    if tries < 3
      restart 3
    end
    leave 2
    n = 99
  end
  n = 98
end
n += 1)"), 0);
    EXPECT_EQ(Int("tries"), 3);
    EXPECT_EQ(Int("n"), 1);
    EXPECT_EQ(Task("SYSTEM")->block_depth, 0);
}

TEST_F(ControlFlowTest, CallWithArgumentsAndReturnValues) {
    ASSERT_EQ(Run("int depth_seen\nint blocks_inside", R"(
call SUB(7, -3, 2.5, "text", "two")
)", R"(
label SUB
depth_seen = 1
if 1
  return(42, 0.25, "back")
end
)"), 0);
    ScriptTask* task = Task("SYSTEM");
    EXPECT_EQ(task->call_depth, 0);
    const CallFrame& callee = *task->calls[1];
    EXPECT_EQ(callee.arg_counts.integers, 2);
    EXPECT_EQ(callee.arg_counts.reals, 1);
    EXPECT_EQ(callee.arg_counts.texts, 2);
    EXPECT_EQ(callee.int_args[1], 7);
    EXPECT_EQ(callee.int_args[2], -3);
    EXPECT_EQ(callee.real_args[1], 2.5);
    EXPECT_EQ(callee.text_args[1], "text");
    EXPECT_EQ(callee.text_args[2], "two");
    EXPECT_EQ(callee.int_arg_given[1], 1);
    const CallFrame& caller = *task->calls[0];
    EXPECT_EQ(caller.return_counts.integers, 1);
    EXPECT_EQ(caller.return_counts.texts, 1);
    EXPECT_EQ(caller.int_returns[1], 42);
    EXPECT_EQ(caller.real_returns[1], 0.25);
    EXPECT_EQ(caller.text_returns[1], "back");
    // The return from inside the block kept the subroutine's block depth.
    EXPECT_EQ(task->block_depth, 1);
    EXPECT_EQ(Int("depth_seen"), 1);
    EXPECT_EQ(Reports(), 0u);
}

TEST_F(ControlFlowTest, SixteenValuesOfEachKind) {
    std::string ints, reals, texts;
    for (int i = 1; i <= 16; ++i) {
        ints += std::to_string(i) + ", ";
        reals += std::to_string(i) + ".5, ";
        texts += "\"t" + std::to_string(i) + "\"" + (i < 16 ? ", " : "");
    }
    ASSERT_EQ(Run("", "call SUB(" + ints + reals + texts + ")", "label SUB\nreturn\n"), 0);
    const CallFrame& callee = *Task("SYSTEM")->calls[1];
    EXPECT_EQ(callee.int_args[16], 16);
    EXPECT_EQ(callee.real_args[1], 1.5);
    EXPECT_EQ(callee.real_args[16], 16.5);
    EXPECT_EQ(callee.text_args[16], "t16");
    EXPECT_EQ(Reports(), 0u);
}

TEST_F(ControlFlowTest, RecursionToTheCallDepthLimit) {
    struct Case {
        int calls;
        int result;
        uint32_t code;
    };
    for (const Case c : {Case{63, 0, 0}, Case{64, 1, 101600}}) {
        SCOPED_TRACE(c.calls);
        TearDown();
        SetUp();
        ASSERT_EQ(Run("int d\nint deepest", "call REC", R"(
label REC
d += 1
deepest = d
if d < )" + std::to_string(c.calls) + R"(
  call REC
end
d -= 1
return
)"),
                  c.result);
        EXPECT_EQ(LastCode(), c.code);
        if (c.code == 0) {
            EXPECT_EQ(Int("deepest"), c.calls);
            EXPECT_EQ(Int("d"), 0);
        }
    }
}

TEST_F(ControlFlowTest, BlockAndLoopDepthLimits) {
    struct Case {
        std::string open, close;
        int depth;
        uint32_t code;
    };
    for (const Case& c : {Case{"if 1", "end", 127, 0}, Case{"if 1", "end", 128, 101600},
                          Case{"loop 1", "end", 63, 0}, Case{"loop 1", "end", 64, 101600}}) {
        SCOPED_TRACE(c.open + " " + std::to_string(c.depth));
        TearDown();
        SetUp();
        std::string body;
        for (int i = 0; i < c.depth; ++i) body += c.open + "\n";
        body += "n = 1\n";
        for (int i = 0; i < c.depth; ++i) body += c.close + "\n";
        ASSERT_EQ(Run("int n", body), c.code == 0 ? 0 : 1);
        EXPECT_EQ(LastCode(), c.code);
        EXPECT_EQ(Int("n"), c.code == 0 ? 1 : 0);
    }
}

TEST_F(ControlFlowTest, ClosingCommandsBeyondTheOpenDepthAreRefused) {
    // Two blocks and two loops open; every count above the open depth is an
    // error, not only depth + 1.
    struct Case {
        std::string command;
        uint32_t code;
    };
    for (const Case& c : {Case{"leave 3", 101300}, Case{"leave 7", 101300}, Case{"restart 3", 101300},
                          Case{"restart 100", 101300}, Case{"break 3", 101300}, Case{"continue 9", 101300},
                          Case{"leave 0", 0}, Case{"break -2", 0}}) {
        SCOPED_TRACE(c.command);
        TearDown();
        SetUp();
        ASSERT_EQ(Run("int n", "loop 1\nloop 1\nif 1\nif 1\n" + c.command + "\nn = 1\nend\nend\nend\nend"),
                  c.code == 0 ? 0 : 1);
        EXPECT_EQ(LastCode(), c.code);
    }
}

TEST_F(ControlFlowTest, ClosingWithNothingOpen) {
    struct Case {
        std::string command;
        uint32_t code;
    };
    for (const Case& c : {Case{"endif", 101300}, Case{"skip", 101300}, Case{"cmd11", 101300},
                          Case{"endloop", 108120}}) {
        SCOPED_TRACE(c.command);
        TearDown();
        SetUp();
        ASSERT_EQ(Run("", c.command), 1);
        EXPECT_EQ(LastCode(), c.code);
    }
    TearDown();
    SetUp();
    ASSERT_EQ(Run("", "return"), 1);  // SYSTEM cannot end
    EXPECT_EQ(LastCode(), 101300u);
}

TEST_F(ControlFlowTest, JumpToAnotherFileAndIntoNestedLabels) {
    tools::ScriptText script;
    script.Compile(0, "main.txt", R"(
int n
int m
label SYSTEM_START
jump FAR
)");
    // Labels inside two blocks and a loop: the jump opens their frames.
    script.Compile(1, "far.txt", R"(
label FAR
n = 1
if 1
  if 1
    loop 2
      label INSIDE
      m += 1
    end
  end
end
n = 2
label IDLE
wait 1
jump IDLE
)");
    // Jump straight into the loop of file 1 from file 0 again.
    script.Compile(2, "again.txt", "label AGAIN\njump INSIDE\n");
    ASSERT_TRUE(Boot(script));
    ASSERT_EQ(Pass(), 0);
    EXPECT_EQ(Int("n"), 2);
    EXPECT_EQ(Int("m"), 2);
    ScriptTask* task = Task("SYSTEM");
    EXPECT_EQ(task->file_number, 1);

    // Restart at the label inside: depth 2 blocks, 1 loop, counted afresh.
    ASSERT_NE(StartTaskAt("T", "AGAIN", 1), nullptr);
    ASSERT_EQ(Pass(), 0);
    ScriptTask* t = Task("T");
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->file_number, 1);
    EXPECT_EQ(Reports(), 0u) << ErrorReporter().message;
}

TEST_F(ControlFlowTest, MissingLabelAndLabelTest) {
    ASSERT_EQ(Run("int yes\nint no = 5\nreal r\nstr s", R"(
haslabel name="SYSTEM_START", result=yes, go=1
haslabel name="NOWHERE", result=no, go=1
haslabel name="IDLE", result=r, go=1
)"), 0);
    EXPECT_EQ(Int("yes"), 1);
    EXPECT_EQ(Int("no"), 0);
    EXPECT_EQ(Real("r"), 1.0);
    TearDown();
    SetUp();
    ASSERT_EQ(Run("str s", "haslabel name=\"IDLE\", result=s, go=1"), 1);
    EXPECT_EQ(LastCode(), 101140u);
    TearDown();
    SetUp();
    ASSERT_EQ(Run("", "call NOWHERE"), 1);
    EXPECT_EQ(LastCode(), 108180u);
}

}  // namespace
}  // namespace zk
