// Calls and returns planned at load against the general path: the same
// script runs its call and its return once with the file's plans and once
// without them, and everything the two commands leave behind (the frames'
// values and presence bytes, the return record, the task's counters and
// the evaluator's state) must be the same, bit for bit.
#include <array>
#include <bit>
#include <cstdio>
#include <optional>
#include <span>
#include <string>

#include "script/call_plan_run.h"
#include "script/expr_eval.h"
#include "tests/script/runner_test_support.h"

namespace zk {
namespace {

using script_test::ScriptRunTest;

std::string Bits(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(std::bit_cast<uint64_t>(value)));
    return text;
}

// A readable record of what a call or return leaves behind.
std::string Describe(ScriptTask& task) {
    std::string out;
    auto add = [&out](const std::string& name, const std::string& value) { out += name + "=" + value + "\n"; };
    add("depths", std::to_string(task.call_depth) + "/" + std::to_string(task.block_depth) + "/" +
                      std::to_string(task.loop_depth));
    add("next", std::to_string(task.next_index) + " file " + std::to_string(task.file_number));
    for (int k = 0; k < 2; ++k) {
        const CallFrame* frame = task.calls[static_cast<size_t>(k)].get();
        if (frame == nullptr) continue;
        const std::string f = "frame" + std::to_string(k) + ".";
        add(f + "return", std::to_string(frame->return_index) + " file " + std::to_string(frame->return_file) +
                              " line " + std::to_string(frame->caller_line) + " saved " +
                              std::to_string(frame->saved_block_depth) + "/" + std::to_string(frame->saved_loop_depth));
        add(f + "counts", std::to_string(frame->arg_counts.integers) + "," + std::to_string(frame->arg_counts.reals) +
                              "," + std::to_string(frame->arg_counts.texts) + " / " +
                              std::to_string(frame->return_counts.integers) + "," +
                              std::to_string(frame->return_counts.reals) + "," +
                              std::to_string(frame->return_counts.texts));
        // Slots that hold nothing are left out of the record.
        const std::string empty = "0 " + Bits(0.0) + " '' 000";
        for (size_t i = 1; i < kCallValueSlots; ++i) {
            const std::string n = std::to_string(i);
            const std::string arg = std::to_string(frame->int_args[i]) + " " + Bits(frame->real_args[i]) + " '" +
                                    frame->text_args[i] + "' " + std::to_string(frame->int_arg_given[i]) +
                                    std::to_string(frame->real_arg_given[i]) +
                                    std::to_string(frame->text_arg_given[i]);
            const std::string ret = std::to_string(frame->int_returns[i]) + " " + Bits(frame->real_returns[i]) +
                                    " '" + frame->text_returns[i] + "' " + std::to_string(frame->int_return_given[i]) +
                                    std::to_string(frame->real_return_given[i]) +
                                    std::to_string(frame->text_return_given[i]);
            if (arg != empty) add(f + "arg" + n, arg);
            if (ret != empty) add(f + "ret" + n, ret);
        }
    }
    const ExprEvaluator& e = Evaluator();
    add("mode", std::to_string(e.mode) + " depth " + std::to_string(e.depth) + " nesting " +
                    std::to_string(e.nesting) + " next text " + std::to_string(e.next_text));
    add("top", std::to_string(e.stack[0].integer) + " " + Bits(e.stack[0].real) + " text " +
                   std::to_string(e.stack[0].text));
    if (e.stack[0].text != 0 && e.pool[e.stack[0].text].bytes) {
        const ExprTextSlot& slot = e.pool[e.stack[0].text];
        add("top text", std::string(slot.bytes.get(), slot.length));
    }
    add("reference", std::to_string(e.reference.variable) + "[" + std::to_string(e.reference.element) + "] " +
                         std::to_string(e.reference.prefix) + std::to_string(e.reference.whole_variable));
    add("rest", std::to_string(e.subscript_count) + " " + std::to_string(e.subscripts[0]) + " " +
                    std::to_string(e.result_length) + " " + std::to_string(e.aborted) + " " +
                    std::to_string(e.out.empty()));
    return out;
}

class CallPlanTest : public ScriptRunTest {
protected:
    struct Outcome {
        std::string after_call, after_return;
        bool call_planned = false, return_planned = false;
    };

    // Runs the SYSTEM task's next command as the runner would; `planned`
    // tells whether the command has a plan it may use.
    int32_t Step(ScriptTask& task, bool& planned) {
        const int32_t index = task.next_index;
        std::optional<RunningCommand> command = task.file.Running(index);
        EXPECT_TRUE(command.has_value());
        if (!command || !SetRunningCommand(*command)) return -1;
        TheCurrentTask() = {&task, TaskNode("SYSTEM")};
        const CallPlan* plan = CallPlanFor(task, CurrentCommand());
        planned = plan != nullptr && CallPlanUsable(*plan, task);
        task.next_index = index + 1;
        return task.file.rows[1][static_cast<size_t>(index)]();
    }

    // Boots the script, takes the plans away when asked, then runs the call
    // at SYSTEM_START and the return it leads to.
    Outcome Run(const std::string& declarations, const std::string& call, const std::string& ret, bool plans) {
        TearDown();
        SetUp();
        Outcome outcome;
        const std::string text = declarations + "\nlabel SYSTEM_START\n" + call +
                                 "\nlabel IDLE\nwait 1\njump IDLE\nlabel SUB\n" + ret + "\n";
        EXPECT_TRUE(Boot(text));
        ScriptTask* task = Task("SYSTEM");
        EXPECT_NE(task, nullptr);
        if (task == nullptr) return outcome;
        if (!plans) {
            ScriptFile& file = *TheScriptFileTable().files[task->file_number];
            file.call_plans = CallPlans{};
            BindTaskToFile(*task, task->file_number, file);
        }
        // A state that the commands must change as the general path does,
        // or leave alone: a text in the first pool slot, a reference.
        std::array<char, kExprTextSize> buffer{};
        const uint8_t seed[] = {'M', 6, 0, '"', 's', 'e', 'e', 'd', '"'};
        EvalTextExpr(seed, buffer);
        SetExprReference(4242, 9);

        EXPECT_EQ(Step(*task, outcome.call_planned), 0);
        outcome.after_call = Describe(*task);
        EXPECT_EQ(Step(*task, outcome.return_planned), 0);
        outcome.after_return = Describe(*task);
        EXPECT_EQ(Reports(), 0u) << ErrorReporter().message;
        return outcome;
    }
};

TEST_F(CallPlanTest, PlannedCallsLeaveWhatTheGeneralPathLeaves) {
    struct Case {
        std::string call, ret;
        bool call_planned, return_planned;
    };
    const std::string declarations = "int x = 5\nint y = -9\nreal r = 1.5\nstr s = \"v\"";
    for (const Case& c : {
             Case{"call SUB(1, 2.5, \"a\")", "return(7)", true, true},
             Case{"call SUB(-2, -2.5, 3, \"\", \"a\\tb\")", "return(-7, -0.0, \"x\")", true, true},
             Case{"call SUB(x, y, 4)", "return(y, 1.5, \"b\", x)", true, true},
             Case{"call SUB(x, 0.5)", "return(x)", true, true},
             Case{"call SUB", "return", true, true},
             Case{"call SUB(\"only text\")", "return(\"t\")", true, true},
             Case{"call SUB(7.25)", "return(2.5)", true, true},
             // End-state texts of several lengths, short and past 16 bytes.
             Case{"call SUB(\"ab\")", "return(\"abc\")", true, true},
             Case{"call SUB(\"abcd\")", "return(\"abcde\")", true, true},
             Case{"call SUB(\"abcdefg\")", "return(\"abcdefgh\")", true, true},
             Case{"call SUB(\"abcdefghi\")", "return(\"abcdefghijklmnop\")", true, true},
             Case{"call SUB(\"abcdefghijklmnopq\")", "return(\"abcdefghijklmnopqrstuvwxyz0123\")", true, true},
             // Forms the plans leave to the general path.
             Case{"call SUB(x + 1)", "return(x * 2)", false, false},
             Case{"call SUB(r)", "return(r)", false, false},
             Case{"call SUB(s)", "return(s)", false, false},
             Case{"call SUB(1, r, \"a\")", "return(1, s)", false, false},
         }) {
        SCOPED_TRACE(c.call + " / " + c.ret);
        const Outcome general = Run(declarations, c.call, c.ret, false);
        EXPECT_FALSE(general.call_planned);
        EXPECT_FALSE(general.return_planned);
        const Outcome planned = Run(declarations, c.call, c.ret, true);
        EXPECT_EQ(planned.call_planned, c.call_planned);
        EXPECT_EQ(planned.return_planned, c.return_planned);
        EXPECT_EQ(planned.after_call, general.after_call);
        EXPECT_EQ(planned.after_return, general.after_return);
    }
}

// A plan stands for the general path only while its variables are integer
// variables with an element 0: one whose type changed since the load makes
// the call take the general path, with the general path's result.
TEST_F(CallPlanTest, VariableOfAnotherTypeTakesTheGeneralPath) {
    for (bool plans : {false, true}) {
        SCOPED_TRACE(plans);
        TearDown();
        SetUp();
        ASSERT_TRUE(Boot("int x = 5\nlabel SYSTEM_START\ncall SUB(x)\nlabel IDLE\nwait 1\njump IDLE\n"
                         "label SUB\nreturn(x)\n"));
        ScriptTask* task = Task("SYSTEM");
        ASSERT_NE(task, nullptr);
        if (!plans) {
            ScriptFile& file = *TheScriptFileTable().files[task->file_number];
            file.call_plans = CallPlans{};
            BindTaskToFile(*task, task->file_number, file);
        }
        ScriptVariable* x = FindVariable(symbols.at("x"));
        ASSERT_NE(x, nullptr);
        ASSERT_EQ(FillRealVariable(*x, 2.75), 0);
        ASSERT_EQ(Pass(), 0);
        const CallFrame& callee = *task->calls[1];
        EXPECT_EQ(callee.int_args[1], 2);  // the real, truncated by the integer entry
        EXPECT_EQ(task->calls[0]->int_returns[1], 2);
        EXPECT_EQ(Reports(), 0u) << ErrorReporter().message;
    }
}

// A label the table does not hold is not folded, so the call has no plan
// and reports the missing label when it runs.
TEST_F(CallPlanTest, MissingLabelIsLeftToTheGeneralPath) {
    ASSERT_TRUE(Boot("label SYSTEM_START\ncall NOWHERE(1, 2.5, \"a\")\nlabel IDLE\nwait 1\njump IDLE\n"));
    ScriptTask* task = Task("SYSTEM");
    ASSERT_NE(task, nullptr);
    EXPECT_TRUE(TheScriptFileTable().files[task->file_number]->call_plans.plans.empty());
    EXPECT_EQ(Pass(), 1);
    EXPECT_EQ(LastCode(), 108180u);
}

// A running-command record carries its plan; the plan counts only for
// the command it was made for, in the file the task runs. A record changed
// after it was made, or a file whose plans were taken away since, leaves
// the command to the general path.
TEST_F(CallPlanTest, RecordPlanCountsOnlyForItsOwnCommandAndFile) {
    ASSERT_TRUE(Boot("label SYSTEM_START\ncall SUB(1, 2.5, \"a\")\nlabel IDLE\nwait 1\njump IDLE\n"
                     "label SUB\nreturn(7)\n"));
    ScriptTask* task = Task("SYSTEM");
    ASSERT_NE(task, nullptr);
    ScriptFile& file = *TheScriptFileTable().files[task->file_number];
    const size_t at = static_cast<size_t>(task->next_index);
    ASSERT_LT(at, file.running.size());
    const RunningCommand& prebuilt = file.running[at];
    ASSERT_NE(prebuilt.plan, nullptr);
    EXPECT_EQ(CallPlanFor(*task, prebuilt), prebuilt.plan);
    std::optional<RunningCommand> built = task->file.Running(task->next_index);
    ASSERT_TRUE(built.has_value());
    EXPECT_EQ(built->plan, prebuilt.plan);  // the same record either way

    const std::array<uint8_t, 4> other_data{};
    struct Case {
        const char* what;
        void (*change)(RunningCommand&, std::span<const uint8_t>);
    };
    for (const Case& c : {
             Case{"another index", [](RunningCommand& r, std::span<const uint8_t>) { r.index += 1; }},
             Case{"other records",
                  [](RunningCommand& r, std::span<const uint8_t>) { r.records = r.records.subspan(1); }},
             Case{"another data section", [](RunningCommand& r, std::span<const uint8_t> d) { r.data = d; }},
         }) {
        SCOPED_TRACE(c.what);
        RunningCommand changed = prebuilt;
        c.change(changed, other_data);
        EXPECT_EQ(CallPlanFor(*task, changed), nullptr);
    }

    // Plans taken away after load: the prebuilt record still holds its old
    // pointer, which lies outside the file's plans now.
    file.call_plans = CallPlans{};
    BindTaskToFile(*task, task->file_number, file);
    EXPECT_EQ(CallPlanFor(*task, prebuilt), nullptr);
    ASSERT_EQ(Pass(), 0);
    EXPECT_EQ(task->calls[1]->int_args[1], 1);
    EXPECT_EQ(task->calls[0]->int_returns[1], 7);
    EXPECT_EQ(Reports(), 0u) << ErrorReporter().message;
}

// Recursion through planned calls and returns keeps every level's frame.
TEST_F(CallPlanTest, RecursionThroughPlannedCalls) {
    ASSERT_TRUE(Boot(R"(int d
int sum
label SYSTEM_START
call REC(10)
label IDLE
wait 1
jump IDLE
label REC
d += 1
sum += d
if d < 10
  call REC(1)
end
return(d)
)"));
    ScriptTask* task = Task("SYSTEM");
    ASSERT_NE(task, nullptr);
    ASSERT_EQ(Pass(), 0);
    EXPECT_EQ(Int("d"), 10);
    EXPECT_EQ(Int("sum"), 55);
    EXPECT_EQ(task->call_depth, 0);
    EXPECT_EQ(task->calls[1]->int_args[1], 10);
    EXPECT_EQ(task->calls[2]->int_args[1], 1);
    EXPECT_EQ(task->calls[0]->int_returns[1], 10);
    EXPECT_EQ(Reports(), 0u) << ErrorReporter().message;
}

}  // namespace
}  // namespace zk
