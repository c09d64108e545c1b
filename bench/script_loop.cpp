// Commands per second of the script machine on two loops over global
// (script) variables: the counted loop (loop N / x += 1 / end, whose loop end
// jumps back past the loop begin) and a while-like loop (x += 1 / i += 1 /
// if i >= N break). Each is compared with Lua 5.4, run as a subprocess,
// doing the same rounds with globals and with locals; and a call with
// arguments and its return. The lines with a ratio set like against like:
// the counted loop against Lua's numeric for, the while-like loop against
// Lua's while loop with the same test and break, the call against a call of
// a global Lua function with the same arguments whose result is stored in a
// global. Both sides are timed by processor time (Lua's os.clock is C's
// clock()), in interleaved rounds: each round runs the engine's three loops,
// then Lua's; the best round counts and the spread (worst / best) is shown.
// Heap allocations are counted in steady state with a replaced operator
// new: a command must not allocate. Informational only: it never fails.
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <algorithm>
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

constexpr int64_t kIterations = 3'000'000;
constexpr int64_t kCalibration = 1000;
constexpr int64_t kCalls = 500'000;
constexpr int kRounds = 3;

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
    const std::clock_t start = std::clock();
    Pass();
    return {double(std::clock() - start) / CLOCKS_PER_SEC, allocations.load() - before};
}

// Lua 5.4 running the same rounds, in one subprocess: global while loop,
// global for loop, local while loop, local for loop, the while-like loop
// with globals (add, add, test, break), and the calls. Seconds each by os.clock;
// false when lua5.4 is missing or says nothing.
bool LuaSeconds(std::array<double, 6>& out) {
    if (std::system("command -v lua5.4 > /dev/null 2>&1") != 0) return false;
    const std::string n = std::to_string(kIterations);
    const std::string program =
        "local c=os.clock "
        "local t=c() x=0 i=0 while i<" + n + " do x=x+1 i=i+1 end io.write(c()-t,' ') "
        "t=c() x=0 for j=1," + n + " do x=x+1 end io.write(c()-t,' ') "
        "do t=c() local x,i=0,0 while i<" + n + " do x=x+1 i=i+1 end io.write(c()-t,' ') end "
        "do t=c() local x=0 for j=1," + n + " do x=x+1 end io.write(c()-t,' ') end "
        "t=c() x=0 i=0 while true do x=x+1 i=i+1 if i>=" + n + " then break end end io.write(c()-t,' ') "
        "function SUB(a,b,s) return 7 end "
        "t=c() for j=1," + std::to_string(kCalls) + " do r=SUB(1,2.5,'a') end io.write(c()-t,'\\n')";
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
    // Each loop form runs first as a short calibration pass; then kRounds
    // rounds of the three timed loops.
    std::string rounds;
    for (int r = 0; r < kRounds; ++r) {
        rounds += "wait 1\nloop " + n + "\n  x += 1\nend\n";
        rounds += "wait 1\ni = 0\nloop\n  x += 1\n  i += 1\n  if i >= " + n + "\n    break\n  end\nend\n";
        rounds += "wait 1\nloop " + std::to_string(kCalls) + "\n  call SUB(1, 2.5, \"a\")\nend\n";
    }
    zk::tools::ScriptText script = zk::tools::ScriptGame(R"(
int x
int i
label SYSTEM_START
wait 1
loop )" + calibration + R"(
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
)" + rounds + R"(
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
    const double while_per_round = CommandsPerRound();
    struct Best {
        double best = 1e30, worst = 0;
        void Add(double t) {
            best = std::min(best, t);
            worst = std::max(worst, t);
        }
    };
    Best counted, while_like, calls, lua_for, lua_while, lua_call;
    Timed counted_last, while_last, calls_last;
    std::array<double, 6> lua{};
    bool have_lua = true;
    for (int r = 0; r < kRounds; ++r) {
        counted_last = TimedPass();
        while_last = TimedPass();
        calls_last = TimedPass();
        counted.Add(counted_last.seconds);
        while_like.Add(while_last.seconds);
        calls.Add(calls_last.seconds);
        if (have_lua && LuaSeconds(lua)) {
            lua_for.Add(lua[1]);
            lua_while.Add(lua[4]);
            lua_call.Add(lua[5]);
        } else {
            have_lua = false;
        }
    }
    PrintLoop("counted loop (loop N / x += 1 / end)", counted_per_round, {counted.best, counted_last.allocations});
    PrintLoop("while-like loop (x += 1 / i += 1 / if i >= N break)", while_per_round,
              {while_like.best, while_last.allocations});
    std::printf("call with 3 arguments and return with 1 value: %lld in %.3f s: %.2f M calls/s, %llu allocations\n",
                static_cast<long long>(kCalls), calls.best, static_cast<double>(kCalls) / calls.best / 1e6,
                static_cast<unsigned long long>(calls_last.allocations));

    if (!have_lua) {
        std::printf("lua5.4 not installed\n");
    } else {
        const double rounds_n = static_cast<double>(kIterations);
        const char* names[5] = {"global while", "global for", "local while", "local for", "global while-like"};
        for (size_t k = 0; k < 5; ++k)
            std::printf("lua5.4 %s (last round): %.3f s (%.1f M rounds/s)\n", names[k], lua[k], rounds_n / lua[k] / 1e6);
        std::printf("lua5.4 global call (last round): %.3f s\n", lua[5]);
        // Like for like, best of %d interleaved rounds; above 1 the engine is faster.
        auto line = [](const char* label, const Best& engine, const Best& base) {
            std::printf("  (engine %.3f s, spread %.2f; Lua %.3f s, spread %.2f)\n", engine.best,
                        engine.worst / engine.best, base.best, base.worst / base.best);
            std::printf("%s: %.2f\n", label, base.best / engine.best);
        };
        line("counted vs Lua for (globals)", counted, lua_for);
        line("while vs Lua while (globals)", while_like, lua_while);
        line("call vs Lua call (globals)", calls, lua_call);
    }
    zk::FreeRootTrees();
    fs::current_path(old);
    std::error_code ec;
    fs::remove_all(folder, ec);
    return 0;
}
