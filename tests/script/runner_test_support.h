// Running readable scripts (tools/lib/script_text.h) through the script
// machine: a game folder written from the script, the root trees with their
// tasks, the boot, and passes driven like the frame step drives them, on a
// clock the test moves.
#pragma once

#include <string>
#include <string_view>

#include "core/engine_hooks.h"
#include "core/named_tree.h"
#include "core/root_trees.h"
#include "core/settings.h"
#include "platform/clock.h"
#include "script/boot.h"
#include "script/labels.h"
#include "script/control_flow.h"
#include "script/pause_clock.h"
#include "script/script_task.h"
#include "script/task_commands.h"
#include "script/task_runner.h"
#include "script/variables.h"
#include "tests/script/script_test_support.h"
#include "tools/lib/script_text.h"
#include "engine/engine_reset.h"

namespace zk::script_test {

// "E<code>" and up to three arguments, for every error these tests expect.
inline std::vector<tools::ZkeRecord> RunnerErrorTexts() {
    std::vector<tools::ZkeRecord> records = TestErrorTexts();
    for (uint32_t code : {100230u, 100240u, 100242u, 100260u, 101000u, 101250u, 101310u, 101320u, 101330u, 105210u, 101010u, 101020u, 101030u, 101140u, 101150u, 101210u, 101220u, 101293u,
                          101300u, 101400u, 101420u, 101450u, 101600u, 102130u, 104010u, 104060u, 104110u, 104111u, 107010u,
                          107020u, 108010u, 108120u, 108180u, 108190u, 108200u, 108210u, 108220u, 120010u, 120020u, 120110u, 120120u, 160010u, 900000u, 900020u, 900030u,
                          900050u, 900060u}) {
        records.push_back({code, "E" + std::to_string(code) + " %s %s %s"});
    }
    return records;
}

class ScriptRunTest : public ScriptTest {
protected:
    void SetUp() override {
        ScriptTest::SetUp();
        InitPathCharTable();  // as start-up does: tree paths with '/', '.' and ':'
        platform::InstallClock(&clock);
        FillEvaluatorTables();
        InstallEvaluatorCommands();
        InstallControlFlowCommands();
        InstallTaskCommands();
    }
    void TearDown() override {
        platform::InstallClock(nullptr);
        ScriptTest::TearDown();
    }

    // Writes the game, makes the trees and boots; false when the boot failed.
    bool Boot(tools::ScriptText& script) {
        script.game.error_texts = RunnerErrorTexts();
        symbols = script.Symbols();
        if (!script.game.Write(game_)) return false;
        platform::ClearPathCache();
        Hooks().create_script_task = CreateScriptTaskHook;
        CreateRootTrees();
        return BootScriptSystem() == 0;
    }
    bool Boot(std::string_view text) {
        tools::ScriptText script = tools::ScriptGame(text);
        return Boot(script);
    }

    // One frame's script passes, as the frame step runs them: 1 when the
    // engine is to stop.
    int Pass() {
        do {
            TheFrameCounters.rerun_request = 0;
            TheFrameCounters.script_pass_count += 1;
            RunTaskTreeHook();
            if (QuitFlag.load() != 0) return 1;
        } while (TheFrameCounters.rerun_request != 0);
        return 0;
    }
    int Passes(int n) {
        for (int i = 0; i < n; ++i) {
            if (Pass() != 0) return 1;
        }
        return 0;
    }

    int64_t Int(std::string_view name, int64_t element = 0) {
        return GetIntegerElement(symbols.at(std::string(name)), element);
    }
    double Real(std::string_view name, int64_t element = 0) {
        return GetRealElement(symbols.at(std::string(name)), element);
    }
    std::string Text(std::string_view name, int64_t element = 0) {
        const std::string* text = GetStringElement(symbols.at(std::string(name)), element);
        return text != nullptr ? *text : std::string();
    }
    static NamedTreeNode* TaskNode(std::string_view name) {
        return FindNodeByPath(TheRootTrees().tasks, name, kFindLeaf);
    }
    static ScriptTask* Task(std::string_view name) { return TaskOf(TaskNode(name)); }
    // The code of the last report ("E<code> ..."), or 0.
    static uint32_t LastCode() {
        const std::string& message = ErrorReporter().message;
        size_t at = message.find('E');
        if (Reports() == 0 || at == std::string::npos) return 0;
        return static_cast<uint32_t>(std::stoul(message.substr(at + 1)));
    }

    // A task made directly (no script start) at a label, under `parent`
    // (the task root when null).
    static ScriptTask* StartTaskAt(std::string_view name, std::string_view label, int64_t order_key,
                                   NamedTreeNode* parent = nullptr) {
        NamedTreeNode* node = CreateTreeNode(parent != nullptr ? parent : TheRootTrees().tasks, name, false, order_key);
        ScriptTask* task = CreateScriptTask(node);
        const LabelEntry* entry = LabelAt(FindLabel(label));
        if (task == nullptr || entry == nullptr || !SwitchTaskFile(*task, entry->file_number)) return nullptr;
        task->next_index = static_cast<int32_t>(entry->command_index);
        return task;
    }

    platform::ManualClock clock{1000};
    tools::InfixSymbols symbols;
};

}  // namespace zk::script_test
