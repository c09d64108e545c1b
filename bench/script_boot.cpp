// The script boot on a game with 100,000 labels and 10,000 variable
// definitions, against reading the same files' bytes through the file
// sources in the same run; and FindLabel over all 100,000 names against
// std::unordered_map<std::string, int32_t> over the same names.
// Informational only: it never fails.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/engine_hooks.h"
#include "core/named_tree.h"
#include "core/root_trees.h"
#include "platform/game_path.h"
#include "script/boot.h"
#include "script/compiled_tables.h"
#include "script/evaluator_setup.h"
#include "script/labels.h"
#include "script/script_file.h"
#include "script/script_task.h"
#include "storage/descramble.h"
#include "storage/file_source.h"
#include "tools/lib/script_writer.h"
#include "layers/layer_tree_root.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kFiles = 10;
constexpr int kLabelsPerFile = 10'000;  // one per command: 100,000 labels
constexpr int kVariables = 10'000;
constexpr int kRuns = 5;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

void BuildGame(const fs::path& folder) {
    zk::tools::GameBuilder game;
    game.variable_table.highest_number = 1000 + kVariables;
    for (int file = 0; file < kFiles; ++file) {
        zk::tools::ScriptBuilder& script = game.Script(static_cast<uint16_t>(file));
        if (file == 0) script.Label("SYSTEM_START");
        for (int i = 0; i < kLabelsPerFile; ++i) {
            script.Label("L" + std::to_string(file) + "_" + std::to_string(i));
            script.Add(104, {zk::tools::CodeArg(0, 1, zk::tools::IntLiteralCode(i))});
        }
    }
    for (int v = 0; v < kVariables; ++v) {
        zk::tools::VariableDef definition;
        definition.number = static_cast<uint16_t>(1000 + v);
        definition.type = static_cast<uint8_t>(1 + v % 3);
        definition.sizes = {1 + v % 4};
        definition.integer_value = v;
        definition.real_value = v * 0.5;
        if (definition.type == 3) definition.text_code = zk::tools::TextLiteralCode("initial");
        game.variables.definitions.push_back(definition);
    }
    game.Write(folder);
}

}  // namespace

int main() {
    fs::path folder = fs::temp_directory_path() / ("zk-bench-script-boot-" + std::to_string(getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    fs::path old_cwd = fs::current_path();
    BuildGame(folder);
    fs::current_path(folder);
    zk::platform::ClearPathCache();
    zk::BuildDescrambleTables();
    zk::FillEvaluatorTables();
    zk::InstallEvaluatorCommands();
    zk::InitPathCharTable();
    zk::Hooks().create_script_task = zk::CreateScriptTaskHook;

    // What the boot reads, read alone.
    const std::vector<std::string> names = {"zkbin\\zke.zbn", "zkbin\\zkc.zbn", "zkbin\\zkt.zbn", "zkbin\\zkt_list.zbn",
                                            "zkbin\\zkv.zbn", "zkbin\\zkl.zbn", "zkbin\\zkt00000.zbn"};
    double read_ms = 1e30, boot_ms = 1e30;
    size_t bytes = 0;
    int boot_result = 0;
    for (int run = 0; run < kRuns; ++run) {
        auto start = Clock::now();
        bytes = 0;
        for (const std::string& name : names) {
            zk::FileSource source;
            if (zk::ResolveFileSource(source, name) > 0 && zk::LoadFromSource(source, name) == 0) bytes += source.data.size();
        }
        read_ms = std::min(read_ms, Ms(Clock::now() - start));

        zk::ResetCompiledTables();
        zk::Hooks().create_layer_tree = zk::CreateLayerTree;
        zk::CreateRootTrees();
        start = Clock::now();
        boot_result = zk::BootScriptSystem();
        boot_ms = std::min(boot_ms, Ms(Clock::now() - start));
        zk::FreeRootTrees();
    }
    std::printf("script_boot: %d labels, %d variable definitions, %zu bytes read\n", kFiles * kLabelsPerFile, kVariables,
                bytes);
    std::printf("  boot (result %d)        %8.2f ms (best of %d)\n", boot_result, boot_ms, kRuns);
    std::printf("  reading the same bytes  %8.2f ms\n", read_ms);
    std::printf("  ratio                   %8.2f\n", read_ms > 0 ? boot_ms / read_ms : 0.0);

    // Lookups of every label name.
    const auto& entries = zk::TheCompiledTables().labels.entries;
    std::unordered_map<std::string, int32_t> map;
    map.reserve(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) map.emplace(entries[i].name, static_cast<int32_t>(i));
    int64_t label_sum = 0, map_sum = 0;
    auto start = Clock::now();
    for (const auto& entry : entries) label_sum += zk::FindLabel(entry.name);
    double label_ns = Ms(Clock::now() - start) * 1e6 / static_cast<double>(entries.size());
    start = Clock::now();
    for (const auto& entry : entries) map_sum += map.find(entry.name)->second;
    double map_ns = Ms(Clock::now() - start) * 1e6 / static_cast<double>(entries.size());
    std::printf("  FindLabel               %8.1f ns per lookup (%zu labels)\n", label_ns, entries.size());
    std::printf("  unordered_map           %8.1f ns per lookup%s\n", map_ns,
                label_sum == map_sum ? "" : "  (results differ!)");

    zk::ResetCompiledTables();
    fs::current_path(old_cwd);
    fs::remove_all(folder);
    return 0;
}
