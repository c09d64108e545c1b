// Commands per second of the script machine on a counted loop that adds to
// a variable (loop begin, assignment, loop end), against the same loop in
// Lua 5.4 run as a subprocess; and a call with arguments and its return.
// Heap allocations are counted in steady state with a replaced operator
// new: a command must not allocate. Informational only: it never fails.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>

#include "core/engine_hooks.h"
#include "core/engine_state.h"
#include "core/named_tree.h"
#include "core/root_trees.h"
#include "platform/game_path.h"
#include "script/boot.h"
#include "script/compiled_tables.h"
#include "script/control_flow.h"
#include "script/evaluator_setup.h"
#include "script/script_task.h"
#include "script/task_commands.h"
#include "script/task_runner.h"
#include "script/variables.h"
#include "storage/descramble.h"
#include "tools/lib/script_text.h"

namespace {
std::atomic<uint64_t> allocations{0};
}  // namespace

void* operator new(size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int64_t kIterations = 3'000'000;
constexpr int64_t kCalls = 500'000;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// One pass of the task tree: the whole script runs to its wait.
void Pass() {
    zk::TheFrameCounters.script_pass_count += 1;
    zk::RunTaskTreeHook();
}

double LuaSeconds() {
    if (std::system("command -v lua5.4 > /dev/null 2>&1") != 0) return -1.0;
    const std::string command = "lua5.4 -e 'local t=os.clock() local x=0 for i=1," + std::to_string(kIterations) +
                                " do x=x+1 end io.write(os.clock()-t)'";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return -1.0;
    double seconds = -1.0;
    if (std::fscanf(pipe, "%lf", &seconds) != 1) seconds = -1.0;
    pclose(pipe);
    return seconds;
}

}  // namespace

int main() {
    const fs::path folder = fs::temp_directory_path() / ("zk-bench-loop-" + std::to_string(getpid()));
    fs::create_directories(folder / "zkbin");
    zk::tools::ScriptText script = zk::tools::ScriptGame(R"(
int x
int go
label SYSTEM_START
wait 1
loop )" + std::to_string(kIterations) + R"(
  x += 1
end
wait 1
loop )" + std::to_string(kCalls) + R"(
  call SUB(1, 2.5, "a")
end
label IDLE
wait 1
jump IDLE
label SUB
return(7)
)");
    if (!script.game.Write(folder)) return 0;
    const fs::path old = fs::current_path();
    fs::current_path(folder);
    zk::platform::ClearPathCache();
    zk::BuildDescrambleTables();
    zk::FillEvaluatorTables();
    zk::InstallEvaluatorCommands();
    zk::InstallControlFlowCommands();
    zk::InstallTaskCommands();
    zk::Hooks().create_script_task = zk::CreateScriptTaskHook;
    zk::CreateRootTrees();
    if (zk::BootScriptSystem() != 0) {
        std::printf("boot failed\n");
        return 0;
    }
    Pass();  // warm: the first wait

    uint64_t before = allocations.load();
    Clock::time_point start = Clock::now();
    Pass();
    const double loop_seconds = Seconds(Clock::now() - start);
    const uint64_t loop_allocations = allocations.load() - before;
    const double commands = 3.0 * static_cast<double>(kIterations);
    std::printf("counted loop: %lld iterations, %.0f commands in %.3f s: %.1f M commands/s, %llu allocations\n",
                static_cast<long long>(kIterations), commands, loop_seconds, commands / loop_seconds / 1e6,
                static_cast<unsigned long long>(loop_allocations));

    before = allocations.load();
    start = Clock::now();
    Pass();
    const double call_seconds = Seconds(Clock::now() - start);
    std::printf("call with 3 arguments and return with 1 value: %lld in %.3f s: %.2f M calls/s, %llu allocations\n",
                static_cast<long long>(kCalls), call_seconds, static_cast<double>(kCalls) / call_seconds / 1e6,
                static_cast<unsigned long long>(allocations.load() - before));

    const double lua = LuaSeconds();
    if (lua < 0) {
        std::printf("lua5.4 not installed\n");
    } else {
        // Lua's loop is one FORLOOP and one ADD per round.
        std::printf("lua5.4 same loop: %.3f s (%.1f M rounds/s); engine time / Lua time = %.2f\n", lua,
                    static_cast<double>(kIterations) / lua / 1e6, loop_seconds / lua);
    }
    zk::FreeRootTrees();
    fs::current_path(old);
    std::error_code ec;
    fs::remove_all(folder, ec);
    return 0;
}
