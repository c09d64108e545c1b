// A fixture for commands that run once at SYSTEM_START: each Run boots a
// fresh game from the declarations and body given, runs one pass and counts
// only its own reports.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "script/data_commands.h"
#include "tests/script/runner_test_support.h"

namespace zk::script_test {

class RunOnceTest : public ScriptRunTest {
protected:
    void SetUp() override {
        ScriptRunTest::SetUp();
        RegisterScriptDataCommands();
    }
    // 1 when the pass stopped the engine (a fatal report).
    int Run(std::string_view declarations, std::string_view body) {
        tools::ScriptText script = tools::ScriptGame(std::string(declarations) + "label SYSTEM_START\n" +
                                                    std::string(body) + "\nlabel IDLE\nwait 1\njump IDLE\n");
        return Run(script);
    }
    int Run(tools::ScriptText& script) {
        // The previous run's tasks, trees and tables go first.
        ResetTaskRunnerState();
        FreeRootTrees();
        TheCurrentTask() = {};
        ResetCompiledTables();
        ErrorReporter().reports = 0;
        ErrorReporter().message.clear();
        ErrorReporter().dialog_shown = false;
        EXPECT_TRUE(Boot(script));
        if (before_pass) before_pass();
        const int result = Pass();
        QuitFlag = 0;
        return result;
    }
    // Runs between the boot and the pass (tests that set tables by hand).
    std::function<void()> before_pass;
};

}  // namespace zk::script_test
