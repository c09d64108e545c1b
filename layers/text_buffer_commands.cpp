// The message commands over the TextBuffer: 81 closes the message and
// waits a frame, 108 appends the line's own text as written, 112 appends a
// value written out.
#include "layers/text_buffer_commands.h"

#include <cstdio>
#include <memory>
#include <string>

#include "base/byte_reader.h"
#include "base/sjis.h"
#include "core/error_report.h"
#include "layers/text_buffer.h"
#include "script/command_table.h"
#include "script/expr_eval.h"
#include "script/script_task.h"

namespace zk {

namespace {

// Longest value command 112 writes out.
constexpr size_t kAppendedValueLimit = 1024;

// One kind code, while the stream has room for it and its NUL: codes that
// no longer fit are dropped.
void AppendKind(TextBuffer& buffer, char kind) {
    if (buffer.kind_count < 0 || buffer.kind_count >= int32_t(kTextBufferBytes) - 1) return;
    buffer.kinds[size_t(buffer.kind_count)] = kind;
    buffer.kind_count += 1;
    buffer.kinds[size_t(buffer.kind_count)] = '\0';
}

// Text bytes, within the limit the commands have already checked.
void AppendText(TextBuffer& buffer, std::string_view bytes) {
    for (char c : bytes) {
        if (buffer.text_length < 0 || buffer.text_length >= int32_t(kTextBufferBytes) - 1) break;
        buffer.text[size_t(buffer.text_length)] = c;
        buffer.text_length += 1;
    }
    if (buffer.text_length >= 0 && buffer.text_length < int32_t(kTextBufferBytes)) {
        buffer.text[size_t(buffer.text_length)] = '\0';
    }
}

// The value of a record, written out by its expression type: 1 an integer
// in decimal, 2 a real with "%f", 3 a text; any other type the empty text.
std::string ValueText(const CommandArgSlot& slot) {
    switch (slot.expr_type) {
        case 1: return std::to_string(EvalIntExpr(slot.code).integer);
        case 2: {
            char out[512];
            const int n = std::snprintf(out, sizeof out, "%f", EvalRealExpr(slot.code).real);
            // A real too large for the buffer is written as far as it goes.
            return std::string(out, n < 0 ? 0 : std::min<size_t>(size_t(n), sizeof out - 1));
        }
        case 3: {
            auto buffer = std::make_unique<char[]>(kExprTextSize);
            const ExprValue value = EvalTextExpr(slot.code, std::span<char>(buffer.get(), kExprTextSize));
            const std::string_view text(buffer.get(), std::min(value.text_length, kExprTextSize - 1));
            return std::string(text.substr(0, text.find('\0')));
        }
        default: return {};
    }
}

// The record of argument slot 1, with its code inside the data section.
const CommandArgSlot* FirstRecord() {
    const CommandArgSlot* slot = Args().Record(1);
    if (slot == nullptr || slot->code.size() != slot->code_length) {
        ReportScriptError(kErrMalformedCode, true);
        return nullptr;
    }
    return slot;
}

}  // namespace

int32_t CmdEndMessage() {
    // The message's place in the script: the first two words of the line's
    // first argument record.
    ByteReader record(CurrentCommand().args);
    const uint32_t tag = record.U32().value_or(0);
    const uint32_t length_word = record.U32().value_or(0);
    TextBuffer& buffer = TheTextBuffer();
    buffer.dirty = 1;
    AppendKind(buffer, kTextKindEnd);
    if (ScriptTask* task = TheCurrentTask().task) {
        task->message_tag = tag;
        task->message_length_word = length_word;
        task->text_clear_request = 1;
    }
    return -1;
}

int32_t CmdAppendInlineText() {
    if (DecodeCommandArgs(kCmdAppendInlineText) != 0) return -1;
    const CommandArgSlot* slot = FirstRecord();
    if (slot == nullptr) return -1;
    const std::string_view bytes(reinterpret_cast<const char*>(slot->code.data()), slot->code.size());
    TextBuffer& buffer = TheTextBuffer();
    if (int64_t{buffer.text_length} + int64_t(bytes.size()) - 1 >= kTextBufferLimit) {
        ReportScriptError(kErrTextBufferFull, true);
        return -1;
    }
    AppendText(buffer, bytes);
    for (size_t i = 0; i < bytes.size();) {
        const size_t length = SjisCharLength(bytes, i);
        AppendKind(buffer, length == 2 ? kTextKindDouble : kTextKindSingle);
        i += length;
    }
    return 0;
}

int32_t CmdAppendValueText() {
    if (DecodeCommandArgs(kCmdAppendValueText) != 0) return -1;
    const CommandArgSlot* slot = FirstRecord();
    if (slot == nullptr) return -1;
    const std::string value = ValueText(*slot);
    TextBuffer& buffer = TheTextBuffer();
    if (int64_t{buffer.text_length} + int64_t(value.size()) >= kTextBufferLimit) {
        ReportScriptError(kErrTextBufferFull, true);
        return -1;
    }
    if (value.size() > kAppendedValueLimit) {
        ReportScriptError(kErrTextValueTooLong, true);
        return -1;
    }
    for (size_t i = 0; i < value.size();) {
        const size_t length = SjisCharLength(value, i);
        if (length == 2) {
            AppendText(buffer, std::string_view(value).substr(i, 2));
            AppendKind(buffer, kTextKindDouble);
        } else {
            const char c = value[i];
            // Only printable ASCII stands as it is; tabs, controls, one-byte
            // katakana and a lead byte without its trail become spaces.
            AppendText(buffer, std::string_view(c >= 0x20 && c <= 0x7E ? &c : " ", 1));
            AppendKind(buffer, kTextKindSingle);
        }
        i += length;
    }
    return 0;
}

void RegisterTextBufferCommands() {
    RegisterCommandHandler(kCmdEndMessage, CmdEndMessage);
    RegisterCommandHandler(kCmdAppendInlineText, CmdAppendInlineText);
    RegisterCommandHandler(kCmdAppendValueText, CmdAppendValueText);
}

}  // namespace zk
