#include "script/variable_info.h"

#include <algorithm>
#include <string>

#include "base/nul_text.h"
#include "base/sjis.h"
#include "core/error_report.h"
#include "core/startup_notes.h"
#include "script/command_table.h"
#include "script/compiled_tables.h"
#include "script/variables.h"

namespace zk {

namespace {

// Command 94's keywords.
constexpr uint32_t kFileName = 0;
constexpr uint32_t kFileCount = 1;
constexpr uint32_t kFileValue = 2;
constexpr uint32_t kModelPlayer = 3;
constexpr uint32_t kFileEntry = 4;
constexpr uint32_t kFileResult = 5;

// Command 103's keywords.
constexpr uint32_t kSubject = 0;
constexpr uint32_t kResult = 1;
constexpr uint32_t kType = 2;
constexpr uint32_t kFirstWidth = 3;
constexpr uint32_t kDimensions = 4;
constexpr uint32_t kFirstSize = 5;  // 5..12: dimensions 1..8
constexpr uint32_t kLastSize = 12;
constexpr uint32_t kLength = 13;
constexpr uint32_t kFind = 14;
constexpr uint32_t kLowest = 15;
constexpr uint32_t kCode = 16;
constexpr uint32_t kSoughtInteger = 17;
constexpr uint32_t kSoughtReal = 18;
constexpr uint32_t kSoughtText = 19;
constexpr uint32_t kRangeStart = 20;
constexpr uint32_t kRangeEnd = 21;

struct Target {
    const CommandArgSlot* slot = nullptr;
    void Number(int64_t value) const {
        if (slot != nullptr) SetNumberElement(slot->var_number, slot->var_element, value);
    }
};

std::string TextElement(uint32_t number, int64_t element) {
    const std::string* text = GetStringElement(number, element);
    return text != nullptr ? std::string(UpToNul(*text)) : std::string();
}

// The first dimension's size, bounded by the elements the record holds.
int64_t FirstDimension(const ScriptVariable& v) {
    const int64_t held = static_cast<int64_t>(v.element_count);
    return std::clamp<int64_t>(v.sizes[0], 0, held);
}

int64_t FindValue(const CommandArgBlock& args, uint32_t number, const ScriptVariable& v) {
    const int64_t n = FirstDimension(v);
    const CommandArgSlot* start = args.Find(kRangeStart);
    // The low 32 bits, as the start is kept; a negative start searches
    // from the first element.
    int64_t i = start != nullptr ? static_cast<int32_t>(start->value) : 0;
    if (i < 0) i = 0;
    if (i > n) return i;
    const CommandArgSlot* sought_integer = args.Find(kSoughtInteger);
    const CommandArgSlot* sought_real = args.Find(kSoughtReal);
    const CommandArgSlot* sought_text = args.Find(kSoughtText);
    switch (v.type) {
        case kVariableInteger: {
            const int64_t sought = sought_integer != nullptr ? sought_integer->value : 0;
            for (; i < n; ++i) {
                if (GetIntegerElement(number, i) == sought) return i;
            }
            return -1;
        }
        case kVariableReal: {
            const double sought = sought_real != nullptr ? static_cast<double>(sought_real->value) : 0.0;
            for (; i < n; ++i) {
                if (GetRealElement(number, i) == sought) return i;
            }
            return -1;
        }
        case kVariableText: {
            const std::string sought(sought_text != nullptr ? UpToNul(sought_text->Text()) : std::string_view());
            for (; i < n; ++i) {
                if (TextElement(number, i) == sought) return i;
            }
            return -1;
        }
        default: return 0;
    }
}

// The index of the lowest text of a range (byte order, unsigned; a prefix
// sorts before the longer text), the first of equal ones. The range is
// bounded by the array; an empty range answers its start.
int64_t LowestText(const CommandArgBlock& args, uint32_t number, const ScriptVariable& v) {
    const int64_t n = FirstDimension(v);
    const CommandArgSlot* start_slot = args.Find(kRangeStart);
    const CommandArgSlot* end_slot = args.Find(kRangeEnd);
    int64_t start = start_slot != nullptr ? static_cast<int32_t>(start_slot->value) : 0;
    int64_t end = end_slot != nullptr ? end_slot->value : n - 1;
    start = std::max<int64_t>(start, 0);
    end = std::min<int64_t>(end, n - 1);
    if (start > end) return start;
    int64_t best = start;
    std::string lowest = TextElement(number, start);
    for (int64_t i = start + 1; i <= end; ++i) {
        std::string text = TextElement(number, i);
        // char_traits<char> compares as unsigned char.
        if (std::string_view(text).compare(lowest) < 0) {
            lowest = std::move(text);
            best = i;
        }
    }
    return best;
}

}  // namespace

int64_t CountCharacters(std::string_view text) {
    int64_t count = 0;
    for (size_t i = 0; i < text.size(); i += SjisCharLength(text, i)) ++count;
    return count;
}

int64_t FirstCharacterCode(std::string_view text) {
    if (text.empty()) return 0;
    const uint8_t first = static_cast<uint8_t>(text[0]);
    if (IsSjisLeadByte(first)) return int64_t{first} * 256 + (text.size() > 1 ? static_cast<uint8_t>(text[1]) : 0);
    return first;
}

int32_t CmdScriptFileInfo() {
    if (DecodeCommandArgs(kCmdScriptFileInfo) != 0) return -1;
    const CommandArgBlock& args = Args();
    const CommandArgSlot* result = args.Find(kFileResult);
    if (result == nullptr) return 0;
    const ScriptFileList& list = TheCompiledTables().file_list;
    const CommandArgSlot* entry_slot = args.Find(kFileEntry);
    const int64_t n = entry_slot != nullptr ? entry_slot->value : 0;
    const int64_t count = static_cast<int64_t>(list.names.size());
    const bool in_list = n >= 1 && n <= count;
    const Target target{result};
    if (args.Given(kFileCount)) {
        target.Number(count);
    } else if (args.Given(kFileValue)) {
        // Values go by the list's record order.
        const bool held = in_list && static_cast<size_t>(n) <= list.per_file_values.size();
        target.Number(held ? int64_t{list.per_file_values[static_cast<size_t>(n - 1)]} : 0);
    } else if (args.Given(kFileName)) {
        // Names go by file number: entry n is file n - 1.
        const std::string_view name = in_list ? std::string_view(list.names[static_cast<size_t>(n - 1)]) : std::string_view();
        SetStringElement(result->var_number, result->var_element, name);
    } else if (args.Given(kModelPlayer)) {
        target.Number(EmoteLibraryLoaded() ? 1 : 0);
    } else {
        target.Number(0);
    }
    return 0;
}

int32_t CmdVariableInfo() {
    if (DecodeCommandArgs(kCmdVariableInfo) != 0) return -1;
    const CommandArgBlock& args = Args();
    const CommandArgSlot* subject = args.Find(kSubject);
    const Target target{args.Find(kResult)};
    const uint32_t number = subject != nullptr ? subject->var_number : 0;
    const int64_t element = subject != nullptr ? subject->var_element : 0;
    const ScriptVariable* v = FindVariable(number);
    const uint8_t type = v != nullptr ? v->type : uint8_t{kVariableNone};
    auto text_subject = [&](std::string& text) {
        if (type != kVariableText) {
            ReportScriptError(kErrNotText, true);
            return false;
        }
        text = TextElement(number, element);
        return true;
    };

    for (uint32_t question = kType; question <= kLength; ++question) {
        if (!args.Given(question)) continue;
        if (question == kType) {
            target.Number(type);
        } else if (question == kFirstWidth) {
            // A number has no text: it reads as the empty text.
            const std::string text = TextElement(number, element);
            if (text.empty()) {
                const std::string command(CommandName(kCmdVariableInfo));
                const std::string keyword(KeywordName(kCmdVariableInfo, kFirstWidth));
                ReportScriptErrorF(kErrEmptyText, true, {std::string_view(command), std::string_view(keyword)});
                return -1;
            }
            target.Number(IsSjisLeadByte(static_cast<uint8_t>(text[0])) ? 2 : 1);
        } else if (question == kDimensions) {
            target.Number(v != nullptr ? v->dimension_count : 0);
        } else if (question >= kFirstSize && question <= kLastSize) {
            target.Number(v != nullptr ? v->sizes[question - kFirstSize] : 0);
        } else {
            std::string text;
            if (!text_subject(text)) return -1;
            target.Number(CountCharacters(text));
        }
        return 0;
    }
    if (args.Given(kFind) && v != nullptr) target.Number(FindValue(args, number, *v));
    if (args.Given(kLowest) && v != nullptr && type == kVariableText) target.Number(LowestText(args, number, *v));
    // A number has no text: its code is that of the empty text, 0.
    if (args.Given(kCode)) target.Number(FirstCharacterCode(TextElement(number, element)));
    return 0;
}

}  // namespace zk
