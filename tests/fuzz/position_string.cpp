// DecodePositionString over arbitrary text: a refused text leaves the task
// as it was; an accepted one leaves depths and indexes that the runner and
// the control-flow commands can trust, and encodes back to the same prefix.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/named_tree.h"
#include "script/compiled_tables.h"
#include "script/position_string.h"
#include "script/script_file.h"
#include "script/script_task.h"
#include "tests/fuzz/decoder_fuzz_support.h"

namespace {

// Two file names in the list; file 0 is loaded with four commands.
void SetUpTables() {
    static bool ready = [] {
        zk::TheCompiledTables().file_list.names = {"main.txt", "other.txt"};
        zk::CreateScriptFileTable(2);
        auto file = std::make_unique<zk::ScriptFile>();
        file->state = zk::ScriptFileState::kLoaded;
        file->command_count = 4;
        file->codes.assign(4, 0);
        file->info_words.assign(4, 0);
        file->arg_counts.assign(4, 0);
        file->first_arg.assign(4, 0);
        file->lines.assign(4, 1);
        zk::TheScriptFileTable().files[0] = std::move(file);
        return true;
    }();
    (void)ready;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zk::fuzzing::SetUpDecoderFuzzing();
    SetUpTables();
    zk::ResetEngineState();
    zk::ResetErrorReporter();
    zk::ScriptTask task;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const int64_t consumed = zk::DecodePositionString(text, &task);
    if (consumed <= 0) {
        if (task.block_depth != 0 || task.call_depth != 0 || task.loop_depth != 0 || task.next_index != 0) __builtin_trap();
        return 0;
    }
    if (task.block_depth < 0 || task.block_depth > 127 || task.call_depth < 0 || task.call_depth > 63 ||
        task.loop_depth < 0 || task.loop_depth > 63 || task.next_index >= 4 || static_cast<size_t>(consumed) > size) {
        __builtin_trap();
    }
    for (int b = 0; b <= task.block_depth; ++b) {
        if (task.blocks[static_cast<size_t>(b)] == nullptr) __builtin_trap();
    }
    std::string again;
    zk::EncodePositionString(again, &task);
    if (again.size() != static_cast<size_t>(consumed)) __builtin_trap();
    return 0;
}
