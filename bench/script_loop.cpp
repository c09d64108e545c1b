// Commands per second of the script machine on two loops over global
// (script) variables: the counted loop (loop N / x += 1 / end, whose loop end
// jumps back past the loop begin) and a while-like loop (x += 1 / i += 1 /
// if i >= N break). Each is compared with Lua 5.4, run as a subprocess,
// doing the same rounds with globals and with locals; and a call with
// arguments and its return.
// Heap allocations are counted in steady state with a replaced operator
// new: a command must not allocate. Informational only: it never fails.
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>

#include "core/engine_hooks.h"
#include "core/engine_state.h"
#include "core/named_tree.h"
#include "core/root_trees.h"
#include "core/settings.h"
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
#include "layers/layer_tree_root.h"

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
constexpr int64_t kCalibration = 1000;
constexpr int64_t kCalls = 500'000;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// One pass of the task tree: the script runs to its next wait.
void Pass() {
    zk::TheFrameCounters.script_pass_count += 1;
    zk::RunTaskTreeHook();
}

// Commands one round of a loop form runs, counted rather than assumed: a
// pass over the same loop with kCalibration rounds under the debug switch,
// whose step counter sees every command (the wait and loop set-up around
// it round away).
double CommandsPerRound() {
    zk::Settings().debug = 1;
    const uint64_t before = zk::DebugStepCount();
    Pass();
    const uint64_t steps = zk::DebugStepCount() - before;
    zk::Settings().debug = 0;
    return std::round(static_cast<double>(steps) / static_cast<double>(kCalibration));
}

struct Timed {
    double seconds = 0;
    uint64_t allocations = 0;
};

Timed TimedPass() {
    const uint64_t before = allocations.load();
    const Clock::time_point start = Clock::now();
    Pass();
    return {Seconds(Clock::now() - start), allocations.load() - before};
}

// Lua 5.4 running the same rounds, in one subprocess: global while loop,
// global for loop, local while loop, local for loop, and the while-like
// loop with globals (add, add, test, break). Seconds each by os.clock;
// false when lua5.4 is missing or says nothing.
bool LuaSeconds(std::array<double, 5>& out) {
    if (std::system("command -v lua5.4 > /dev/null 2>&1") != 0) return false;
    const std::string n = std::to_string(kIterations);
    const std::string program =
        "local c=os.clock "
        "local t=c() x=0 i=0 while i<" + n + " do x=x+1 i=i+1 end io.write(c()-t,' ') "
        "t=c() x=0 for j=1," + n + " do x=x+1 end io.write(c()-t,' ') "
        "do t=c() local x,i=0,0 while i<" + n + " do x=x+1 i=i+1 end io.write(c()-t,' ') end "
        "do t=c() local x=0 for j=1," + n + " do x=x+1 end io.write(c()-t,' ') end "
        "t=c() x=0 i=0 while true do x=x+1 i=i+1 if i>=" + n + " then break end end io.write(c()-t,'\\n')";
    const std::string command = "lua5.4 -e \"" + program + "\"";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return false;
    bool ok = true;
    for (double& seconds : out) ok = ok && std::fscanf(pipe, "%lf", &seconds) == 1;
    pclose(pipe);
    return ok;
}

void PrintLoop(const char* name, double per_round, const Timed& t) {
    const double rounds = static_cast<double>(kIterations);
    std::printf("%s: %lld rounds of %.0f commands in %.3f s: %.1f M commands/s, %.1f M rounds/s, %llu allocations\n",
                name, static_cast<long long>(kIterations), per_round, t.seconds,
                per_round * rounds / t.seconds / 1e6, rounds / t.seconds / 1e6,
                static_cast<unsigned long long>(t.allocations));
}

}  // namespace

int main() {
    const fs::path folder = fs::temp_directory_path() / ("zk-bench-loop-" + std::to_string(getpid()));
    fs::create_directories(folder / "zkbin");
    const std::string n = std::to_string(kIterations);
    const std::string calibration = std::to_string(kCalibration);
    // Each loop form runs twice: a short calibration pass, then the timed one.
    zk::tools::ScriptText script = zk::tools::ScriptGame(R"(
int x
int i
label SYSTEM_START
wait 1
loop )" + calibration + R"(
  x += 1
end
wait 1
loop )" + n + R"(
  x += 1
end
wait 1
i = 0
loop
  x += 1
  i += 1
  if i >= )" + calibration + R"(
    break
  end
end
wait 1
i = 0
loop
  x += 1
  i += 1
  if i >= )" + n + R"(
    break
  end
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
    zk::Hooks().create_layer_tree = zk::CreateLayerTree;
    zk::CreateRootTrees();
    if (zk::BootScriptSystem() != 0) {
        std::printf("boot failed\n");
        return 0;
    }
    Pass();  // warm: the first wait

    const double counted_per_round = CommandsPerRound();
    const Timed counted = TimedPass();
    PrintLoop("counted loop (loop N / x += 1 / end)", counted_per_round, counted);
    const double while_per_round = CommandsPerRound();
    const Timed while_like = TimedPass();
    PrintLoop("while-like loop (x += 1 / i += 1 / if i >= N break)", while_per_round, while_like);

    const Timed calls = TimedPass();
    std::printf("call with 3 arguments and return with 1 value: %lld in %.3f s: %.2f M calls/s, %llu allocations\n",
                static_cast<long long>(kCalls), calls.seconds, static_cast<double>(kCalls) / calls.seconds / 1e6,
                static_cast<unsigned long long>(calls.allocations));

    std::array<double, 5> lua{};
    if (!LuaSeconds(lua)) {
        std::printf("lua5.4 not installed\n");
    } else {
        const double rounds = static_cast<double>(kIterations);
        const char* names[5] = {"global while", "global for", "local while", "local for", "global while-like"};
        for (size_t k = 0; k < lua.size(); ++k) {
            std::printf("lua5.4 %s: %.3f s (%.1f M rounds/s)\n", names[k], lua[k], rounds / lua[k] / 1e6);
        }
        // Speed ratios: above 1 the engine is faster.
        std::printf("counted loop speed / Lua: global while %.2f, global for %.2f, local while %.2f, local for %.2f\n",
                    lua[0] / counted.seconds, lua[1] / counted.seconds, lua[2] / counted.seconds,
                    lua[3] / counted.seconds);
        std::printf("while-like loop speed / Lua global while-like: %.2f\n", lua[4] / while_like.seconds);
    }
    zk::FreeRootTrees();
    fs::current_path(old);
    std::error_code ec;
    fs::remove_all(folder, ec);
    return 0;
}
