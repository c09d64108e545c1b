#include "script/position_string.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

#include "base/ascii.h"
#include "core/error_report.h"
#include "script/command_table.h"
#include "script/compiled_tables.h"
#include "script/script_file.h"
#include "script/script_task.h"
#include "script/task_runner.h"

namespace zk {

namespace {

constexpr uint8_t kCmdStartTask = 95;
constexpr size_t kBlockLetters = 18;
constexpr size_t kCallLetters = 20;
constexpr size_t kLoopLetters = 34;
constexpr uint32_t kIndexLimit = 0x7FFFFFFFu;  // indexes are int32 in the task

void PutLetters(std::string& out, uint32_t value, int letters) {
    for (int shift = (letters - 1) * 4; shift >= 0; shift -= 4) out.push_back(static_cast<char>('a' + ((value >> shift) & 0xF)));
}

// Reads the text front to back; any letter outside 'a'..'p' or a read past
// the end marks it failed, and every later read gives 0.
class LetterReader {
public:
    explicit LetterReader(std::string_view text) : text_(text) {}

    uint32_t Read(int letters) {
        if (failed_ || text_.size() - position_ < static_cast<size_t>(letters)) {
            failed_ = true;
            return 0;
        }
        uint32_t value = 0;
        for (int i = 0; i < letters; ++i) {
            const char c = text_[position_++];
            if (c < 'a' || c > 'p') {
                failed_ = true;
                return 0;
            }
            value = (value << 4) | static_cast<uint32_t>(c - 'a');
        }
        return value;
    }
    std::string_view Bytes(uint64_t length) {
        if (failed_ || length > text_.size() - position_) {
            failed_ = true;
            return {};
        }
        std::string_view bytes = text_.substr(position_, static_cast<size_t>(length));
        position_ += static_cast<size_t>(length);
        return bytes;
    }
    // A value that must not pass `limit`.
    uint32_t ReadAtMost(int letters, uint32_t limit) {
        const uint32_t value = Read(letters);
        if (value > limit) failed_ = true;
        return value;
    }
    void Skip(size_t bytes) { position_ += bytes; }
    bool Failed() const { return failed_; }
    size_t Position() const { return position_; }

private:
    std::string_view text_;
    size_t position_ = 0;
    bool failed_ = false;
};

struct DecodedCall {
    uint8_t saved_block_depth = 0;
    uint8_t saved_loop_depth = 0;
    int32_t return_index = 0;
    uint16_t return_file = 0;
};

struct DecodedPosition {
    int8_t block_depth = 0;
    std::array<BlockFrame, kBlockStackSize> blocks{};
    int8_t call_depth = 0;
    std::array<DecodedCall, kCallStackSize> calls{};
    int8_t loop_depth = 0;
    std::array<LoopFrame, kLoopStackSize> loops{};
    uint32_t message_tag = 0;
    int32_t next_index = 0;
    std::string_view file_name;
};

std::optional<uint16_t> FindFileByName(std::string_view name) {
    const std::vector<std::string>& names = TheCompiledTables().file_list.names;
    for (size_t number = 0; number < names.size() && number <= 0xFFFF; ++number) {
        if (AsciiEqualsIgnoreCase(names[number], name)) return static_cast<uint16_t>(number);
    }
    return std::nullopt;
}

// Parses and checks the layout; false for any damage.
bool ParsePosition(std::string_view text, DecodedPosition& out, size_t& consumed) {
    if (text.size() < kPositionHeaderSize) return false;
    for (size_t i = 0; i < kPositionHeaderSize; ++i) {
        if (static_cast<uint8_t>(text[i]) != i + 1) return false;
    }
    LetterReader reader(text);
    reader.Skip(kPositionHeaderSize);
    const uint32_t file_count = static_cast<uint32_t>(TheCompiledTables().file_list.names.size());

    out.block_depth = static_cast<int8_t>(reader.ReadAtMost(2, kBlockStackSize - 1));
    for (int b = 0; b < out.block_depth && !reader.Failed(); ++b) {
        BlockFrame& block = out.blocks[static_cast<size_t>(b)];
        block.loop_depth = static_cast<int8_t>(reader.ReadAtMost(2, kLoopStackSize - 1));
        block.begin_index = static_cast<int32_t>(reader.ReadAtMost(8, kIndexLimit));
        block.end_target = static_cast<int32_t>(reader.ReadAtMost(8, kIndexLimit));
    }
    out.call_depth = static_cast<int8_t>(reader.ReadAtMost(2, kCallStackSize - 1));
    for (int c = 0; c < out.call_depth && !reader.Failed(); ++c) {
        DecodedCall& call = out.calls[static_cast<size_t>(c)];
        call.saved_block_depth = static_cast<uint8_t>(reader.ReadAtMost(2, kBlockStackSize - 1));
        call.saved_loop_depth = static_cast<uint8_t>(reader.ReadAtMost(2, kLoopStackSize - 1));
        call.return_index = static_cast<int32_t>(reader.ReadAtMost(8, kIndexLimit));
        reader.ReadAtMost(4, 0);  // the file number's high half, always "aaaa"
        const uint32_t file = reader.Read(4);
        if (file >= file_count) return false;
        call.return_file = static_cast<uint16_t>(file);
    }
    out.loop_depth = static_cast<int8_t>(reader.ReadAtMost(2, kLoopStackSize - 1));
    for (int l = 0; l < out.loop_depth && !reader.Failed(); ++l) {
        LoopFrame& loop = out.loops[static_cast<size_t>(l)];
        loop.block_depth = static_cast<int8_t>(reader.ReadAtMost(2, kBlockStackSize - 1));
        loop.begin_index = static_cast<int32_t>(reader.ReadAtMost(8, kIndexLimit));
        loop.end_target = static_cast<int32_t>(reader.ReadAtMost(8, kIndexLimit));
        // Sign-extended, so that an endless count survives the round trip.
        loop.counter = static_cast<uint64_t>(int64_t{static_cast<int32_t>(reader.Read(8))});
        loop.count = static_cast<uint64_t>(int64_t{static_cast<int32_t>(reader.Read(8))});
    }
    out.message_tag = reader.Read(8);
    out.next_index = static_cast<int32_t>(reader.ReadAtMost(8, kIndexLimit));
    const uint32_t name_length = reader.Read(8);
    out.file_name = reader.Bytes(name_length);
    if (reader.Failed()) return false;
    consumed = reader.Position();
    return true;
}

}  // namespace

int64_t EncodePositionString(std::string& out, const ScriptTask* task) {
    if (task == nullptr) return -1;
    const int blocks = std::clamp<int>(task->block_depth, 0, kBlockStackSize - 1);
    const int calls = std::clamp<int>(task->call_depth, 0, kCallStackSize - 1);
    const int loops = std::clamp<int>(task->loop_depth, 0, kLoopStackSize - 1);
    const std::string_view name = ScriptFileName(task->file_number);
    out.clear();
    out.reserve(kPositionHeaderSize + 2 + kBlockLetters * blocks + 2 + kCallLetters * calls + 2 +
                kLoopLetters * loops + 24 + name.size());
    for (size_t i = 0; i < kPositionHeaderSize; ++i) out.push_back(static_cast<char>(i + 1));

    PutLetters(out, static_cast<uint32_t>(blocks), 2);
    for (int b = 0; b < blocks; ++b) {
        const BlockFrame block = task->blocks[static_cast<size_t>(b)] ? *task->blocks[static_cast<size_t>(b)] : BlockFrame{};
        PutLetters(out, static_cast<uint8_t>(block.loop_depth), 2);
        PutLetters(out, static_cast<uint32_t>(block.begin_index), 8);
        PutLetters(out, static_cast<uint32_t>(block.end_target), 8);
    }
    PutLetters(out, static_cast<uint32_t>(calls), 2);
    for (int c = 0; c < calls; ++c) {
        const CallFrame* call = task->calls[static_cast<size_t>(c)].get();
        PutLetters(out, call != nullptr ? call->saved_block_depth : 0, 2);
        PutLetters(out, call != nullptr ? call->saved_loop_depth : 0, 2);
        PutLetters(out, call != nullptr ? static_cast<uint32_t>(call->return_index) : 0, 8);
        PutLetters(out, call != nullptr ? call->return_file : 0, 8);
    }
    PutLetters(out, static_cast<uint32_t>(loops), 2);
    for (int l = 0; l < loops; ++l) {
        const LoopFrame loop = task->loops[static_cast<size_t>(l)] ? *task->loops[static_cast<size_t>(l)] : LoopFrame{};
        PutLetters(out, static_cast<uint8_t>(loop.block_depth), 2);
        PutLetters(out, static_cast<uint32_t>(loop.begin_index), 8);
        PutLetters(out, static_cast<uint32_t>(loop.end_target), 8);
        PutLetters(out, static_cast<uint32_t>(loop.counter), 8);
        PutLetters(out, static_cast<uint32_t>(loop.count), 8);
    }
    PutLetters(out, task->message_tag, 8);
    PutLetters(out, static_cast<uint32_t>(task->next_index), 8);
    PutLetters(out, static_cast<uint32_t>(name.size()), 8);
    out.append(name);
    return static_cast<int64_t>(out.size());
}

int64_t DecodePositionString(std::string_view text, ScriptTask* task) {
    if (task == nullptr) return -1;
    // Decoded aside and committed only once all of it has been checked.
    auto decoded = std::make_unique<DecodedPosition>();
    size_t consumed = 0;
    if (!ParsePosition(text, *decoded, consumed)) {
        ReportScriptError(kErrBadPositionString, true);
        return 0;
    }
    const std::optional<uint16_t> file_number = FindFileByName(decoded->file_name);
    if (!file_number) {
        ReportScriptErrorF(kErrPositionFileUnknown, true, {CommandName(kCmdStartTask), decoded->file_name});
        return 0;
    }
    if (LoadScriptFile(*file_number) != 1) return 0;  // reported by the loader
    const ScriptFile* file = LoadedScriptFile(*file_number);
    if (file == nullptr || decoded->next_index >= file->command_count) {
        ReportScriptError(kErrBadPositionString, true);
        return 0;
    }
    // Every frame up to each depth, and the next free one above, before the
    // task changes (a failed allocation leaves the task as it was).
    for (int b = 0; b <= decoded->block_depth; ++b) {
        if (BlockAt(*task, b) == nullptr) return 0;
    }
    for (int c = 0; c <= decoded->call_depth; ++c) {
        if (CallAt(*task, c) == nullptr) return 0;
    }
    for (int l = 0; l <= decoded->loop_depth; ++l) {
        if (LoopAt(*task, l) == nullptr) return 0;
    }

    task->block_depth = decoded->block_depth;
    for (int b = 0; b < decoded->block_depth; ++b) *task->blocks[static_cast<size_t>(b)] = decoded->blocks[static_cast<size_t>(b)];
    task->call_depth = decoded->call_depth;
    for (int c = 0; c < decoded->call_depth; ++c) {
        CallFrame& call = *task->calls[static_cast<size_t>(c)];
        const DecodedCall& from = decoded->calls[static_cast<size_t>(c)];
        call.saved_block_depth = from.saved_block_depth;
        call.saved_loop_depth = from.saved_loop_depth;
        call.return_index = from.return_index;
        call.return_file = from.return_file;
    }
    task->loop_depth = decoded->loop_depth;
    for (int l = 0; l < decoded->loop_depth; ++l) *task->loops[static_cast<size_t>(l)] = decoded->loops[static_cast<size_t>(l)];
    task->message_tag = decoded->message_tag;
    task->next_index = decoded->next_index;
    BindTaskToFile(*task, *file_number, *file);
    return static_cast<int64_t>(consumed);
}

}  // namespace zk
