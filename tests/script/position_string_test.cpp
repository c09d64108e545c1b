// PositionString: a task's stacks round-trip through the text, and every
// kind of damage is refused with the task left as it was.
#include <string>

#include "script/position_string.h"
#include "tests/script/runner_test_support.h"

namespace zk {
namespace {

using script_test::ScriptRunTest;

class PositionStringTest : public ScriptRunTest {
protected:
    void SetUp() override {
        ScriptRunTest::SetUp();
        tools::ScriptText script;
        script.Compile(0, "main.txt", "label SYSTEM_START\nwait 1\njump SYSTEM_START\nlabel A\nwait 1\nwait 1\n");
        script.Compile(1, "Other.txt", "label B\nwait 1\nwait 1\nwait 1\n");
        ASSERT_TRUE(Boot(script));
    }

    // A task with two blocks, one call and one endless loop, in file 1.
    ScriptTask* Sample() {
        ScriptTask* task = StartTaskAt("T", "B", 1);
        task->block_depth = 2;
        task->call_depth = 1;
        task->loop_depth = 1;
        EXPECT_TRUE(EnsureStackEntries(*task));
        *task->blocks[0] = {0, 1, 2};
        *task->blocks[1] = {1, 2, 3};
        task->calls[0]->saved_block_depth = 1;
        task->calls[0]->saved_loop_depth = 0;
        task->calls[0]->return_index = 2;
        task->calls[0]->return_file = 0;
        *task->loops[0] = {2, 1, 3, 5, ~uint64_t{0}};
        task->message_tag = 0xDEADBEEF;
        task->next_index = 2;
        return task;
    }
};

TEST_F(PositionStringTest, RoundTrip) {
    ScriptTask* from = Sample();
    std::string text;
    const int64_t length = EncodePositionString(text, from);
    ASSERT_EQ(length, static_cast<int64_t>(text.size()));
    EXPECT_EQ(text.size(), 8u + 2 + 2 * 18 + 2 + 20 + 2 + 34 + 24 + 9);
    ScriptTask* to = StartTaskAt("U", "A", 1);
    ASSERT_EQ(DecodePositionString(text + "trailing", to), static_cast<int64_t>(text.size())) << ErrorReporter().message << " " << text;
    EXPECT_EQ(to->file_number, 1);
    EXPECT_EQ(to->next_index, 2);
    EXPECT_EQ(to->message_tag, 0xDEADBEEFu);
    ASSERT_EQ(to->block_depth, 2);
    EXPECT_EQ(to->blocks[1]->loop_depth, 1);
    EXPECT_EQ(to->blocks[1]->end_target, 3);
    ASSERT_EQ(to->call_depth, 1);
    EXPECT_EQ(to->calls[0]->saved_block_depth, 1);
    EXPECT_EQ(to->calls[0]->return_index, 2);
    ASSERT_EQ(to->loop_depth, 1);
    EXPECT_EQ(to->loops[0]->counter, 5u);
    EXPECT_EQ(to->loops[0]->count, ~uint64_t{0});  // endless survives
    // The next free entries above the restored depths exist too.
    EXPECT_NE(to->blocks[2], nullptr);
    EXPECT_NE(to->calls[1], nullptr);
    EXPECT_NE(to->loops[1], nullptr);
    EXPECT_EQ(Reports(), 0u);

    // Empty stacks: 8 + 2 + 2 + 2 + 24 bytes and the name; the name matches
    // the file list ignoring case.
    ScriptTask* empty = StartTaskAt("E", "A", 1);
    ASSERT_EQ(EncodePositionString(text, empty), 38 + 8);
    text.replace(text.size() - 8, 8, "MAIN.TXT");
    ScriptTask* again = StartTaskAt("F", "B", 1);
    EXPECT_GT(DecodePositionString(text, again), 0);
    EXPECT_EQ(again->file_number, 0);
    EXPECT_EQ(DecodePositionString(text, nullptr), -1);
}

TEST_F(PositionStringTest, DamageIsRefusedAndTheTaskKept) {
    std::string good;
    ASSERT_GT(EncodePositionString(good, Sample()), 0);
    // Offsets: header 0..7, block depth 8..9, blocks 10..45, call depth 46..47,
    // call 48..67 (return file 60..67), loop depth 68..69, loop 70..103,
    // tag 104..111, next 112..119, name length 120..127, name 128...
    auto with = [&](size_t at, std::string_view letters) {
        std::string text = good;
        text.replace(at, letters.size(), letters);
        return text;
    };
    struct Case {
        std::string name;
        std::string text;
        uint32_t code;
    };
    const Case cases[] = {
        {"header", with(3, "x"), 900000},
        {"letter", with(20, "z"), 900000},
        {"block depth 128", with(8, "ia"), 900000},
        {"loop depth 64", with(68, "ea"), 900000},
        {"call depth 64", with(46, "ea"), 900000},
        {"saved loop depth", with(10, "ea"), 900000},
        {"negative index", with(12, "i"), 900000},
        {"return file high half", with(60, "b"), 900000},
        {"return file outside the list", with(64, "aaac"), 900000},
        {"next index past the file", with(112, "aaaaaaap"), 900000},
        {"name runs past the text", with(120, "aaaaaabb"), 900000},
        {"cut", good.substr(0, 50), 900000},
        {"empty", std::string(), 900000},
        {"unknown file", with(128, "xther.txt"), 102130},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptTask* task = Task("SYSTEM");
        const int32_t next = task->next_index;
        const uint32_t reports = Reports();
        EXPECT_EQ(DecodePositionString(c.text, task), 0);
        EXPECT_EQ(Reports(), reports + 1);
        EXPECT_EQ(LastCode(), c.code);
        EXPECT_EQ(task->next_index, next);
        EXPECT_EQ(task->block_depth, 0);
        EXPECT_EQ(task->file_number, 0);
    }
}

class PositionFileNameTest : public ScriptRunTest {};

TEST_F(PositionFileNameTest, NameMatchesIgnoringCaseOfSingleByteLettersOnly) {
    // File 1's name begins with the double-byte character 0x83 0x41, whose
    // trail byte is 'A': folding it would take 0x83 0x61 (another
    // character) for the same name.
    const std::string listed = "\x83\x41Sub.txt";
    tools::ScriptText script;
    script.Compile(0, "main.txt", "label SYSTEM_START\nwait 1\njump SYSTEM_START\n");
    script.Compile(1, listed, "label B\nwait 1\nwait 1\n");
    ASSERT_TRUE(Boot(script));
    ScriptTask* from = StartTaskAt("T", "B", 1);
    ASSERT_NE(from, nullptr);
    std::string good;
    ASSERT_GT(EncodePositionString(good, from), 0);
    ASSERT_EQ(good.substr(good.size() - listed.size()), listed);

    struct Case {
        std::string name;
        bool found;
    };
    const Case cases[] = {
        {listed, true},
        {"\x83\x41sUB.TXT", true},   // single-byte letters in any case
        {"\x83\x61Sub.txt", false},  // the trail byte is not a letter
        {"\x83\x61sub.txt", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text = good;
        text.replace(text.size() - listed.size(), listed.size(), c.name);
        ScriptTask* to = StartTaskAt("U", "SYSTEM_START", 1);
        ASSERT_NE(to, nullptr);
        const uint32_t reports = Reports();
        if (c.found) {
            EXPECT_EQ(DecodePositionString(text, to), static_cast<int64_t>(text.size()));
            EXPECT_EQ(to->file_number, 1);
            EXPECT_EQ(Reports(), reports);
        } else {
            EXPECT_EQ(DecodePositionString(text, to), 0);
            EXPECT_EQ(LastCode(), kErrPositionFileUnknown);
            EXPECT_EQ(to->file_number, 0);
        }
        EndTaskNode(TaskNode("U"));
        FreeEndedTasks();
    }
}

}  // namespace
}  // namespace zk
