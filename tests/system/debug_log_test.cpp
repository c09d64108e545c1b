// The debug log: the dated header of the first write (on a clock the test
// sets), later writes appending, deletion keeping the run's state, and one
// real run past the 10 MB budget.
#include <fstream>

#include "base/text_encoding.h"
#include "platform/clock.h"
#include "system/debug_log.h"
#include "system/system_command.h"
#include "tests/script/script_run_once.h"

namespace zk {
namespace {

namespace fs = std::filesystem;

class DebugLogTest : public script_test::RunOnceTest {
protected:
    void SetUp() override {
        RunOnceTest::SetUp();
        RegisterSystemServices();
        clock_.SetLocalTime({2026, 3, 4, 5, 7, 8, 9, 0});
        platform::InstallClock(&clock_);
    }
    void TearDown() override {
        platform::InstallClock(nullptr);
        RunOnceTest::TearDown();
    }
    std::string Log() {
        std::ifstream in(game_ / "debuglog.txt", std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), {});
    }
    platform::ManualClock clock_;
};

TEST_F(DebugLogTest, HeaderThenLines) {
    std::ofstream(game_ / "debuglog.txt") << "old run\n";
    const std::string rule = "//" + std::string(76, '-');
    const std::string header = rule + "\n//\x81\xA1" + "26/03/05 time=07:08:09\n" + rule + "\n";
    ASSERT_EQ(Run("", "system code=52, text1=\"first\"\nsystem code=52, text1=\"second\""), 0);
    EXPECT_EQ(Log(), header + "first\nsecond\n");
    EXPECT_EQ(DebugLogWrittenTotal(), header.size() + 13);
    // Deleting resets nothing: the next write has no header.
    ASSERT_EQ(Run("", "system code=51\nsystem code=52, text1=\"third\""), 0);
    EXPECT_EQ(Log(), "third\n");
    EXPECT_EQ(ui_.boxes.size(), 0u);
}

TEST_F(DebugLogTest, LongMessagesAreCutAtACharacter) {
    const std::string message(3000, '\x88');
    AppendDebugLog(kDebugLogName, true, message);
    const std::string log = Log();
    const size_t last_line = log.rfind('\n', log.size() - 2) + 1;
    EXPECT_EQ(log.size() - last_line, 2046u + 1u - 2046u % 2);
}

// A real run: 10 MB of lines, then one more write appends the warning and
// shows the box, and so does every later write.
TEST_F(DebugLogTest, BudgetWarningAfterTenMegabytes) {
    const std::string line(1023, 'x');
    while (DebugLogWrittenTotal() < uint64_t(kDebugLogBudget)) AppendDebugLog(kDebugLogName, true, line);
    EXPECT_EQ(ui_.boxes.size(), 0u);
    AppendDebugLog(kDebugLogName, true, "after");
    ASSERT_EQ(ui_.boxes.size(), 1u);
    EXPECT_EQ(ui_.boxes[0].caption, std::optional<std::string>(""));
    EXPECT_NE(ui_.boxes[0].text.find("debuglog.txt"), std::string::npos);
    const std::string log = Log();
    EXPECT_EQ(log.size(), DebugLogWrittenTotal());
    EXPECT_NE(log.find("after\n" + Utf8ToCp932("log が 10MB を超えました。")), std::string::npos);
    AppendDebugLog(kDebugLogName, true, "again");
    EXPECT_EQ(ui_.boxes.size(), 2u);
}

}  // namespace
}  // namespace zk
