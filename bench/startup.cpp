// Start-up to the first frame, by phase: the demo game (built beside this
// benchmark) run headless for one frame, seven times, with
// ZORVEK_STARTUP_PHASES=1 so that it prints when each phase ended on the
// monotonic clock this process shares. The first phase runs from starting
// the process (through the shell) to the engine's entry; the baseline is
// starting /bin/true the same way, in the same interleaved rounds.
// Prints the best and the median of each phase; never fails.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kRounds = 7;

long long NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

struct Run {
    std::vector<std::pair<std::string, double>> phases;  // name, milliseconds
    double total_ms = 0;                                   // spawn to first frame
    double exit_ms = 0;                                    // spawn to the process's end
};

bool RunEngine(const std::string& command, Run& run) {
    const long long start = NowNs();
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return false;
    char line[512];
    long long previous = start;
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        long long at = 0;
        char name[256] = {};
        if (std::sscanf(line, "startup phase %lld %255[^\n]", &at, name) != 2) continue;
        run.phases.emplace_back(name, double(at - previous) / 1e6);
        previous = at;
        if (std::strcmp(name, "first frame") == 0) run.total_ms = double(at - start) / 1e6;
    }
    const int status = pclose(pipe);
    run.exit_ms = double(NowNs() - start) / 1e6;
    return status == 0 && run.total_ms > 0;
}

double SpawnTrue() {
    const long long start = NowNs();
    FILE* pipe = popen("/bin/true", "r");
    if (pipe == nullptr) return 0;
    pclose(pipe);
    return double(NowNs() - start) / 1e6;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main() {
    std::error_code error;
    const fs::path here = fs::read_symlink("/proc/self/exe", error).parent_path();
    const fs::path engine = here / "zorvek", game = here / "demo-game";
    if (!fs::exists(engine, error) || !fs::is_directory(game, error)) {
        std::printf("start-up: no engine or demo game beside the benchmark\n");
        return 0;
    }
    const std::string command = "ZORVEK_STARTUP_PHASES=1 '" + engine.string() + "' --game '" + game.string() +
                                "' --headless --frames 1 2>&1 >/dev/null";
    std::vector<std::string> order;
    std::map<std::string, std::vector<double>> phases;
    std::vector<double> totals, exits, spawns;
    for (int round = 0; round < kRounds; ++round) {
        spawns.push_back(SpawnTrue());
        Run run;
        if (!RunEngine(command, run)) {
            std::printf("start-up: the demo game did not reach its first frame\n");
            return 0;
        }
        for (const auto& [name, ms] : run.phases) {
            if (!phases.count(name)) order.push_back(name);
            phases[name].push_back(ms);
        }
        totals.push_back(run.total_ms);
        exits.push_back(run.exit_ms);
    }
    std::printf("start-up of the demo game to its first frame, headless (%d rounds; ms, best / median):\n", kRounds);
    for (const std::string& name : order) {
        const std::vector<double>& v = phases[name];
        std::printf("  %-36s %8.2f / %8.2f\n", (name == "started" ? "process start to engine entry" : name.c_str()),
                    *std::min_element(v.begin(), v.end()), Median(v));
    }
    std::printf("  %-36s %8.2f / %8.2f\n", "total to the first frame", *std::min_element(totals.begin(), totals.end()),
                Median(totals));
    std::printf("  %-36s %8.2f / %8.2f\n", "to the process's end (one frame)", *std::min_element(exits.begin(), exits.end()),
                Median(exits));
    std::printf("  %-36s %8.2f / %8.2f\n", "baseline: starting /bin/true", *std::min_element(spawns.begin(), spawns.end()),
                Median(spawns));
    return 0;
}
